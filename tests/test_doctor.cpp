// The store doctor: a store built through the stored procedures is clean; each kind of drift
// planted by hand is found exactly (kind, user, group, item) and mended without touching the
// rows around it; members' own rows never count; and the same through vardex-cli.
#include "library/doctor.h"
#include "tests/support/testsupport.h"

#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

using namespace vardex;
using namespace vardex::test;

namespace {

// Every row of the three tables the doctor checks, as sorted text: equal dumps mean equal
// tables (as multisets of rows).
QStringList dumpRows(AdoConnection& cn) {
    QStringList rows;
    const char* queries[] = {"select 'qx', userID, qxID, AllowCount from qx_user_qx",
                             "select 'uzu', userID, zuName, Allow from qx_user_zu",
                             "select 'zu', zuName, qxID, Allow from qx_zu"};
    for (const char* sql : queries) {
        AdoQuery q(&cn, sql);
        q.open();
        for (int r = 0; r < q.recordCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < q.fieldCount(); ++c)
                cells << q.value(r, c).toString().trimmed();
            rows << cells.join('|');
        }
    }
    rows.sort();
    return rows;
}

std::string describeAll(const DoctorReport& r) {
    std::string s;
    for (const Violation& v : r.violations)
        s += v.describe().toStdString() + "\n";
    return s;
}

} // namespace

class Doctor : public ::testing::TestWithParam<Backend> {
  protected:
    void SetUp() override {
        store = std::make_unique<TempStore>(GetParam());
        cn = openConnection(store->connectionString());
        // A member created before any item or permission group: the procedures that add rows
        // for every qx_user row give it rows of its own, which nothing reads.
        group(1, "g1");
        member("m0", 1);
        cn->execute("Exec qxNameChanged_before");
        for (int i = 1; i <= 5; ++i)
            cn->execute(QString("Insert qx_Name (qxID, qxName) values (%1,'项目%1')").arg(i));
        cn->execute("Exec qxNameChanged");
        standalone("u1");
        for (const char* p : {"P1", "P2", "P3"})
            cn->execute(QString("Exec qxAddzuName '%1'").arg(p));
        group(2, "g2");
        standalone("u2");
        member("m1", 1);
        member("m2", 2);
        for (const auto& [zu, item] : {std::pair{"P1", 1}, {"P1", 2}, {"P2", 2}, {"P2", 3}, {"P3", 5}})
            cn->execute(QString("Exec qxUpDateAllows '%1',%2,'T'").arg(zu).arg(item));
        for (const auto& [user, zu] : {std::pair{"g1", "P1"}, {"g1", "P2"}, {"u1", "P2"}, {"u2", "P3"}})
            cn->execute(QString("Exec qx_user_zu_changed '%1','%2','T'").arg(user, zu));
    }
    void group(int n, const QString& id) {
        cn->execute(QString("Insert qx_user (zuid,userID,userName) values (%1,'%2','%2')").arg(n).arg(id));
        cn->execute(QString("Exec qxAddUser '%1'").arg(id));
    }
    void insertUser(const QString& id, int zuid) {
        cn->execute(
            QString("Insert qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou,zuid) "
                    "VALUES ('%1','%1','','2020-01-01','2099-12-31','T',0,%2)")
                .arg(id)
                .arg(zuid));
    }
    void standalone(const QString& id) {
        insertUser(id, 10000);
        cn->execute(QString("Exec qxAddUser '%1'").arg(id));
    }
    void member(const QString& id, int n) { insertUser(id, 1000 + n); }
    int count(const QString& user, int item) {
        return scalarInt(*cn, QString("select AllowCount from qx_user_qx where userID = '%1' and qxID = %2")
                                  .arg(user)
                                  .arg(item));
    }

    std::unique_ptr<TempStore> store;
    std::unique_ptr<AdoConnection> cn;
};

TEST_P(Doctor, StoreBuiltThroughTheProceduresIsClean) {
    const DoctorReport r = checkStore(*cn);
    EXPECT_TRUE(r.clean()) << describeAll(r);
    EXPECT_EQ(r.rightsHolders, 4); // g1, g2, u1, u2: members hold no rights
    EXPECT_EQ(r.items, 5);
    EXPECT_EQ(r.groups, 3);
    // The clean verdict covers real counts, not only zeros: g1 holds item 2 through P1 and P2.
    EXPECT_EQ(count("g1", 2), 2);
    EXPECT_EQ(count("u1", 3), 1);
}

struct Plant {
    const char* name;
    const char* sql;
    Violation::Kind kind;
    const char* user;
    const char* zuName;
    int qxID;
    int found;
    int expected;
};

// Each planted fault breaks exactly one invariant once: removed rows are ones whose loss leaves
// every count right (an unassigned group, a group's ungranted item), so the report holds one entry.
const Plant plants[] = {
    {"MissingGrantRow", "DELETE qx_user_qx where userID = 'u1' and qxID = 3", Violation::MissingGrantRow,
     "u1", "", 3, 0, 1},
    {"DuplicateGrantRow", "Insert qx_user_qx (userID, qxID, AllowCount) values ('g1',2,2)",
     Violation::DuplicateGrantRow, "g1", "", 2, 2, 1},
    {"MissingAssignmentRow", "DELETE qx_user_zu where userID = 'u2' and zuName = 'P1'",
     Violation::MissingAssignmentRow, "u2", "P1", 0, 0, 1},
    {"DuplicateAssignmentRow", "Insert qx_user_zu (userID, zuName, Allow) values ('g1','P2','T')",
     Violation::DuplicateAssignmentRow, "g1", "P2", 0, 2, 1},
    {"MissingGroupItemRow", "DELETE qx_zu where zuName = 'P2' and qxID = 4", Violation::MissingGroupItemRow,
     "", "P2", 4, 0, 1},
    {"DuplicateGroupItemRow", "Insert qx_zu (zuName, qxID, Allow) values ('P3',5,'T')",
     Violation::DuplicateGroupItemRow, "", "P3", 5, 2, 1},
    {"CountTooHigh", "Update qx_user_qx set AllowCount = 5 where userID = 'u1' and qxID = 3",
     Violation::WrongCount, "u1", "", 3, 5, 1},
    {"CountBelowZero", "Update qx_user_qx set AllowCount = -1 where userID = 'g2' and qxID = 1",
     Violation::WrongCount, "g2", "", 1, -1, 0},
};

TEST_P(Doctor, FindsEachPlantedViolationExactlyAndRepairRestoresTheStore) {
    const QStringList before = dumpRows(*cn);
    for (const Plant& p : plants) {
        SCOPED_TRACE(p.name);
        cn->execute(p.sql);
        const DoctorReport found = checkStore(*cn);
        ASSERT_EQ(found.violations.size(), 1) << describeAll(found);
        const Violation& v = found.violations.first();
        EXPECT_EQ(v.kind, p.kind);
        EXPECT_EQ(v.userId, p.user);
        EXPECT_EQ(v.zuName, p.zuName);
        EXPECT_EQ(v.qxID, p.qxID);
        EXPECT_EQ(v.found, p.found);
        EXPECT_EQ(v.expected, p.expected);

        const DoctorReport repaired = repairStore(*cn);
        EXPECT_EQ(repaired.violations.size(), 1); // the report of what was found before mending
        EXPECT_TRUE(checkStore(*cn).clean()) << describeAll(checkStore(*cn));
        // Mended to the very rows the procedures had built: the lost row comes back with the
        // count the assignments give, a duplicate keeps its flag, nothing else moves.
        EXPECT_EQ(dumpRows(*cn), before);
    }
}

TEST_P(Doctor, SeveralViolationsAtOnceAreAllFoundAndMendedTogether) {
    // Taking away u2's assigned row breaks the count it implies too: two findings for one row.
    cn->execute("DELETE qx_user_zu where userID = 'u2' and zuName = 'P3'");
    cn->execute("Update qx_user_qx set AllowCount = 3 where userID = 'g1' and qxID = 2");
    cn->execute("Insert qx_zu (zuName, qxID, Allow) values ('P1',4,'F')");
    const DoctorReport r = checkStore(*cn);
    ASSERT_EQ(r.violations.size(), 4) << describeAll(r);
    QStringList seen;
    for (const Violation& v : r.violations)
        seen << QString("%1 %2 %3 %4").arg(v.kind).arg(v.userId, v.zuName).arg(v.qxID);
    seen.sort();
    QStringList want{QString("%1 u2 P3 0").arg(Violation::MissingAssignmentRow),
                     QString("%1 u2  5").arg(Violation::WrongCount),
                     QString("%1 g1  2").arg(Violation::WrongCount),
                     QString("%1  P1 4").arg(Violation::DuplicateGroupItemRow)};
    want.sort();
    EXPECT_EQ(seen, want);

    repairStore(*cn);
    EXPECT_TRUE(checkStore(*cn).clean());
    EXPECT_EQ(count("g1", 2), 2);
    EXPECT_EQ(count("u2", 5), 0); // the assignment came back unassigned: the count follows it
    EXPECT_EQ(count("g1", 1), 1); // untouched neighbours
    EXPECT_EQ(count("u1", 2), 1);
    EXPECT_EQ(scalarInt(*cn, "select count(*) from qx_zu where zuName = 'P1' and qxID = 4"), 1);
}

// A user ID that looks like a placeholder ("p%2") is repaired as written, not rewritten into
// the statement's other values.
TEST_P(Doctor, RepairTakesIdsThatLookLikePlaceholdersAsTheyAre) {
    cn->execute("Insert qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou, zuid) "
                "VALUES ('p%2', 'p', '', '2020-01-01', '2099-12-31', 'T', 0, 10000)");
    cn->execute("Exec qxAddUser 'p%2'");
    cn->execute("Exec qx_user_zu_changed 'p%2','P1','T'");
    cn->execute("Update qx_user_qx set AllowCount = 7 where userID = 'p%2' and qxID = 2");
    cn->execute("DELETE qx_user_zu where userID = 'p%2' and zuName = 'P2'");
    ASSERT_EQ(checkStore(*cn).violations.size(), 2) << describeAll(checkStore(*cn));
    repairStore(*cn);
    EXPECT_TRUE(checkStore(*cn).clean()) << describeAll(checkStore(*cn));
    EXPECT_EQ(scalarInt(*cn, "select AllowCount from qx_user_qx where userID = 'p%2' and qxID = 2"), 1);
    EXPECT_EQ(scalarInt(*cn, "select count(*) from qx_user_zu where userID = 'p%2'"), 3);
}

TEST_P(Doctor, MembersRowsAreNeverReportedAndZuidBoundsDecideWhoHoldsRights) {
    // m0 was given rows by the procedures; damage them every way, and give m1 a count from nowhere.
    ASSERT_GT(scalarInt(*cn, "select count(*) from qx_user_qx where userID = 'm0'"), 0);
    cn->execute("Update qx_user_qx set AllowCount = 7 where userID = 'm0'");
    cn->execute("Insert qx_user_qx (userID, qxID, AllowCount) values ('m0',1,3)");
    cn->execute("DELETE qx_user_zu where userID = 'm0' and zuName = 'P1'");
    cn->execute("Insert qx_user_zu (userID, zuName, Allow) values ('m0','P2','T')");
    cn->execute("Insert qx_user_qx (userID, qxID, AllowCount) values ('m1',2,9)");
    // 1000 belongs to no user group that can exist, 1999 and 9999 are member codes.
    insertUser("z1000", 1000);
    insertUser("z1999", 1999);
    insertUser("z9999", 9999);
    DoctorReport r = checkStore(*cn);
    // Those rows are faults of their own (no action writes them, an export refuses them), and
    // the only findings: none about rows of members.
    QStringList found;
    for (const Violation& v : r.violations)
        found << v.describe();
    EXPECT_EQ(
        found,
        QStringList({"qx_user row 'z1000' has the user-group code 1000, which no action of the store makes",
                     "qx_user row 'z9999' has the user-group code 9999, which no action of the store makes",
                     "user 'z1999' is a member of user group number 999, which does not exist"}));
    EXPECT_EQ(r.rightsHolders, 4);
    const QStringList members = dumpRows(*cn);
    repairStore(*cn);
    EXPECT_EQ(dumpRows(*cn), members); // repair leaves members' rows alone too

    // Above 10000 counts as a user in no user group: a row without its procedure misses
    // everything. A group number at the top of the range holds rights as well.
    insertUser("z10001", 10001);
    cn->execute("Insert qx_user (zuid,userID,userName) values (999,'g999','g999')");
    r = checkStore(*cn);
    EXPECT_EQ(r.rightsHolders, 6);
    int z = 0, g = 0;
    for (const Violation& v : r.violations) {
        if (v.kind == Violation::UnknownUserCode || v.kind == Violation::LostMember)
            continue; // as above, and z10001 now too
        EXPECT_TRUE(v.kind == Violation::MissingGrantRow || v.kind == Violation::MissingAssignmentRow)
            << v.describe().toStdString();
        z += v.userId == "z10001";
        g += v.userId == "g999";
    }
    EXPECT_EQ(z, 8); // 5 items + 3 permission groups
    EXPECT_EQ(g, 8);
    EXPECT_EQ(r.violations.size(), 16 + 3); // z1999 has its group now
    repairStore(*cn);
    EXPECT_EQ(checkStore(*cn).violations.size(), 3); // the codes are the operator's to choose
    EXPECT_EQ(scalarInt(*cn, "select count(*) from qx_user_qx where userID = 'z10001' and AllowCount = 0"),
              5);
    EXPECT_EQ(scalarInt(*cn, "select count(*) from qx_user_zu where userID = 'g999' and Allow = 'F'"), 3);
}

TEST_P(Doctor, RowsThatReferToWhatIsGoneAreFoundAndRepairRemovesOnlyThem) {
    const QStringList before = dumpRows(*cn);
    // A grant of an item that never existed (it would pass the right check), a departed user
    // and item given twice, and a user and an item deleted without their procedures.
    cn->execute("Insert qx_user_qx (userID, qxID, AllowCount) values ('u1',-1,1)");
    cn->execute("Insert qx_user_qx (userID, qxID, AllowCount) values ('ghost',99,2)");
    cn->execute("Insert qx_user_qx (userID, qxID, AllowCount) values ('ghost',99,2)");
    cn->execute("DELETE FROM qx_user WHERE userID = 'u2'");
    cn->execute("DELETE FROM qx_Name WHERE qxID = 4");

    const DoctorReport r = checkStore(*cn);
    QStringList found;
    for (const Violation& v : r.violations)
        found << v.describe();
    found.sort();
    QStringList want{"orphan qx_user_qx row: user 'u1', item -1: no such item (1 row)",
                     "orphan qx_user_qx row: user 'ghost', item 99: no such user and item (2 rows)",
                     "orphan qx_user_qx row: user 'u2', item 4: no such user and item (1 row)"};
    for (int item : {1, 2, 3, 5})
        want << QString("orphan qx_user_qx row: user 'u2', item %1: no such user (1 row)").arg(item);
    for (const char* zu : {"P1", "P2", "P3"}) {
        want << QString("orphan qx_user_zu row: user 'u2', permission group '%1': no such user (1 row)")
                    .arg(zu);
        want << QString("orphan qx_zu row: permission group '%1', item 4: no such item (1 row)").arg(zu);
    }
    for (const char* user : {"g1", "g2", "u1", "m0"})
        want << QString("orphan qx_user_qx row: user '%1', item 4: no such item (1 row)").arg(user);
    want.sort();
    EXPECT_EQ(found, want);

    EXPECT_EQ(repairStore(*cn).violations.size(), want.size());
    EXPECT_TRUE(checkStore(*cn).clean()) << describeAll(checkStore(*cn));
    // Exactly the orphans went: the rows of u2 and of item 4; every other row is as it was.
    QStringList kept;
    for (const QString& row : before) {
        const QStringList c = row.split('|');
        if (c[1] != "u2" && !((c[0] == "qx" || c[0] == "zu") && c[2] == "4"))
            kept << row;
    }
    EXPECT_EQ(dumpRows(*cn), kept);
}

TEST_P(Doctor, MissingTablesAndProceduresAreReportedAndRepairWritesNothing) {
    const bool sqlite = GetParam() == Backend::SQLite;
    cn->execute(sqlite ? "DROP VIEW qxDelzu" : "DROP PROCEDURE qxDelzu");
    DoctorReport r = checkStore(*cn);
    ASSERT_EQ(r.violations.size(), 1) << describeAll(r);
    EXPECT_EQ(r.violations[0].describe(), "missing stored procedure qxDelzu");
    EXPECT_EQ(r.rightsHolders, 4); // the rows are still checked

    // Without a table the rows cannot be read, and a repair must not write around the hole.
    cn->execute("Update qx_user_qx set AllowCount = 5 where userID = 'u1' and qxID = 3");
    cn->execute("DROP TABLE qx_Logs");
    r = checkStore(*cn);
    QStringList found;
    for (const Violation& v : r.violations)
        found << v.describe();
    EXPECT_EQ(found, (QStringList{"missing table qx_Logs", "missing stored procedure qxDelzu"}));
    try {
        repairStore(*cn);
        ADD_FAILURE() << "a repair around a missing table reported success";
    } catch (const DbError& e) {
        EXPECT_TRUE(e.message().startsWith("Nothing was repaired: missing table qx_Logs."))
            << e.message().toStdString();
    }
    EXPECT_EQ(count("u1", 3), 5);
    EXPECT_FALSE(cn->inTransaction());
}

TEST_P(Doctor, ADamagedPageIsReportedAndRepairWritesNothing) {
    if (GetParam() != Backend::SQLite)
        GTEST_SKIP() << "page checks are SQLite's";
    cn->execute("Update qx_user_qx set AllowCount = 5 where userID = 'u1' and qxID = 3");
    const int page = scalarInt(*cn, "select rootpage from sqlite_master where name = 'ix_qx_Logs_theTime'");
    const int pageSize = scalarInt(*cn, "PRAGMA page_size");
    ASSERT_GT(page, 1);
    cn.reset(); // the last connection: the log is written back into the file
    const QString file = ConnectionString::resolve(store->connectionString()).databaseName;
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.seek(qint64(page - 1) * pageSize));
        ASSERT_EQ(f.write(QByteArray(pageSize, '\x5a')), pageSize);
    }
    cn = openConnection(store->connectionString());
    const DoctorReport r = checkStore(*cn);
    ASSERT_FALSE(r.violations.isEmpty());
    int damage = 0;
    for (const Violation& v : r.violations)
        damage += v.kind == Violation::DamagedStore;
    EXPECT_GE(damage, 1) << describeAll(r);
    EXPECT_EQ(r.violations.size(), damage + 1) << describeAll(r); // and the planted count

    EXPECT_THROW(repairStore(*cn), DbError);
    EXPECT_EQ(count("u1", 3), 5); // nothing is written into a damaged file
    for (const bool repair : {false, true}) {
        QProcess p;
        QStringList args{"doctor", store->connectionString()};
        if (repair)
            args << "--repair";
        p.start(binDir() + "/vardex-cli", args);
        ASSERT_TRUE(p.waitForFinished(120000));
        EXPECT_EQ(p.exitCode(), repair ? 2 : 1);
        EXPECT_TRUE(
            (repair ? p.readAllStandardError() : p.readAllStandardOutput()).contains("damaged store file: "));
    }
}

TEST_P(Doctor, CommandLineReportsExitCodesAndRepairs) {
    const QString cli = binDir() + "/vardex-cli";
    auto run = [&](const QStringList& args, QString* out = nullptr) {
        QProcess p;
        p.start(cli, args);
        EXPECT_TRUE(p.waitForFinished(120000)) << "vardex-cli did not finish";
        if (out)
            *out = QString::fromLocal8Bit(p.readAllStandardOutput());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    };
    const QString conn = store->connectionString();
    QString out;
    EXPECT_EQ(run({"doctor", conn}, &out), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("0 violation(s)")) << out.toStdString();

    cn->execute("Update qx_user_qx set AllowCount = 5 where userID = 'u1' and qxID = 3");
    EXPECT_EQ(run({"doctor", conn}, &out), 1);
    EXPECT_TRUE(out.contains("wrong grant count: user 'u1', item 3: stored 5, the assignments give 1"))
        << out.toStdString();
    EXPECT_TRUE(out.contains("1 violation(s)")) << out.toStdString();
    EXPECT_EQ(count("u1", 3), 5); // checking alone changes nothing

    EXPECT_EQ(run({"doctor", conn, "--repair"}, &out), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("repaired")) << out.toStdString();
    EXPECT_EQ(count("u1", 3), 1);
    EXPECT_EQ(run({"doctor", conn}), 0);
    EXPECT_EQ(run({"doctor", "Provider=SQLite;Data Source=/nonexistent-dir/x/y.db"}), 2);
}

INSTANTIATE_TEST_SUITE_P(Backends, Doctor, VARDEX_BACKEND_PARAMS);
