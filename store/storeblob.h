#pragma once
#include "platform/connstr.h"
#include <QByteArray>
#include <QString>

namespace vardex {

// The StoredData blob that carries the three installation scripts: version 1 of the store.
QByteArray storedScripts();
// The StoredData blob that carries the steps from one version of the store to the next, named
// "KIND/NNNN-what.sql" (KIND: sqlite, pg, sqlserver; NNNN: the version the step leads to).
QByteArray storedSteps();
// The folder of a database kind's steps in that blob: sqlite, pg, sqlserver.
QString stepFolderFor(Dialect dialect);

// Name of the stored script for a database kind: tb_sp_SQL.sql (SQL Server),
// tb_sp_SQLite.sql, tb_sp_PG.sql.
QString scriptNameFor(Dialect dialect);

} // namespace vardex
