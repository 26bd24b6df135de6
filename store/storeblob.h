#pragma once
#include "platform/connstr.h"
#include <QByteArray>
#include <QString>

namespace vardex {

// The StoredData blob that carries the three installation scripts.
QByteArray storedScripts();

// Name of the stored script for a database kind: tb_sp_SQL.sql (SQL Server),
// tb_sp_SQLite.sql, tb_sp_PG.sql.
QString scriptNameFor(Dialect dialect);

} // namespace vardex
