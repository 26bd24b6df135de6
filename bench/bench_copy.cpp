// How long vardex-cli copy takes for a generated store of 2,000 users, 500 items, 10 user
// groups, 20 permission groups and 100,000 audit rows: SQLite -> PostgreSQL -> SQLite.
//   bench_copy PG_BASE_CONNSTR [WORKDIR]       (bench/copy.sh starts a cluster and runs it)
// Prints the rows of each table and the wall time of each copy, as the copy itself reports
// it and as measured around the process.
#include "bench/storegen.h"
#include "library/installer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>
#include <cstdio>

using namespace vardex;

namespace {

void install(const QString& cs) {
    AdoConnection cn;
    cn.setConnectionString(cs);
    cn.open();
    QTemporaryDir tmp;
    const InstallOutcome r = runInstallScript(cn, tmp.path() + QStringLiteral("/Morlan.tmp"));
    if (!r.ok)
        qFatal("install failed: %s", qPrintable(r.error));
}

double copy(const QString& cli, const QString& from, const QString& to) {
    QProcess p;
    QElapsedTimer t;
    t.start();
    p.start(cli, {QStringLiteral("copy"), from, to});
    p.waitForFinished(-1);
    const double s = t.elapsed() / 1000.0;
    std::printf("%s", p.readAllStandardOutput().constData());
    if (p.exitCode() != 0)
        qFatal("copy failed: %s", p.readAllStandardError().constData());
    return s;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_copy PG_BASE_CONNSTR [WORKDIR]\n");
        return 2;
    }
    // "sqlite" in place of the server: SQLite -> SQLite, no server needed.
    const QString pgBase = QString::fromLocal8Bit(argv[1]);
    const bool sqliteOnly = pgBase == QLatin1String("sqlite");
    QTemporaryDir tmp(argc > 2 ? QString::fromLocal8Bit(argv[2]) + QStringLiteral("/bench-copy-XXXXXX")
                               : QString());
    const QString cli = QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/vardex-cli");
    const QString a = QStringLiteral("Provider=SQLite;Data Source=") + tmp.path() + QStringLiteral("/a.db");
    const QString c = QStringLiteral("Provider=SQLite;Data Source=") + tmp.path() + QStringLiteral("/c.db");
    const QString dbName = QStringLiteral("vxbench_") + QUuid::createUuid().toString(QUuid::Id128).left(12);
    if (!sqliteOnly) {
        AdoConnection admin;
        admin.setConnectionString(pgBase + QStringLiteral(";Database=postgres"));
        admin.open();
        admin.execute(QStringLiteral("CREATE DATABASE ") + dbName);
    }
    const QString b =
        sqliteOnly ? QStringLiteral("Provider=SQLite;Data Source=") + tmp.path() + QStringLiteral("/b.db")
                   : pgBase + QStringLiteral(";Database=") + dbName;
    install(a);
    install(b);
    install(c);
    QElapsedTimer t;
    t.start();
    {
        AdoConnection cn;
        cn.setConnectionString(a);
        cn.open();
        storegen::generate(cn, storegen::Size());
        for (const char* table : {"qx_Name", "qx_user", "qx_user_qx", "qx_user_zu", "qx_zu", "qx_Logs"}) {
            AdoQuery q(&cn, QStringLiteral("select count(*) from %1").arg(QLatin1String(table)));
            q.open();
            std::printf("%-11s %8s rows\n", table, qPrintable(q.value(0, 0).toString()));
        }
    }
    std::printf("generated in %.1f s\n", t.elapsed() / 1000.0);
    const double toPg = copy(cli, a, b);
    const double back = copy(cli, b, c);
    std::printf("copy SQLite -> %s: %.1f s wall\ncopy %s -> SQLite: %.1f s wall\n",
                sqliteOnly ? "SQLite" : "PostgreSQL", toPg, sqliteOnly ? "SQLite" : "PostgreSQL", back);
    if (sqliteOnly)
        return 0;
    AdoConnection admin;
    admin.setConnectionString(pgBase + QStringLiteral(";Database=postgres"));
    admin.open();
    admin.execute(QStringLiteral("DROP DATABASE IF EXISTS ") + dbName + QStringLiteral(" WITH (FORCE)"));
    return 0;
}
