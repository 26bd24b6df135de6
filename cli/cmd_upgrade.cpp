// upgrade: brings a store to the newest version this program knows, step by step.
#include "cli/commands.h"

#include "library/installer.h"

#include <QScopeGuard>
#include <cstdio>

namespace vardex::cli {

namespace {

// A test may stop the upgrade after a step: VARDEX_TEST_UPGRADE_PAUSE=N says so after step N,
// inside the transaction, and waits until standard input ends (or the process is killed).
void pauseForTest(const StoreStep& step) {
    if (qEnvironmentVariable("VARDEX_TEST_UPGRADE_PAUSE") != QString::number(step.version))
        return;
    std::fprintf(stderr, "paused after step %d\n", step.version);
    std::fflush(stderr);
    while (std::fgetc(stdin) != EOF) {
    }
}

int upgrade(const Invocation& o) {
    return guarded([&] {
        const auto cn = openAccount(o.connectionString, o.user, o.password);
        cn->setLogging(true);
        const auto note = qScopeGuard([&] { noteStatements(cn->statementLog()); });
        // Every step, and every version row, in one transaction: a step that fails, or a process
        // that ends half-way, leaves the store at the version it had.
        AdoTransaction tx(*cn);
        const StoreVersion found = storeVersion(*cn);
        if (found.current() && found.recorded) {
            say(Cli::tr("the store is at version %1").arg(found.version));
            finishTransaction(tx, *cn);
            return kOk;
        }
        if (!found.recorded)
            notice(Cli::tr("the store records no version; what it holds is version %1").arg(found.version));
        // On a secured store secure runs again too, in the same transaction.
        const QStringList secured = upgradeStore(*cn, found, [](const StoreStep& step) {
            say(Cli::tr("step %1: %2").arg(step.version).arg(step.name));
            pauseForTest(step);
        });
        for (const QString& line : secured)
            say(line);
        finishTransaction(tx, *cn);
        say(conventions().dryRun
                ? Cli::tr("%1 step(s) from version %2 to %3")
                      .arg(found.pending.size())
                      .arg(found.version)
                      .arg(found.newest)
                : Cli::tr("the store is at version %1 (was %2)").arg(found.newest).arg(found.version));
        return kOk;
    });
}

} // namespace

CommandGroup upgradeCommands() {
    return {QStringLiteral("upgrade CONNSTR"),
            true,
            {
                {QStringLiteral("upgrade"),
                 {QStringLiteral("CONNSTR")},
                 QStringLiteral(
                     "Brings the store to the newest version: runs every step above its version, all in "
                     "one transaction (on SQL Server too: the steps' CREATE TABLE, INDEX and PROCEDURE "
                     "are transactional there). Nothing to do when it is current. --dry-run runs the "
                     "steps and rolls them back."),
                 Takes::Account,
                 nullptr,
                 upgrade,
                 Writes},
            }};
}

} // namespace vardex::cli
