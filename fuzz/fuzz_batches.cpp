// The script batch splitter on any lines: batches hold trimmed lines, never a "GO" line, and
// never more lines than were given, in their original order.
#include "library/installer.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    const QList<QStringList> batches = vardex::splitBatches(lines);
    qsizetype total = 0;
    for (const QStringList& batch : batches) {
        for (const QString& line : batch) {
            if (line == QLatin1String("GO") || line != line.trimmed())
                std::abort();
        }
        total += batch.size() + 1; // each batch was closed by its own "GO" line
    }
    if (total > lines.size())
        std::abort();
    return 0;
}
