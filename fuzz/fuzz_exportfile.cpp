// The export-file reader on any bytes: it answers a setup or raises ConvertError, and what it
// answers holds only values the administration verbs would take.
#include "library/exportfile.h"
#include "library/storerules.h"
#include "platform/errors.h"

#include <QSet>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vardex;
    exportfile::Setup s;
    try {
        s = exportfile::read(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    } catch (const ConvertError&) {
        return 0;
    }
    QSet<QString> ids;
    for (const exportfile::UserGroup& g : s.userGroups)
        ids.insert(g.id);
    for (const exportfile::User& u : s.users) {
        if (ids.contains(u.row.userId) || !rules::nameProblem(u.row.userId, rules::kIdLength).isEmpty() ||
            !rules::cipherTextProblem(u.row.password).isEmpty() ||
            !rules::dateProblem(u.row.startDate).isEmpty() ||
            !rules::discountProblem(u.row.discount).isEmpty())
            std::abort();
        ids.insert(u.row.userId);
    }
    for (const exportfile::PermissionGroup& p : s.permissionGroups)
        if (QSet<QString>(p.assignedTo.begin(), p.assignedTo.end()).size() != p.assignedTo.size())
            std::abort();
    return 0;
}
