// The INI profile reader on any file content: every read answers within its buffer, and a value
// written is read back.
#include "platform/inifile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/profile.ini");
    {
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        f.write(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    }
    using namespace vardex::ini;
    for (const char* section : {"Settings", "", "a", "[x]"}) {
        for (const char* key : {"Connection", "a", "", "="}) {
            const QString v = getPrivateProfileString(section, key, QStringLiteral("dflt"), 16, file);
            if (v.size() > 15)
                std::abort();
            (void)getPrivateProfileString(section, key, QString(), DefaultBufferSize, file);
            (void)getPrivateProfileInt(section, key, -7, file);
        }
    }
    // A plain value written into a file of any content reads back.
    if (writePrivateProfileString(QStringLiteral("Fuzz"), QStringLiteral("key"), QStringLiteral("value 1"),
                                  file)) {
        if (getPrivateProfileString(QStringLiteral("Fuzz"), QStringLiteral("key"), QString(),
                                    DefaultBufferSize, file) != QStringLiteral("value 1"))
            std::abort();
    }
    return 0;
}
