// The audit log window on a log of 1,000,000 rows: a year of 2026 from 40 computers and 2,000
// users, rights used, logins, logouts and failed logins mixed as a busy site writes them. Times
// what a person waits for: the window opening with its first page, count and chart shown, and
// each filter applied (the rows, the count and the chart read anew, the window painted), after
// the pause that follows the last key. Each case twice: "rows", until the first page is painted
// (what the person sees at once), and "counted", until the count and the chart, read a slice of
// days at a time between events, are complete; longest_step_ms is the longest the window was
// busy in one go meanwhile.
//
//   bench_auditlog [Google Benchmark options]
//
// Environment: VARDEX_BENCH_DIR (folder of the SQLite file, default the temporary folder),
// VARDEX_BENCH_PG (base PostgreSQL connection string, as bench/run.sh exports it: the same cases
// then run on a PostgreSQL store too), VARDEX_BENCH_KINDS (without SQLite in it, no SQLite store),
// VARDEX_BENCH_LOG_ROWS (default 1000000).
#include "admin/auditlogwindow.h"
#include "library/dmain.h"
#include "library/installer.h"
#include "platform/errors.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

using namespace vardex;

namespace {

struct Store {
    QString name; // SQLite or PostgreSQL
    QString connectionString;
    QString pgDatabase;
};

// The rows in the order a site writes them: times rising over the year.
void fill(AdoConnection& cn, int rows) {
    QRandomGenerator rng(33);
    const QDateTime start(QDate(2026, 1, 1), QTime(0, 0));
    const qint64 yearSeconds = 365LL * 24 * 3600;
    const QString head = QStringLiteral("INSERT INTO qx_Logs (CompName, userName, theTime, theLog) VALUES ");
    static const char* const reasons[] = {"密码错误", "用户不存在", "用户已禁用", "已过期", "账号锁定"};
    cn.beginTrans();
    QStringList batch;
    for (int i = 0; i < rows; ++i) {
        const QString time =
            start.addSecs(yearSeconds * i / rows).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        const int kind = rng.bounded(100);
        QString text;
        if (kind < 50)
            text = QStringLiteral("使用权限(item %1)").arg(1000 + rng.bounded(500));
        else if (kind < 72)
            text = QStringLiteral("用户登录");
        else if (kind < 94)
            text = QStringLiteral("用户退出登录");
        else if (kind < 99)
            text = QStringLiteral("登录失败(%1)").arg(QString::fromUtf8(reasons[rng.bounded(5)]));
        else
            text = QStringLiteral("用户更改密码成功");
        batch << QStringLiteral("('pc-%1','User %2','%3','%4')")
                     .arg(rng.bounded(40), 2, 10, QLatin1Char('0'))
                     .arg(rng.bounded(2000))
                     .arg(time, text);
        if (batch.size() == 500 || i + 1 == rows) {
            cn.execute(head + batch.join(QLatin1Char(',')));
            batch.clear();
        }
    }
    cn.commitTrans();
}

std::unique_ptr<Store> makeStore(const QString& name, const QString& connectionString, const QString& folder,
                                 int rows) {
    auto s = std::make_unique<Store>();
    s->name = name;
    s->connectionString = connectionString;
    QElapsedTimer t;
    t.start();
    AdoConnection cn;
    cn.setConnectionString(connectionString);
    cn.openOrCreate();
    const InstallOutcome r = runInstallScript(cn, folder + QStringLiteral("/Morlan.tmp"));
    if (!r.ok)
        throw Error(QStringLiteral("install failed: ") + r.error);
    fill(cn, rows);
    if (name == QLatin1String("PostgreSQL"))
        cn.execute(QStringLiteral("ANALYZE qx_Logs"));
    cn.close();
    std::fprintf(stderr, "store %s: %d audit rows, built in %.1f s\n", qPrintable(name), rows,
                 t.elapsed() / 1000.0);
    return s;
}

// The library's session on the store a case runs on (one session per process).
void sessionOn(const Store& s) {
    static QString current;
    if (current == s.connectionString && hasDataModule())
        return;
    if (hasDataModule())
        DisconnectDatabase();
    if (ConnectDatabase(s.connectionString, QString(), QString(), QString(), QString()) != 0)
        throw Error(QStringLiteral("cannot open a session on ") + s.name);
    current = s.connectionString;
}

// Waits, serving events as the window's loop would, until the count and the chart are read.
void settle(TfrAuditLog& w) {
    while (w.tallying())
        QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

// Opening the window until its first page is painted; with counted, until the count and the
// chart of the whole log are read and drawn too.
void openWindow(benchmark::State& state, const Store* s, bool counted) {
    sessionOn(*s);
    qint64 longest = 0;
    for (auto _ : state) {
        auto w = std::make_unique<TfrAuditLog>();
        w->show();
        w->repaint();
        if (counted)
            settle(*w);
        state.PauseTiming();
        longest = std::max(longest, w->longestStepMs());
        w.reset();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["longest_step_ms"] = static_cast<double>(longest);
}

// One filter as typed, applied once its pause is over, until its first page is painted; with
// counted, until its count and chart are read and drawn too. The same reading each time (the
// first one, untimed, warms the caches as the person's first look at the window did).
using Set = std::function<void(TfrAuditLog&)>;
void applyFilter(benchmark::State& state, const Store* s, const Set& set, bool counted) {
    sessionOn(*s);
    TfrAuditLog w;
    w.show();
    settle(w);
    set(w);
    w.applyFilter();
    settle(w);
    qint64 longest = 0;
    for (auto _ : state) {
        w.applyFilter();
        w.repaint();
        if (counted)
            settle(w);
        // Without counted the reading of the count is left undone: the next filter drops it.
        state.PauseTiming();
        longest = std::max(longest, w.longestStepMs());
        state.ResumeTiming();
    }
    state.counters["longest_step_ms"] = static_cast<double>(longest);
    state.counters["rows"] = static_cast<double>(w.model->rowCount());
}

void typed(QLineEdit* box, const QString& text) {
    box->setText(text);
}

struct Filter {
    const char* name;
    Set set;
};

const std::vector<Filter>& filters() {
    static const std::vector<Filter> all{
        // A prefix of one user's name: the user index finds the rows.
        {"User", [](TfrAuditLog& w) { typed(w.edUser, QStringLiteral("User 1234")); }},
        // Every user whose name starts "User 1": a tenth of the log.
        {"UserPrefix", [](TfrAuditLog& w) { typed(w.edUser, QStringLiteral("User 1")); }},
        {"Computer", [](TfrAuditLog& w) { typed(w.edComputer, QStringLiteral("pc-07")); }},
        // Text found anywhere in the event: every row is looked at.
        {"Text", [](TfrAuditLog& w) { typed(w.edText, QStringLiteral("item 1234")); }},
        {"TextRare", [](TfrAuditLog& w) { typed(w.edText, QStringLiteral("已过期")); }},
        {"Month",
         [](TfrAuditLog& w) {
             w.dtFrom->setDate(QDate(2026, 6, 1));
             w.dtTo->setDate(QDate(2026, 6, 30));
             w.chkRange->setChecked(true);
         }},
        {"UserInMonth",
         [](TfrAuditLog& w) {
             w.dtFrom->setDate(QDate(2026, 6, 1));
             w.dtTo->setDate(QDate(2026, 6, 30));
             w.chkRange->setChecked(true);
             typed(w.edUser, QStringLiteral("User 1234"));
         }},
    };
    return all;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    const int rows = qEnvironmentVariableIntValue("VARDEX_BENCH_LOG_ROWS") > 0
                         ? qEnvironmentVariableIntValue("VARDEX_BENCH_LOG_ROWS")
                         : 1000000;
    const QString baseFolder = qEnvironmentVariable("VARDEX_BENCH_DIR", QDir::tempPath());
    QDir().mkpath(baseFolder);
    QTemporaryDir folder(baseFolder + QStringLiteral("/vardex-bench-XXXXXX"));
    const QString pgBase = qEnvironmentVariable("VARDEX_BENCH_PG").trimmed();
    const QString pgDatabase = QStringLiteral("vardex_bench_auditlog");

    std::vector<std::unique_ptr<Store>> stores;
    try {
        if (qEnvironmentVariable("VARDEX_BENCH_KINDS", QStringLiteral("SQLite"))
                .contains(QLatin1String("SQLite")))
            stores.push_back(makeStore(QStringLiteral("SQLite"),
                                       QStringLiteral("Provider=SQLite;Data Source=") + folder.path() +
                                           QStringLiteral("/auditlog.db"),
                                       folder.path(), rows));
        if (!pgBase.isEmpty()) {
            AdoConnection admin;
            admin.setConnectionString(pgBase + QStringLiteral(";Database=postgres"));
            admin.open();
            admin.execute(QStringLiteral("DROP DATABASE IF EXISTS ") + pgDatabase +
                          QStringLiteral(" WITH (FORCE)"));
            admin.execute(QStringLiteral("CREATE DATABASE ") + pgDatabase);
            stores.push_back(makeStore(QStringLiteral("PostgreSQL"),
                                       pgBase + QStringLiteral(";Database=") + pgDatabase, folder.path(),
                                       rows));
            stores.back()->pgDatabase = pgDatabase;
        } else {
            std::fprintf(stderr, "VARDEX_BENCH_PG is not set: the PostgreSQL cases are skipped\n");
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "building the stores failed: %s\n", e.what());
        return 1;
    }

    for (const auto& s : stores) {
        const Store* st = s.get();
        for (const bool counted : {false, true}) {
            const QString suffix = counted ? QStringLiteral("/counted") : QStringLiteral("/rows");
            benchmark::RegisterBenchmark(
                (st->name + QStringLiteral("/OpenWindow") + suffix).toStdString().c_str(),
                [st, counted](benchmark::State& state) { openWindow(state, st, counted); })
                ->Unit(benchmark::kMillisecond);
            for (const Filter& f : filters()) {
                const Set set = f.set;
                benchmark::RegisterBenchmark(
                    (st->name + QStringLiteral("/Filter_") + QLatin1String(f.name) + suffix)
                        .toStdString()
                        .c_str(),
                    [st, set, counted](benchmark::State& state) { applyFilter(state, st, set, counted); })
                    ->Unit(benchmark::kMillisecond);
            }
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (hasDataModule())
        DisconnectDatabase();
    for (const auto& s : stores) {
        if (s->pgDatabase.isEmpty())
            continue;
        try {
            AdoConnection admin;
            admin.setConnectionString(pgBase + QStringLiteral(";Database=postgres"));
            admin.open();
            admin.execute(QStringLiteral("DROP DATABASE IF EXISTS ") + s->pgDatabase +
                          QStringLiteral(" WITH (FORCE)"));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "dropping %s: %s\n", qPrintable(s->pgDatabase), e.what());
        }
    }
    return 0;
}
