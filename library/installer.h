#pragma once
// The store installer's batch runner: takes the stored script for the database kind out of the
// program's file storage, cuts it into batches at lines that read exactly "GO" and runs them
// one after another, stopping at the first batch the database refuses. On SQLite and
// PostgreSQL the whole run is one transaction: a refused batch, or a process killed half-way,
// leaves the database as it was. On SQL Server the batches that ran before a refusal stay.
//
// The store knows its version: vardex_meta's row schema.version. Version 1 is the classic
// schema, the stored script as the first release ran it; every later version is a step, a file
// of batches of its own per kind of store (store/KIND/NNNN-what.sql, carried in the program).
// Install runs the script and every step; upgrade runs the steps above the store's version.
#include "platform/adodb.h"

#include <QStringList>
#include <functional>

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
// query, each sent as its lines joined with line ends. Without storedName the store's steps
// follow, batch after batch, and the version row of the newest version: install leaves a store
// at the newest version. Unless cn is already inside a transaction, SQLite and PostgreSQL run
// them in one transaction of their own.
InstallOutcome runInstallScript(AdoConnection& cn, const QString& tempFile,
                                const QString& storedName = QString());

// One step from a version of the store to the next: the version it leads to, its file's name
// ("pg/0002-password-policy.sql") and its lines.
struct StoreStep {
    int version = 0;
    QString name;
    QStringList lines;
};

// The steps of a kind of store, in order of version (the first leads to version 2).
QList<StoreStep> storeSteps(Dialect dialect);
// The newest version this program knows for a kind of store (1 when it has no step).
int newestStoreVersion(Dialect dialect);

// The version a store records (its vardex_meta row schema.version), 0 when it records none:
// one made before the store knew its version, or no store. Raises Error when the row holds no
// whole number.
int recordedStoreVersion(AdoConnection& cn);

// Where a store stands: its version, read or (for a store that records none) recognised once by
// what it holds: the password policy's tables make it 2, else 1 (a vardex_meta without its row, 4).
struct StoreVersion {
    int version = 0;
    bool recorded = false;       // read from vardex_meta, not recognised
    int newest = 0;              // the newest version this program knows for the store's kind
    QList<StoreStep> pending;    // the steps above its version, in order
    bool secured = false;        // a secured PostgreSQL store (vardex-cli secure)
    bool functionsStale = false; // ... whose functions are not this program's
    bool current() const { return pending.isEmpty() && !functionsStale; }
};
// Raises Error when cn holds no store (no qx_Name table) and when the store is newer than this
// program knows.
StoreVersion storeVersion(AdoConnection& cn);
// "The store is at version 5; this program knows versions up to 4: use a newer Vardex."
QString newerStoreText(int found, int newest);

// Brings the store to this program's version: runs found's pending steps and, on a secured
// store, secure again for the role its functions were granted to (what secure recorded for
// --undo stays as it was), all in one transaction (the caller's when it holds one). Answers
// secure's report lines. Raises Error; a transaction of its own is then rolled back.
QStringList upgradeStore(AdoConnection& cn, const StoreVersion& found,
                         const std::function<void(const StoreStep&)>& done = {});

// Runs steps in order, each step's batches then the version row it leads to (once vardex_meta
// exists), in one transaction (the caller's when it holds one). done is called after each step,
// inside the transaction. Raises Error naming the step and its refused batch; the transaction
// is then rolled back (a caller's is left to the caller), so the store stays at a whole version.
void runSteps(AdoConnection& cn, const QList<StoreStep>& steps,
              const std::function<void(const StoreStep&)>& done = {});

} // namespace vardex
