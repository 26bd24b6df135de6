// doctor: whether the tables of a store agree with each other, and with --repair their mending.
#include "cli/commands.h"

#include "library/doctor.h"
#include "library/securestore.h"

#include <cstdio>

namespace vardex::cli {

namespace {

int doctor(const Invocation& o) {
    const bool repair = o.options.isSet(QStringLiteral("repair"));
    vardex::AdoConnection cn;
    cn.setConnectionString(o.connectionString);
    try {
        cn.open(o.user, o.password);
        if (vardex::securestore::detect(cn)) {
            printErr(vardex::securestore::adminNeededText(QStringLiteral("doctor")));
            return 1;
        }
        const vardex::DoctorReport report = repair ? vardex::repairStore(cn) : vardex::checkStore(cn);
        for (const vardex::Violation& v : report.violations)
            std::printf("%s\n", v.describe().toLocal8Bit().constData());
        for (const QString& note : report.notes)
            std::printf("%s\n", note.toLocal8Bit().constData());
        std::printf("%d rights-holding rows, %d items, %d permission groups: %lld violation(s)%s\n",
                    report.rightsHolders, report.items, report.groups,
                    static_cast<long long>(report.violations.size()),
                    repair && !report.clean() ? ", repaired" : "");
        if (repair && !report.clean()) {
            const vardex::DoctorReport after = vardex::checkStore(cn);
            if (!after.clean()) {
                std::fprintf(stderr, "vardex-cli: %lld violation(s) remain after the repair\n",
                             static_cast<long long>(after.violations.size()));
                return 1;
            }
            return 0;
        }
        return report.clean() ? 0 : 1;
    } catch (const vardex::Error& e) {
        std::fprintf(stderr, "vardex-cli: %s\n", e.message().toLocal8Bit().constData());
        return 2;
    }
}

void options(QCommandLineParser& p) {
    p.addOption({QStringLiteral("repair"), QStringLiteral("Mend what is found, in one transaction.")});
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
                 doctor},
            }};
}

} // namespace vardex::cli
