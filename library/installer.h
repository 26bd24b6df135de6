#pragma once
// The store installer's batch runner: takes the stored script for the database kind out of the
// program's file storage, cuts it into batches at lines that read exactly "GO" and runs them
// one after another, stopping at the first batch the database refuses. On SQLite and
// PostgreSQL the whole run is one transaction: a refused batch, or a process killed half-way,
// leaves the database as it was. On SQL Server the batches that ran before a refusal stay.
#include "platform/adodb.h"

#include <QStringList>

namespace vardex {

struct InstallOutcome {
    bool ok = false;
    int batchesRun = 0;     // batches whose work stays in the database
    int failedBatch = 0;    // 1-based number of the refused batch, 0 when none failed
    QString error;          // the database's error text for the refused batch, or the file error
    bool fileError = false; // the script could not be extracted or read; no batch ran
};

// The two messages the installer shows.
QString installSuccessText(); // "成功导入数据表! 您现在可以使用它的功能了."
QString installFailureText(); // "可能与数据库已有的表名称冲突,导入已终止,请先检查原因再导入."

// Cuts script lines into batches: every line is trimmed, a trimmed line that is exactly "GO"
// (case-sensitive) closes the batch; lines after the last "GO" are never part of a batch.
QList<QStringList> splitBatches(const QStringList& lines);

// Extracts the script named storedName (default: the one for the connection's kind) to
// tempFile, reads its lines (CR LF), deletes the file and runs the batches on cn through a
// query, each sent as its lines joined with line ends. Unless cn is already inside a
// transaction, SQLite and PostgreSQL run them in one transaction of their own.
InstallOutcome runInstallScript(AdoConnection& cn, const QString& tempFile,
                                const QString& storedName = QString());

// Adds to an installed store what newer versions of the script make and it lacks: the store's
// own tables (vardex_*) and the default of every setting without a row; what is there stays.
// One transaction unless the caller holds one. Returns what was added ("created vardex_lockout",
// "lockout.failures=0"), empty when nothing was missing. Raises Error, changing nothing.
QStringList upgradeStore(AdoConnection& cn, const QString& tempFile);

} // namespace vardex
