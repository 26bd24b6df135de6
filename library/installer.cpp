#include "library/installer.h"
#include "library/passwordpolicy.h"
#include "library/uitext.h"
#include "platform/sqldialect.h"
#include "storage/acFileStorage.h"
#include "store/storeblob.h"

#include <QFile>
#include <QRegularExpression>
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

// Reads a text file as lines ended by CR LF (a lone LF ends a line too).
QStringList readLines(const QString& path, bool* ok) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *ok = false;
        return {};
    }
    const QString text = QString::fromLocal8Bit(f.readAll());
    *ok = true;
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& l : lines)
        if (l.endsWith(QLatin1Char('\r')))
            l.chop(1);
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
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

// The table a batch creates first, as the batch names it (brackets and schema removed).
QString createdTable(const QStringList& batch) {
    static const QRegularExpression re(QStringLiteral(R"(^CREATE\s+TABLE\s+(?:\[dbo\]\.)?\[?(\w+)\]?)"),
                                       QRegularExpression::CaseInsensitiveOption);
    for (const QString& line : batch) {
        const auto m = re.match(line);
        if (m.hasMatch())
            return m.captured(1);
    }
    return QString();
}

} // namespace

QStringList upgradeStore(AdoConnection& cn, const QString& tempFile) {
    cn.ensureOpen();
    bool readOk = false;
    const QStringList lines = storedScriptLines(scriptNameFor(cn.dialect()), tempFile, &readOk);
    if (!readOk)
        throw Error(QStringLiteral("Cannot open file \"%1\".").arg(tempFile));
    QStringList done;
    AdoTransaction tx(cn, !cn.inTransaction());
    const QStringList present = cn.tableNames();
    AdoQuery query(&cn);
    // The store's own tables (the ones not named qx_) that it lacks are made as install makes them.
    for (const QStringList& batch : splitBatches(lines)) {
        const QString table = createdTable(batch);
        if (!table.startsWith(QLatin1String("vardex_")) || present.contains(table, Qt::CaseInsensitive))
            continue;
        query.setSqlLines(batch);
        query.execSql();
        query.close();
        done << QStringLiteral("created %1").arg(table);
    }
    // Then the settings rows it lacks get their defaults; those it has stay as they are.
    const QMap<QString, QString> stored = policy::storedSettings(cn);
    for (const policy::Setting& s : policy::kSettings) {
        const QString name = QLatin1String(s.name);
        if (stored.contains(name))
            continue;
        cn.execute(QStringLiteral("INSERT INTO vardex_settings (name, value) VALUES (%1, %2)")
                       .arg(sqlLiteral(name), sqlLiteral(QLatin1String(s.defaultValue))));
        done << QStringLiteral("%1=%2").arg(name, QLatin1String(s.defaultValue));
    }
    if (tx.active())
        tx.commit();
    return done;
}

InstallOutcome runInstallScript(AdoConnection& cn, const QString& tempFile, const QString& storedName) {
    InstallOutcome outcome;
    QString name = storedName;
    if (name.isEmpty()) {
        cn.ensureOpen();
        name = scriptNameFor(cn.dialect());
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
        if (!cn.inTransaction() && (cn.dialect() == Dialect::SQLite || cn.dialect() == Dialect::PostgreSQL))
            own.emplace(cn);
    } catch (const Error& e) {
        return fail(1, e.message());
    }
    for (const QStringList& batch : splitBatches(lines)) {
        query.setSqlLines(batch);
        try {
            query.execSql();
        } catch (const Error& e) {
            return fail(outcome.batchesRun + 1, e.message());
        }
        query.close();
        ++outcome.batchesRun;
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
