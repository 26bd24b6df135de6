// The StoredData reader: any blob is read or refused with vardex::Error, and a blob that was
// read writes back to one that reads to the same files (writing mirrors reading).
#include "platform/errors.h"
#include "storage/acFileStorage.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray blob(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    TacFileStorage first;
    try {
        first.ReadStoredData(blob);
    } catch (const vardex::Error&) {
        if (!first.Files().empty()) // a damaged blob changes nothing
            std::abort();
        return 0;
    }
    const QByteArray again = first.WriteStoredData();
    TacFileStorage second;
    second.ReadStoredData(again); // must not throw
    if (second.Files().size() != first.Files().size() || second.Count() != first.Count())
        std::abort();
    for (size_t i = 0; i < first.Files().size(); ++i) {
        if (first.Files()[i]->Name() != second.Files()[i]->Name() ||
            first.Files()[i]->Data() != second.Files()[i]->Data())
            std::abort();
    }
    return 0;
}
