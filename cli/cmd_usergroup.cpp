// The user group verbs: add and delete, as the user list adds and deletes a user group.
#include "cli/admincommon.h"

#include "library/uitext.h"

namespace vardex::cli {

namespace {

void add(StoreSession& s, const QCommandLineParser&, const QStringList& a) {
    const QString name = checkedName(a[0], QStringLiteral("user group name"), schema::kIdLength);
    s.transaction([&] {
        if (adminops::userGroupNameTaken(s.data(), name))
            throw Refused(Cli::tr("user or user group %1 exists").arg(name));
        if (adminops::addUserGroup(s.data(), name) == 0)
            throw Refused(Ui::tr("用户组已达999个, 不能再添加用户组."));
    });
}

void remove(StoreSession& s, const QCommandLineParser&, const QStringList& a) {
    s.transaction([&] {
        const QVector<UserRow> users = loadUsers(s.cn());
        const int number = groupNumber(users, a[0]);
        QStringList members;
        for (const UserRow& m : users)
            if (m.zuid == schema::memberZuid(number))
                members << m.userId;
        notice(Cli::tr("user group %1 goes with its %2 member(s)%3%4")
                   .arg(a[0])
                   .arg(members.size())
                   .arg(members.isEmpty() ? QString() : QStringLiteral(": "),
                        members.join(QStringLiteral(", "))));
        adminops::deleteUser(s.data(), a[0]);
    });
}

} // namespace

CommandGroup userGroupCommands() {
    const QList<ArgDecl> name{QStringLiteral("NAME: The user group's name.")};
    return {QStringLiteral("usergroup add|delete NAME"),
            false,
            {
                {QStringLiteral("usergroup add"), name,
                 QStringLiteral("Add a user group with the first free number."), Takes::Store, nullptr,
                 onStore(add), Writes},
                {QStringLiteral("usergroup delete"), name,
                 QStringLiteral("Delete a user group and all its members."), Takes::Store, nullptr,
                 onStore(remove), Destructive},
            }};
}

} // namespace vardex::cli
