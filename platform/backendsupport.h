#pragma once
// What the backends' own files share (dbbackend.h is the interface the connection sees).
#include "platform/connstr.h"

#include <QSqlDatabase>
#include <QString>

namespace vardex {

// Adds Qt's connection called name for the target's driver, with the database name, host,
// port and driver options, and opens it with the credentials; raises DbError, the connection
// removed again, when it does not open.
QSqlDatabase openQtDatabase(const QString& name, const ConnectionTarget& target, const QString& databaseName,
                            const QString& options, const QString& user, const QString& password);

} // namespace vardex
