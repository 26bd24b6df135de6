// upgrade: adds to an installed store what this version's install makes and the store lacks.
#include "cli/commands.h"

#include "library/installer.h"

#include <QTemporaryDir>

namespace vardex::cli {

namespace {

int upgrade(const Invocation& o) {
    return guarded([&] {
        const auto cn = openAccount(o.connectionString, o.user, o.password);
        QTemporaryDir tmp;
        const QStringList added = vardex::upgradeStore(*cn, tmp.path() + QStringLiteral("/Morlan.tmp"));
        for (const QString& line : added)
            printOut(line);
        printOut(added.isEmpty() ? QStringLiteral("the store is up to date")
                                 : QStringLiteral("%1 addition(s)").arg(added.size()));
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
                 QStringLiteral("Adds the tables and settings a store installed by an older version lacks."),
                 Takes::Account,
                 nullptr,
                 upgrade},
            }};
}

} // namespace vardex::cli
