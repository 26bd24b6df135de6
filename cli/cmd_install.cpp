// install: the tables and procedures of a store created in an empty database.
#include "cli/commands.h"

#include "library/installer.h"
#include "library/uitext.h"

#include <QScopeGuard>
#include <QTemporaryDir>
#include <cstdio>

namespace vardex::cli {

namespace {

int install(const Invocation& o) {
    vardex::AdoConnection cn;
    cn.setConnectionString(o.connectionString);
    cn.setLogging(true);
    const auto note = qScopeGuard([&] { vardex::cli::noteStatements(cn.statementLog()); });
    try {
        cn.openOrCreate(o.user, o.password);
    } catch (const vardex::Error& e) {
        std::fprintf(stderr, "vardex-cli: cannot connect: %s\n", e.message().toLocal8Bit().constData());
        return 2;
    }
    QTemporaryDir tmp;
    vardex::InstallOutcome r;
    try {
        r = vardex::runInstallScript(cn, tmp.path() + QStringLiteral("/Morlan.tmp"));
    } catch (const vardex::Error& e) {
        std::fprintf(stderr, "vardex-cli: the stored script cannot be read: %s\n",
                     e.message().toLocal8Bit().constData());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vardex-cli: the stored script cannot be read: %s\n", e.what());
        return 1;
    }
    if (r.fileError) {
        std::fprintf(stderr, "vardex-cli: %s\n", r.error.toLocal8Bit().constData());
        return 1;
    }
    if (!r.ok) {
        // The texts of the window's installation, in the language VARDEX_LANG chooses.
        std::fprintf(stderr, "%s: %s\n", vardex::Ui::tr("出错").toLocal8Bit().constData(),
                     vardex::installFailureText().toLocal8Bit().constData());
        std::fprintf(stderr, "batch %d: %s\n", r.failedBatch, r.error.toLocal8Bit().constData());
        return 1;
    }
    if (conventions().quiet) // -q: the exit code says it
        return 0;
    std::printf("%s: %s\n", vardex::Ui::tr("导入数据表").toLocal8Bit().constData(),
                vardex::installSuccessText().toLocal8Bit().constData());
    std::printf("%d batches\n", r.batchesRun);
    return 0;
}

} // namespace

CommandGroup installCommands() {
    return {QStringLiteral("install CONNSTR"),
            false,
            {
                {QStringLiteral("install"),
                 {QStringLiteral("CONNSTR")},
                 QStringLiteral("Creates the tables and procedures of a store in an empty database."),
                 Takes::Account,
                 nullptr,
                 install},
            }};
}

} // namespace vardex::cli
