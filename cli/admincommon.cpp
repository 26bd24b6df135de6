// What the administration verbs share: the checks of what the window's lists and dialogs
// would have refused, and the assignment and item toggles of the permission-group lists.
#include "cli/admincommon.h"

#include "library/storerules.h"
#include "platform/sqldialect.h"

namespace vardex::cli {

const QString kT = schema::kGranted;
const QString kF = schema::kRefused;

std::function<int(const Invocation&)> onStore(StoreBody body) {
    return [body = std::move(body)](const Invocation& in) {
        StoreSession s(in.options);
        body(s, in.options, in.args);
        return kOk;
    };
}

// A name as the dialogs take it: blanks trimmed, then the store's rule for a name.
QString checkedName(const QString& raw, const QString& what, int maxLength) {
    QString v = trimBlanks(raw);
    const QString problem = rules::nameProblem(v, maxLength);
    if (!problem.isEmpty())
        throw Refused(what + QLatin1Char(' ') + problem);
    return v;
}

int checkedItem(const QString& text) {
    int n = 0;
    if (!parseInt32(text, n))
        throw Usage(Cli::tr("item number \"%1\" is not a whole number of 32 bits").arg(text));
    return n;
}

int groupNumber(const QVector<UserRow>& users, const QString& name) {
    const UserRow* g = groupByName(users, name);
    if (!g)
        throw Refused(Cli::tr("no user group %1").arg(name));
    return g->zuid;
}

// An item a verb names must be there.
void requireItem(StoreSession& s, int qxId) {
    if (!itemExists(s.cn(), qxId))
        throw Refused(Cli::tr("no item %1").arg(qxId));
}

const UserRow& existingUser(const QVector<UserRow>& users, const QString& id) {
    const UserRow* u = findUser(users, id);
    if (!u)
        throw Refused(Cli::tr("no user %1").arg(id));
    return *u;
}

// The owner of a user's permission groups: the user itself, or a rights-holding row. Members
// of a listed user group are refused: their groups are those of their user group.
const UserRow& owner(const QVector<UserRow>& users, const QString& id) {
    const UserRow& u = existingUser(users, id);
    if (const UserRow* g = parentGroup(users, u))
        throw Refused(
            Cli::tr("%1 is a member of user group %2: its permission groups and rights are the group's")
                .arg(id, g->userId));
    return u;
}

void assign(StoreSession& s, const QString& group, const QString& ownerId, const QString& flag) {
    const QVector<UserRow> users = loadUsers(s.cn());
    const UserRow& o = owner(users, ownerId);
    if (!permissionGroups(s.cn()).contains(group))
        throw Refused(Cli::tr("no permission group %1").arg(group));
    const QString now = assignment(s.cn(), o.userId, group);
    if (now.isEmpty())
        throw Refused(Cli::tr("permission group %1 is not listed for %2").arg(group, o.userId));
    if (now == flag) {
        notice(Cli::tr("%1 %2 permission group %3 already; nothing to change")
                   .arg(o.userId, flag == kT ? QStringLiteral("holds") : QStringLiteral("does not hold"),
                        group));
        return;
    }
    adminops::setAssignment(s.data(), o.userId, group, flag);
}

// The toggle of an item in a permission group, with what the group-rights list shows.
bool setItem(StoreSession& s, const QString& group, int qxId, const QString& flag, bool quiet) {
    if (!permissionGroups(s.cn()).contains(group))
        throw Refused(Cli::tr("no permission group %1").arg(group));
    const QVector<adminops::GroupRight> rows = adminops::loadGroupRights(s.cn(), group);
    // The list: head items (numbers divisible by 1000) with the items after them as children.
    struct Node {
        adminops::FlagNode flag;
        int head = -1; // index of the head node above, -1 at the top
    };
    QVector<Node> nodes;
    int head = -1, at = -1;
    for (const adminops::GroupRight& r : rows) {
        const int b = r.qxId;
        Node n{{QString::number(b), r.allow}, -1};
        if (schema::isHeadItem(b))
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
            notice(Cli::tr("permission group %1 %2 item %3 already; nothing to change")
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
        scope.children = childrenOf(schema::isHeadItem(nodes[at].flag.key.toInt()) ? at : -1);
    } else {
        scope.hasParent = true;
        scope.parent = nodes[nodes[at].head].flag;
        scope.children = childrenOf(nodes[at].head);
    }
    adminops::sendItemFlags(s.data(), group, adminops::toggleFlags(scope, flag));
    return true;
}

} // namespace vardex::cli
