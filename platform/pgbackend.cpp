// PostgreSQL through Qt's QPSQL driver, with the libpq calls that the driver does not offer
// taken from the libpq its plugin has loaded.
#include "platform/dbbackend.h"

#include <QHash>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlRecord>
#include <QSqlResult>

#include <dlfcn.h>
#include <vector>

namespace vardex {

namespace {

// The libpq calls used here (none is loaded here; without them the names come from
// QSqlQuery::record(), and an idle connection is not looked at before a statement).
struct PqApi {
    int (*nfields)(const void*) = nullptr;
    char* (*fname)(const void*, int) = nullptr;
    unsigned (*ftype)(const void*, int) = nullptr;
    int (*status)(const void*) = nullptr; // PQstatus: 0 is CONNECTION_OK
    int (*socket)(const void*) = nullptr;
    // A statement with bound parameters (runWithParameters).
    void* (*execParams)(void*, const char*, int, const unsigned*, const char* const*, const int*, const int*,
                        int) = nullptr;
    int (*resultStatus)(const void*) = nullptr;
    char* (*resultErrorMessage)(const void*) = nullptr;
    void (*clear)(void*) = nullptr;
    int (*ntuples)(const void*) = nullptr;
    char* (*getvalue)(const void*, int, int) = nullptr;
    int (*getlength)(const void*, int, int) = nullptr;
    int (*getisnull)(const void*, int, int) = nullptr;
    int (*transactionStatus)(const void*) = nullptr;
    void* (*getResult)(void*) = nullptr;
    char* (*errorMessage)(const void*) = nullptr;
    char* (*cmdTuples)(void*) = nullptr;
    bool ok() const { return nfields && fname && ftype; }
    bool livenessOk() const { return status && socket; }
    bool parametersOk() const {
        return ok() && status && execParams && resultStatus && resultErrorMessage && clear && ntuples &&
               getvalue && getlength && getisnull && transactionStatus && getResult && errorMessage &&
               cmdTuples;
    }
    // libpq's values of the enumerations read here
    static constexpr int kConnectionOk = 0;      // CONNECTION_OK
    static constexpr int kCommandOk = 1;         // PGRES_COMMAND_OK
    static constexpr int kTuplesOk = 2;          // PGRES_TUPLES_OK
    static constexpr int kTransactionIdle = 0;   // PQTRANS_IDLE
    static constexpr int kTransactionActive = 1; // PQTRANS_ACTIVE
};

template <typename F> void pqSymbol(void* lib, const char* name, F* out) {
    *out = reinterpret_cast<F>(dlsym(lib, name));
}

const PqApi& pqApi() {
    static const PqApi api = [] {
        PqApi a;
        void* lib = dlopen("libpq.so.5", RTLD_LAZY | RTLD_NOLOAD);
        if (lib) {
            pqSymbol(lib, "PQnfields", &a.nfields);
            pqSymbol(lib, "PQfname", &a.fname);
            pqSymbol(lib, "PQftype", &a.ftype);
            pqSymbol(lib, "PQstatus", &a.status);
            pqSymbol(lib, "PQsocket", &a.socket);
            pqSymbol(lib, "PQexecParams", &a.execParams);
            pqSymbol(lib, "PQresultStatus", &a.resultStatus);
            pqSymbol(lib, "PQresultErrorMessage", &a.resultErrorMessage);
            pqSymbol(lib, "PQclear", &a.clear);
            pqSymbol(lib, "PQntuples", &a.ntuples);
            pqSymbol(lib, "PQgetvalue", &a.getvalue);
            pqSymbol(lib, "PQgetlength", &a.getlength);
            pqSymbol(lib, "PQgetisnull", &a.getisnull);
            pqSymbol(lib, "PQtransactionStatus", &a.transactionStatus);
            pqSymbol(lib, "PQgetResult", &a.getResult);
            pqSymbol(lib, "PQerrorMessage", &a.errorMessage);
            pqSymbol(lib, "PQcmdTuples", &a.cmdTuples);
            dlclose(lib); // the plugin keeps it loaded
        }
        return a;
    }();
    return api;
}

// The PGconn behind a connection on the PostgreSQL driver.
void* pgConnection(const QSqlDatabase& db) {
    const QVariant v = db.driver() ? db.driver()->handle() : QVariant();
    if (v.isValid() && (qstrcmp(v.typeName(), "PGconn*") == 0 || qstrcmp(v.typeName(), "pg_conn*") == 0))
        return *static_cast<void* const*>(v.constData());
    return nullptr;
}

// The PGresult behind a query on the PostgreSQL driver.
const void* pgResult(const QSqlQuery& q) {
    const QVariant v = q.result() ? q.result()->handle() : QVariant();
    // Registered under the typedef's name or the structure's, depending on how Qt named it.
    if (v.isValid() && (qstrcmp(v.typeName(), "PGresult*") == 0 || qstrcmp(v.typeName(), "pg_result*") == 0))
        return *static_cast<void* const*>(v.constData());
    return nullptr;
}

QString pqText(const char* text) {
    return QString::fromUtf8(text).trimmed();
}

class PostgresBackend final : public DbBackend {
  public:
    PostgresBackend(const QString& name, const ConnectionTarget& target) : DbBackend(name, target) {}

    bool idleConnectionDead() override;
    DbResult run(const QString& sql, bool fetchRows) override { return runQuery(sql, fetchRows); }
    DbResult runWithParameters(const QString& sql, const QStringList& parameters,
                               bool outsideTransaction) override;

  protected:
    void openDatabase(const QString& user, const QString& password, bool create) override;
    bool columns(const QSqlQuery& q, DbResult* result) override;

  private:
    QHash<unsigned, QMetaType> m_pgTypes; // type number -> the driver's type for it
};

void PostgresBackend::openDatabase(const QString& user, const QString& password, bool) {
    QSqlDatabase db = QSqlDatabase::addDatabase(m_target.driver, m_name);
    db.setDatabaseName(m_target.databaseName);
    if (!m_target.host.isEmpty())
        db.setHostName(m_target.host);
    if (m_target.port > 0)
        db.setPort(m_target.port);
    db.setConnectOptions(m_target.options);
    if (!db.open(user, password)) {
        const QString text = errorText(db.lastError());
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
        throw DbError(text);
    }
    try {
        setStandardStrings();
    } catch (...) {
        db.close();
        throw;
    }
}

// Whether the connection has already been ended by the server (a restart, a terminated
// backend, a failover): libpq knows it for lost, or its socket has something to read while
// idle, which is the server's termination notice or the end of the stream. Nothing is sent,
// nor read.
bool PostgresBackend::idleConnectionDead() {
    if (queryBusy() || !connected())
        return false;
    const void* conn = pgConnection(database());
    const PqApi& pq = pqApi();
    if (!conn || !pq.livenessOk())
        return false;
    if (pq.status(conn) != PqApi::kConnectionOk)
        return true;
    const int fd = pq.socket(conn);
    return fd < 0 || idleSocketEnded(fd);
}

// QSqlQuery::record() builds a full field (table, size, precision) per column for every
// statement. The names are read from the result instead, and the type of each column from the
// type numbers the driver has already typed once on this connection (the driver's type of a
// column depends on its type number alone); a number not yet seen is learnt from record().
bool PostgresBackend::columns(const QSqlQuery& q, DbResult* result) {
    const PqApi& pq = pqApi();
    const void* res = pq.ok() ? pgResult(q) : nullptr;
    if (!res)
        return false;
    const int n = pq.nfields(res);
    result->fields.reserve(n);
    result->types.reserve(n);
    for (int i = 0; i < n; ++i) {
        const unsigned oid = pq.ftype(res, i);
        auto known = m_pgTypes.constFind(oid);
        if (known == m_pgTypes.constEnd()) {
            const QSqlRecord rec = q.record();
            if (rec.count() != n) {
                result->fields.clear();
                result->types.clear();
                return false;
            }
            for (int k = 0; k < n; ++k)
                m_pgTypes.insert(pq.ftype(res, k), rec.field(k).metaType());
            known = m_pgTypes.constFind(oid);
        }
        result->fields.append(QString::fromUtf8(pq.fname(res, i)));
        result->types.append(*known);
    }
    return true;
}

// Through libpq's PQexecParams: the extended protocol with the unnamed statement, so a pooler in
// transaction mode can take it, and the statement text the server shows holds $n, never the
// values. The statement is sent once.
DbResult PostgresBackend::runWithParameters(const QString& sql, const QStringList& parameters,
                                            bool outsideTransaction) {
    const PqApi& pq = pqApi();
    void* conn = pq.parametersOk() ? pgConnection(database()) : nullptr;
    if (!conn)
        return DbBackend::runWithParameters(sql, parameters, outsideTransaction);
    // The end of the driver's last statement (its final result, the server's ready message) may
    // not have been read yet; it is read here, as PQexecParams would read it first, so that the
    // transaction state is known.
    if (pq.transactionStatus(conn) == PqApi::kTransactionActive)
        while (void* rest = pq.getResult(conn))
            pq.clear(rest);
    if (outsideTransaction && pq.transactionStatus(conn) != PqApi::kTransactionIdle)
        throw DbError(
            QStringLiteral("The statement was not sent: it must run in a transaction of its own, and "
                           "one is open on this connection."));
    std::vector<QByteArray> values;
    std::vector<const char*> pointers;
    values.reserve(size_t(parameters.size()));
    pointers.reserve(size_t(parameters.size()));
    for (const QString& p : parameters) {
        values.push_back(p.toUtf8()); // a null QString is sent as an empty text, never as NULL
        pointers.push_back(values.back().constData());
    }
    const QByteArray text = sql.toUtf8();
    struct Cleared {
        const PqApi& pq;
        void* result;
        ~Cleared() {
            if (result)
                pq.clear(result);
        }
    } res{pq, pq.execParams(conn, text.constData(), int(pointers.size()), nullptr, pointers.data(), nullptr,
                            nullptr, 0)};
    const int status = res.result ? pq.resultStatus(res.result) : -1;
    if (status != PqApi::kTuplesOk && status != PqApi::kCommandOk) {
        QString reason = res.result ? pqText(pq.resultErrorMessage(res.result)) : QString();
        if (reason.isEmpty())
            reason = pqText(pq.errorMessage(conn));
        if (pq.status(conn) != PqApi::kConnectionOk) {
            close();
            throw lostUnderStatement(DbError(reason));
        }
        throw DbError(reason.isEmpty() ? QStringLiteral("Unknown database error") : reason);
    }
    DbResult result;
    result.rowsAffected = QByteArray(pq.cmdTuples(res.result)).toInt();
    const int fields = pq.nfields(res.result);
    const int rows = pq.ntuples(res.result);
    for (int f = 0; f < fields; ++f)
        result.fields.append(QString::fromUtf8(pq.fname(res.result, f)));
    result.rows.reserve(rows);
    for (int r = 0; r < rows; ++r) {
        QVector<QVariant> row;
        row.reserve(fields);
        for (int f = 0; f < fields; ++f)
            row.append(pq.getisnull(res.result, r, f)
                           ? QVariant()
                           : QVariant(QString::fromUtf8(pq.getvalue(res.result, r, f),
                                                        pq.getlength(res.result, r, f))));
        result.rows.append(std::move(row));
    }
    return result;
}

} // namespace

std::unique_ptr<DbBackend> makePostgresBackend(const QString& name, const ConnectionTarget& target) {
    return std::make_unique<PostgresBackend>(name, target);
}

} // namespace vardex
