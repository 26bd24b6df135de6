// CheckUserLogin under the store's two password forms, in the same run: cipher text (the
// default) and a bcrypt hash at cost 10, on a SQLite store. Under bcrypt a wrong password and an
// unknown user ID are measured too: they must cost what a right password costs.
#include "library/cipher.h"
#include "library/dmain.h"
#include "library/installer.h"
#include "platform/adodb.h"
#include "platform/passwordhash.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

namespace {

using namespace vardex;

const char kDay[] = "2026-06-15";

// One store file with a user of each form; the policy is switched between the benchmarks.
struct LoginStore {
    QTemporaryDir dir;
    QString connectionString;
    LibrarySession session;
    LoginStore() {
        connectionString = QStringLiteral("Provider=SQLite;Data Source=%1/login.db").arg(dir.path());
        AdoConnection cn;
        cn.setConnectionString(connectionString);
        cn.openOrCreate();
        if (!runInstallScript(cn, dir.path() + QStringLiteral("/Morlan.tmp")).ok)
            std::abort();
        const QString row =
            QStringLiteral("INSERT INTO qx_user (userID, userName, userPwd, startTime, endTime, "
                           "Allow, AllowZekou, zuid) VALUES ('%1', '%1', '%2', '2026-01-01', "
                           "'2026-12-31', 'T', 0, 10000)");
        cn.execute(row.arg(QStringLiteral("cipher"),
                           EncryptPassword(QStringLiteral("secret"), QStringLiteral("kmpq"))));
        cn.execute(row.arg(QStringLiteral("hashed"), hashPassword(QStringLiteral("secret"), 10)));
    }
    void use(const char* hash) {
        AdoConnection cn;
        cn.setConnectionString(connectionString);
        cn.open();
        cn.execute(QStringLiteral("update vardex_settings set value = '%1' where name = 'password.hash'")
                       .arg(QLatin1String(hash)));
        cn.close();
        if (session.hasData())
            DisconnectDatabase(session);
        if (ConnectDatabase(session, connectionString, QString(), QString(), QLatin1String(kDay),
                            QString()) != 0)
            std::abort();
    }
};

LoginStore& store() {
    static LoginStore s;
    return s;
}

void login(benchmark::State& state, const char* policy, const char* id, const char* password, int expected) {
    store().use(policy);
    const QString userId = QLatin1String(id), typed = QLatin1String(password);
    for (auto _ : state) {
        const int rc = CheckUserLogin(store().session, userId, typed, QLatin1String(kDay), nullptr, 0);
        if (rc != expected)
            state.SkipWithError("unexpected answer");
    }
    state.SetLabel(policy);
}

void BM_CheckUserLogin_cipher(benchmark::State& s) {
    login(s, "cipher", "cipher", "secret", 0);
}
void BM_CheckUserLogin_bcrypt10(benchmark::State& s) {
    login(s, "bcrypt", "hashed", "secret", 0);
}
void BM_CheckUserLogin_bcrypt10_wrongPassword(benchmark::State& s) {
    login(s, "bcrypt", "hashed", "guess", 3);
}
void BM_CheckUserLogin_bcrypt10_unknownUser(benchmark::State& s) {
    login(s, "bcrypt", "nobody", "guess", 4);
}

BENCHMARK(BM_CheckUserLogin_cipher)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CheckUserLogin_bcrypt10)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_CheckUserLogin_bcrypt10_wrongPassword)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_CheckUserLogin_bcrypt10_unknownUser)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    if (store().session.hasData()) {
        store().session.values().CurrentUserName.clear();
        DisconnectDatabase(store().session);
    }
    benchmark::Shutdown();
    return 0;
}
