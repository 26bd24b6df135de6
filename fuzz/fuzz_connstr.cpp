// The connection-string parser on any text: it parses or refuses with vardex::Error, and what
// compose makes of the parsed pairs parses back to the same pairs.
#include "platform/connstr.h"
#include "platform/errors.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QList<QPair<QString, QString>> pairs;
    try {
        pairs = vardex::ConnectionString::parse(text);
    } catch (const vardex::Error&) {
        return 0;
    }
    try {
        (void)vardex::ConnectionString::resolve(text);
    } catch (const vardex::Error&) {
    }
    (void)vardex::ConnectionString::value(pairs, {"Provider", "Data Source", "Host"});
    const QString composed = vardex::ConnectionString::compose(pairs);
    if (vardex::ConnectionString::parse(composed) != pairs)
        std::abort();
    return 0;
}
