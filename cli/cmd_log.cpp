// log: the audit log of a store, oldest first, as a table; log clear: its rows before a time
// deleted, as the library's ClearLogs deletes them.
#include "cli/commands.h"
#include "cli/store.h"

#include "library/auditlog.h"
#include "library/dmain.h"

namespace vardex::cli {

namespace {

void options(Options& p) {
    addFormatOptions(p);
    p << OptionDecl{{QStringLiteral("user")},
                    QStringLiteral("Only rows of the user with this ID (by the name its rows carry)."),
                    QStringLiteral("ID"),
                    Kind::Text};
    p << OptionDecl{{QStringLiteral("name")},
                    QStringLiteral("Only rows carrying this user name."),
                    QStringLiteral("NAME"),
                    Kind::Text};
    p << OptionDecl{{QStringLiteral("since")},
                    QStringLiteral("Only rows at or after this time (yyyy-mm-dd[ hh:mm:ss])."),
                    QStringLiteral("T"),
                    Kind::Time};
    p << OptionDecl{{QStringLiteral("until")},
                    QStringLiteral("Only rows at or before this time."),
                    QStringLiteral("T"),
                    Kind::Time};
    p << OptionDecl{{QStringLiteral("text")},
                    QStringLiteral("Only rows whose text contains S."),
                    QStringLiteral("S"),
                    Kind::Text};
}

int log(const Invocation& in) {
    const QCommandLineParser& p = in.options;
    const Format f = formatFrom(p);
    audit::Filter filter;
    filter.since = p.value(QStringLiteral("since"));
    filter.until = p.value(QStringLiteral("until")); // a bare day takes the whole day
    filter.text = p.value(QStringLiteral("text"));
    StoreSession s(p);
    // A name is matched exactly: the library finds the rows that start with it (by its index),
    // the others are left out here.
    QString name;
    const bool byName = p.isSet(QStringLiteral("name")) || p.isSet(QStringLiteral("user"));
    if (p.isSet(QStringLiteral("name")))
        name = p.value(QStringLiteral("name"));
    if (p.isSet(QStringLiteral("user"))) {
        // The rows carry the name the user logged in under: the user's display name.
        const QVector<UserRow> users = loadUsers(s.cn());
        const UserRow* u = findUser(users, p.value(QStringLiteral("user")));
        if (!u)
            throw Refused(Cli::tr("no user %1 (--name finds rows by the name they carry)")
                              .arg(p.value(QStringLiteral("user"))));
        if (p.isSet(QStringLiteral("name")) && u->userName != name)
            name = QStringLiteral("\n"); // both given and different: no row carries both
        else
            name = u->userName;
    }
    filter.user = name;
    Table t;
    t.columns = {QStringLiteral("computer"), QStringLiteral("user"), QStringLiteral("time"),
                 QStringLiteral("text")};
    const auto cell = [](const QString& v) {
        return v.isNull() ? QVariant() : QVariant(v);
    }; // NULL stays null
    audit::forEach(s.cn(), filter, audit::Order::OldestFirst, [&](const audit::Row& r) {
        if (!byName || r.user == name)
            t.rows.append({cell(r.computer), cell(r.user), cell(r.time), cell(r.text)});
        return true;
    });
    printOut(render(t, f));
    return kOk;
}

void clearOptions(Options& p) {
    p << OptionDecl{{QStringLiteral("before")},
                    QStringLiteral("Delete the rows whose time is at or before T (yyyy-mm-dd[ hh:mm:ss]), as "
                                   "ClearLogs does."),
                    QStringLiteral("T"),
                    Kind::Time};
}

void clear(StoreSession& s, const QCommandLineParser& p, const QStringList&) {
    if (!p.isSet(QStringLiteral("before")))
        throw Usage(Cli::tr("log clear needs --before T"));
    const QString before = p.value(QStringLiteral("before"));
    s.transaction([&] {
        notice(Cli::tr("%1 audit row(s) at or before %2 go")
                   .arg(storeops::logRowsAtOrBefore(s.cn(), before))
                   .arg(before));
        vardex::ClearLogs(s.session(), before);
    });
}

} // namespace

CommandGroup logCommands() {
    return {
        QStringLiteral("log [--user ID] [--name NAME] [--since T] [--until T] [--text S] [--json|--csv] | "
                       "log clear --before T"),
        false,
        {
            {QStringLiteral("log"),
             {},
             QStringLiteral("Prints the audit log, oldest first."),
             Takes::OwnThenStore,
             options,
             log,
             GivesJson},
            {QStringLiteral("log clear"),
             {},
             QStringLiteral("Deletes the audit rows at or before a time."),
             Takes::Store,
             clearOptions,
             onStore(clear),
             Destructive},
        }};
}

} // namespace vardex::cli
