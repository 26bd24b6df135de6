// The hot library calls against the minimal raw SQL doing the same work, on generated stores of
// 1,000 and 1,000,000 grant rows, on SQLite (a file in write-ahead-log mode) and on PostgreSQL.
//
// Each library call is measured beside a hand-written version that sends the same statements,
// with the same literal values, through QtSql directly (a QSqlQuery on a QSqlDatabase of its own
// opened on the same store, with the same SQLite settings the data access layer uses). The
// difference between the two is what our layers cost; the difference between the two store sizes
// is what the store's size costs.
//
// Environment:
//   VARDEX_BENCH_PG      base PostgreSQL connection string ("Provider=PostgreSQL;Host=...;Port=...;
//                        User ID=..."); the PostgreSQL cases are skipped when it is unset. The
//                        program creates (and drops at the end) the databases vardex_bench_1k and
//                        vardex_bench_1m there.
//   VARDEX_BENCH_DIR     folder for the SQLite store files (default: the system temporary folder).
//   VARDEX_BENCH_STORES  "1k", "1M" or "1k,1M" (default) to build fewer stores for a quick look.
//   VARDEX_BENCH_AFTER_FILL  extra statements (separated by ';') run on every store after it is
//                        filled, before ANALYZE: for experiments with the schema, e.g. an index
//                        the installation script does not create. Unset for the real figures.
//   VARDEX_BENCH_PROFILE  a benchmark's name (e.g. SQLite/1k/CheckUserRight_granted/ours), or several
//                        separated by commas: instead of benchmarking, make each call
//                        VARDEX_BENCH_PROFILE_N times (default 1000) inside profiledCalls(), one
//                        after the other in the order given, for perf or callgrind
//                        (bench/callgrind.sh dumps a profile after each).
#include "library/cipher.h"
#include "library/dmain.h"
#include "library/installer.h"
#include "platform/adodb.h"
#include "platform/connstr.h"
#include "platform/sysinfo.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

using namespace vardex;

enum class Backend { SQLite, PostgreSQL };

const char* backendName(Backend b) {
    return b == Backend::SQLite ? "SQLite" : "PostgreSQL";
}

// The shape of a generated store. Every rights-holding row (a user group, or a user outside any
// group) has one grant row per item; members of a group hold no grant rows of their own.
struct StoreShape {
    const char* label;
    int groups;     // user groups 1..groups
    int standalone; // users outside any group (zuid 10000)
    int members;    // members spread over the groups (zuid 1000 + n)
    int items;      // qx_Name rows with grant rows
    qint64 grantRows() const { return qint64(groups + standalone) * items; }
};

const StoreShape kSmall{"1k", 1, 1, 2, 500};       // 2 x 500 = 1,000 grant rows
const StoreShape kLarge{"1M", 20, 1980, 100, 500}; // 2,000 x 500 = 1,000,000 grant rows

// Items added after the grants (nobody holds them), so a menu of 1,000 items can be asked about:
// items + 1 .. items + kUngrantedItems.
constexpr int kUngrantedItems = 500;

const char kPassword[] = "secret";
const char kCipherKey[] = "kmpq";

struct Store {
    Backend backend = Backend::SQLite;
    StoreShape shape = kSmall;
    QString connectionString; // for the library session
    QString rawName;          // QSqlDatabase connection name of the raw side
    QString pgDatabase;       // PostgreSQL database to drop at the end

    // Subjects of the calls: rows from the middle of the store.
    QString standaloneUser;
    QString memberUser;
    int grantedItem = 251; // odd items have AllowCount 1
    int refusedItem = 250; // even items have AllowCount 0

    QString name() const {
        return QString::fromLatin1(backendName(backend)) + QLatin1Char('/') + QLatin1String(shape.label);
    }
};

// ---------------------------------------------------------------------------------------------
// Building the stores

QString idText(const char* prefix, int n, int width) {
    return QString::fromLatin1(prefix) + QStringLiteral("%1").arg(n, width, 10, QLatin1Char('0'));
}

// "SELECT <list> FROM <1..n as i>", set-based on either backend.
QString series(Backend b, int n, const QString& selectList) {
    if (b == Backend::SQLite)
        return QStringLiteral(
                   "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < %1) SELECT ")
                   .arg(n) +
               selectList + QStringLiteral(" FROM s");
    return QStringLiteral("SELECT ") + selectList +
           QStringLiteral(" FROM generate_series(1, %1) AS s(i)").arg(n);
}

// The number i as a text of `width` digits with leading zeros.
QString padded(Backend b, int width) {
    if (b == Backend::SQLite)
        return QStringLiteral("substr('0000000000' || i, -%1)").arg(width);
    return QStringLiteral("lpad(i::text, %1, '0')").arg(width);
}

QString quoted(const QString& v) {
    return QLatin1Char('\'') + QString(v).replace(QLatin1Char('\''), QLatin1String("''")) + QLatin1Char('\'');
}

void fillStore(AdoConnection& cn, const Store& s) {
    const Backend b = s.backend;
    const StoreShape& sh = s.shape;
    const QString pwd =
        quoted(EncryptPassword(QString::fromLatin1(kPassword), QString::fromLatin1(kCipherKey)));
    const QString userCols = QStringLiteral(
        "INSERT INTO qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou, zuid) ");
    const QStringList statements = {
        QStringLiteral("INSERT INTO qx_Name (qxID, qxName, qxNameEx) ") +
            series(b, sh.items, QStringLiteral("i, 'Item ' || i, NULL")),
        // User groups: zuid 1..groups, no password, as the administration window creates them.
        userCols +
            series(
                b, sh.groups,
                QStringLiteral("'grp' || %1, 'Group ' || %1, NULL, NULL, NULL, 'T', 0, i").arg(padded(b, 3))),
        // Users outside any group.
        userCols +
            series(b, sh.standalone,
                   QStringLiteral("'u' || %1, 'User ' || %1, %2, '2000-01-01', '2099-12-31', 'T', 10, 10000")
                       .arg(padded(b, 5), pwd)),
        // Members, spread over the groups in turn.
        userCols +
            series(b, sh.members,
                   QStringLiteral("'m' || %1, 'Member ' || %1, %2, '2000-01-01', '2099-12-31', 'T', 5, "
                                  "1000 + ((i - 1) % %3) + 1")
                       .arg(padded(b, 4), pwd)
                       .arg(sh.groups)),
        // One grant row per rights-holder and item, stored user by user as the procedures add them.
        QStringLiteral("INSERT INTO qx_user_qx (userID, qxID, AllowCount) "
                       "SELECT u.userID, n.qxID, CASE WHEN n.qxID % 2 = 1 THEN 1 ELSE 0 END "
                       "FROM qx_user u CROSS JOIN qx_Name n WHERE u.zuid < 1000 OR u.zuid >= 10000 "
                       "ORDER BY u.userID, n.qxID"),
        // Items nobody holds yet: a menu's later entries.
        QStringLiteral("INSERT INTO qx_Name (qxID, qxName, qxNameEx) ") +
            series(b, kUngrantedItems, QStringLiteral("%1 + i, 'Item ' || (%1 + i), NULL").arg(sh.items)),
    };
    if (b == Backend::SQLite)
        cn.beginTrans();
    for (const QString& sql : statements)
        cn.execute(sql);
    if (b == Backend::SQLite)
        cn.commitTrans();
    const QString extra = qEnvironmentVariable("VARDEX_BENCH_AFTER_FILL");
    for (const QString& sql : extra.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        if (!sql.trimmed().isEmpty()) {
            std::fprintf(stderr, "store %s, experiment: %s\n", qPrintable(s.name()),
                         qPrintable(sql.trimmed()));
            cn.execute(sql.trimmed());
        }
    }
    cn.execute(QStringLiteral("ANALYZE"));
    if (b == Backend::SQLite)
        cn.execute(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
}

void installAndFill(Store& s, const QString& tempFolder) {
    AdoConnection cn;
    cn.setConnectionString(s.connectionString);
    cn.openOrCreate();
    const InstallOutcome outcome =
        runInstallScript(cn, tempFolder + QStringLiteral("/install-%1.sql").arg(s.shape.label));
    if (!outcome.ok)
        throw Error(QStringLiteral("installing the store failed at batch %1: %2")
                        .arg(outcome.failedBatch)
                        .arg(outcome.error));
    fillStore(cn, s);
    AdoQuery q(&cn);
    q.setSql(QStringLiteral("select count(*) from qx_user_qx"));
    q.open();
    const qint64 rows = q.value(0, 0).toLongLong();
    if (rows != s.shape.grantRows())
        throw Error(QStringLiteral("expected %1 grant rows, found %2").arg(s.shape.grantRows()).arg(rows));
    cn.close();
}

std::unique_ptr<Store> makeStore(Backend b, const StoreShape& shape, const QString& sqliteFolder,
                                 const QString& pgBase) {
    auto s = std::make_unique<Store>();
    s->backend = b;
    s->shape = shape;
    s->rawName =
        QStringLiteral("bench-raw-%1-%2").arg(QLatin1String(backendName(b)), QLatin1String(shape.label));
    s->standaloneUser = idText("u", shape.standalone / 2 + 1, 5);
    s->memberUser = idText("m", qMax(1, shape.members / 2), 4);
    if (b == Backend::SQLite) {
        const QString file = sqliteFolder + QStringLiteral("/store-%1.db").arg(shape.label);
        QFile::remove(file);
        s->connectionString = QStringLiteral("Provider=SQLite;Data Source=") + file;
    } else {
        s->pgDatabase = QStringLiteral("vardex_bench_%1").arg(QString::fromLatin1(shape.label).toLower());
        AdoConnection admin;
        admin.setConnectionString(pgBase + QStringLiteral(";Database=postgres"));
        admin.open();
        admin.execute(QStringLiteral("DROP DATABASE IF EXISTS ") + s->pgDatabase +
                      QStringLiteral(" WITH (FORCE)"));
        admin.execute(QStringLiteral("CREATE DATABASE ") + s->pgDatabase);
        s->connectionString = pgBase + QStringLiteral(";Database=") + s->pgDatabase;
    }
    QElapsedTimer t;
    t.start();
    installAndFill(*s, sqliteFolder);
    std::fprintf(stderr, "store %s: %lld grant rows, %d users and groups, built in %.1f s\n",
                 qPrintable(s->name()), static_cast<long long>(shape.grantRows()),
                 shape.groups + shape.standalone + shape.members, t.elapsed() / 1000.0);
    return s;
}

void dropPgDatabase(const Store& s, const QString& pgBase) {
    if (s.pgDatabase.isEmpty())
        return;
    try {
        AdoConnection admin;
        admin.setConnectionString(pgBase + QStringLiteral(";Database=postgres"));
        admin.open();
        admin.execute(QStringLiteral("DROP DATABASE IF EXISTS ") + s.pgDatabase +
                      QStringLiteral(" WITH (FORCE)"));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "dropping %s: %s\n", qPrintable(s.pgDatabase), e.what());
    }
}

// ---------------------------------------------------------------------------------------------
// The two sides' connections

// The raw side: a QSqlDatabase of its own on the same store, set up as the data access layer
// sets up its own (busy timeout, synchronous=NORMAL; the file is already in WAL mode).
QSqlDatabase rawDatabase(const Store& s) {
    if (QSqlDatabase::contains(s.rawName)) {
        QSqlDatabase db = QSqlDatabase::database(s.rawName, false);
        if (db.isOpen())
            return db;
    }
    const ConnectionTarget settings = ConnectionString::resolve(s.connectionString);
    QSqlDatabase db = QSqlDatabase::addDatabase(settings.driver, s.rawName);
    db.setDatabaseName(settings.databaseName);
    if (!settings.host.isEmpty())
        db.setHostName(settings.host);
    if (settings.port > 0)
        db.setPort(settings.port);
    if (settings.driver == QLatin1String("QSQLITE"))
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    if (!db.open(settings.userId, settings.password))
        throw Error(QStringLiteral("raw connection: ") + db.lastError().text());
    QSqlQuery q(db);
    if (settings.driver == QLatin1String("QSQLITE")) {
        q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    } else {
        q.exec(QStringLiteral("SET client_min_messages TO warning"));
    }
    return db;
}

const Store* g_sessionStore = nullptr;

// The benchmarks' library session; it is moved to the store a benchmark needs before its timed
// loop.
LibrarySession& benchSession() {
    static LibrarySession session;
    return session;
}

void useSession(const Store& s) {
    if (g_sessionStore == &s && benchSession().hasData())
        return;
    if (benchSession().hasData())
        DisconnectDatabase(benchSession());
    g_sessionStore = nullptr;
    if (ConnectDatabase(benchSession(), s.connectionString, QString(), QString(), QString(),
                        QString::fromLatin1(kCipherKey)) != 0)
        throw Error(QStringLiteral("ConnectDatabase failed on ") + s.name());
    g_sessionStore = &s;
}

// Every benchmark starts from an empty audit log, so the log's growth during one benchmark does
// not carry over to the next.
void clearAuditLog(const Store& s) {
    QSqlQuery q(rawDatabase(s));
    const QString sql = s.backend == Backend::SQLite ? QStringLiteral("DELETE FROM qx_Logs")
                                                     : QStringLiteral("TRUNCATE qx_Logs");
    if (!q.exec(sql))
        throw Error(q.lastError().text());
    if (s.backend == Backend::SQLite)
        q.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
}

// ---------------------------------------------------------------------------------------------
// The raw side: the same statements, texts and values, through QSqlQuery.

// Columns of "select * from" in the order the installation script creates them; checked once
// against the store in verifyColumns().
constexpr int kUserId = 0, kUserName = 1, kUserPwd = 2, kStartTime = 3, kEndTime = 4, kAllow = 5, kZuid = 7;
constexpr int kItemName = 1;

void verifyColumns(const Store& s) {
    QSqlQuery q(rawDatabase(s));
    auto check = [&](const QString& table, int column, const char* name) {
        if (!q.exec(QStringLiteral("select * from ") + table + QStringLiteral(" where 1 = 0")))
            throw Error(q.lastError().text());
        if (q.record().fieldName(column).compare(QLatin1String(name), Qt::CaseInsensitive) != 0)
            throw Error(QStringLiteral("column %1 of %2 is %3, not %4")
                            .arg(column)
                            .arg(table, q.record().fieldName(column), QLatin1String(name)));
    };
    check(QStringLiteral("qx_user"), kUserId, "userID");
    check(QStringLiteral("qx_user"), kUserName, "userName");
    check(QStringLiteral("qx_user"), kUserPwd, "userPwd");
    check(QStringLiteral("qx_user"), kStartTime, "startTime");
    check(QStringLiteral("qx_user"), kEndTime, "endTime");
    check(QStringLiteral("qx_user"), kAllow, "Allow");
    check(QStringLiteral("qx_user"), kZuid, "zuid");
    check(QStringLiteral("qx_Name"), kItemName, "qxName");
}

QString esc(const QString& v) {
    return QString(v).replace(QLatin1Char('\''), QLatin1String("''"));
}

void run(QSqlQuery& q, const QString& sql) {
    if (!q.exec(sql))
        throw Error(q.lastError().text());
}

void rawAudit(QSqlQuery& q, const QString& computer, const QString& userName, const QString& text) {
    run(q, QStringLiteral("INSERT INTO qx_Logs VALUES ('") + esc(computer) + QStringLiteral("','") +
               esc(userName) + QStringLiteral("','") +
               QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) +
               QStringLiteral("','") + esc(text) + QStringLiteral("')"));
}

struct RawSession {
    QSqlDatabase db;
    QString computer;
    QString currentUserName;
};

int rawCheckUserRight(RawSession& rs, const QString& userId, int rightId) {
    QSqlQuery q(rs.db);
    q.setForwardOnly(true);
    int code = 0;
    QString effective = userId;
    run(q, QStringLiteral("select * from qx_user where userid = '") + esc(userId) + QStringLiteral("'\r\n"));
    if (!q.next()) {
        code = 1;
    } else {
        const int zuid = q.value(kZuid).toInt();
        if (zuid < 10000) {
            run(q, QStringLiteral("select * from qx_user where zuid =") + QString::number(zuid - 1000) +
                       QStringLiteral("\r\n"));
            if (!q.next())
                code = 2;
            else
                effective = q.value(kUserId).toString();
        }
        if (code == 0) {
            run(q, QStringLiteral("select * from qx_user_qx\r\nwhere UserID = '") + esc(effective) +
                       QStringLiteral("' and qxID = ") + QString::number(rightId) +
                       QStringLiteral(" and AllowCount > 0\r\n"));
            if (!q.next())
                code = 3;
        }
    }
    run(q, QStringLiteral("select * from qx_Name\r\nwhere qxID = ") + QString::number(rightId) +
               QStringLiteral("\r\n"));
    const QString name = q.next() ? q.value(kItemName).toString() : QString();
    q.finish();
    if (code == 0)
        rawAudit(q, rs.computer, rs.currentUserName, QStringLiteral("使用权限(") + name + QLatin1Char(')'));
    return code;
}

int rawCheckUserLogin(RawSession& rs, const QString& userId, const QString& password, const QByteArray& key) {
    const QString workDate = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    QSqlQuery q(rs.db);
    q.setForwardOnly(true);
    run(q, QStringLiteral("select * from qx_user where userID = '") + esc(userId) +
               QStringLiteral("' and zuid > 1000\r\n"));
    const QByteArray typed = toCipherBytes(password);
    bool any = false;
    while (q.next()) {
        any = true;
        const QString stored = q.value(kUserPwd).toString();
        if ((stored.isEmpty() && password.isEmpty()) || decipherBytes(stored, key) == typed) {
            const QString startTime = q.value(kStartTime).toString();
            const QString endTime = q.value(kEndTime).toString();
            const QString allow = q.value(kAllow).toString();
            const QString userName = q.value(kUserName).toString();
            q.finish();
            if (allow != QLatin1String("T"))
                return 1;
            if (workDate < startTime || workDate > endTime) // ASCII dates: byte order
                return 2;
            if (!rs.currentUserName.isEmpty())
                rawAudit(q, rs.computer, rs.currentUserName, QStringLiteral("用户退出登录"));
            rs.currentUserName = userName;
            rawAudit(q, rs.computer, rs.currentUserName, QStringLiteral("用户登录"));
            return 0;
        }
    }
    return any ? 3 : 4;
}

// ---------------------------------------------------------------------------------------------
// The benchmarks

enum class Case { RightGranted, RightMember, RightRefused, LoginSuccess };

const char* caseName(Case c) {
    switch (c) {
    case Case::RightGranted:
        return "CheckUserRight_granted";
    case Case::RightMember:
        return "CheckUserRight_member";
    case Case::RightRefused:
        return "CheckUserRight_refused";
    case Case::LoginSuccess:
        return "CheckUserLogin_success";
    }
    return "?";
}

struct Subject {
    QString user;
    int item = 0;
    int expected = 0;
};

Subject subjectOf(const Store& s, Case c) {
    switch (c) {
    case Case::RightGranted:
        return {s.standaloneUser, s.grantedItem, 0};
    case Case::RightMember:
        return {s.memberUser, s.grantedItem, 0};
    case Case::RightRefused:
        return {s.standaloneUser, s.refusedItem, 3};
    case Case::LoginSuccess:
        return {s.standaloneUser, 0, 0};
    }
    return {};
}

using Call = std::function<int()>;

// Moves the library session to the store and empties its audit log; returns the call to time.
Call prepareOurs(const Store* s, Case c) {
    useSession(*s);
    clearAuditLog(*s);
    const Subject subj = subjectOf(*s, c);
    if (c == Case::LoginSuccess)
        return [user = subj.user, password = QString::fromLatin1(kPassword), empty = QString()]() {
            return CheckUserLogin(benchSession(), user, password, QString(), &empty, 0);
        };
    return [user = subj.user, item = subj.item]() {
        return CheckUserRight(benchSession(), user, item, nullptr, 0);
    };
}

Call prepareRaw(const Store* s, Case c) {
    clearAuditLog(*s);
    // The computer name the library records, so both sides write rows of the same length; the
    // right check writes its audit row under the session's current user, as ours does.
    auto rs = std::make_shared<RawSession>(
        RawSession{rawDatabase(*s), computerName(), benchSession().values().CurrentUserName});
    const Subject subj = subjectOf(*s, c);
    if (c == Case::LoginSuccess)
        return [rs, user = subj.user, password = QString::fromLatin1(kPassword),
                key = toCipherBytes(QString::fromLatin1(kCipherKey))]() {
            return rawCheckUserLogin(*rs, user, password, key);
        };
    return [rs, user = subj.user, item = subj.item]() { return rawCheckUserRight(*rs, user, item); };
}

// A menu of items 1..n, asked about for the user outside groups: either with one QueryUserRights
// call, or with a CheckUserRight call per item as a client without the batch call does it. Both
// answer the number of items granted, so the two sides are checked against each other.
enum class MenuWay { QueryRights, CheckEach };

const char* menuWayName(MenuWay w) {
    return w == MenuWay::QueryRights ? "QueryRights" : "CheckUserRight";
}

int grantedInMenu(const Store& s, int n) {
    return (qMin(n, s.shape.items) + 1) / 2;
} // odd items

Call prepareMenu(const Store* s, MenuWay way, int n) {
    useSession(*s);
    clearAuditLog(*s);
    auto ids = std::make_shared<std::vector<int32_t>>(n);
    for (int i = 0; i < n; ++i)
        (*ids)[i] = i + 1;
    if (way == MenuWay::QueryRights)
        return [user = s->standaloneUser, ids, answers = std::make_shared<std::vector<int32_t>>(n)]() {
            QueryUserRights(benchSession(), user, ids->data(), static_cast<int>(ids->size()),
                            answers->data());
            int granted = 0;
            for (int32_t a : *answers)
                granted += a == 0;
            return granted;
        };
    return [user = s->standaloneUser, ids]() {
        int granted = 0;
        for (int32_t id : *ids)
            granted += CheckUserRight(benchSession(), user, id, nullptr, 0) == 0;
        return granted;
    };
}

using Prepare = Call (*)(const Store*, Case);

void runMenuBenchmark(benchmark::State& state, const Store* s, MenuWay way, int n) {
    try {
        const Call call = prepareMenu(s, way, n);
        if (call() != grantedInMenu(*s, n)) {
            state.SkipWithError("unexpected answer");
            return;
        }
        for (auto _ : state) {
            const int granted = call();
            benchmark::DoNotOptimize(granted);
        }
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
}

void runBenchmark(benchmark::State& state, Prepare prepare, const Store* s, Case c) {
    try {
        const Call call = prepare(s, c);
        if (call() != subjectOf(*s, c).expected) {
            state.SkipWithError("unexpected answer");
            return;
        }
        for (auto _ : state) {
            const int rc = call();
            benchmark::DoNotOptimize(rc);
        }
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
    }
}

// Profiling mode: the call alone, a known number of times, so that a profiler's counts divide
// exactly (valgrind --tool=callgrind --toggle-collect='*profiledCalls*').
Q_NEVER_INLINE int profiledCalls(const Call& call, int n) {
    int sum = 0;
    for (int i = 0; i < n; ++i)
        sum += call();
    return sum;
}

struct Registered {
    std::string name;
    std::function<Call()> prepare;
};

struct RegisteredMenu {
    std::string name;
    const Store* store;
    MenuWay way;
    int n;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv); // the SQL driver plugins are found through it
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    const QString pgBase = qEnvironmentVariable("VARDEX_BENCH_PG").trimmed();
    const QString wanted = qEnvironmentVariable("VARDEX_BENCH_STORES", QStringLiteral("1k,1M"));
    const QString baseFolder = qEnvironmentVariable("VARDEX_BENCH_DIR", QDir::tempPath());
    QDir().mkpath(baseFolder);
    QTemporaryDir folder(baseFolder + QStringLiteral("/vardex-bench-XXXXXX"));
    if (!folder.isValid()) {
        std::fprintf(stderr, "cannot create a folder under %s\n", qPrintable(baseFolder));
        return 1;
    }

    std::vector<Backend> backends{Backend::SQLite};
    if (!pgBase.isEmpty())
        backends.push_back(Backend::PostgreSQL);
    else
        std::fprintf(stderr, "VARDEX_BENCH_PG is not set: the PostgreSQL cases are skipped\n");

    std::vector<std::unique_ptr<Store>> stores;
    try {
        for (Backend b : backends)
            for (const StoreShape* shape : {&kSmall, &kLarge})
                if (wanted.split(QLatin1Char(','), Qt::SkipEmptyParts)
                        .contains(QLatin1String(shape->label), Qt::CaseInsensitive))
                    stores.push_back(makeStore(b, *shape, folder.path(), pgBase));
        for (const auto& s : stores)
            verifyColumns(*s);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "building the stores failed: %s\n", e.what());
        for (const auto& s : stores)
            dropPgDatabase(*s, pgBase);
        return 1;
    }

    std::vector<Registered> cases;
    std::vector<RegisteredMenu> menus;
    for (const auto& s : stores) {
        const Store* st = s.get();
        for (Case c : {Case::RightGranted, Case::RightMember, Case::RightRefused, Case::LoginSuccess}) {
            const std::string prefix = (s->name() + QLatin1Char('/')).toStdString() + caseName(c);
            cases.push_back({prefix + "/ours", [st, c]() { return prepareOurs(st, c); }});
            cases.push_back({prefix + "/raw", [st, c]() { return prepareRaw(st, c); }});
        }
        // Named <store>/Menu_<n>/<way>: bench/report.py tables them apart from the ours/raw pairs.
        for (int n : {1, 10, 100, 1000}) {
            for (MenuWay way : {MenuWay::QueryRights, MenuWay::CheckEach}) {
                const std::string name =
                    (s->name() + QStringLiteral("/Menu_%1/").arg(n, 4, 10, QLatin1Char('0'))).toStdString() +
                    menuWayName(way);
                menus.push_back({name, st, way, n});
                cases.push_back({name, [st, way, n]() { return prepareMenu(st, way, n); }});
            }
        }
    }

    int status = 0;
    const std::string profile = qEnvironmentVariable("VARDEX_BENCH_PROFILE").toStdString();
    if (!profile.empty()) {
        const int n = qEnvironmentVariableIntValue("VARDEX_BENCH_PROFILE_N") > 0
                          ? qEnvironmentVariableIntValue("VARDEX_BENCH_PROFILE_N")
                          : 1000;
        // Each named case in the order given; a profiler that dumps after every profiledCalls()
        // gets one profile per case, in this order.
        for (const QString& wantedName :
             QString::fromStdString(profile).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const std::string name = wantedName.trimmed().toStdString();
            const Registered* found = nullptr;
            for (const Registered& r : cases)
                if (r.name == name)
                    found = &r;
            if (!found) {
                std::fprintf(stderr, "no case named %s\n", name.c_str());
                status = 1;
                continue;
            }
            try {
                const Call call = found->prepare();
                call(); // once outside the count: first-use costs are not the call's
                QElapsedTimer t;
                t.start();
                profiledCalls(call, n);
                std::printf("profiled %s: %d calls, %.1f us per call\n", name.c_str(), n,
                            t.nsecsElapsed() / 1000.0 / n);
                std::fflush(stdout);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "%s: %s\n", name.c_str(), e.what());
                status = 1;
            }
        }
    } else {
        for (const auto& s : stores)
            for (Case c : {Case::RightGranted, Case::RightMember, Case::RightRefused, Case::LoginSuccess}) {
                const std::string prefix = (s->name() + QLatin1Char('/')).toStdString() + caseName(c);
                benchmark::RegisterBenchmark((prefix + "/ours").c_str(), runBenchmark, &prepareOurs, s.get(),
                                             c)
                    ->Unit(benchmark::kMicrosecond)
                    ->UseRealTime();
                benchmark::RegisterBenchmark((prefix + "/raw").c_str(), runBenchmark, &prepareRaw, s.get(), c)
                    ->Unit(benchmark::kMicrosecond)
                    ->UseRealTime();
            }
        for (const RegisteredMenu& m : menus)
            benchmark::RegisterBenchmark(m.name.c_str(), runMenuBenchmark, m.store, m.way, m.n)
                ->Unit(benchmark::kMicrosecond)
                ->UseRealTime();
        benchmark::RunSpecifiedBenchmarks();
    }
    benchmark::Shutdown();

    if (benchSession().hasData())
        DisconnectDatabase(benchSession());
    for (const auto& s : stores) {
        if (QSqlDatabase::contains(s->rawName)) {
            QSqlDatabase::database(s->rawName, false).close();
            QSqlDatabase::removeDatabase(s->rawName);
        }
    }
    for (const auto& s : stores)
        dropPgDatabase(*s, pgBase);
    return status;
}
