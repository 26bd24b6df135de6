#include "cli/store.h"

#include "library/dmain.h"
#include "platform/sqldialect.h"

#include <QSet>

namespace vardex::cli {

StoreSession::StoreSession(const QCommandLineParser& p, const QString& positional) : m_trace(p) {
    const QString cs = storeFrom(p, positional);
    const QString user = p.value(QStringLiteral("db-user"));
    const QString password = databasePassword(p);
    const QString key = p.value(QStringLiteral("key"));
    if (vardex::ConnectDatabase(cs, user, password, QString(), key) != 0) {
        // The session call answers 1 without a reason: a connection of our own finds it.
        QString reason;
        try {
            AdoConnection probe;
            probe.setConnectionString(cs);
            probe.open(user, password);
        } catch (const Error& e) {
            reason = e.message();
        }
        if (hasDataModule())
            vardex::DisconnectDatabase();
        throw Usage(QStringLiteral("cannot open the store%1%2")
                        .arg(reason.isEmpty() ? QString() : QStringLiteral(": "), reason));
    }
    if (m_trace.active())
        dataModule().ADOcn.setLogging(true);
}

StoreSession::~StoreSession() {
    if (m_trace.active() && hasDataModule())
        m_trace.write(dataModule().ADOcn.statementLog());
    try {
        if (hasDataModule())
            vardex::DisconnectDatabase();
    } catch (...) {
    }
}

TdData& StoreSession::data() {
    return dataModule();
}

void StoreSession::transaction(const std::function<void()>& body) {
    AdoConnection& c = cn();
    c.beginTrans();
    try {
        // Every verb is serialised with other administration of the store: its checks and its
        // changes cannot interleave with another desktop's.
        c.lockAdministration();
        body();
        c.commitTrans();
    } catch (...) {
        if (c.inTransaction()) {
            try {
                c.rollbackTrans();
            } catch (...) {
                c.close(); // the server discards what the connection left open
            }
        }
        throw;
    }
}

QVector<UserInfo> loadUsers(AdoConnection& cn) {
    AdoQuery q(&cn, QStringLiteral("select * from qx_user Order By zuid"));
    q.open();
    QVector<UserInfo> out;
    for (q.first(); !q.eof(); q.next()) {
        UserInfo u;
        u.id = q.fieldByName(QStringLiteral("userID")).asString();
        u.name = q.fieldByName(QStringLiteral("userName")).asString();
        u.password = q.fieldByName(QStringLiteral("userPwd")).asString();
        u.start = q.fieldByName(QStringLiteral("startTime")).asString();
        u.end = q.fieldByName(QStringLiteral("endTime")).asString();
        u.allow = q.fieldByName(QStringLiteral("Allow")).asString() == schema::kGranted;
        u.discount = q.fieldByName(QStringLiteral("AllowZekou")).asInteger();
        u.zuid = q.fieldByName(QStringLiteral("zuid")).asInteger();
        out.append(u);
    }
    return out;
}

const UserInfo* findUser(const QVector<UserInfo>& users, const QString& id) {
    for (const UserInfo& u : users)
        if (u.id == id)
            return &u;
    return nullptr;
}

const UserInfo* groupByNumber(const QVector<UserInfo>& users, int n) {
    for (const UserInfo& u : users)
        if (u.zuid == n && u.isGroup())
            return &u;
    return nullptr;
}

const UserInfo* groupByName(const QVector<UserInfo>& users, const QString& name) {
    for (const UserInfo& u : users)
        if (u.id == name && u.isGroup())
            return &u;
    return nullptr;
}

const UserInfo* parentGroup(const QVector<UserInfo>& users, const UserInfo& u) {
    if (!schema::isGroupMember(u.zuid))
        return nullptr;
    return groupByNumber(users, schema::groupOfMember(u.zuid));
}

QStringList permissionGroups(AdoConnection& cn) {
    QSet<QString> names;
    for (const auto& r : selectRows(cn, QStringLiteral("select distinct zuName from qx_zu")))
        if (!r.value(0).isNull())
            names.insert(r.value(0).toString());
    for (const auto& r : selectRows(cn, QStringLiteral("select distinct zuName from qx_user_zu")))
        if (!r.value(0).isNull())
            names.insert(r.value(0).toString());
    QStringList out(names.begin(), names.end());
    out.sort();
    return out;
}

bool itemExists(AdoConnection& cn, int qxId) {
    return !selectRows(cn, QStringLiteral("select qxID from qx_Name where qxID = %1").arg(qxId)).isEmpty();
}

} // namespace vardex::cli
