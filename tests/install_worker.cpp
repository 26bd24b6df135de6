// Installs the store on a database and stops for good just before the statement of a chosen
// batch, so that a test can kill the process in the middle of an install.
//   install_worker CONNSTR BATCH
#include "library/installer.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: install_worker CONNSTR BATCH\n");
        return 2;
    }
    vardex::AdoConnection cn;
    cn.setConnectionString(QString::fromLocal8Bit(argv[1]));
    const int stopAt = std::atoi(argv[2]);
    int batch = 0;
    try {
        cn.open();
        cn.setStatementHook([&](const QString&) {
            if (++batch < stopAt)
                return;
            std::printf("inside batch %d\n", batch);
            std::fflush(stdout);
            for (;;)
                pause();
        });
        QTemporaryDir tmp;
        const vardex::InstallOutcome r = vardex::runInstallScript(cn, tmp.path() + QStringLiteral("/Morlan.tmp"));
        std::printf("%s\n", r.ok ? "installed" : qPrintable(r.error));
        return r.ok ? 0 : 1;
    } catch (const vardex::Error& e) {
        std::fprintf(stderr, "install_worker: %s\n", qPrintable(e.message()));
        return 2;
    }
}
