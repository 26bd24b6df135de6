// The administration verbs: user, usergroup, permgroup, item, grant and revoke. Each runs the
// actions of the administration window (library/adminops.h) in one transaction, after checking
// what the window's lists and dialogs would have refused.
#include "cli/store.h"

#include "library/adminops.h"
#include "library/cipher.h"
#include "library/dmain.h"
#include "library/storerules.h"
#include "platform/sqldialect.h"

#include <QDate>
#include <functional>

namespace vardex::cli {

namespace {

using adminops::kNoGroup;

const QString kT = QStringLiteral("T");
const QString kF = QStringLiteral("F");

struct Verb {
    QString name; // "user add"
    QString summary;
    QStringList positionals;
    std::function<void(QCommandLineParser&)> options;
    std::function<void(StoreSession&, const QCommandLineParser&, const QStringList&)> run;
};

// A name as the dialogs take it: blanks trimmed, then the store's rule for a name.
QString checkedName(const QString& raw, const QString& what, int maxLength) {
    const QString v = trimBlanks(raw);
    const QString problem = rules::nameProblem(v, maxLength);
    if (!problem.isEmpty())
        throw Refused(what + QLatin1Char(' ') + problem);
    return v;
}

int checkedItem(const QString& text) {
    int n = 0;
    if (!parseInt32(text, n))
        throw Refused(QStringLiteral("item number \"%1\" is not a whole number of 32 bits").arg(text));
    return n;
}

QString checkedDate(const QString& text, const char* what) {
    const QString problem = rules::dateProblem(text);
    if (!problem.isEmpty())
        throw Refused(QLatin1String(what) + QLatin1Char(' ') + problem);
    return text;
}

QString checkedFlag(const QString& text) {
    const QString t = text.toLower();
    if (t == QLatin1String("on") || t == QLatin1String("t") || t == QLatin1String("yes") ||
        t == QLatin1String("1"))
        return kT;
    if (t == QLatin1String("off") || t == QLatin1String("f") || t == QLatin1String("no") ||
        t == QLatin1String("0"))
        return kF;
    throw Refused(QStringLiteral("\"%1\" is neither on nor off").arg(text));
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
        throw Usage(QStringLiteral("give one of --new-password-file, --ask-password and --no-password"));
    if (none)
        return QString();
    QString typed = file  ? secretFromFile(p.value(QStringLiteral("new-password-file")), "new password")
                    : ask ? QString()
                          : secretFromEnvironment("VARDEX_NEW_PASSWORD");
    QString source = file ? QStringLiteral("the new password file") : QStringLiteral("VARDEX_NEW_PASSWORD");
    if (typed.isNull()) {
        QString again;
        if (!promptSecret(QStringLiteral("New password: "), typed))
            throw Usage(
                QStringLiteral("no new password: give --new-password-file FILE or VARDEX_NEW_PASSWORD, "
                               "run on a terminal to be asked, or pass --no-password for none"));
        source = QStringLiteral("the password typed");
        if (!trimBlanks(typed).isEmpty() &&
            (!promptSecret(QStringLiteral("Again: "), again) || typed != again))
            throw Refused(QStringLiteral("the two passwords differ"));
    }
    if (trimBlanks(typed).isEmpty())
        throw Usage(
            QStringLiteral("%1 is empty: pass --no-password for a user without a password").arg(source));
    return typed;
}

// The stored form of a typed password, as the user dialog makes it.
QString stored(const QString& typed) {
    const QString pwd = trimBlanks(typed);
    return pwd.isEmpty() ? QString() : EncryptPassword(pwd, session().CipherKey);
}

void addPasswordOptions(QCommandLineParser& p) {
    p.addOption({QStringLiteral("new-password-file"),
                 QStringLiteral("Read the user's password from the file's first line (a file only its owner "
                                "may read)."),
                 QStringLiteral("FILE")});
    p.addOption({QStringLiteral("ask-password"),
                 QStringLiteral("Ask for the user's password on the terminal, twice, even with "
                                "VARDEX_NEW_PASSWORD set.")});
    p.addOption({QStringLiteral("no-password"),
                 QStringLiteral("Give the user an empty password: one that logs in with nothing typed.")});
}

void addUserFieldOptions(QCommandLineParser& p) {
    p.addOption({QStringLiteral("name"), QStringLiteral("Display name."), QStringLiteral("NAME")});
    p.addOption(
        {QStringLiteral("group"), QStringLiteral("User group to belong to."), QStringLiteral("GROUP")});
    p.addOption(
        {QStringLiteral("start"), QStringLiteral("First valid day, yyyy-mm-dd."), QStringLiteral("DATE")});
    p.addOption(
        {QStringLiteral("end"), QStringLiteral("Last valid day, yyyy-mm-dd."), QStringLiteral("DATE")});
    p.addOption({QStringLiteral("discount"), QStringLiteral("Highest discount allowed, 0 to 100."),
                 QStringLiteral("N")});
    addPasswordOptions(p);
}

int groupNumber(const QVector<UserInfo>& users, const QString& name) {
    const UserInfo* g = groupByName(users, name);
    if (!g)
        throw Refused(QStringLiteral("no user group %1").arg(name));
    return g->zuid;
}

// Item verbs name an item that must already be there (or, for a new number, must not be).
void requireItem(StoreSession& s, int qxId) {
    if (!itemExists(s.cn(), qxId))
        throw Refused(QStringLiteral("no item %1").arg(qxId));
}

void requireFreeItem(StoreSession& s, int qxId) {
    if (itemExists(s.cn(), qxId))
        throw Refused(QStringLiteral("item %1 exists").arg(qxId));
}

int checkedDiscount(const QString& text) {
    int n = 0;
    if (!parseInt32(text, n) || !rules::discountProblem(n).isEmpty())
        throw Refused(QStringLiteral("discount \"%1\" is not a whole number from 0 to 100").arg(text));
    return n;
}

const UserInfo& existingUser(const QVector<UserInfo>& users, const QString& id) {
    const UserInfo* u = findUser(users, id);
    if (!u)
        throw Refused(QStringLiteral("no user %1").arg(id));
    return *u;
}

// A user as the edit dialog fills it from the list: the stored password deciphered and
// enciphered anew, the dates read back, and the user group only when it is listed.
adminops::UserRow editRow(const QVector<UserInfo>& users, const UserInfo& u, int& oldGroup) {
    if (u.isGroup() || u.zuid < 1000)
        throw Refused(QStringLiteral("%1 is a user group, not a user").arg(u.id));
    adminops::UserRow r;
    r.userId = u.id;
    r.userName = u.name;
    try {
        r.password =
            stored(u.password.isEmpty() ? QString() : DecryptPassword(u.password, session().CipherKey));
    } catch (const Error& e) {
        throw Refused(QStringLiteral("the stored password of %1 cannot be read: %2").arg(u.id, e.message()));
    }
    for (const QString* date : {&u.start, &u.end})
        if (!QDate::fromString(*date, QStringLiteral("yyyy-MM-dd")).isValid())
            throw Refused(QStringLiteral("“") + *date + QStringLiteral("”不是有效的日期."));
    r.startDate = u.start;
    r.endDate = u.end;
    r.allow = u.allow;
    r.discount = u.discount;
    oldGroup = u.zuid >= 1000 && u.zuid < kNoGroup ? u.zuid - 1000 : 0;
    r.group = groupByNumber(users, oldGroup) ? oldGroup : 0;
    return r;
}

// The toggle of a user's flag, with what the user list shows around the user.
void toggleUser(StoreSession& s, const QString& id, const QString& flag) {
    const QVector<UserInfo> users = loadUsers(s.cn());
    const UserInfo& u = existingUser(users, id);
    if ((u.allow ? kT : kF) == flag) {
        printErr(QStringLiteral("%1 is already %2; nothing to change")
                     .arg(id, flag == kT ? QStringLiteral("enabled") : QStringLiteral("disabled")));
        return;
    }
    auto flagOf = [](const UserInfo& x) { return adminops::FlagNode{x.id, x.allow ? kT : kF}; };
    adminops::FlagScope scope;
    scope.node = flagOf(u);
    auto membersOf = [&](const UserInfo& g) {
        QList<adminops::FlagNode> out;
        if (groupByNumber(users, g.zuid) != &g)
            return out; // a second row with the same number lists no members
        for (const UserInfo& m : users)
            if (m.zuid == 1000 + g.zuid)
                out.append(flagOf(m));
        return out;
    };
    if (u.zuid < 1000) {
        scope.children = u.isGroup() ? membersOf(u) : QList<adminops::FlagNode>();
    } else if (const UserInfo* g = parentGroup(users, u)) {
        scope.hasParent = true;
        scope.parent = flagOf(*g);
        scope.children = membersOf(*g);
    } else {
        scope.cascades = false;
    }
    adminops::sendUserFlags(s.data(), adminops::toggleFlags(scope, flag));
}

// The owner of a user's permission groups: the user itself, or a rights-holding row. Members
// of a listed user group are refused: their groups are those of their user group.
const UserInfo& owner(const QVector<UserInfo>& users, const QString& id) {
    const UserInfo& u = existingUser(users, id);
    if (const UserInfo* g = parentGroup(users, u))
        throw Refused(QStringLiteral(
                          "%1 is a member of user group %2: its permission groups and rights are the group's")
                          .arg(id, g->id));
    return u;
}

QString assignment(AdoConnection& cn, const QString& ownerId, const QString& group) {
    const auto rows =
        selectRows(cn, QStringLiteral("select Allow from qx_user_zu where userID = %1 and zuName = %2")
                           .arg(sqlText(ownerId), sqlText(group)));
    return rows.isEmpty() ? QString() : rows.first().value(0).toString();
}

void assign(StoreSession& s, const QString& group, const QString& ownerId, const QString& flag) {
    const QVector<UserInfo> users = loadUsers(s.cn());
    const UserInfo& o = owner(users, ownerId);
    if (!permissionGroups(s.cn()).contains(group))
        throw Refused(QStringLiteral("no permission group %1").arg(group));
    const QString now = assignment(s.cn(), o.id, group);
    if (now.isEmpty())
        throw Refused(QStringLiteral("permission group %1 is not listed for %2").arg(group, o.id));
    if (now == flag) {
        printErr(
            QStringLiteral("%1 %2 permission group %3 already; nothing to change")
                .arg(o.id, flag == kT ? QStringLiteral("holds") : QStringLiteral("does not hold"), group));
        return;
    }
    adminops::setAssignment(s.data(), o.id, group, flag);
}

// The toggle of an item in a permission group, with what the group-rights list shows.
bool setItem(StoreSession& s, const QString& group, int qxId, const QString& flag, bool quiet = false) {
    if (!permissionGroups(s.cn()).contains(group))
        throw Refused(QStringLiteral("no permission group %1").arg(group));
    const auto rows = selectRows(
        s.cn(),
        QStringLiteral("select qx_zu.qxid, qx_zu.allow from qx_zu, qx_name where qx_zu.qxid = qx_Name.qxid "
                       "and qx_zu.zuname = %1 order by qx_zu.qxid")
            .arg(sqlText(group)));
    // The list: head items (numbers divisible by 1000) with the items after them as children.
    struct Node {
        adminops::FlagNode flag;
        int head = -1; // index of the head node above, -1 at the top
    };
    QVector<Node> nodes;
    int head = -1, at = -1;
    for (const auto& r : rows) {
        const int b = r.value(0).toInt();
        Node n{{QString::number(b), r.value(1).toString()}, -1};
        if (b % 1000 == 0)
            head = nodes.size();
        else
            n.head = head;
        if (b == qxId && at < 0)
            at = nodes.size();
        nodes.append(n);
    }
    if (at < 0)
        throw Refused(
            itemExists(s.cn(), qxId)
                ? QStringLiteral("item %1 is not listed in permission group %2").arg(qxId).arg(group)
                : QStringLiteral("no item %1").arg(qxId));
    if (nodes[at].flag.flag == flag) {
        if (!quiet)
            printErr(QStringLiteral("permission group %1 %2 item %3 already; nothing to change")
                         .arg(group, flag == kT ? QStringLiteral("holds") : QStringLiteral("does not hold"))
                         .arg(qxId));
        return false;
    }
    adminops::FlagScope scope;
    scope.node = nodes[at].flag;
    auto childrenOf = [&](int h) {
        QList<adminops::FlagNode> out;
        for (const Node& n : nodes)
            if (n.head == h && h >= 0)
                out.append(n.flag);
        return out;
    };
    if (nodes[at].head < 0) {
        scope.children = childrenOf(nodes[at].flag.key.toInt() % 1000 == 0 ? at : -1);
    } else {
        scope.hasParent = true;
        scope.parent = nodes[nodes[at].head].flag;
        scope.children = childrenOf(nodes[at].head);
    }
    adminops::sendItemFlags(s.data(), group, adminops::toggleFlags(scope, flag));
    return true;
}

QList<Verb> verbs() {
    QList<Verb> v;
    v.append({QStringLiteral("user add"),
              QStringLiteral("Add a user (enabled, valid from today to 2099-12-31 unless told)."),
              {QStringLiteral("ID")},
              [](QCommandLineParser& p) {
                  addUserFieldOptions(p);
                  p.addOption({QStringLiteral("disabled"), QStringLiteral("Add the user disabled.")});
              },
              [](StoreSession& s, const QCommandLineParser& p, const QStringList& a) {
                  adminops::UserRow r;
                  r.userId = checkedName(a[0], QStringLiteral("user ID"), 20);
                  r.userName = checkedName(p.isSet(QStringLiteral("name")) ? p.value(QStringLiteral("name"))
                                                                           : r.userId,
                                           QStringLiteral("user name"), 20);
                  r.startDate = checkedDate(
                      p.isSet(QStringLiteral("start")) ? p.value(QStringLiteral("start")) : todayText(),
                      "start date");
                  r.endDate = checkedDate(p.isSet(QStringLiteral("end")) ? p.value(QStringLiteral("end"))
                                                                         : QStringLiteral("2099-12-31"),
                                          "end date");
                  r.allow = !p.isSet(QStringLiteral("disabled"));
                  r.discount = p.isSet(QStringLiteral("discount"))
                                   ? checkedDiscount(p.value(QStringLiteral("discount")))
                                   : 0;
                  const QString typed = newPassword(p);
                  s.transaction([&] {
                      const QVector<UserInfo> users = loadUsers(s.cn());
                      if (p.isSet(QStringLiteral("group")))
                          r.group = groupNumber(users, p.value(QStringLiteral("group")));
                      if (adminops::userIdTaken(s.data(), r.userId))
                          throw Refused(QStringLiteral("user %1 exists").arg(r.userId));
                      r.password = stored(typed);
                      adminops::addUser(s.data(), r);
                  });
              }});
    auto edit = [](StoreSession& s, const QCommandLineParser& p, const QString& id,
                   const std::function<void(adminops::UserRow&, const QVector<UserInfo>&)>& change) {
        s.transaction([&] {
            const QVector<UserInfo> users = loadUsers(s.cn());
            int oldGroup = 0;
            adminops::UserRow r = editRow(users, existingUser(users, id), oldGroup);
            change(r, users);
            adminops::editUser(s.data(), r, oldGroup);
            (void)p;
        });
    };
    v.append({QStringLiteral("user edit"),
              QStringLiteral("Change a user's fields; those not given stay."),
              {QStringLiteral("ID")},
              [](QCommandLineParser& p) {
                  addUserFieldOptions(p);
                  p.addOption({QStringLiteral("no-group"), QStringLiteral("Leave the user group.")});
                  p.addOption({QStringLiteral("enable"), QStringLiteral("Mark the user valid.")});
                  p.addOption({QStringLiteral("disable"), QStringLiteral("Mark the user not valid.")});
              },
              [edit](StoreSession& s, const QCommandLineParser& p, const QStringList& a) {
                  if (p.isSet(QStringLiteral("group")) && p.isSet(QStringLiteral("no-group")))
                      throw Usage(QStringLiteral("--group and --no-group exclude each other"));
                  if (p.isSet(QStringLiteral("enable")) && p.isSet(QStringLiteral("disable")))
                      throw Usage(QStringLiteral("--enable and --disable exclude each other"));
                  const QString name =
                      p.isSet(QStringLiteral("name"))
                          ? checkedName(p.value(QStringLiteral("name")), QStringLiteral("user name"), 20)
                          : QString();
                  const QString start = p.isSet(QStringLiteral("start"))
                                            ? checkedDate(p.value(QStringLiteral("start")), "start date")
                                            : QString();
                  const QString end = p.isSet(QStringLiteral("end"))
                                          ? checkedDate(p.value(QStringLiteral("end")), "end date")
                                          : QString();
                  const int discount = p.isSet(QStringLiteral("discount"))
                                           ? checkedDiscount(p.value(QStringLiteral("discount")))
                                           : -1;
                  const bool newPwd = newPasswordGiven(p);
                  const QString typed = newPwd ? newPassword(p) : QString();
                  edit(s, p, a[0], [&](adminops::UserRow& r, const QVector<UserInfo>& users) {
                      if (!name.isEmpty())
                          r.userName = name;
                      if (!start.isEmpty())
                          r.startDate = start;
                      if (!end.isEmpty())
                          r.endDate = end;
                      if (discount >= 0)
                          r.discount = discount;
                      if (p.isSet(QStringLiteral("enable")))
                          r.allow = true;
                      if (p.isSet(QStringLiteral("disable")))
                          r.allow = false;
                      if (newPwd)
                          r.password = stored(typed);
                      if (p.isSet(QStringLiteral("group")))
                          r.group = groupNumber(users, p.value(QStringLiteral("group")));
                      if (p.isSet(QStringLiteral("no-group")))
                          r.group = 0;
                  });
              }});
    v.append({QStringLiteral("user passwd"),
              QStringLiteral("Set a user's password, enciphered with the session's key (--key)."),
              {QStringLiteral("ID")},
              addPasswordOptions,
              [edit](StoreSession& s, const QCommandLineParser& p, const QStringList& a) {
                  const QString typed = newPassword(p);
                  edit(s, p, a[0],
                       [&](adminops::UserRow& r, const QVector<UserInfo>&) { r.password = stored(typed); });
              }});
    v.append({QStringLiteral("user move"),
              QStringLiteral("Move a user into a user group (--group) or out of it (--no-group)."),
              {QStringLiteral("ID")},
              [](QCommandLineParser& p) {
                  p.addOption({QStringLiteral("group"), QStringLiteral("User group to move into."),
                               QStringLiteral("GROUP")});
                  p.addOption({QStringLiteral("no-group"), QStringLiteral("Leave the user group.")});
              },
              [edit](StoreSession& s, const QCommandLineParser& p, const QStringList& a) {
                  if (p.isSet(QStringLiteral("group")) == p.isSet(QStringLiteral("no-group")))
                      throw Usage(QStringLiteral("give exactly one of --group and --no-group"));
                  edit(s, p, a[0], [&](adminops::UserRow& r, const QVector<UserInfo>& users) {
                      r.group = p.isSet(QStringLiteral("group"))
                                    ? groupNumber(users, p.value(QStringLiteral("group")))
                                    : 0;
                  });
              }});
    v.append(
        {QStringLiteral("user delete"),
         QStringLiteral("Delete a user."),
         {QStringLiteral("ID")},
         nullptr,
         [](StoreSession& s, const QCommandLineParser&, const QStringList& a) {
             s.transaction([&] {
                 const QVector<UserInfo> users = loadUsers(s.cn());
                 const UserInfo& u = existingUser(users, a[0]);
                 if (u.isGroup())
                     throw Refused(
                         QStringLiteral("%1 is a user group: delete it with usergroup delete").arg(u.id));
                 adminops::deleteUser(s.data(), u.id);
             });
         }});
    for (const bool on : {true, false})
        v.append({on ? QStringLiteral("user enable") : QStringLiteral("user disable"),
                  on ? QStringLiteral("Mark a user (or a user group with its members) valid.")
                     : QStringLiteral("Mark a user (or a user group with its members) not valid."),
                  {QStringLiteral("ID")},
                  nullptr,
                  [on](StoreSession& s, const QCommandLineParser&, const QStringList& a) {
                      s.transaction([&] { toggleUser(s, a[0], on ? kT : kF); });
                  }});
    v.append({QStringLiteral("usergroup add"),
              QStringLiteral("Add a user group with the first free number."),
              {QStringLiteral("NAME")},
              nullptr,
              [](StoreSession& s, const QCommandLineParser&, const QStringList& a) {
                  const QString name = checkedName(a[0], QStringLiteral("user group name"), 20);
                  s.transaction([&] {
                      if (adminops::userGroupNameTaken(s.data(), name))
                          throw Refused(QStringLiteral("user or user group %1 exists").arg(name));
                      if (adminops::addUserGroup(s.data(), name) == 0)
                          throw Refused(QStringLiteral("用户组已达999个, 不能再添加用户组."));
                  });
              }});
    v.append({QStringLiteral("usergroup delete"),
              QStringLiteral("Delete a user group and all its members."),
              {QStringLiteral("NAME")},
              nullptr,
              [](StoreSession& s, const QCommandLineParser&, const QStringList& a) {
                  s.transaction([&] {
                      const QVector<UserInfo> users = loadUsers(s.cn());
                      groupNumber(users, a[0]);
                      adminops::deleteUser(s.data(), a[0]);
                  });
              }});
    v.append({QStringLiteral("permgroup add"),
              QStringLiteral("Add a permission group (it grants nothing yet)."),
              {QStringLiteral("NAME")},
              nullptr,
              [](StoreSession& s, const QCommandLineParser&, const QStringList& a) {
                  const QString name = checkedName(a[0], QStringLiteral("permission group name"), 20);
                  s.transaction([&] {
                      if (adminops::permissionGroupTaken(s.data(), name))
                          throw Refused(QStringLiteral("permission group %1 exists").arg(name));
                      adminops::addPermissionGroup(s.data(), name);
                  });
              }});
    v.append({QStringLiteral("permgroup delete"),
              QStringLiteral("Delete a permission group; its grants go with it."),
              {QStringLiteral("NAME")},
              nullptr,
              [](StoreSession& s, const QCommandLineParser&, const QStringList& a) {
                  s.transaction([&] {
                      if (!permissionGroups(s.cn()).contains(a[0]))
                          throw Refused(QStringLiteral("no permission group %1").arg(a[0]));
                      adminops::deletePermissionGroup(s.data(), a[0]);
                  });
              }});
    for (const bool on : {true, false})
        v.append({on ? QStringLiteral("permgroup assign") : QStringLiteral("permgroup unassign"),
                  on ? QStringLiteral("Give a user or user group a permission group.")
                     : QStringLiteral("Take a permission group back from a user or user group."),
                  {QStringLiteral("NAME"), QStringLiteral("USER")},
                  nullptr,
                  [on](StoreSession& s, const QCommandLineParser&, const QStringList& a) {
                      s.transaction([&] { assign(s, a[0], a[1], on ? kT : kF); });
                  }});
    v.append({QStringLiteral("permgroup set"),
              QStringLiteral(
                  "Switch an item of a permission group on or off (a head item, number divisible by 1000, "
                  "takes its items along)."),
              {QStringLiteral("NAME"), QStringLiteral("ITEM"), QStringLiteral("on|off")},
              nullptr,
              [](StoreSession& s, const QCommandLineParser&, const QStringList& a) {
                  const int item = checkedItem(a[1]);
                  const QString flag = checkedFlag(a[2]);
                  s.transaction([&] { setItem(s, a[0], item, flag); });
              }});
    for (const bool add : {true, false})
        v.append({add ? QStringLiteral("item add") : QStringLiteral("item rename"),
                  add ? QStringLiteral("Add a permission item.") : QStringLiteral("Give an item a new name."),
                  {QStringLiteral("ITEM"), QStringLiteral("NAME")},
                  nullptr,
                  [add](StoreSession& s, const QCommandLineParser&, const QStringList& a) {
                      const int item = checkedItem(a[0]);
                      const QString name = checkedName(a[1], QStringLiteral("item name"), 30);
                      s.transaction([&] {
                          if (add) {
                              requireFreeItem(s, item);
                              adminops::addItem(s.data(), item, name);
                          } else {
                              requireItem(s, item);
                              adminops::renameItem(s.data(), item, name);
                          }
                      });
                  }});
    v.append({QStringLiteral("item renumber"),
              QStringLiteral("Give an item a new number; its grants follow it."),
              {QStringLiteral("ITEM"), QStringLiteral("NEW")},
              nullptr,
              [](StoreSession& s, const QCommandLineParser&, const QStringList& a) {
                  const int item = checkedItem(a[0]);
                  const int to = checkedItem(a[1]);
                  s.transaction([&] {
                      requireItem(s, item);
                      if (item != to)
                          requireFreeItem(s, to);
                      adminops::renumberItem(s.data(), item, to);
                  });
              }});
    v.append({QStringLiteral("item delete"),
              QStringLiteral("Delete an item; its grants go with it."),
              {QStringLiteral("ITEM")},
              nullptr,
              [](StoreSession& s, const QCommandLineParser&, const QStringList& a) {
                  const int item = checkedItem(a[0]);
                  s.transaction([&] {
                      requireItem(s, item);
                      adminops::deleteItem(s.data(), item);
                  });
              }});
    v.append(
        {QStringLiteral("grant"),
         QStringLiteral(
             "Grant a user or user group an item through a permission group (default: the one named "
             "like the user, added when missing): the item is switched on there and the group assigned."),
         {QStringLiteral("USER"), QStringLiteral("ITEM")},
         [](QCommandLineParser& p) {
             p.addOption({QStringLiteral("permgroup"), QStringLiteral("Permission group to grant through."),
                          QStringLiteral("NAME")});
         },
         [](StoreSession& s, const QCommandLineParser& p, const QStringList& a) {
             const int item = checkedItem(a[1]);
             s.transaction([&] {
                 const QVector<UserInfo> users = loadUsers(s.cn());
                 const UserInfo& o = owner(users, a[0]);
                 const QString group = p.isSet(QStringLiteral("permgroup"))
                                           ? p.value(QStringLiteral("permgroup"))
                                           : checkedName(o.id, QStringLiteral("permission group name"), 20);
                 requireItem(s, item);
                 if (!permissionGroups(s.cn()).contains(group)) {
                     if (p.isSet(QStringLiteral("permgroup")))
                         throw Refused(QStringLiteral("no permission group %1").arg(group));
                     adminops::permissionGroupTaken(s.data(), group);
                     adminops::addPermissionGroup(s.data(), group);
                 }
                 setItem(s, group, item, kT, true);
                 if (assignment(s.cn(), o.id, group) != kT)
                     assign(s, group, o.id, kT);
             });
         }});
    v.append(
        {QStringLiteral("revoke"),
         QStringLiteral(
             "Take an item from a user or user group: every permission group assigned to it that grants "
             "the item is taken back (with the other items it grants); they are listed."),
         {QStringLiteral("USER"), QStringLiteral("ITEM")},
         nullptr,
         [](StoreSession& s, const QCommandLineParser&, const QStringList& a) {
             const int item = checkedItem(a[1]);
             s.transaction([&] {
                 const QVector<UserInfo> users = loadUsers(s.cn());
                 const UserInfo& o = owner(users, a[0]);
                 requireItem(s, item);
                 const auto rows = selectRows(
                     s.cn(),
                     QStringLiteral("select a.zuName from qx_user_zu a, qx_zu z where a.userID = %1 and "
                                    "a.Allow = 'T' and z.zuName = a.zuName and z.qxID = %2 and z.Allow = 'T' "
                                    "order by a.zuName")
                         .arg(sqlText(o.id))
                         .arg(item));
                 if (rows.isEmpty())
                     printErr(
                         QStringLiteral("%1 holds item %2 through no permission group; nothing to change")
                             .arg(o.id)
                             .arg(item));
                 for (const auto& r : rows) {
                     adminops::setAssignment(s.data(), o.id, r.value(0).toString(), kF);
                     printOut(QStringLiteral("unassigned permission group %1").arg(r.value(0).toString()));
                 }
             });
         }});
    return v;
}

} // namespace

bool isAdminVerb(const QString& verb) {
    static const QStringList names{QStringLiteral("user"),      QStringLiteral("usergroup"),
                                   QStringLiteral("permgroup"), QStringLiteral("item"),
                                   QStringLiteral("grant"),     QStringLiteral("revoke")};
    return names.contains(verb);
}

int runAdminVerb(const QStringList& args) {
    const QList<Verb> all = verbs();
    const Verb* verb = nullptr;
    int used = 1;
    for (const Verb& v : all) {
        const QStringList words = v.name.split(QLatin1Char(' '));
        if (args.mid(0, words.size()) == words) {
            verb = &v;
            used = words.size();
        }
    }
    if (!verb) {
        QStringList known;
        for (const Verb& v : all)
            if (v.name.startsWith(args.value(0) + QLatin1Char(' ')) || v.name == args.value(0))
                known << v.name;
        printErr(
            args.size() > 1 && !args[1].startsWith(QLatin1Char('-'))
                ? QStringLiteral("unknown verb %1 %2; one of: %3")
                      .arg(args[0], args[1], known.join(QStringLiteral(", ")))
                : QStringLiteral("%1 needs one of: %2").arg(args.value(0), known.join(QStringLiteral(", "))));
        return kUsage;
    }
    QCommandLineParser p;
    p.setApplicationDescription(verb->summary);
    p.addHelpOption();
    addStoreOptions(p);
    if (verb->options)
        verb->options(p);
    for (const QString& name : verb->positionals)
        p.addPositionalArgument(name, QString());
    QStringList argv{QStringLiteral("vardex-cli ") + verb->name};
    argv += args.mid(used);
    if (!p.parse(argv)) {
        printErr(p.errorText());
        return kUsage;
    }
    if (p.isSet(QStringLiteral("help"))) {
        printOut(helpText(p, verb->name));
        return kOk;
    }
    const QStringList pos = p.positionalArguments();
    if (pos.size() != verb->positionals.size()) {
        printErr(QStringLiteral("%1 takes %2").arg(verb->name, verb->positionals.join(QLatin1Char(' '))));
        return kUsage;
    }
    return guarded([&] {
        StoreSession s(p);
        verb->run(s, p, pos);
        return kOk;
    });
}

} // namespace vardex::cli
