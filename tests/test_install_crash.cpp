// An install killed with SIGKILL half-way (no rollback, no close runs in the process) leaves the
// database as it was, and the next install goes through and gives a store the doctor passes.
#include "library/doctor.h"
#include "library/installer.h"
#include "tests/support/testsupport.h"

#include <QProcess>
#include <gtest/gtest.h>

using namespace vardex;
using namespace vardex::test;

namespace {

// Every object in the database's own schema: tables, views, triggers, indexes, procedures.
int objectCount(AdoConnection& cn) {
    if (cn.dialect() == Dialect::SQLite)
        return scalarInt(cn, "select count(*) from sqlite_master");
    return scalarInt(
        cn, "select (select count(*) from pg_class c join pg_namespace n on n.oid = c.relnamespace "
            "where n.nspname = current_schema()) + (select count(*) from pg_proc p join pg_namespace n "
            "on n.oid = p.pronamespace where n.nspname = current_schema())");
}

} // namespace

class InstallCrash : public ::testing::TestWithParam<Backend> {};

TEST_P(InstallCrash, AKilledInstallLeavesNothingAndTheNextOneInstalls) {
    TempDatabase db(GetParam());
    auto cn = openConnection(db.connectionString());
    cn->execute("CREATE TABLE operator_notes (note varchar(20))"); // what was there stays
    cn->execute("INSERT INTO operator_notes VALUES ('keep')");
    const int objectsBefore = objectCount(*cn);

    // The first release's script (18 batches), then the steps: the policy's two tables, the
    // lookup index (on PostgreSQL also three procedures), the version's table, the audit log's
    // two indexes and its setting.
    const int batches = 18 + 2 + (GetParam() == Backend::SQLite ? 1 : 4) + 1 + 3;
    // Killed before the second table, among the procedures, and at the very last batch.
    for (int batch : {2, 12, batches}) {
        SCOPED_TRACE(batch);
        QProcess worker;
        worker.start(binDir() + "/install_worker", {db.connectionString(), QString::number(batch)});
        ASSERT_TRUE(worker.waitForStarted(30000));
        QByteArray out;
        while (!out.contains("inside") && worker.waitForReadyRead(60000))
            out += worker.readAllStandardOutput();
        ASSERT_EQ(out.toStdString(), "inside batch " + std::to_string(batch) + "\n")
            << worker.readAllStandardError().toStdString();
        worker.kill();
        ASSERT_TRUE(worker.waitForFinished(30000));
        ASSERT_EQ(worker.exitStatus(), QProcess::CrashExit);

        EXPECT_EQ(objectCount(*cn), objectsBefore);
        EXPECT_EQ(scalar(*cn, "select note from operator_notes"), "keep");
        const DoctorReport r = checkStore(*cn);
        EXPECT_EQ(r.violations.size(), 18); // every table and procedure is reported missing
    }

    QTemporaryDir tmp;
    const InstallOutcome again = runInstallScript(*cn, tmp.path() + "/Morlan.tmp");
    ASSERT_TRUE(again.ok) << again.error.toStdString();
    EXPECT_EQ(again.batchesRun, batches);
    cn->execute("Insert qx_user (zuid,userID,userName) values (1,'g1','g1')");
    cn->execute("Exec qxAddUser 'g1'");
    cn->execute("INSERT INTO qx_Name (qxID, qxName) VALUES (1, 'item1')");
    cn->execute("Exec qxNameChanged");
    cn->execute("Exec qxAddzuName 'P1'");
    const DoctorReport r = checkStore(*cn);
    EXPECT_TRUE(r.clean()) << (r.violations.isEmpty() ? "" : r.violations.first().describe().toStdString());
    EXPECT_EQ(r.rightsHolders, 1);
    if (GetParam() == Backend::SQLite) {
        EXPECT_EQ(scalar(*cn, "PRAGMA integrity_check"), "ok");
    }
}

INSTANTIATE_TEST_SUITE_P(Store, InstallCrash, VARDEX_BACKEND_PARAMS);
