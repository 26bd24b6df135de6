// The right checks on a secured PostgreSQL store (the desktops' role, one function call each)
// beside the same checks on the classic store (the owner's session, the classic statements) and
// beside SELECT 1 on the same connection: one round trip, the floor of any call.
//
// VardexQueryRights of 1,000 items runs on three stores: 1,000 grants (the user's own), 20,000
// and 500,000 (other users' grants beside his), as the grants' index grows.
//
// Environment: VARDEX_BENCH_PG, the base PostgreSQL connection string ("Provider=PostgreSQL;
// Host=...;Port=...;User ID=..." of a superuser). The program creates, and drops at the end, the
// databases vardex_bench_secured_<grants> and the role vardex_bench_desk.
#include "library/dmain.h"
#include "library/installer.h"
#include "library/securestore.h"
#include "platform/adodb.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace vardex;

constexpr int kItems = 1000;
const char* const kRole = "vardex_bench_desk";
const int kStores[] = {1000, 20000, 500000}; // grants in the store

QString base() {
    return qEnvironmentVariable("VARDEX_BENCH_PG");
}
QString databaseName(int grants) {
    return QStringLiteral("vardex_bench_secured_%1").arg(grants);
}
QString storeString(int grants) {
    return base() + QStringLiteral(";Database=") + databaseName(grants);
}

void onAdmin(const QString& sql) {
    AdoConnection admin;
    admin.setConnectionString(base() + QStringLiteral(";Database=postgres"));
    admin.open();
    admin.execute(sql);
}

// A store of 1,000 items, a user outside any group holding every odd one, and as many other
// users with 1,000 grant rows each as make the store's grants; secured for the role.
void createStore(int grants) {
    onAdmin(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(databaseName(grants)));
    onAdmin(QStringLiteral("CREATE DATABASE %1").arg(databaseName(grants)));
    AdoConnection cn;
    cn.setConnectionString(storeString(grants));
    cn.open();
    QTemporaryDir tmp;
    if (!runInstallScript(cn, tmp.path() + QStringLiteral("/Morlan.tmp")).ok)
        throw Error(QStringLiteral("the store could not be installed"));
    cn.execute(QStringLiteral(
        "CREATE TABLE IF NOT EXISTS vardex_settings (name varchar(40) not null primary key, value "
        "varchar(200) not "
        "null); CREATE TABLE IF NOT EXISTS vardex_lockout (userID varchar(20) not null primary key, failures "
        "integer not null, lastFailure varchar(19) not null); INSERT INTO vardex_settings VALUES "
        "('password.hash', "
        "'bcrypt') ON CONFLICT (name) DO UPDATE SET value = 'bcrypt'"));
    cn.execute(
        QStringLiteral("insert into qx_user (userID, userName, userPwd, startTime, endTime, Allow, zuid) "
                       "values ('u', 'User', '', '2000-01-01', '2099-12-31', 'T', 10000)"));
    cn.execute(QStringLiteral(
                   "insert into qx_Name select i, 'Item ' || i, '' from generate_series(1, %1) i; "
                   "insert into qx_user_qx select 'u', i, i % 2 from generate_series(1, %1) i; "
                   "insert into qx_user_qx select 'f' || k, i, (i + k) % 2 from generate_series(1, %1) i, "
                   "generate_series(1, %2) k; analyze")
                   .arg(kItems)
                   .arg(grants / kItems - 1));
    securestore::secure(cn, QLatin1String(kRole));
}

// The benchmarks' library session.
LibrarySession g_session;

void connectAs(benchmark::State& state, const char* account, int grants = kStores[0]) {
    if (ConnectDatabase(g_session, storeString(grants), QLatin1String(account), QString(), QString(),
                        QString()) != Ok)
        state.SkipWithError("cannot connect");
    g_session.values().CurrentUserName = QStringLiteral("Bench");
}

void disconnect() {
    g_session.values().CurrentUserName.clear();
    DisconnectDatabase(g_session);
}

void selectOne(benchmark::State& state, const char* account) {
    connectAs(state, account);
    AdoConnection& cn = g_session.data().ADOcn;
    for (auto _ : state)
        benchmark::DoNotOptimize(cn.run(QStringLiteral("SELECT 1"), true));
    disconnect();
}

// SELECT 1 with a bound parameter, as the secured calls send their values: what binding costs.
void selectOneBound(benchmark::State& state, const char* account) {
    connectAs(state, account);
    AdoConnection& cn = g_session.data().ADOcn;
    const QStringList one{QStringLiteral("1")};
    for (auto _ : state)
        benchmark::DoNotOptimize(cn.runWithParameters(QStringLiteral("SELECT $1::integer"), one, false));
    disconnect();
}

// Item 501 is granted (the call writes its audit row), 502 is not (it only reads).
void checkRight(benchmark::State& state, const char* account, int item) {
    connectAs(state, account);
    const int expected = item % 2 ? rights::Held : rights::NotHeld;
    for (auto _ : state)
        if (CheckUserRight(g_session, QStringLiteral("u"), item, nullptr, 0) != expected)
            state.SkipWithError("wrong answer");
    disconnect();
}

void queryRights(benchmark::State& state, const char* account, int grants) {
    connectAs(state, account, grants);
    std::vector<int32_t> ids(kItems), answers(kItems);
    for (int i = 0; i < kItems; ++i)
        ids[i] = i + 1;
    for (auto _ : state)
        QueryUserRights(g_session, QStringLiteral("u"), ids.data(), kItems, answers.data());
    if (answers[0] != rights::Held || answers[1] != rights::NotHeld)
        state.SkipWithError("wrong answers");
    disconnect();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (base().isEmpty()) {
        std::fprintf(stderr, "bench_secured: set VARDEX_BENCH_PG (bench/secured.sh does)\n");
        return 2;
    }
    try {
        onAdmin(QStringLiteral("DROP ROLE IF EXISTS %1").arg(QLatin1String(kRole)));
        onAdmin(QStringLiteral("CREATE ROLE %1 LOGIN").arg(QLatin1String(kRole)));
        for (int grants : kStores)
            createStore(grants);
    } catch (const Error& e) {
        std::fprintf(stderr, "bench_secured: %s\n", e.message().toLocal8Bit().constData());
        return 1;
    }
    benchmark::RegisterBenchmark("SELECT_1/secured", selectOne, kRole)->UseRealTime();
    benchmark::RegisterBenchmark("SELECT_1_bound/secured", selectOneBound, kRole)->UseRealTime();
    benchmark::RegisterBenchmark("CheckUserRight/secured", checkRight, kRole, 501)->UseRealTime();
    benchmark::RegisterBenchmark("CheckUserRight/classic", checkRight, "", 501)->UseRealTime();
    benchmark::RegisterBenchmark("CheckUserRight_refused/secured", checkRight, kRole, 502)->UseRealTime();
    benchmark::RegisterBenchmark("CheckUserRight_refused/classic", checkRight, "", 502)->UseRealTime();
    for (int grants : kStores) {
        const std::string store = "_" + std::to_string(grants / 1000) + "k_grants";
        benchmark::RegisterBenchmark(("VardexQueryRights_1000" + store + "/secured").c_str(), queryRights,
                                     kRole, grants)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("VardexQueryRights_1000" + store + "/classic").c_str(), queryRights, "",
                                     grants)
            ->UseRealTime();
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (int grants : kStores)
        onAdmin(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(databaseName(grants)));
    onAdmin(QStringLiteral("DROP ROLE IF EXISTS %1").arg(QLatin1String(kRole)));
    return 0;
}
