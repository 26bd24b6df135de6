// The data access layer on every database kind: what the library relies on from it.
#include "platform/sqldialect.h"
#include "tests/support/testsupport.h"

#include <QSqlQuery>
#include <gtest/gtest.h>

using namespace vardex;
using namespace vardex::test;

class Ado : public ::testing::TestWithParam<Backend> {
  protected:
    void SetUp() override {
        db = std::make_unique<TempDatabase>(GetParam());
        cn = openConnection(db->connectionString());
        cn->execute("CREATE TABLE t (id int NULL, name varchar(20) NULL, flag char(1) NOT NULL DEFAULT 'F')");
        cn->execute("INSERT INTO t (id, name, flag) VALUES (1, 'one', 'T')");
        cn->execute("INSERT INTO t (id, name, flag) VALUES (2, NULL, 'F')");
        cn->execute("INSERT INTO t (id, name, flag) VALUES (2, 'two', 'F')");
    }
    int count(const QString& where = QString()) {
        return scalarInt(*cn, "select count(*) from t" + (where.isEmpty() ? QString() : " where " + where));
    }
    std::unique_ptr<TempDatabase> db;
    std::unique_ptr<AdoConnection> cn;
};

TEST_P(Ado, OpenFetchesEveryRowAndReadsFieldsByAnyCase) {
    AdoQuery q(cn.get());
    q.addSql("select * from t");
    q.addSql("where id = 2");
    EXPECT_EQ(q.commandText(), "select * from t\r\nwhere id = 2\r\n");
    q.open();
    EXPECT_EQ(q.recordCount(), 2);
    int withName = 0;
    for (q.first(); !q.eof(); q.next()) {
        EXPECT_EQ(q.fieldByName("ID").asInteger(), 2);
        EXPECT_EQ(q.fieldByName("Flag").asString(), "F");
        if (!q.fieldByName("NAME").isNull())
            ++withName;
        else
            EXPECT_EQ(q.fieldByName("name").asString(), ""); // NULL reads as empty text
    }
    EXPECT_EQ(withName, 1);
    EXPECT_THROW(q.fieldByName("nosuch"), DbError);
    AdoQuery two(cn.get(), "select name from t where name = 'two'");
    two.open();
    EXPECT_THROW(two.fieldByName("name").asInteger(), ConvertError); // 'two' is not a number
}

TEST_P(Ado, EmptyResultReadsNullFields) {
    AdoQuery q(cn.get(), "select * from t where id = 99");
    q.open();
    EXPECT_EQ(q.recordCount(), 0);
    EXPECT_TRUE(q.eof());
    EXPECT_EQ(q.fieldByName("name").asString(), "");
    EXPECT_EQ(q.fieldByName("id").asInteger(), 0);
}

TEST_P(Ado, ExecuteReportsRowsAffected) {
    EXPECT_EQ(cn->execute("UPDATE t SET name = 'x' WHERE id = 2"), 2);
    EXPECT_EQ(cn->execute("UPDATE t SET name = 'x' WHERE id = 7"), 0);
    EXPECT_EQ(cn->execute("DELETE t WHERE id = 1"), 1); // T-SQL form without FROM
    EXPECT_EQ(count(), 2);
}

TEST_P(Ado, FailedStatementRaisesAndLeavesTheConnectionUsable) {
    try {
        cn->execute("INSERT INTO nosuchtable VALUES (1)");
        FAIL() << "no error";
    } catch (const DbError& e) {
        EXPECT_FALSE(e.message().isEmpty());
    }
    AdoQuery bad(cn.get(), "select nosuchcolumn from t");
    EXPECT_THROW(bad.open(), DbError);
    EXPECT_EQ(count(), 3);
}

TEST_P(Ado, StatementsBeforeAFailureStayInTheTransaction) {
    cn->beginTrans();
    cn->execute("INSERT INTO t (id, name) VALUES (10, 'a')");
    EXPECT_THROW(cn->execute("INSERT INTO nosuchtable VALUES (1)"), DbError);
    AdoQuery bad(cn.get(), "select nosuchcolumn from t");
    EXPECT_THROW(bad.open(), DbError);
    cn->execute("INSERT INTO t (id, name) VALUES (11, 'b')");
    cn->commitTrans();
    EXPECT_FALSE(cn->inTransaction());
    EXPECT_EQ(count("id >= 10"), 2);
}

TEST_P(Ado, RollbackDiscardsAndASecondBeginIsRefused) {
    cn->beginTrans();
    EXPECT_THROW(cn->beginTrans(), DbError);
    cn->execute("DELETE FROM t");
    cn->rollbackTrans();
    EXPECT_EQ(count(), 3);
    EXPECT_THROW(cn->commitTrans(), DbError);
}

// A scoped transaction keeps only what it is told to commit. A rollback the server refuses is
// reported, not thrown, and the connection is closed so the server discards what was sent.
TEST_P(Ado, ScopedTransactionCommitsOnlyWhenTold) {
    MessageRecorder rec;
    {
        AdoTransaction tx(*cn);
        cn->execute("INSERT INTO t (id, name) VALUES (10, 'kept')");
        tx.commit();
        EXPECT_FALSE(tx.active());
    }
    {
        AdoTransaction tx(*cn);
        cn->execute("INSERT INTO t (id, name) VALUES (11, 'dropped')");
    }
    EXPECT_THROW(
        {
            AdoTransaction tx(*cn);
            cn->execute("INSERT INTO t (id, name) VALUES (12, 'dropped')");
            throw DbError("the block failed");
        },
        DbError);
    {
        AdoTransaction joined(*cn, false);
        EXPECT_FALSE(cn->inTransaction());
    }
    EXPECT_FALSE(cn->inTransaction());
    EXPECT_EQ(count("id >= 10"), 1);
    EXPECT_EQ(count("id = 10"), 1);
    EXPECT_TRUE(rec.boxes.empty());

    cn->setStatementHook([](const QString& s) {
        if (s == "ROLLBACK")
            throw DbError("rollback refused");
    });
    EXPECT_NO_THROW({
        AdoTransaction tx(*cn);
        cn->execute("INSERT INTO t (id, name) VALUES (13, 'dropped')");
    });
    cn->setStatementHook({});
    EXPECT_FALSE(cn->inTransaction());
    EXPECT_FALSE(cn->connected());
    ASSERT_EQ(rec.boxes.size(), 1u);
    EXPECT_TRUE(rec.boxes[0].text.contains("rollback refused")) << rec.boxes[0].text.toStdString();
    EXPECT_EQ(rec.boxes[0].type, mb::Ok | mb::IconWarning);
    EXPECT_EQ(count("id >= 10"), 1); // the connection reopens; row 13 went with the old one
}

TEST_P(Ado, ClosedConnectionReopensFromItsConnectionString) {
    cn->close();
    EXPECT_FALSE(cn->connected());
    EXPECT_EQ(count(), 3);
    EXPECT_TRUE(cn->connected());
}

TEST_P(Ado, QuotedValuesStayLiteral) {
    for (const QString& v : {QString("a'b"), QString("' or '1'='1"), QString("'; DROP TABLE t; --"),
                             QString("back\\slash\\"), QString::fromUtf8("中文'名")}) {
        cn->execute("INSERT INTO t (id, name) VALUES (50, '" + escapeQuotes(v) + "')");
        EXPECT_EQ(scalarInt(*cn, "select count(*) from t where name = '" + escapeQuotes(v) + "'"), 1)
            << v.toStdString();
        EXPECT_EQ(scalar(*cn, "select name from t where name = '" + escapeQuotes(v) + "'"), v);
    }
    EXPECT_EQ(count(), 8);
}

// Behind a pooler in transaction mode a statement may land on a server connection with
// standard_conforming_strings off (set here on the session, as such a connection has it): a value
// holding a backslash still reads as written, outside a transaction and inside one.
TEST_P(Ado, BackslashValuesStayLiteralOnAServerConnectionWithStandardStringsOff) {
    if (cn->dialect() != Dialect::PostgreSQL)
        GTEST_SKIP() << "a PostgreSQL setting";
    const QString v = "x\\'; DELETE FROM t;";
    for (const bool inTransaction : {false, true}) {
        QSqlQuery(cn->database()).exec("SET standard_conforming_strings TO off");
        if (inTransaction)
            cn->beginTrans();
        cn->execute("INSERT INTO t (id, name) VALUES (60, '" + escapeQuotes(v) + "')");
        if (inTransaction)
            cn->commitTrans();
        QSqlQuery(cn->database()).exec("SET standard_conforming_strings TO off");
        EXPECT_EQ(scalar(*cn, "select name from t where id = 60 and name = '" + escapeQuotes(v) + "'"), v);
    }
    EXPECT_EQ(count("id = 60"), 2);
    EXPECT_EQ(count(), 5);
}

TEST_P(Ado, AppendPostsOneInsertWithTheGivenColumns) {
    cn->setLogging(true);
    AdoQuery q(cn.get(), "select * from t");
    q.open();
    q.append();
    q.setFieldValue("id", 3);
    q.setFieldValue("name", "it's");
    q.post();
    EXPECT_EQ(q.recordCount(), 4);
    ASSERT_EQ(cn->statementLog().size(), 2);
    EXPECT_EQ(cn->statementLog().at(1), "INSERT INTO t (id,name) VALUES (3,'it''s')");
    EXPECT_EQ(scalar(*cn, "select flag from t where id = 3"), "F"); // the column default
}

TEST_P(Ado, LogKeepsStatementsAsGivenAndHookCanRefuse) {
    cn->setLogging(true);
    cn->execute("DELETE t WHERE id = 1");
    cn->setStatementHook([](const QString& s) {
        if (s.contains("id = 2"))
            throw DbError("refused by test");
    });
    EXPECT_THROW(cn->execute("DELETE t WHERE id = 2"), DbError);
    ASSERT_EQ(cn->statementLog().size(), 2);
    EXPECT_EQ(cn->statementLog().at(0), "DELETE t WHERE id = 1");
    EXPECT_EQ(count(), 2);
}

TEST_P(Ado, TableNamesAndMultiStatementBatches) {
    cn->execute("CREATE TABLE u1 (a int);\r\nCREATE TABLE u2 (b int)");
    const QStringList names = cn->tableNames();
    EXPECT_TRUE(names.contains("u1", Qt::CaseInsensitive));
    EXPECT_TRUE(names.contains("u2", Qt::CaseInsensitive));
}

// A read snapshot sees the store as it was when it began: a row another connection commits
// afterwards, before anything was read, is not in it; once it ends the row is there.
TEST_P(Ado, ReadSnapshotSeesNothingCommittedAfterItBegan) {
    auto other = openConnection(db->connectionString());
    cn->beginReadSnapshot();
    EXPECT_TRUE(cn->inTransaction());
    other->execute("INSERT INTO t (id, name) VALUES (20, 'later')");
    EXPECT_EQ(count(), 3);
    EXPECT_EQ(count("id = 20"), 0);
    cn->rollbackTrans();
    EXPECT_FALSE(cn->inTransaction());
    EXPECT_EQ(count(), 4);
    EXPECT_THROW(cn->commitTrans(), DbError);
}

// The grid edits the table its query reads from, whatever its select list holds: a subquery
// with its own FROM, a computed field, a quoted word.
TEST_P(Ado, GridQueryWithASubqueryInItsListEditsItsOwnTable) {
    AdoQuery q(cn.get(), "select (select count(*) from t) as n, 'a from b' as w, name from t where id = 1");
    q.open();
    ASSERT_EQ(q.recordCount(), 1);
    EXPECT_EQ(q.baseColumn(0), "");
    EXPECT_EQ(q.baseColumn(1), "");
    EXPECT_EQ(q.baseColumn(2), "name");
    q.edit();
    q.setFieldValue("name", "uno");
    q.post();
    EXPECT_EQ(count("name = 'uno'"), 1);
    q.deleteRecord();
    EXPECT_EQ(count(), 2);
}

INSTANTIATE_TEST_SUITE_P(Backends, Ado, VARDEX_BACKEND_PARAMS);

TEST(AdoOpen, BadConnectionsRaise) {
    AdoConnection cn;
    cn.setConnectionString("Provider=SQLite;Data Source=/nonexistent-folder/x/store.db");
    EXPECT_THROW(cn.open(), DbError);
    EXPECT_FALSE(cn.connected());
    cn.setConnectionString("Provider=PostgreSQL;Host=127.0.0.1;Port=1;Database=x;Connect Timeout=2");
    EXPECT_THROW(cn.open(), DbError);
    cn.setConnectionString("nonsense");
    EXPECT_THROW(cn.open(), DbError);
}

// Several hosts reach libpq: a first host that does not answer is passed over, in both
// spellings, and a session that must be on a standby is refused by a primary.
TEST(AdoOpen, SeveralHostsReachLibpq) {
    if (!postgresAvailable())
        GTEST_SKIP() << "no PostgreSQL test cluster";
    TempDatabase db(Backend::PostgreSQL);
    const auto pairs = ConnectionString::parse(db.connectionString());
    const QString port = ConnectionString::value(pairs, {"Port"});
    const QString rest = "Provider=PostgreSQL;User ID=" + ConnectionString::value(pairs, {"User ID"}) +
                         ";Database=" + ConnectionString::value(pairs, {"Database"});
    // (In the last, the first host takes libpq's default port, where nothing listens.)
    for (const QString& hosts :
         {"Host=127.0.0.1:1,127.0.0.1:" + port, "Host=127.0.0.1,127.0.0.1;Port=1," + port,
          "Host=127.0.0.1,127.0.0.1:" + port}) {
        AdoConnection cn;
        cn.setConnectionString(rest + ";" + hosts + ";Target Session Attrs=read-write");
        EXPECT_NO_THROW(cn.open()) << hosts.toStdString();
        EXPECT_EQ(scalar(cn, "select 1"), "1");
    }
    AdoConnection standby;
    standby.setConnectionString(rest + ";Host=127.0.0.1:" + port + ";Target Session Attrs=standby");
    EXPECT_THROW(standby.open(), DbError);
}
