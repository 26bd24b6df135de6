// The administration window with a large store: 10,000 users (50 user groups with 199 members
// each, 50 users in no group) and 1,000 items in 10 head groups, 5 permission groups, on SQLite.
// Measures opening the window (creating it and loading its lists) and changing the current user.
#include "admin/manager.h"
#include "admin/treelist.h"
#include "library/dmain.h"
#include "library/installer.h"

#include <QApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_TOGGLE_COLLECT
#endif

using namespace vardex;

namespace {

// The benchmarks' library session.
LibrarySession g_session;

struct Store {
    QTemporaryDir dir;
    QString connectionString;
};

void insertRows(AdoConnection& cn, const QString& head, const QStringList& rows) {
    for (int i = 0; i < rows.size(); i += 500)
        cn.execute(head + rows.mid(i, 500).join(','));
}

Store& store() {
    static Store s = [] {
        Store st;
        st.connectionString = "Provider=SQLite;Data Source=" + st.dir.path() + "/admin.db";
        AdoConnection cn;
        cn.setConnectionString(st.connectionString);
        cn.openOrCreate();
        const InstallOutcome r = runInstallScript(cn, st.dir.path() + "/Morlan.tmp");
        if (!r.ok)
            qFatal("install failed: %s", qPrintable(r.error));
        cn.beginTrans();
        QStringList items;
        for (int h = 1; h <= 10; ++h)
            for (int i = 0; i < 100; ++i)
                items << QString("(%1,'item %1')").arg(h * 1000 + i);
        insertRows(cn, "INSERT INTO qx_Name (qxID, qxName) VALUES ", items);
        QStringList users, holders;
        for (int g = 1; g <= 50; ++g) {
            users << QString("('group%1','group %1','',NULL,NULL,'T',0,%1)").arg(g);
            holders << QString("group%1").arg(g);
            for (int m = 0; m < 199; ++m)
                users << QString("('m%1_%2','member %1 %2','','2026-01-01','2026-12-31','T',0,%3)")
                             .arg(g)
                             .arg(m)
                             .arg(1000 + g);
        }
        for (int u = 0; u < 50; ++u) {
            users << QString("('u%1','user %1','','2026-01-01','2026-12-31','T',0,10000)").arg(u);
            holders << QString("u%1").arg(u);
        }
        insertRows(cn,
                   "INSERT INTO qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou, "
                   "zuid) VALUES ",
                   users);
        for (const char* zu : {"zu1", "zu2", "zu3", "zu4", "zu5"})
            cn.execute(QString("Exec qxAddzuName '%1'").arg(zu));
        for (const QString& id : holders)
            cn.execute("Exec qxAddUser '" + id + "'");
        cn.commitTrans();
        if (vardex::ConnectDatabase(g_session, st.connectionString, "", "", "", "") != 0)
            qFatal("cannot connect");
        return st;
    }();
    return s;
}

void BM_OpenManager(benchmark::State& state) {
    store();
    for (auto _ : state) {
        auto w = std::make_unique<Tfrmanager>(nullptr, g_session);
        w->show();
        QCoreApplication::processEvents();
        benchmark::DoNotOptimize(w.get());
        state.PauseTiming();
        w.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenManager)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The user made current at the i-th change: alternately user groups and standalone users
// (different rights lists).
QTreeWidgetItem* changeTarget(Tfrmanager& w, int i) {
    return w.dtl1->topNode(i % 2 == 0 ? 60 + (i % 40) : 3 + (i % 40));
}

void BM_ChangeCurrentUser(benchmark::State& state) {
    store();
    auto w = std::make_unique<Tfrmanager>(nullptr, g_session);
    w->show();
    QCoreApplication::processEvents();
    int i = 0;
    for (auto _ : state) {
        w->dtl1->setCurrentNode(changeTarget(*w, i));
        QCoreApplication::processEvents();
        ++i;
    }
}
BENCHMARK(BM_ChangeCurrentUser)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// For an instruction profile: `valgrind --tool=callgrind --collect-atstart=no bench_admin
// --callgrind=open:3` (or change:40) collects exactly that many openings (or changes of the
// current user), after one opening that warms the caches and is not collected.
int profile(const char* what) {
    const bool open = std::strncmp(what, "open:", 5) == 0;
    if (!open && std::strncmp(what, "change:", 7) != 0)
        return 2;
    const int n = std::atoi(std::strchr(what, ':') + 1);
    store();
    auto w = std::make_unique<Tfrmanager>(nullptr, g_session);
    w->show();
    QCoreApplication::processEvents();
    for (int i = 0; i < n; ++i) {
        if (open) {
            w.reset();
            CALLGRIND_TOGGLE_COLLECT;
            w = std::make_unique<Tfrmanager>(nullptr, g_session);
            w->show();
            QCoreApplication::processEvents();
            CALLGRIND_TOGGLE_COLLECT;
        } else {
            QTreeWidgetItem* target = changeTarget(*w, i);
            CALLGRIND_TOGGLE_COLLECT;
            w->dtl1->setCurrentNode(target);
            QCoreApplication::processEvents();
            CALLGRIND_TOGGLE_COLLECT;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc == 2 && std::strncmp(argv[1], "--callgrind=", 12) == 0) {
        const int rc = profile(argv[1] + 12);
        if (g_session.hasData())
            vardex::DisconnectDatabase(g_session);
        return rc;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_session.hasData())
        vardex::DisconnectDatabase(g_session);
    return 0;
}
