#include "store/storeblob.h"

#include <cstddef>

extern const unsigned char vardex_store_blob[];
extern const std::size_t vardex_store_blob_size;
extern const unsigned char vardex_steps_blob[];
extern const std::size_t vardex_steps_blob_size;

namespace vardex {

QByteArray storedScripts() {
    return QByteArray::fromRawData(reinterpret_cast<const char*>(vardex_store_blob),
                                   static_cast<int>(vardex_store_blob_size));
}

QByteArray storedSteps() {
    return QByteArray::fromRawData(reinterpret_cast<const char*>(vardex_steps_blob),
                                   static_cast<int>(vardex_steps_blob_size));
}

namespace {

// The store's own rule: it ships its install script and its upgrade steps once per kind of
// database.
struct KindFiles {
    Dialect dialect;
    const char* stepFolder;
    const char* script;
};
const KindFiles kKindFiles[] = {{Dialect::SQLite, "sqlite", "tb_sp_SQLite.sql"},
                                {Dialect::PostgreSQL, "pg", "tb_sp_PG.sql"},
                                {Dialect::SqlServer, "sqlserver", "tb_sp_SQL.sql"}};

const KindFiles& filesFor(Dialect dialect) {
    for (const KindFiles& f : kKindFiles)
        if (f.dialect == dialect)
            return f;
    return kKindFiles[2];
}

} // namespace

QString stepFolderFor(Dialect dialect) {
    return QLatin1String(filesFor(dialect).stepFolder);
}

QString scriptNameFor(Dialect dialect) {
    return QLatin1String(filesFor(dialect).script);
}

} // namespace vardex
