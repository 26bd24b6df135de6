#include "cli/store.h"

#include "library/dmain.h"
#include "library/securestore.h"
#include "platform/sqldialect.h"

namespace vardex::cli {

StoreSession::StoreSession(const QCommandLineParser& p, const QString& positional) : m_trace(p) {
    const QString cs = storeFrom(p, positional);
    const QString user = p.value(QStringLiteral("db-user"));
    const QString password = databasePassword(p);
    const QString key = p.value(QStringLiteral("key"));
    if (vardex::ConnectDatabase(m_session, cs, user, password, QString(), key) != vardex::Ok) {
        // The session call answers 1 without a reason: a connection of our own finds it.
        QString reason;
        try {
            AdoConnection probe;
            probe.setConnectionString(cs);
            probe.open(user, password);
        } catch (const Error& e) {
            reason = e.message();
        }
        if (m_session.hasData())
            vardex::DisconnectDatabase(m_session);
        throw Usage(Cli::tr("cannot open the store%1%2")
                        .arg(reason.isEmpty() ? QString() : QStringLiteral(": "), reason));
    }
    if (m_session.data().Secured) {
        // A desktop's account may run the store's functions only: no administration is tried.
        vardex::DisconnectDatabase(m_session);
        throw Refused(securestore::adminNeededText(QStringLiteral("this verb")));
    }
    // The statements are kept for the trace, -v and a write verb's count of them.
    m_session.data().ADOcn.setLogging(true);
}

StoreSession::~StoreSession() {
    if (m_session.hasData())
        noteStatements(m_session.data().ADOcn.statementLog());
    if (m_trace.active() && m_session.hasData())
        m_trace.write(m_session.data().ADOcn.statementLog());
    try {
        if (m_session.hasData())
            vardex::DisconnectDatabase(m_session);
    } catch (...) {
    }
}

void StoreSession::transaction(const std::function<void()>& body) {
    AdoConnection& c = cn();
    AdoTransaction tx(c);
    // Every verb is serialised with other administration of the store: its checks and its
    // changes cannot interleave with another desktop's.
    c.lockAdministration();
    body();
    finishTransaction(tx, c);
}

const UserRow* findUser(const QVector<UserRow>& users, const QString& id) {
    for (const UserRow& u : users)
        if (u.userId == id)
            return &u;
    return nullptr;
}

const UserRow* groupByNumber(const QVector<UserRow>& users, int n) {
    for (const UserRow& u : users)
        if (u.zuid == n && u.isGroup())
            return &u;
    return nullptr;
}

const UserRow* groupByName(const QVector<UserRow>& users, const QString& name) {
    for (const UserRow& u : users)
        if (u.userId == name && u.isGroup())
            return &u;
    return nullptr;
}

const UserRow* parentGroup(const QVector<UserRow>& users, const UserRow& u) {
    if (!schema::isGroupMember(u.zuid))
        return nullptr;
    return groupByNumber(users, schema::groupOfMember(u.zuid));
}

} // namespace vardex::cli
