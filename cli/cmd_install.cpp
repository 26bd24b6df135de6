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
        printErr(Cli::tr("cannot connect: %1").arg(e.message()));
        return 2;
    }
    QTemporaryDir tmp;
    vardex::InstallOutcome r;
    try {
        r = vardex::runInstallScript(cn, tmp.path() + QStringLiteral("/Morlan.tmp"));
    } catch (const vardex::Error& e) {
        printErr(Cli::tr("the stored script cannot be read: %1").arg(e.message()));
        return 1;
    } catch (const std::exception& e) {
        printErr(Cli::tr("the stored script cannot be read: %1").arg(QString::fromLocal8Bit(e.what())));
        return 1;
    }
    if (r.fileError) {
        printErr(r.error);
        return 1;
    }
    if (!r.ok) {
        // The texts of the window's installation, in the program's language.
        const QByteArray why =
            (vardex::Ui::tr("出错") + QStringLiteral(": ") + vardex::installFailureText() +
             QLatin1Char('\n') + Cli::tr("batch %1: %2").arg(r.failedBatch).arg(r.error) + QLatin1Char('\n'))
                .toUtf8();
        std::fwrite(why.constData(), 1, why.size(), stderr);
        return 1;
    }
    if (conventions().quiet) // -q: the exit code says it
        return 0;
    printOut(vardex::Ui::tr("导入数据表") + QStringLiteral(": ") + vardex::installSuccessText());
    printOut(Cli::tr("%1 batches").arg(r.batchesRun));
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
