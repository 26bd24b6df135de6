// doctor: whether the tables of a store agree with each other, and with --repair their mending.
#include "cli/commands.h"

#include "library/doctor.h"
#include "library/installer.h"
#include "library/securestore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>

namespace vardex::cli {

namespace {

// The report as JSON: the counts, every violation, whether the store is clean, and with --repair
// whether it was repaired and is clean now.
QJsonObject reportJson(const vardex::DoctorReport& report) {
    QJsonArray violations;
    for (const vardex::Violation& v : report.violations)
        violations.append(v.describe());
    return {{QStringLiteral("rightsHoldingRows"), report.rightsHolders},
            {QStringLiteral("items"), report.items},
            {QStringLiteral("permissionGroups"), report.groups},
            {QStringLiteral("violations"), violations},
            {QStringLiteral("notes"), QJsonArray::fromStringList(report.notes)},
            {QStringLiteral("clean"), report.clean()}};
}

int doctor(const Invocation& o) {
    const bool repair = o.options.isSet(QStringLiteral("repair"));
    const bool json = conventions().json;
    vardex::AdoConnection cn;
    cn.setConnectionString(o.connectionString);
    cn.setLogging(true);
    const auto note = qScopeGuard([&] { noteStatements(cn.statementLog()); });
    try {
        cn.open(o.user, o.password);
        if (vardex::securestore::detect(cn)) {
            printErr(vardex::securestore::adminNeededText(QStringLiteral("doctor")));
            return 1;
        }
        const vardex::DoctorReport report = repair ? vardex::repairStore(cn) : vardex::checkStore(cn);
        QJsonObject out = reportJson(report);
        const vardex::StoreVersion version = vardex::storeVersion(cn);
        out.insert(QStringLiteral("version"), version.version);
        out.insert(QStringLiteral("newestVersion"), version.newest);
        out.insert(QStringLiteral("pendingSteps"), static_cast<qint64>(version.pending.size()));
        out.insert(QStringLiteral("current"), version.current());
        if (!json) {
            if (version.current())
                printOut(Cli::tr("the store is at version %1, the newest").arg(version.version));
            else if (!version.pending.isEmpty())
                printOut(Cli::tr("the store is at version %1; %2 step(s) to version %3 are pending: run "
                                 "vardex-cli upgrade")
                             .arg(version.version)
                             .arg(version.pending.size())
                             .arg(version.newest));
            else
                printOut(Cli::tr("the store is at version %1; its secured functions are an older "
                                 "version's: run vardex-cli upgrade")
                             .arg(version.version));
            for (const vardex::Violation& v : report.violations)
                printOut(v.describe());
            for (const QString& line : report.notes)
                printOut(line);
            printOut(Cli::tr("%1 rights-holding rows, %2 items, %3 permission groups: %4 violation(s)%5")
                         .arg(report.rightsHolders)
                         .arg(report.items)
                         .arg(report.groups)
                         .arg(report.violations.size())
                         .arg(repair && !report.clean() ? Cli::tr(", repaired") : QString()));
        }
        int rc = report.clean() ? kOk : kFailed;
        if (repair && !report.clean()) {
            const vardex::DoctorReport after = vardex::checkStore(cn);
            out.insert(QStringLiteral("repaired"), after.clean());
            out.insert(QStringLiteral("remaining"), static_cast<qint64>(after.violations.size()));
            if (!after.clean())
                printErr(Cli::tr("%1 violation(s) remain after the repair").arg(after.violations.size()));
            rc = after.clean() ? kOk : kFailed;
        }
        if (json)
            printOut(QString::fromUtf8(QJsonDocument(out).toJson(QJsonDocument::Indented)).trimmed());
        return rc;
    } catch (const vardex::Error& e) {
        printErr(e.message());
        return kUsage;
    }
}

void options(Options& p) {
    p << OptionDecl{{QStringLiteral("repair")}, QStringLiteral("Mend what is found, in one transaction.")};
}

} // namespace

CommandGroup doctorCommands() {
    return {QStringLiteral("doctor CONNSTR [--repair]"),
            true,
            {
                {QStringLiteral("doctor"),
                 {QStringLiteral("CONNSTR")},
                 QStringLiteral("Checks that the store's tables agree with each other."),
                 Takes::Account,
                 options,
                 doctor,
                 GivesJson},
            }};
}

} // namespace vardex::cli
