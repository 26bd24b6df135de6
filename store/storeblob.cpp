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

QString stepFolderFor(Dialect dialect) {
    switch (dialect) {
    case Dialect::SQLite:
        return QStringLiteral("sqlite");
    case Dialect::PostgreSQL:
        return QStringLiteral("pg");
    case Dialect::SqlServer:
        break;
    }
    return QStringLiteral("sqlserver");
}

QString scriptNameFor(Dialect dialect) {
    switch (dialect) {
    case Dialect::SQLite:
        return QStringLiteral("tb_sp_SQLite.sql");
    case Dialect::PostgreSQL:
        return QStringLiteral("tb_sp_PG.sql");
    case Dialect::SqlServer:
        break;
    }
    return QStringLiteral("tb_sp_SQL.sql");
}

} // namespace vardex
