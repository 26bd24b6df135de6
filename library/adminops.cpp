#include "library/adminops.h"

#include "library/dmain.h"
#include "library/storeschema.h"
#include "library/uitext.h"
#include "platform/errors.h"

#include <memory>
#include <optional>
#include <utility>

namespace vardex::adminops {

namespace {

const QString kT = schema::kGranted;

// The windows and their transactions live on the library's one thread. An action belongs to
// the thread that runs it, so programs that administer the store from several threads, each on
// a connection of its own, serialise each one's actions alike.
int g_windowTransactions = 0;
struct ActionState {
    int depth = 0;
    std::unique_ptr<AdoTransaction> own; // the transaction the action began
};
thread_local ActionState g_action;

// Ends the action's own transaction, keeping what was sent. A commit that fails ends it as
// well (the connection rolls it back), so no later statement of the session sits in a
// transaction nobody ends.
void endOwnTransaction() {
    const std::unique_ptr<AdoTransaction> own = std::move(g_action.own);
    if (!own || !own->active())
        return;
    try {
        own->commit();
    } catch (const std::exception&) {
    }
}

void serialise(TdData& d) {
    AdoConnection& cn = d.ADOcn;
    if (!cn.inTransaction()) {
        if (g_action.depth == 0)
            return;
        g_action.own = std::make_unique<AdoTransaction>(cn);
    }
    cn.lockAdministration();
}

void exec(TdData& d, const QString& sql) {
    serialise(d);
    d.ADOcn.execute(sql);
}

// Opens a select on the administration query and answers whether it found a row.
bool found(TdData& d, const QString& sql) {
    serialise(d);
    AdoQuery& qr = d.ADOqr;
    qr.close();
    qr.clearSql();
    qr.addSql(sql);
    const int n = OpenOrExecute(qr);
    qr.close();
    if (n > 0)
        endOwnTransaction();
    return n > 0;
}

} // namespace

WindowTransaction::WindowTransaction() {
    ++g_windowTransactions;
}
WindowTransaction::~WindowTransaction() {
    --g_windowTransactions;
}
bool WindowTransaction::open() {
    return g_windowTransactions > 0;
}

void refuseInWindowTransaction(const char* call) {
    if (WindowTransaction::open())
        throw Error(
            QStringLiteral("%1 was refused: a window (the permission item list editor or the administration "
                           "window) is open with its own transaction, and what this call did would go with "
                           "that window's Cancel. Call it after the window has closed.")
                .arg(QLatin1String(call)));
}

QString visitInTransaction(AdoConnection& cn, bool transaction, const std::function<void()>& prepare,
                           const std::function<int()>& visit, const VisitStep& step) {
    const auto at = [&](const char* name) {
        if (step)
            step(name);
    };
    std::optional<AdoTransaction> tx;
    std::optional<WindowTransaction> marked;
    QString noted;
    try {
        prepare();
        if (transaction) {
            at("begin");
            tx.emplace(cn);
            marked.emplace();
        }
        const int tag = visit();
        if (tx) {
            if (tag == 1) {
                try {
                    at("commit");
                    tx->commit();
                } catch (const std::exception&) {
                    noted = Ui::tr("数据更新不成功! 请再试.");
                }
            } else {
                at("rollback");
                tx->rollback();
            }
        }
    } catch (const std::exception&) {
        noted = Ui::tr("程序发生意外错误, 请关闭程序, 重量新运行.");
    }
    // Every later write of the session would be lost with a transaction left open.
    if (tx && tx->active()) {
        try {
            at("rollback");
            tx->abandon();
        } catch (const std::exception&) {
            cn.close(); // the server discards the transaction with the connection
        }
    }
    return noted;
}

Action::Action() {
    ++g_action.depth;
}
Action::~Action() {
    if (--g_action.depth == 0)
        endOwnTransaction();
}

bool userIdTaken(TdData& d, const QString& userId) {
    return found(d, QStringLiteral("select * from qx_user where userID =") + schema::sqlLiteral(userId));
}

bool userGroupNameTaken(TdData& d, const QString& name) {
    return found(d, QStringLiteral("select * from qx_user where userid = ") + schema::sqlLiteral(name));
}

bool permissionGroupTaken(TdData& d, const QString& name) {
    return found(d, QStringLiteral("select * from qx_zu where zuName = ") + schema::sqlLiteral(name));
}

void addUser(TdData& d, const UserRow& u) {
    const int zuid = u.zuid;
    exec(d, QStringLiteral(
                "Insert qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou,zuid) "
                "VALUES (") +
                schema::sqlLiteral(u.userId) + QLatin1Char(',') + schema::sqlLiteral(u.userName) +
                QLatin1Char(',') + schema::sqlLiteral(u.password) + QLatin1Char(',') +
                schema::sqlLiteral(u.startDate) + QLatin1Char(',') + schema::sqlLiteral(u.endDate) +
                QStringLiteral(",'") + schema::flagText(u.allowed()) + QStringLiteral("',") +
                QString::number(u.discount) + QLatin1Char(',') + QString::number(zuid) + QLatin1Char(')'));
    // A member gets no rows of its own: its rights are those of its user group.
    if (zuid == schema::kNoGroupZuid)
        exec(d, QStringLiteral("Exec qxAddUser ") + schema::sqlLiteral(u.userId));
}

void editUser(TdData& d, const UserRow& u, int oldGroup) {
    const int oldZuid = schema::memberZuid(oldGroup);
    const int newZuid = u.zuid;
    exec(d, QStringLiteral("Update qx_user Set userName = ") + schema::sqlLiteral(u.userName) +
                QLatin1Char(',') + QStringLiteral("userPwd = ") + schema::sqlLiteral(u.password) +
                QLatin1Char(',') + QStringLiteral("startTime = ") + schema::sqlLiteral(u.startDate) +
                QLatin1Char(',') + QStringLiteral("endTime = ") + schema::sqlLiteral(u.endDate) +
                QLatin1Char(',') + QStringLiteral("Allow = '") + schema::flagText(u.allowed()) +
                QStringLiteral("',") + QStringLiteral("AllowZekou = ") + QString::number(u.discount) +
                QStringLiteral(", zuid = ") + QString::number(newZuid) + QStringLiteral(" where userID = ") +
                schema::sqlLiteral(u.userId));
    if (newZuid == oldZuid)
        return;
    if (newZuid == schema::kNoGroupZuid)
        exec(d, QStringLiteral("exec qxuseroutzu ") + schema::sqlLiteral(u.userId) + QLatin1Char(',') +
                    QString::number(oldZuid - schema::kMemberBase));
    else if (oldZuid == schema::kNoGroupZuid)
        exec(d, QStringLiteral("exec qxuserintozu ") + schema::sqlLiteral(u.userId) + QLatin1Char(',') +
                    QString::number(newZuid - schema::kMemberBase));
}

void deleteUser(TdData& d, const QString& userId) {
    exec(d, QStringLiteral("Exec qxDelUser ") + schema::sqlLiteral(userId));
}

int addUserGroup(TdData& d, const QString& name, QString* storedAllow) {
    serialise(d);
    // The first free number, walking the numbers in use upwards from 1.
    AdoQuery& qr = d.ADOqr;
    qr.close();
    qr.clearSql();
    qr.addSql(QStringLiteral("select * from qx_user where zuid < %1 order by zuid").arg(schema::kMemberBase));
    OpenOrExecute(qr);
    int k = 0;
    bool stopped = false;
    for (qr.first(); !qr.eof(); qr.next()) {
        ++k;
        if (qr.fieldByName(QStringLiteral("zuid")).asInteger() != k) {
            stopped = true;
            break;
        }
    }
    const int number = stopped ? k : qr.recordCount() + 1;
    if (!schema::isUserGroup(number)) {
        // The numbers above are member codes: 999 user groups are all the numbering holds.
        qr.close();
        endOwnTransaction();
        return 0;
    }
    qr.append();
    qr.setFieldValue(QStringLiteral("zuid"), number);
    qr.setFieldValue(QStringLiteral("userid"), name);
    qr.setFieldValue(QStringLiteral("username"), name);
    try {
        qr.post();
    } catch (...) {
        qr.cancel();
        qr.close();
        throw;
    }
    qr.close();
    if (storedAllow) {
        // The columns the insert left out take the store's values (its default for Allow).
        qr.clearSql();
        qr.addSql(QStringLiteral("select * from qx_user where userid = ") + schema::sqlLiteral(name));
        OpenOrExecute(qr);
        try {
            *storedAllow = qr.fieldByName(QStringLiteral("Allow")).asString();
        } catch (...) {
            qr.close();
            throw;
        }
        qr.close();
    }
    // The user group holds grant rows like a user; its members' rights are read from them.
    exec(d, QStringLiteral("Exec qxAddUser ") + schema::sqlLiteral(name));
    return number;
}

void addPermissionGroup(TdData& d, const QString& name) {
    exec(d, QStringLiteral("Exec qxAddzuName ") + schema::sqlLiteral(name));
}

void deletePermissionGroup(TdData& d, const QString& name) {
    exec(d, QStringLiteral("Exec qxDelzu ") + schema::sqlLiteral(name));
}

void setAssignment(TdData& d, const QString& ownerId, const QString& permissionGroup, const QString& flag) {
    exec(d, QStringLiteral("Exec qx_user_zu_changed ") + schema::sqlLiteral(ownerId) + QLatin1Char(',') +
                schema::sqlLiteral(permissionGroup) + QLatin1Char(',') + schema::sqlLiteral(flag));
}

QList<QPair<QString, QString>> toggleFlags(const FlagScope& s, const QString& flag) {
    QList<QPair<QString, QString>> out{{s.node.key, flag}};
    if (!s.cascades)
        return out;
    if (!s.hasParent) {
        for (const FlagNode& child : s.children)
            if (child.flag != flag)
                out.append({child.key, flag});
        return out;
    }
    if (flag == kT) {
        if (s.parent.flag != flag)
            out.append({s.parent.key, kT});
        return out;
    }
    if (s.parent.flag == schema::kRefused)
        return out;
    for (const FlagNode& other : s.children)
        if (other.key != s.node.key && other.flag == kT)
            return out;
    out.append({s.parent.key, flag});
    return out;
}

void sendUserFlags(TdData& d, const QList<QPair<QString, QString>>& flags) {
    for (const auto& f : flags)
        exec(d, QStringLiteral("Exec qxUpDateUserAllows ") + schema::sqlLiteral(f.first) +
                    QStringLiteral(",'") + f.second + QLatin1Char('\''));
}

void sendItemFlags(TdData& d, const QString& permissionGroup, const QList<QPair<QString, QString>>& flags) {
    for (const auto& f : flags)
        exec(d, QStringLiteral("Exec qxUpDateAllows ") + schema::sqlLiteral(permissionGroup) +
                    QLatin1Char(',') + QString::number(f.first.toInt()) + QStringLiteral(",'") + f.second +
                    QLatin1Char('\''));
}

QString itemListSelect() {
    return QStringLiteral("SELECT qxID AS 权限ID, qxName AS 权限名称 FROM qx_Name Order By qxID");
}

void beforeItemEdit(TdData& d) {
    exec(d, QStringLiteral("Exec qxNameChanged_before"));
}

void afterItemEdit(TdData& d) {
    exec(d, QStringLiteral("Exec qxNameChanged"));
}

namespace {

enum class ItemEdit { Add, Rename, Renumber, Delete };

void editItem(TdData& d, ItemEdit kind, int qxId, int newQxId, const QString& name) {
    serialise(d);
    AdoQuery& list = d.ADOqrList;
    list.close();
    list.clearSql();
    list.addSql(itemListSelect());
    OpenOrExecute(list);
    try {
        int at = -1;
        if (kind != ItemEdit::Add) {
            for (int r = 0; r < list.recordCount() && at < 0; ++r)
                if (!list.value(r, 0).isNull() && list.value(r, 0).toLongLong() == qxId)
                    at = r;
            if (at < 0)
                throw DbError(QStringLiteral("no item %1").arg(qxId));
        }
        beforeItemEdit(d);
        switch (kind) {
        case ItemEdit::Add:
            list.append();
            list.setFieldValue(list.fieldName(0), qxId);
            list.setFieldValue(list.fieldName(1), name.isEmpty() ? QVariant() : QVariant(name));
            list.post();
            break;
        case ItemEdit::Rename:
            list.moveTo(at);
            list.edit();
            list.setFieldValue(list.fieldName(1), name.isEmpty() ? QVariant() : QVariant(name));
            list.post();
            break;
        case ItemEdit::Renumber:
            list.moveTo(at);
            list.edit();
            list.setFieldValue(list.fieldName(0), newQxId);
            list.post();
            break;
        case ItemEdit::Delete:
            list.moveTo(at);
            list.deleteRecord();
            break;
        }
        afterItemEdit(d);
    } catch (...) {
        list.cancel();
        list.close();
        throw;
    }
    list.close();
}

} // namespace

void addItem(TdData& d, int qxId, const QString& name) {
    editItem(d, ItemEdit::Add, qxId, 0, name);
}

void renameItem(TdData& d, int qxId, const QString& name) {
    editItem(d, ItemEdit::Rename, qxId, 0, name);
}

void renumberItem(TdData& d, int qxId, int newQxId) {
    editItem(d, ItemEdit::Renumber, qxId, newQxId, QString());
}

void deleteItem(TdData& d, int qxId) {
    editItem(d, ItemEdit::Delete, qxId, 0, QString());
}

// ---------------------------------------------------------------------------------------------
// The reads of the user list and of a group's rights

namespace {

// The index of a field of an opened query; a missing one raises the error fieldByName raises.
int fieldOf(AdoQuery& q, const QString& name) {
    const int i = q.fieldIndex(name);
    if (i < 0)
        q.fieldByName(name);
    return i;
}

// A field of the current row as the data layer converts it, with no field object per row.
AdoField fieldAt(AdoQuery& q, int i) {
    return AdoField(QString(), q.value(q.recNo(), i));
}

} // namespace

QString userListSelect() {
    return QStringLiteral("select * from qx_user Order By zuid");
}

void readUsers(AdoQuery& q, const std::function<void(const UserRow&)>& row) {
    const int iZuid = fieldOf(q, QStringLiteral("zuid")), iName = fieldOf(q, QStringLiteral("userName")),
              iAllow = fieldOf(q, QStringLiteral("Allow")), iPwd = fieldOf(q, QStringLiteral("userPwd")),
              iStart = fieldOf(q, QStringLiteral("startTime")), iEnd = fieldOf(q, QStringLiteral("endTime")),
              iZekou = fieldOf(q, QStringLiteral("AllowZekou")), iId = fieldOf(q, QStringLiteral("userid"));
    for (q.first(); !q.eof(); q.next()) {
        UserRow u;
        u.zuid = fieldAt(q, iZuid).asInteger();
        u.userName = fieldAt(q, iName).asString();
        u.allow = fieldAt(q, iAllow).asString();
        u.password = fieldAt(q, iPwd).asString();
        u.startDate = fieldAt(q, iStart).asString();
        u.endDate = fieldAt(q, iEnd).asString();
        if (schema::isUserRow(u.zuid)) // a user group's row shows no discount, and it is not read
            u.discount = fieldAt(q, iZekou).asInteger();
        u.userId = fieldAt(q, iId).asString();
        row(u);
    }
}

QVector<UserRow> loadUsers(AdoConnection& cn) {
    AdoQuery q(&cn, userListSelect());
    q.open();
    QVector<UserRow> out;
    readUsers(q, [&](const UserRow& u) { out.append(u); });
    return out;
}

void setGroupRightsSelect(AdoQuery& query, const QString& permissionGroup) {
    query.close();
    query.clearSql();
    query.addSql(QStringLiteral("select qx_zu.zuname a,qx_zu.qxid b,"));
    query.addSql(QStringLiteral("qx_name.qxname c,qx_zu.allow d from qx_zu,qx_name"));
    query.addSql(QStringLiteral("where qx_zu.qxid = qx_Name.qxid"));
    query.addSql(QStringLiteral("and qx_zu.zuname = ") + schema::sqlLiteral(permissionGroup));
    query.addSql(QStringLiteral("order by qx_zu.qxid"));
}

void readGroupRights(AdoQuery& q, const std::function<void(const GroupRight&)>& row) {
    int iB = -1, iC = -1, iD = -1; // looked up at the first row, where a missing one is raised
    for (q.first(); !q.eof(); q.next()) {
        if (iB < 0) {
            iB = fieldOf(q, QStringLiteral("b"));
            iC = fieldOf(q, QStringLiteral("c"));
            iD = fieldOf(q, QStringLiteral("d"));
        }
        row(GroupRight{fieldAt(q, iB).asInteger(), fieldAt(q, iC).asString(), fieldAt(q, iD).asString()});
    }
}

QVector<GroupRight> loadGroupRights(AdoConnection& cn, const QString& permissionGroup) {
    AdoQuery query(&cn);
    setGroupRightsSelect(query, permissionGroup);
    query.open();
    QVector<GroupRight> out;
    readGroupRights(query, [&](const GroupRight& r) { out.append(r); });
    return out;
}

} // namespace vardex::adminops
