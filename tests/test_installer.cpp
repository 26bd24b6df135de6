// The store installer: batches cut at "GO", run in order, stopping at the first refusal.
#include "library/installer.h"
#include "store/storeblob.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace vardex;
using namespace vardex::test;

TEST(Batches, GoLinesSeparateOnlyWhenExactAfterTrimming) {
    const QStringList lines{"  CREATE TABLE a (", "\tx int", ")",  " \tGO\t ", "",
                            "select 'go'",        "go",      "Go", "GO",       "left over",
                            "never run"};
    const QList<QStringList> b = splitBatches(lines);
    ASSERT_EQ(b.size(), 2);
    EXPECT_EQ(b[0], (QStringList{"CREATE TABLE a (", "x int", ")"}));
    EXPECT_EQ(b[1], (QStringList{"", "select 'go'", "go", "Go"}));
    EXPECT_TRUE(splitBatches({"no separator"}).isEmpty());
}

class Installer : public ::testing::TestWithParam<Backend> {
  protected:
    void SetUp() override {
        db = std::make_unique<TempDatabase>(GetParam());
        cn = openConnection(db->connectionString());
        temp = tmp.path() + "/Morlan.tmp";
    }
    // The first release's script (seven tables, eleven procedures), then the steps: the policy's
    // two tables, the lookup index (and on PostgreSQL three procedures), the version's table,
    // the audit log's two indexes and its setting.
    int allBatches() const { return 18 + 2 + (GetParam() == Backend::SQLite ? 1 : 4) + 1 + 3; }
    std::unique_ptr<TempDatabase> db;
    std::unique_ptr<AdoConnection> cn;
    QTemporaryDir tmp;
    QString temp;
};

TEST_P(Installer, InstallsEveryBatchAndRemovesTheTemporaryFile) {
    cn->setLogging(true);
    const InstallOutcome r = runInstallScript(*cn, temp);
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.batchesRun, allBatches());
    EXPECT_FALSE(QFile::exists(temp));
    const QStringList tables = cn->tableNames();
    for (const char* t : {"qx_Name", "qx_Name_Temp", "qx_user", "qx_user_qx", "qx_user_zu", "qx_zu",
                          "qx_Logs", "vardex_settings", "vardex_lockout", "vardex_meta"})
        EXPECT_TRUE(tables.contains(t, Qt::CaseInsensitive)) << t;
    // The store is at the newest version.
    EXPECT_EQ(scalar(*cn, "select value from vardex_meta where name = 'schema.version'"),
              QString::number(newestStoreVersion(cn->dialect())));
    // The first batch is the qx_Name table: five lines, sent without their indentation.
    const QStringList first = cn->statementLog().first().split("\r\n");
    ASSERT_EQ(first.size(), 6); // five lines, each followed by CR LF
    EXPECT_TRUE(first[0].startsWith("CREATE TABLE", Qt::CaseInsensitive));
    for (const QString& l : first)
        EXPECT_EQ(l, l.trimmed());
    // The store works: the three-column user-group insert and a procedure.
    cn->execute("Insert qx_user (zuid,userID,userName) values (1,'g1','g1')");
    cn->execute("Exec qxAddUser 'g1'");
    EXPECT_EQ(scalarInt(*cn, "select count(*) from qx_user where userID = 'g1'"), 1);
}

TEST_P(Installer, SecondInstallFailsOnTheFirstBatchAndChangesNothing) {
    ASSERT_TRUE(runInstallScript(*cn, temp).ok);
    cn->execute("Insert qx_user (zuid,userID,userName) values (10000,'u','u')");
    cn->setLogging(true);
    const InstallOutcome r = runInstallScript(*cn, temp);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failedBatch, 1);
    EXPECT_EQ(r.batchesRun, 0);
    EXPECT_FALSE(r.error.isEmpty());
    EXPECT_EQ(cn->statementLog().size(), 1); // later batches never ran
    EXPECT_EQ(scalarInt(*cn, "select count(*) from qx_user"), 1);
    EXPECT_FALSE(QFile::exists(temp));
    // A run after a failure starts again from the script's first batch.
    cn->clearLog();
    runInstallScript(*cn, temp);
    ASSERT_EQ(cn->statementLog().size(), 1);
    EXPECT_TRUE(cn->statementLog().first().contains("qx_Name", Qt::CaseInsensitive));
}

TEST_P(Installer, ExistingItemTableStopsTheRunBeforeAnythingIsCreated) {
    cn->execute("CREATE TABLE qx_Name (qxID int)");
    const InstallOutcome r = runInstallScript(*cn, temp);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failedBatch, 1);
    EXPECT_FALSE(cn->tableNames().contains("qx_Name_Temp", Qt::CaseInsensitive));
}

TEST_P(Installer, ARefusalHalfWayLeavesTheDatabaseAsItWasAndARerunInstalls) {
    // The operator's own qx_zu makes the sixth batch fail after five tables were created.
    cn->execute("CREATE TABLE qx_zu (mine int)");
    cn->execute("INSERT INTO qx_zu (mine) VALUES (7)");
    const InstallOutcome r = runInstallScript(*cn, temp);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failedBatch, 6);
    EXPECT_EQ(r.batchesRun, 0);
    EXPECT_FALSE(r.error.isEmpty());
    QStringList tables = cn->tableNames();
    tables.sort(Qt::CaseInsensitive);
    EXPECT_EQ(tables.join(',').toLower(), "qx_zu"); // the five tables before it are gone again
    EXPECT_EQ(scalarInt(*cn, "select mine from qx_zu"), 7);
    EXPECT_FALSE(cn->inTransaction());

    cn->execute("DROP TABLE qx_zu");
    const InstallOutcome again = runInstallScript(*cn, temp);
    ASSERT_TRUE(again.ok) << again.error.toStdString();
    EXPECT_EQ(again.batchesRun, allBatches());
    cn->execute("Insert qx_user (zuid,userID,userName) values (1,'g1','g1')");
    cn->execute("Exec qxAddUser 'g1'");
}

TEST_P(Installer, UnwritableTemporaryFileRunsNoBatch) {
    // A folder that cannot be made: its parent is a plain file.
    QFile blocker(tmp.path() + "/plain-file");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    cn->setLogging(true);
    const InstallOutcome r = runInstallScript(*cn, tmp.path() + "/plain-file/sub/Morlan.tmp");
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.fileError);
    EXPECT_TRUE(cn->statementLog().isEmpty());
    EXPECT_TRUE(cn->tableNames().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Backends, Installer, VARDEX_BACKEND_PARAMS);

TEST(Installer, EachDatabaseKindHasItsScript) {
    EXPECT_EQ(scriptNameFor(Dialect::SqlServer), "tb_sp_SQL.sql");
    EXPECT_EQ(scriptNameFor(Dialect::SQLite), "tb_sp_SQLite.sql");
    EXPECT_EQ(scriptNameFor(Dialect::PostgreSQL), "tb_sp_PG.sql");
}
