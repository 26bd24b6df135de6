// copy: a whole store, audit log included, carried into an installed, empty store of any kind,
// in one transaction there, and verified value for value before it is committed.
#include "cli/commands.h"
#include "cli/store.h"
#include "library/securestore.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <algorithm>
#include <memory>

namespace vardex::cli {

namespace {

struct CopiedTable {
    const char* name;
    QStringList columns;
    bool replaces = false; // the destination's own rows give way to the source's
};

QList<CopiedTable> storeTables() {
    QList<CopiedTable> out;
    for (const schema::Table& t : schema::kTables)
        out.append({t.name, t.columnList()});
    return out;
}

// The store's own tables that the source has: its password policy, which replaces the defaults
// the destination's install wrote, and its lockout counts. A source that has them needs a
// destination that has them too.
QList<CopiedTable> ownTables(AdoConnection& src, AdoConnection& dst) {
    const QList<CopiedTable> own{
        {"vardex_settings", {QStringLiteral("name"), QStringLiteral("value")}, true},
        {"vardex_lockout",
         {QStringLiteral("userID"), QStringLiteral("failures"), QStringLiteral("lastFailure")}}};
    const QStringList have = src.tableNames(), take = dst.tableNames();
    QList<CopiedTable> out;
    for (const CopiedTable& t : own) {
        if (!have.contains(QLatin1String(t.name), Qt::CaseInsensitive))
            continue;
        if (!take.contains(QLatin1String(t.name), Qt::CaseInsensitive))
            throw Refused(Cli::tr("the destination has no table %1: run vardex-cli upgrade on it first")
                              .arg(QLatin1String(t.name)));
        out.append(t);
    }
    return out;
}

bool numericColumn(const QString& c) {
    return c == QLatin1String("qxID") || c == QLatin1String("AllowZekou") || c == QLatin1String("zuid") ||
           c == QLatin1String("AllowCount") || c == QLatin1String("failures");
}

using RawValue = AdoConnection::RawValue;
using RawRow = AdoConnection::RawRow;

// Every row of the table, each value as the database holds it.
QVector<RawRow> rawRows(AdoConnection& cn, const CopiedTable& t) {
    QVector<bool> integer;
    for (const QString& c : t.columns)
        integer.append(numericColumn(c));
    return cn.rawRows(QLatin1String(t.name), t.columns, integer);
}

using storeops::utf8Text;

// Why a value cannot be carried faithfully into the store's column, or empty: the columns are
// 32-bit integers and texts, and the servers hold a text only as valid UTF-8 without NUL.
QString unfaithful(const RawValue& v, bool numeric) {
    static const char* const kinds[] = {"a real", "a text", "a blob", "an integer"};
    const auto kindName = [&] {
        return QLatin1String(kinds[v.kind == 'r' ? 0 : v.kind == 't' ? 1 : v.kind == 'b' ? 2 : 3]);
    };
    const QString shown = v.kind == 'b' ? QStringLiteral("X'%1'").arg(QString::fromLatin1(v.bytes.toHex()))
                                        : QString::fromUtf8(v.bytes).left(40);
    if (v.kind == 'n')
        return QString();
    if (numeric) {
        bool ok = false;
        const qlonglong n = v.bytes.toLongLong(&ok);
        if (v.kind != 'i')
            return QStringLiteral("%1 (%2) in an integer column").arg(kindName(), shown);
        if (!ok || n < INT32_MIN || n > INT32_MAX)
            return QStringLiteral("%1 does not fit 32 bits").arg(shown);
        return QString();
    }
    if (v.kind != 't')
        return QStringLiteral("%1 (%2) in a text column").arg(kindName(), shown);
    bool ok = false;
    utf8Text(v.bytes, &ok);
    if (!ok)
        return QStringLiteral("the bytes %1 are no UTF-8 text").arg(QString::fromLatin1(v.bytes.toHex(' ')));
    if (v.bytes.contains('\0'))
        return QStringLiteral("a text holding a NUL character");
    return QString();
}

// Count and an order-free digest of a table's rows, over the values as held.
QPair<qint64, QByteArray> digest(const QVector<RawRow>& rows) {
    QVector<QByteArray> hashes;
    hashes.reserve(rows.size());
    for (const RawRow& r : rows) {
        QCryptographicHash h(QCryptographicHash::Sha1);
        for (const RawValue& v : r) {
            h.addData(QByteArrayView(&v.kind, 1));
            h.addData(QByteArray::number(v.bytes.size()) + ':');
            h.addData(v.bytes);
        }
        hashes.append(h.result());
    }
    std::sort(hashes.begin(), hashes.end());
    QCryptographicHash all(QCryptographicHash::Sha256);
    for (const QByteArray& h : hashes)
        all.addData(h);
    return {rows.size(), all.result()};
}

// The source is read in one read transaction: every table from one snapshot, and no write
// lock, so the store's users go on logging in and writing while it is copied.
void beginReading(AdoConnection& src) {
    src.beginReadSnapshot();
}

void endReading(AdoConnection& src) {
    if (src.inTransaction())
        src.rollbackTrans();
}

std::unique_ptr<AdoConnection> openStore(const QString& cs, const char* which) {
    auto cn = openAccount(cs, QString(), QString(), QLatin1String(which) + QStringLiteral(" store"));
    if (securestore::detect(*cn))
        throw Refused(securestore::adminNeededText(QStringLiteral("copy")));
    return cn;
}

// Refused unless the destination holds an installed store without rows.
void requireEmptyStore(AdoConnection& dst, const QList<CopiedTable>& tables) {
    for (const CopiedTable& t : tables) {
        if (t.replaces)
            continue;
        qint64 n = 0;
        try {
            n = storeops::rowCount(dst, QLatin1String(t.name));
        } catch (const Error& e) {
            throw Refused(Cli::tr("the destination has no store (install it first): %1").arg(e.message()));
        }
        if (n != 0)
            throw Refused(Cli::tr("the destination is not empty: %1 holds %2 row(s)")
                              .arg(QLatin1String(t.name))
                              .arg(n));
    }
}

// Every row of the source; Refused when a value is one the store's column cannot hold as it is.
QList<QVector<RawRow>> readSource(AdoConnection& src, const QList<CopiedTable>& tables) {
    QList<QVector<RawRow>> source;
    for (const CopiedTable& t : tables) {
        source.append(rawRows(src, t));
        for (int r = 0; r < source.last().size(); ++r)
            for (int c = 0; c < t.columns.size(); ++c) {
                const QString why = unfaithful(source.last()[r][c], numericColumn(t.columns[c]));
                if (!why.isEmpty())
                    throw Refused(Cli::tr("%1 row %2, column %3: %4, which the store's column "
                                          "cannot hold as it is; nothing was copied")
                                      .arg(QLatin1String(t.name))
                                      .arg(r + 1)
                                      .arg(t.columns[c], why));
            }
    }
    return source;
}

// Inserts the rows of a table, batch rows a statement.
void insertRows(AdoConnection& dst, const CopiedTable& t, const QVector<RawRow>& rows, int batch,
                Progress& progress) {
    progress.table(QLatin1String(t.name));
    storeops::insertRawRows(dst, QLatin1String(t.name), t.columns, rows, batch,
                            [&](qint64 n) { progress.advance(n); });
}

// Value for value as each side holds it: a copy that differs is never left behind. Equal rows
// in every table also mean the store doctor finds the same in both.
void verifyCopy(AdoConnection& dst, const QList<CopiedTable>& tables, const QList<QVector<RawRow>>& source) {
    for (int i = 0; i < tables.size(); ++i) {
        const auto expected = digest(source[i]);
        const auto got = digest(rawRows(dst, tables[i]));
        if (got.first != expected.first)
            throw Refused(Cli::tr("verification failed: %1 has %2 row(s) in the copy, %3 in the source")
                              .arg(QLatin1String(tables[i].name))
                              .arg(got.first)
                              .arg(expected.first));
        if (got.second != expected.second)
            throw Refused(
                Cli::tr("verification failed: the rows of %1 differ").arg(QLatin1String(tables[i].name)));
    }
}

// Copies every table in one transaction of the destination, verified before the commit;
// answers the rows copied. On a failure the destination is rolled back and the source's read
// ended.
qint64 copyTables(AdoConnection& src, AdoConnection& dst, const QList<CopiedTable>& tables, int batch) {
    beginReading(src);
    qint64 copied = 0;
    try {
        // Every value is read and checked before anything is written.
        const QList<QVector<RawRow>> source = readSource(src, tables);
        qint64 all = 0;
        for (const QVector<RawRow>& rows : source)
            all += rows.size();
        AdoTransaction tx(dst);
        {
            Progress progress(all);
            for (int i = 0; i < tables.size(); ++i) {
                if (tables[i].replaces)
                    storeops::clearTable(dst, QLatin1String(tables[i].name));
                insertRows(dst, tables[i], source[i], batch, progress);
                copied += source[i].size();
            }
        }
        verifyCopy(dst, tables, source);
        finishTransaction(tx, dst);
    } catch (...) {
        try {
            endReading(src);
        } catch (...) {
        }
        throw;
    }
    endReading(src);
    return copied;
}

void options(Options& p) {
    p << OptionDecl{{QStringLiteral("batch")},
                    QStringLiteral("Rows per insert statement (default 400)."),
                    QStringLiteral("N"),
                    Kind::Int32};
}

int copy(const Invocation& in) {
    const QCommandLineParser& p = in.options;
    int batch = 400;
    if (p.isSet(QStringLiteral("batch")) &&
        (!parseInt32(p.value(QStringLiteral("batch")), batch) || batch < 1 || batch > 1000))
        throw Usage(Cli::tr("--batch takes a number from 1 to 1000"));
    QElapsedTimer clock;
    clock.start();
    auto src = openStore(in.args[0], "source");
    auto dst = openStore(in.args[1], "destination");
    dst->setLogging(true);
    const QList<CopiedTable> tables = storeTables() + ownTables(*src, *dst);
    requireEmptyStore(*dst, tables);
    qint64 copied = 0;
    try {
        copied = copyTables(*src, *dst, tables, batch);
    } catch (...) {
        noteStatements(dst->statementLog());
        throw;
    }
    noteStatements(dst->statementLog());
    say(Cli::tr("%1 %2 row(s) of %3 tables in %4 s; counts and contents agree")
            .arg(conventions().dryRun ? QStringLiteral("copied and rolled back") : QStringLiteral("copied"))
            .arg(copied)
            .arg(tables.size())
            .arg(clock.elapsed() / 1000.0, 0, 'f', 1));
    return kOk;
}

} // namespace

CommandGroup copyCommands() {
    return {
        QStringLiteral("copy SRC DST"),
        true,
        {
            {QStringLiteral("copy"),
             {QStringLiteral("SRC: Connection string of the store to copy."),
              QStringLiteral("DST: Connection string of an installed, empty store to fill.")},
             QStringLiteral("Copies a whole store, audit log included, into an installed, empty store of any "
                            "kind, in one transaction there, and verifies the copy. Credentials go in the "
                            "connection strings."),
             Takes::Own,
             options,
             copy,
             Writes},
        }};
}

} // namespace vardex::cli
