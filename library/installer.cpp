#include "library/installer.h"
#include "library/passwordpolicy.h"
#include "library/securestore.h"
#include "library/uitext.h"
#include "platform/sqldialect.h"
#include "storage/acFileStorage.h"
#include "store/storeblob.h"

#include <QFile>
#include <QRegularExpression>
#include <algorithm>
#include <optional>

namespace vardex {

QString installSuccessText() {
    return Ui::tr("成功导入数据表! 您现在可以使用它的功能了.");
}

QString installFailureText() {
    return Ui::tr("可能与数据库已有的表名称冲突,导入已终止,请先检查原因再导入.");
}

QList<QStringList> splitBatches(const QStringList& lines) {
    QList<QStringList> batches;
    QStringList batch;
    for (const QString& raw : lines) {
        const QString line = trimBlanks(raw);
        if (line == QLatin1String("GO")) {
            batches.append(batch);
            batch.clear();
        } else {
            batch.append(line);
        }
    }
    return batches; // lines after the last GO are never run
}

namespace {

// The lines of a text ended by CR LF (a lone LF ends a line too).
QStringList textLines(const QByteArray& bytes) {
    QStringList lines = QString::fromLocal8Bit(bytes).split(QLatin1Char('\n'));
    for (QString& l : lines)
        if (l.endsWith(QLatin1Char('\r')))
            l.chop(1);
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// Reads a text file as lines.
QStringList readLines(const QString& path, bool* ok) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *ok = false;
        return {};
    }
    *ok = true;
    return textLines(f.readAll());
}

// The lines of a stored script, extracted through tempFile (deleted again).
QStringList storedScriptLines(const QString& name, const QString& tempFile, bool* ok) {
    TacFileStorage storage(nullptr);
    storage.loadStoredData(storedScripts());
    storage.ExtractFile(name, tempFile); // its result is not checked: reading tells
    QStringList lines = readLines(tempFile, ok);
    QFile::remove(tempFile);
    return lines;
}

constexpr char kMetaTable[] = "vardex_meta";
constexpr int kMetaStep = 4; // the step that makes vardex_meta

bool hasTable(AdoConnection& cn, const char* table) {
    return cn.tableNames().contains(QLatin1String(table), Qt::CaseInsensitive);
}

// The version row: written by install and after every step, once the store has vardex_meta.
QStringList versionStatements(int version) {
    return {
        QStringLiteral("DELETE FROM vardex_meta WHERE name = 'schema.version'"),
        QStringLiteral("INSERT INTO vardex_meta (name, value) VALUES ('schema.version', '%1')").arg(version)};
}

} // namespace

QList<StoreStep> storeSteps(Dialect dialect) {
    const auto storage = TacFileStorage::fromStoredData(storedSteps());
    const QString folder = stepFolderFor(dialect) + QLatin1Char('/');
    static const QRegularExpression numbered(QStringLiteral(R"(^(\d{4})-[\w-]+\.sql$)"));
    QList<StoreStep> steps;
    for (const auto& file : storage->Files()) {
        const QString name = file->Name();
        if (!name.startsWith(folder))
            continue;
        const auto m = numbered.match(name.mid(folder.size()));
        if (!m.hasMatch())
            continue;
        steps.append({m.captured(1).toInt(), name, textLines(file->Data())});
    }
    std::sort(steps.begin(), steps.end(),
              [](const StoreStep& a, const StoreStep& b) { return a.version < b.version; });
    return steps;
}

int newestStoreVersion(Dialect dialect) {
    const QList<StoreStep> steps = storeSteps(dialect);
    return steps.isEmpty() ? 1 : steps.last().version;
}

int recordedStoreVersion(AdoConnection& cn) {
    if (!hasTable(cn, kMetaTable))
        return 0;
    AdoQuery q(&cn, QStringLiteral("select value from vardex_meta where name = 'schema.version'"));
    q.open();
    const QString value = q.eof() ? QString() : q.fieldByName(QStringLiteral("value")).asString();
    q.close();
    if (value.isEmpty())
        return 0;
    bool ok = false;
    const int version = value.toInt(&ok);
    if (!ok || version < 1)
        throw Error(
            QStringLiteral("The store's version cannot be read: vardex_meta holds schema.version '%1'.")
                .arg(value.left(40)));
    return version;
}

QString newerStoreText(int found, int newest) {
    return QStringLiteral(
               "The store is at version %1; this program knows versions up to %2: use a newer Vardex.")
        .arg(found)
        .arg(newest);
}

StoreVersion storeVersion(AdoConnection& cn) {
    cn.ensureOpen();
    StoreVersion v;
    v.newest = newestStoreVersion(cn.dialect());
    v.version = recordedStoreVersion(cn);
    v.recorded = v.version > 0;
    if (!v.recorded) {
        if (!hasTable(cn, "qx_Name"))
            throw Error(QStringLiteral(
                "No store is installed here (it has no table qx_Name): run vardex-cli install."));
        v.version = hasTable(cn, policy::kSettingsTable) && hasTable(cn, policy::kLockoutTable) ? 2 : 1;
        // A vardex_meta that lost its row still says the store took the step that made it.
        if (hasTable(cn, kMetaTable))
            v.version = std::max(v.version, kMetaStep);
    }
    if (v.version > v.newest)
        throw Error(newerStoreText(v.version, v.newest));
    for (const StoreStep& step : storeSteps(cn.dialect()))
        if (step.version > v.version)
            v.pending.append(step);
    v.secured = securestore::isSecured(cn);
    v.functionsStale = v.secured && !securestore::functionsCurrent(cn);
    return v;
}

QStringList upgradeStore(AdoConnection& cn, const StoreVersion& found,
                         const std::function<void(const StoreStep&)>& done) {
    AdoTransaction tx(cn, !cn.inTransaction());
    runSteps(cn, found.pending, done);
    if (found.pending.isEmpty() && !found.recorded && hasTable(cn, kMetaTable))
        for (const QString& statement : versionStatements(found.version))
            cn.execute(statement); // the version it was recognised at, recorded once
    QStringList lines;
    if (found.secured)
        lines = securestore::secure(cn, securestore::securedRole(cn)).lines;
    if (tx.active())
        tx.commit();
    return lines;
}

void runSteps(AdoConnection& cn, const QList<StoreStep>& steps,
              const std::function<void(const StoreStep&)>& done) {
    cn.ensureOpen();
    AdoTransaction tx(cn, !cn.inTransaction());
    AdoQuery query(&cn);
    for (const StoreStep& step : steps) {
        int batch = 0;
        for (const QStringList& lines : splitBatches(step.lines)) {
            ++batch;
            query.setSqlLines(lines);
            try {
                query.execSql();
            } catch (const Error& e) {
                query.close();
                throw Error(QStringLiteral("Step %1 (%2), batch %3: %4")
                                .arg(step.version)
                                .arg(step.name)
                                .arg(batch)
                                .arg(e.message()));
            }
            query.close();
        }
        if (hasTable(cn, kMetaTable))
            for (const QString& statement : versionStatements(step.version))
                cn.execute(statement);
        if (done)
            done(step);
    }
    if (tx.active())
        tx.commit();
}

InstallOutcome runInstallScript(AdoConnection& cn, const QString& tempFile, const QString& storedName) {
    InstallOutcome outcome;
    QString name = storedName;
    QList<StoreStep> steps; // install of the newest version: the script, then every step
    if (name.isEmpty()) {
        cn.ensureOpen();
        name = scriptNameFor(cn.dialect());
        steps = storeSteps(cn.dialect());
    }

    bool readOk = false;
    const QStringList lines = storedScriptLines(name, tempFile, &readOk);
    if (!readOk) {
        outcome.fileError = true;
        outcome.error = QStringLiteral("Cannot open file \"%1\".").arg(tempFile);
        return outcome;
    }

    // SQLite and PostgreSQL take tables and procedures inside a transaction: the whole script
    // is one, so a refused batch or a killed process leaves the database as it was and the
    // install can simply be run again. Elsewhere the batches apply one by one, and the doctor's
    // schema check tells which objects a broken run left out. A transaction the caller already
    // holds is used as it is.
    std::optional<AdoTransaction> own;
    AdoQuery query(&cn);
    const auto fail = [&](int batch, const QString& error) {
        outcome.failedBatch = batch;
        outcome.error = error;
        query.close();
        if (own) {
            own.reset();            // rolled back
            outcome.batchesRun = 0; // nothing of the run stays in the database
        }
        return outcome;
    };
    try {
        cn.ensureOpen();
        if (!cn.inTransaction() && cn.sql().transactionalDdl())
            own.emplace(cn);
    } catch (const Error& e) {
        return fail(1, e.message());
    }
    QList<QStringList> batches = splitBatches(lines);
    for (const StoreStep& step : steps)
        batches += splitBatches(step.lines);
    for (const QStringList& batch : batches) {
        query.setSqlLines(batch);
        try {
            query.execSql();
        } catch (const Error& e) {
            return fail(outcome.batchesRun + 1, e.message());
        }
        query.close();
        ++outcome.batchesRun;
    }
    if (!steps.isEmpty()) {
        try {
            for (const QString& statement : versionStatements(steps.last().version))
                cn.execute(statement);
        } catch (const Error& e) {
            return fail(outcome.batchesRun + 1, e.message());
        }
    }
    if (own) {
        try {
            own->commit();
        } catch (const Error& e) {
            return fail(outcome.batchesRun, e.message()); // the last batch's work was not kept
        }
    }
    outcome.ok = true;
    return outcome;
}

} // namespace vardex
