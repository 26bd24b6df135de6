// The user verbs: add, edit, passwd, move, delete, enable and disable. Each runs the actions of
// the user list and the user dialog (library/adminops.h) in one transaction, after the checks
// the dialog makes.
#include "cli/admincommon.h"

#include "library/cipher.h"
#include "library/dmain.h"
#include "library/storerules.h"
#include "library/uitext.h"
#include "platform/passwordhash.h"
#include "platform/sqldialect.h"

#include <QDate>

namespace vardex::cli {

namespace {

QString checkedDate(const QString& text, const char* what) {
    const QString problem = rules::dateProblem(text);
    if (!problem.isEmpty())
        throw Refused(QLatin1String(what) + QLatin1Char(' ') + problem);
    return text;
}

// Whether the command line or the environment gives a user's new password.
bool newPasswordGiven(const QCommandLineParser& p) {
    return p.isSet(QStringLiteral("new-password-file")) || p.isSet(QStringLiteral("ask-password")) ||
           p.isSet(QStringLiteral("no-password")) || qEnvironmentVariableIsSet("VARDEX_NEW_PASSWORD");
}

// A user's new password as typed: from --new-password-file, else VARDEX_NEW_PASSWORD, else
// typed twice at a prompt (at once with --ask-password). Empty only with --no-password (an
// empty password logs in with nothing typed), also when only blanks were given, which the user
// dialog drops. Raises Usage when none can be had, Refused when the two typed differ.
QString newPassword(const QCommandLineParser& p) {
    const bool file = p.isSet(QStringLiteral("new-password-file"));
    const bool ask = p.isSet(QStringLiteral("ask-password"));
    const bool none = p.isSet(QStringLiteral("no-password"));
    if (int(file) + int(ask) + int(none) > 1)
        throw Usage(Cli::tr("give one of --new-password-file, --ask-password and --no-password"));
    if (none)
        return QString();
    QString typed = file  ? secretFromFile(p.value(QStringLiteral("new-password-file")), "new password")
                    : ask ? QString()
                          : secretFromEnvironment("VARDEX_NEW_PASSWORD");
    QString source = file ? Cli::tr("the new password file") : QStringLiteral("VARDEX_NEW_PASSWORD");
    if (typed.isNull()) {
        QString again;
        if (!promptSecret(Cli::tr("New password: "), typed))
            throw Usage(Cli::tr("no new password: give --new-password-file FILE or VARDEX_NEW_PASSWORD, "
                                "run on a terminal to be asked, or pass --no-password for none"));
        source = Cli::tr("the password typed");
        if (!trimBlanks(typed).isEmpty() && (!promptSecret(Cli::tr("Again: "), again) || typed != again))
            throw Refused(Cli::tr("the two passwords differ"));
    }
    if (trimBlanks(typed).isEmpty())
        throw Usage(Cli::tr("%1 is empty: pass --no-password for a user without a password").arg(source));
    return typed;
}

// The stored form of a typed password, as the user dialog makes it: under the store's policy,
// cipher text or a hash.
QString stored(StoreSession& s, const QString& typed) {
    return storedPassword(s.data().Policy, trimBlanks(typed), s.session().values().CipherKey);
}

// The stored form of a new password, refused when it is shorter than the store's policy allows.
QString storedNew(StoreSession& s, const QString& typed) {
    const PasswordPolicy& policy = s.data().Policy;
    if (tooLongToHash(policy, trimBlanks(typed)))
        throw Refused(Cli::tr("the password is longer than %1 bytes, of which bcrypt (the store's "
                              "password.hash) would use only the first %1")
                          .arg(kBcryptLongestBytes));
    if (!meetsPolicy(policy, trimBlanks(typed)))
        throw Refused(Cli::tr("the password has fewer than %1 characters (the store's password.minlength)")
                          .arg(policy.minLength));
    return stored(s, typed);
}

void addPasswordOptions(Options& p) {
    p << OptionDecl{
        {QStringLiteral("new-password-file")},
        QStringLiteral("Read the user's password from the file's first line (a file only its owner "
                       "may read)."),
        QStringLiteral("FILE"),
        Kind::File};
    p << OptionDecl{{QStringLiteral("ask-password")},
                    QStringLiteral("Ask for the user's password on the terminal, twice, even with "
                                   "VARDEX_NEW_PASSWORD set.")};
    p << OptionDecl{{QStringLiteral("no-password")},
                    QStringLiteral("Give the user an empty password: one that logs in with nothing typed.")};
}

void addUserFieldOptions(Options& p) {
    p << OptionDecl{
        {QStringLiteral("name")}, QStringLiteral("Display name."), QStringLiteral("NAME"), Kind::Text};
    p << OptionDecl{{QStringLiteral("group")},
                    QStringLiteral("User group to belong to."),
                    QStringLiteral("GROUP"),
                    Kind::Text};
    p << OptionDecl{{QStringLiteral("start")},
                    QStringLiteral("First valid day, yyyy-mm-dd."),
                    QStringLiteral("DATE"),
                    Kind::Date};
    p << OptionDecl{{QStringLiteral("end")},
                    QStringLiteral("Last valid day, yyyy-mm-dd."),
                    QStringLiteral("DATE"),
                    Kind::Date};
    p << OptionDecl{{QStringLiteral("discount")},
                    QStringLiteral("Highest discount allowed, 0 to 100."),
                    QStringLiteral("N"),
                    Kind::Int32};
    addPasswordOptions(p);
}

int checkedDiscount(const QString& text) {
    int n = 0;
    if (!parseInt32(text, n) || !rules::discountProblem(n).isEmpty())
        throw Refused(Cli::tr("discount \"%1\" is not a whole number from 0 to 100").arg(text));
    return n;
}

// A user as the edit dialog fills it from the list: the stored password deciphered and
// enciphered anew, the dates read back, and the user group only when it is listed.
UserRow editRow(StoreSession& s, const QVector<UserRow>& users, const UserRow& u, int& oldGroup) {
    if (u.isGroup() || !schema::isUserRow(u.zuid))
        throw Refused(Cli::tr("%1 is a user group, not a user").arg(u.userId));
    adminops::UserRow r;
    r.userId = u.userId;
    r.userName = u.userName;
    try {
        // A hash never deciphers: it is kept as it is.
        r.password = isPasswordHash(u.password)
                         ? u.password
                         : stored(s, u.password.isEmpty()
                                         ? QString()
                                         : DecryptPassword(u.password, s.session().values().CipherKey));
    } catch (const Error& e) {
        throw Refused(Cli::tr("the stored password of %1 cannot be read: %2").arg(u.userId, e.message()));
    }
    for (const QString* date : {&u.startDate, &u.endDate})
        if (!QDate::fromString(*date, QStringLiteral("yyyy-MM-dd")).isValid())
            throw Refused(Ui::tr("“") + *date + Ui::tr("”不是有效的日期."));
    r.startDate = u.startDate;
    r.endDate = u.endDate;
    r.allow = u.allow;
    r.discount = u.discount;
    oldGroup = schema::groupOfMember(u.zuid);
    r.setGroup(groupByNumber(users, oldGroup) ? oldGroup : 0);
    return r;
}

// The toggle of a user's flag, with what the user list shows around the user.
void toggleUser(StoreSession& s, const QString& id, const QString& flag) {
    const QVector<UserRow> users = loadUsers(s.cn());
    const UserRow& u = existingUser(users, id);
    if ((u.allowed() ? kT : kF) == flag) {
        notice(Cli::tr("%1 is already %2; nothing to change")
                   .arg(id, flag == kT ? Cli::tr("enabled") : Cli::tr("disabled")));
        return;
    }
    auto flagOf = [](const UserRow& x) { return adminops::FlagNode{x.userId, x.allowed() ? kT : kF}; };
    adminops::FlagScope scope;
    scope.node = flagOf(u);
    auto membersOf = [&](const UserRow& g) {
        QList<adminops::FlagNode> out;
        if (groupByNumber(users, g.zuid) != &g)
            return out; // a second row with the same number lists no members
        for (const UserRow& m : users)
            if (m.zuid == schema::memberZuid(g.zuid))
                out.append(flagOf(m));
        return out;
    };
    if (!schema::isUserRow(u.zuid)) {
        scope.children = u.isGroup() ? membersOf(u) : QList<adminops::FlagNode>();
    } else if (const UserRow* g = parentGroup(users, u)) {
        scope.hasParent = true;
        scope.parent = flagOf(*g);
        scope.children = membersOf(*g);
    } else {
        scope.cascades = false;
    }
    adminops::sendUserFlags(s.data(), adminops::toggleFlags(scope, flag));
}

void addOptions(Options& p) {
    addUserFieldOptions(p);
    p << OptionDecl{{QStringLiteral("disabled")}, QStringLiteral("Add the user disabled.")};
}

void add(StoreSession& s, const QCommandLineParser& p, const QStringList& a) {
    adminops::UserRow r;
    r.userId = checkedName(a[0], QStringLiteral("user ID"), schema::kIdLength);
    r.userName = checkedName(p.isSet(QStringLiteral("name")) ? p.value(QStringLiteral("name")) : r.userId,
                             QStringLiteral("user name"), schema::kIdLength);
    r.startDate = checkedDate(
        p.isSet(QStringLiteral("start")) ? p.value(QStringLiteral("start")) : todayText(), "start date");
    r.endDate = checkedDate(p.isSet(QStringLiteral("end")) ? p.value(QStringLiteral("end"))
                                                           : QStringLiteral("2099-12-31"),
                            "end date");
    r.allow = p.isSet(QStringLiteral("disabled")) ? kF : kT;
    r.discount =
        p.isSet(QStringLiteral("discount")) ? checkedDiscount(p.value(QStringLiteral("discount"))) : 0;
    const QString typed = newPassword(p);
    s.transaction([&] {
        const QVector<UserRow> users = loadUsers(s.cn());
        if (p.isSet(QStringLiteral("group")))
            r.setGroup(groupNumber(users, p.value(QStringLiteral("group"))));
        if (adminops::userIdTaken(s.data(), r.userId))
            throw Refused(Cli::tr("user %1 exists").arg(r.userId));
        r.password = storedNew(s, typed);
        adminops::addUser(s.data(), r);
    });
}

// Changes a user as the edit dialog does: the row filled from the list, changed, and sent.
void editUser(StoreSession& s, const QString& id,
              const std::function<void(adminops::UserRow&, const QVector<UserRow>&)>& change) {
    s.transaction([&] {
        const QVector<UserRow> users = loadUsers(s.cn());
        int oldGroup = 0;
        adminops::UserRow r = editRow(s, users, existingUser(users, id), oldGroup);
        change(r, users);
        adminops::editUser(s.data(), r, oldGroup);
    });
}

void editOptions(Options& p) {
    addUserFieldOptions(p);
    p << OptionDecl{{QStringLiteral("no-group")}, QStringLiteral("Leave the user group.")};
    p << OptionDecl{{QStringLiteral("enable")}, QStringLiteral("Mark the user valid.")};
    p << OptionDecl{{QStringLiteral("disable")}, QStringLiteral("Mark the user not valid.")};
}

void edit(StoreSession& s, const QCommandLineParser& p, const QStringList& a) {
    if (p.isSet(QStringLiteral("group")) && p.isSet(QStringLiteral("no-group")))
        throw Usage(Cli::tr("--group and --no-group exclude each other"));
    if (p.isSet(QStringLiteral("enable")) && p.isSet(QStringLiteral("disable")))
        throw Usage(Cli::tr("--enable and --disable exclude each other"));
    const QString name =
        p.isSet(QStringLiteral("name"))
            ? checkedName(p.value(QStringLiteral("name")), QStringLiteral("user name"), schema::kIdLength)
            : QString();
    const QString start = p.isSet(QStringLiteral("start"))
                              ? checkedDate(p.value(QStringLiteral("start")), "start date")
                              : QString();
    const QString end =
        p.isSet(QStringLiteral("end")) ? checkedDate(p.value(QStringLiteral("end")), "end date") : QString();
    const int discount =
        p.isSet(QStringLiteral("discount")) ? checkedDiscount(p.value(QStringLiteral("discount"))) : -1;
    const bool newPwd = newPasswordGiven(p);
    const QString typed = newPwd ? newPassword(p) : QString();
    editUser(s, a[0], [&](adminops::UserRow& r, const QVector<UserRow>& users) {
        if (!name.isEmpty())
            r.userName = name;
        if (!start.isEmpty())
            r.startDate = start;
        if (!end.isEmpty())
            r.endDate = end;
        if (discount >= 0)
            r.discount = discount;
        if (p.isSet(QStringLiteral("enable")))
            r.allow = kT;
        if (p.isSet(QStringLiteral("disable")))
            r.allow = kF;
        if (newPwd)
            r.password = storedNew(s, typed);
        if (p.isSet(QStringLiteral("group")))
            r.setGroup(groupNumber(users, p.value(QStringLiteral("group"))));
        if (p.isSet(QStringLiteral("no-group")))
            r.setGroup(0);
    });
}

void passwd(StoreSession& s, const QCommandLineParser& p, const QStringList& a) {
    const QString typed = newPassword(p);
    editUser(s, a[0],
             [&](adminops::UserRow& r, const QVector<UserRow>&) { r.password = storedNew(s, typed); });
}

void moveOptions(Options& p) {
    p << OptionDecl{{QStringLiteral("group")},
                    QStringLiteral("User group to move into."),
                    QStringLiteral("GROUP"),
                    Kind::Text};
    p << OptionDecl{{QStringLiteral("no-group")}, QStringLiteral("Leave the user group.")};
}

void move(StoreSession& s, const QCommandLineParser& p, const QStringList& a) {
    if (p.isSet(QStringLiteral("group")) == p.isSet(QStringLiteral("no-group")))
        throw Usage(Cli::tr("give exactly one of --group and --no-group"));
    editUser(s, a[0], [&](adminops::UserRow& r, const QVector<UserRow>& users) {
        r.setGroup(p.isSet(QStringLiteral("group")) ? groupNumber(users, p.value(QStringLiteral("group")))
                                                    : 0);
    });
}

void remove(StoreSession& s, const QCommandLineParser&, const QStringList& a) {
    s.transaction([&] {
        const QVector<UserRow> users = loadUsers(s.cn());
        const UserRow& u = existingUser(users, a[0]);
        if (u.isGroup())
            throw Refused(Cli::tr("%1 is a user group: delete it with usergroup delete").arg(u.userId));
        adminops::deleteUser(s.data(), u.userId);
    });
}

StoreBody toggle(const QString& flag) {
    return [flag](StoreSession& s, const QCommandLineParser&, const QStringList& a) {
        s.transaction([&] { toggleUser(s, a[0], flag); });
    };
}

} // namespace

CommandGroup userCommands() {
    const QList<ArgDecl> id{QStringLiteral("ID")};
    const QList<ArgDecl> userOrGroup{QStringLiteral("ID: The ID of a user or user group.")};
    return {
        QStringLiteral("user add|edit|delete|enable|disable|passwd|move ID ..."),
        false,
        {
            {QStringLiteral("user add"), id,
             QStringLiteral("Add a user (enabled, valid from today to 2099-12-31 unless told)."),
             Takes::Store, addOptions, onStore(add), Writes},
            {QStringLiteral("user edit"), id, QStringLiteral("Change a user's fields; those not given stay."),
             Takes::Store, editOptions, onStore(edit), Writes},
            {QStringLiteral("user passwd"), id,
             QStringLiteral("Set a user's password: a bcrypt hash under the store's policy, else enciphered "
                            "with the session's key (--key)."),
             Takes::Store, addPasswordOptions, onStore(passwd), Writes},
            {QStringLiteral("user move"), id,
             QStringLiteral("Move a user into a user group (--group) or out of it (--no-group)."),
             Takes::Store, moveOptions, onStore(move), Writes},
            {QStringLiteral("user delete"), id, QStringLiteral("Delete a user."), Takes::Store, nullptr,
             onStore(remove), Destructive},
            {QStringLiteral("user enable"), userOrGroup,
             QStringLiteral("Mark a user (or a user group with its members) valid."), Takes::Store, nullptr,
             onStore(toggle(kT)), Writes},
            {QStringLiteral("user disable"), userOrGroup,
             QStringLiteral("Mark a user (or a user group with its members) not valid."), Takes::Store,
             nullptr, onStore(toggle(kF)), Writes},
        }};
}

} // namespace vardex::cli
