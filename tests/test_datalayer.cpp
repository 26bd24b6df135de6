// Rows as the data layer reads them: on SQLite straight from the statement, elsewhere through one
// query object per connection. Both must give exactly what the Qt driver gives.
#include "tests/support/testsupport.h"

#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <gtest/gtest.h>

using namespace vardex;
using namespace vardex::test;

namespace {

// What a plain forward-only QSqlQuery reads on the same connection.
AdoConnection::Result throughQt(AdoConnection& cn, const QString& sql) {
    QSqlQuery q(cn.database());
    q.setForwardOnly(true);
    EXPECT_TRUE(q.exec(sql)) << sql.left(200).toStdString() << ": " << q.lastError().text().toStdString();
    AdoConnection::Result r;
    const QSqlRecord rec = q.record();
    for (int i = 0; i < rec.count(); ++i) {
        r.fields.append(rec.fieldName(i));
        r.types.append(rec.field(i).metaType());
    }
    while (q.next()) {
        QVector<QVariant> row;
        for (int i = 0; i < rec.count(); ++i)
            row.append(q.value(i));
        r.rows.append(row);
    }
    return r;
}

void expectSame(const AdoConnection::Result& ours, const AdoConnection::Result& qt, const QString& sql) {
    const std::string where = sql.left(120).toStdString();
    ASSERT_EQ(ours.fields, qt.fields) << where;
    ASSERT_EQ(ours.types.size(), qt.types.size()) << where;
    for (int i = 0; i < qt.types.size(); ++i)
        EXPECT_EQ(ours.types[i].id(), qt.types[i].id()) << where << " field " << i;
    ASSERT_EQ(ours.rows.size(), qt.rows.size()) << where;
    for (int r = 0; r < qt.rows.size(); ++r)
        for (int c = 0; c < qt.fields.size(); ++c) {
            const QVariant& a = ours.rows[r][c];
            const QVariant& b = qt.rows[r][c];
            EXPECT_EQ(a.typeId(), b.typeId()) << where << " row " << r << " field " << c;
            EXPECT_EQ(a.isNull(), b.isNull()) << where << " row " << r << " field " << c;
            EXPECT_TRUE(a == b) << where << " row " << r << " field " << c << ": "
                                << a.toString().left(40).toStdString() << " / " << b.toString().left(40).toStdString();
        }
}

} // namespace

TEST(SqliteRows, NamesTypesAndValuesAreTheDriversOwn) {
    TempDatabase db(Backend::SQLite);
    auto cn = openConnection(db.connectionString());
    cn->execute("CREATE TABLE v (i int NULL, t varchar(50) NULL, r real NULL, n numeric(10,2) NULL, b blob NULL, "
                "x NULL, f boolean NULL, w INTEGER NULL)");
    cn->execute("INSERT INTO v VALUES (1, 'plain', 1.5, 2.25, X'00ff', NULL, 1, 7)");
    cn->execute("INSERT INTO v VALUES (NULL, '', NULL, NULL, NULL, 'text in an untyped column', 0, NULL)");
    cn->execute(QString::fromUtf8("INSERT INTO v VALUES (-9223372036854775808, '中文，全角　空格', -0.0, 'abc', X'', 3.25, "
                                  "NULL, 9223372036854775807)"));
    // Bytes that are no UTF-8, a NUL inside a text, quotes and backslashes, and 1 MB of text.
    cn->execute("INSERT INTO v VALUES (2, CAST(X'ff61e2' AS TEXT), 1e308, NULL, NULL, CAST(X'6100' || X'62' AS TEXT), "
                "NULL, NULL)");
    cn->execute("INSERT INTO v VALUES (3, 'a''b\\c\"d', NULL, NULL, NULL, replace(hex(zeroblob(500000)), '0', 'a'), "
                "NULL, NULL)");
    const QStringList statements = {
        "select * from v",
        "select * from v where 1 = 0", // no row: the declared types alone
        "select count(*), sum(r), max(t) from v",
        "select 1 + 1, 'x' || t, NULL, i AS \"quoted name\", r * 2, [w] from v order by rowid",
        "select x from v order by rowid desc", // an untyped column typed by its first value
        "select 1 + 1 where 1 = 0",
        QString::fromUtf8("select t AS 名称, length(x) from v\r\nwhere i = 1 or t = '' -- a comment\r\n"),
    };
    for (const QString& sql : statements)
        expectSame(cn->run(sql, true), throughQt(*cn, sql), sql);
}

TEST(SqliteRows, ATextThatIsNotOneWholeStatementIsRefused) {
    TempDatabase db(Backend::SQLite);
    auto cn = openConnection(db.connectionString());
    cn->execute("CREATE TABLE v (i int NULL)");
    AdoQuery q(cn.get(), "select 1; DROP TABLE v");
    EXPECT_THROW(q.open(), DbError);
    AdoQuery blank(cn.get(), "   ");
    EXPECT_THROW(blank.open(), DbError);
    // SQLite stops reading at a NUL character, so the rest of such a text would never run (and
    // the command loop would wait for it forever): refused instead.
    const QString withNul = QStringLiteral("INSERT INTO v VALUES (1);") + QChar(0) + QStringLiteral("DROP TABLE v");
    EXPECT_THROW(cn->execute(withNul), DbError);
    EXPECT_EQ(scalarInt(*cn, "select count(*) from v"), 1);
}

class ReusedQuery : public ::testing::TestWithParam<Backend> {};

// On the servers the names and types come from the result and a per-connection table of type
// numbers: the same as the driver's record(), column by column, whatever was read before.
TEST_P(ReusedQuery, ServerColumnsAreTheDriversOwn) {
    if (GetParam() == Backend::SQLite)
        GTEST_SKIP() << "SQLite is compared above";
    TempDatabase db(GetParam());
    auto cn = openConnection(db.connectionString());
    cn->execute("CREATE TABLE v (i int NULL, s smallint NULL, g bigint NULL, n numeric(10,2) NULL, r real NULL, "
                "d double precision NULL, b boolean NULL, t varchar(20) NULL, x text NULL, dt date NULL, "
                "ts timestamp NULL, by bytea NULL, c char(3) NULL)");
    cn->execute(QString::fromUtf8("INSERT INTO v VALUES (1, 2, 3, 4.25, 1.5, 2.5, true, '中文', 'a''b\\c', "
                                  "'2026-12-09', '2026-12-09 10:11:12', '\\x00ff', 'ab')"));
    cn->execute("INSERT INTO v VALUES (NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL)");
    const QStringList statements = {
        "select t, i from v", // some type numbers learnt first, the rest later
        "select * from v",
        "select * from v where 1 = 0",
        QString::fromUtf8("select count(*), i + 1 AS \"名 称\", NULL AS nothing, 1.5 AS lit, max(x) from v group by i"),
        "select i AS I, i AS i2 from v",
    };
    for (const QString& sql : statements)
        expectSame(cn->run(sql, true), throughQt(*cn, sql), sql);
}

// One query object serves every statement of a connection: nothing of a result, an error or a
// closed connection may carry over to the next statement.
TEST_P(ReusedQuery, CarriesNothingOverBetweenStatements) {
    TempDatabase db(GetParam());
    auto cn = openConnection(db.connectionString());
    cn->execute("CREATE TABLE v (i int NULL, t varchar(20) NULL)");
    cn->execute("INSERT INTO v (i, t) VALUES (1, 'one')");
    cn->execute("INSERT INTO v (i, t) VALUES (2, NULL)");
    for (int round = 0; round < 2; ++round) {
        auto wide = cn->run("select i, t, i + 1 AS k from v order by i", true);
        ASSERT_EQ(wide.fields, QStringList({"i", "t", "k"}));
        ASSERT_EQ(wide.rows.size(), 2);
        EXPECT_TRUE(wide.rows[1][1].isNull());
        EXPECT_THROW(cn->run("select nosuch from v", true), DbError);
        auto narrow = cn->run("select t from v where i = 1", true);
        ASSERT_EQ(narrow.fields, QStringList({"t"}));
        ASSERT_EQ(narrow.rows.size(), 1);
        EXPECT_EQ(narrow.rows[0][0].toString(), "one");
        auto none = cn->run("select i from v where i > 5", true);
        EXPECT_EQ(none.fields, QStringList({"i"}));
        EXPECT_TRUE(none.rows.isEmpty());
        // Inside a transaction, with a refused statement in it, and after the connection closed.
        cn->beginTrans();
        EXPECT_EQ(cn->execute("UPDATE v SET t = 'uno' WHERE i = 1"), 1);
        EXPECT_THROW(cn->run("select * from nosuch", true), DbError);
        EXPECT_EQ(scalar(*cn, "select t from v where i = 1"), "uno");
        cn->rollbackTrans();
        EXPECT_EQ(scalar(*cn, "select t from v where i = 1"), "one");
        cn->close();
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, ReusedQuery, VARDEX_BACKEND_PARAMS);
