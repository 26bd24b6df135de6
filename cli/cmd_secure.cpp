// secure: a PostgreSQL store whose desktops' role may run the store's functions and nothing else.
#include "cli/commands.h"

#include "library/securestore.h"

namespace vardex::cli {

namespace {

void options(Options& p) {
    p << OptionDecl{
        {QStringLiteral("client-role")},
        QStringLiteral("The role the desktops connect with, created by the database administrator: a login "
                       "role, or a group role (NOLOGIN) whose members are the desktops' own logins."),
        QStringLiteral("ROLE"),
        Kind::Text};
    p << OptionDecl{
        {QStringLiteral("undo")},
        QStringLiteral("Drops the functions and gives back the privileges the role and PUBLIC had.")};
}

int secure(const Invocation& o) {
    const QString role = o.options.value(QStringLiteral("client-role"));
    if (role.isEmpty())
        throw Usage(Cli::tr("secure needs --client-role ROLE"));
    AdoConnection cn;
    cn.setConnectionString(o.connectionString);
    try {
        cn.open(o.user, o.password);
    } catch (const Error& e) {
        throw Usage(Cli::tr("cannot open the store: %1").arg(e.message()));
    }
    const securestore::Report r =
        o.options.isSet(QStringLiteral("undo")) ? securestore::undo(cn, role) : securestore::secure(cn, role);
    for (const QString& line : r.lines)
        printOut(line);
    return kOk;
}

} // namespace

CommandGroup secureCommands() {
    return {QStringLiteral("secure CONNSTR --client-role ROLE [--undo]"),
            false,
            {
                {QStringLiteral("secure"),
                 {QStringLiteral("CONNSTR")},
                 QStringLiteral(
                     "On a PostgreSQL store, with the owner's account: installs the functions the "
                     "desktops call and lets the role ROLE run them and nothing else (no table, no "
                     "procedure, no CREATE in the schema, no temporary table). Needs a UTF8 database, "
                     "password.hash bcrypt and no cipher text left, and refuses a role that could still "
                     "reach the store another way. vardex-cli upgrade runs it again after an upgrade of "
                     "Vardex. --undo "
                     "takes it back."),
                 Takes::Account,
                 options,
                 secure},
            }};
}

} // namespace vardex::cli
