// Carrying a store out and in: import checks the whole file before it writes, the doctor
// reports every store that export refuses, and copy carries each value exactly (or names the
// one it cannot) while reading the source without locking its users out.
#include "cli/inprocess.h"
#include "library/doctor.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

using namespace vardex;
using namespace vardex::test;

namespace {

const QString kCorpus = QStringLiteral("/fuzz/corpus/exportfile/");

QProcess* startCli(QProcess& p, const QStringList& args) {
    p.start(binDir() + "/vardex-cli", args);
    EXPECT_TRUE(p.waitForStarted(10000));
    return &p;
}

// Runs a verb of vardex-cli in this process: the exit code, and standard output and error
// together.
std::pair<int, QString> run(const QStringList& args) {
    const cli::CliRun r = cli::runInProcess(args);
    return {r.exitCode, r.out + r.err};
}

int rows(AdoConnection& cn, const QString& table) {
    return scalarInt(cn, "select count(*) from " + table);
}

QString violations(const DoctorReport& r) {
    QStringList out;
    for (const Violation& v : r.violations)
        out << v.describe();
    return out.join('\n');
}

} // namespace

class Transfer : public ::testing::TestWithParam<Backend> {
  protected:
    // A store filled from the corpus's complete export: two user groups, a member, a user in
    // none, three items and two permission groups.
    std::unique_ptr<TempStore> filled(Backend b) {
        auto s = std::make_unique<TempStore>(b);
        const auto [code, out] =
            run({"import", sourceDir() + kCorpus + "good_full.json", "--store", s->connectionString()});
        EXPECT_EQ(code, 0) << out.toStdString();
        return s;
    }
};

// Every bad file of the fuzz corpus is refused by name and path, and nothing is written; the
// complete file imports and exports back to the same setup.
TEST_P(Transfer, ImportChecksTheWholeFileBeforeWritingAnything) {
    const std::map<QString, QString> expected = {
        {"password_number", "users[0].password: is not a text"},
        {"password_plain", "users[0].password: is no cipher text"},
        {"password_lowercase", "users[0].password: is no cipher text"},
        {"password_seed_only", "users[0].password: is no cipher text"},
        {"group_number", "users[0].group: is not a text"},
        {"group_object", "users[0].group: is not a text"},
        {"group_unknown", "users[0].group: no user group nobody"},
        {"enabled_missing", "users[1].enabled: is missing"},
        {"enabled_text", "users[1].enabled: is not true or false"},
        {"id_blank", "users[0].id: is empty"},
        {"id_padded", "users[0].id: has leading or trailing blanks"},
        {"id_long", "users[0].id: \"aaaaaaaaaaaaaaaaaaaaa\" is longer than 20 characters"},
        {"name_control", "users[0].name: holds a control character"},
        {"date_invalid", "users[0].start: \"2026-02-30\" is no date"},
        {"date_short", "users[0].end: \"2026-1-5\" is no date"},
        {"discount_negative", "users[1].discount: -7 is not a whole number from 0 to 100"},
        {"discount_huge", "users[1].discount: 2147483647 is not a whole number from 0 to 100"},
        {"discount_fraction", "users[1].discount: is not a whole number of 32 bits"},
        {"user_twice", "users[2].id: user bob exists"},
        {"lone_surrogate", "users[0].name: holds a lone surrogate"},
        {"holder_twice", "permissionGroups[0].assignedTo[2]: bob is listed twice"},
        {"holder_member", "permissionGroups[0].assignedTo[0]: alice is a member of a user group"},
        {"permgroup_items_object", "permissionGroups[0].items: is not an array"},
        {"items_object", "$.items: is not an array"},
        {"item_fraction", "items[1].id: is not a whole number of 32 bits"},
        {"item_twice", "items[1].id: item 1000 exists"},
        {"item_name_empty", "items[0].name: is empty"},
        {"permgroup_unknown_item", "permissionGroups[0].items[2]: no item 99"},
        {"usergroup_name", "userGroups[0].name: holds a control character"},
        {"unknown_field", "userGroups[0].extra: is not a field of this format"},
        {"version", "$.version: export version 2 is not known"},
        {"users_missing", "$.users: is missing"},
        {"not_object", "$: is not an object"},
    };
    TempStore empty(GetParam());
    auto cn = openConnection(empty.connectionString());
    const QStringList files = QDir(sourceDir() + kCorpus).entryList({"bad_*.json"}, QDir::Files);
    EXPECT_EQ(files.size(), int(expected.size())); // the corpus and this sweep list the same files
    for (const QString& f : files) {
        const QString name = f.mid(4).chopped(5);
        const auto it = expected.find(name);
        ASSERT_NE(it, expected.end()) << f.toStdString();
        const auto [code, out] =
            run({"import", sourceDir() + kCorpus + f, "--store", empty.connectionString()});
        EXPECT_EQ(code, 1) << f.toStdString();
        EXPECT_TRUE(out.contains(f + ": " + it->second)) << f.toStdString() << ": " << out.toStdString();
        for (const char* t : {"qx_Name", "qx_user", "qx_user_qx", "qx_user_zu", "qx_zu"})
            EXPECT_EQ(rows(*cn, t), 0) << f.toStdString() << " wrote into " << t;
    }
    // The complete file: what it says is what the store holds, and it exports back as it came.
    auto full = filled(GetParam());
    auto fcn = openConnection(full->connectionString());
    EXPECT_TRUE(checkStore(*fcn).clean()) << violations(checkStore(*fcn)).toStdString();
    EXPECT_EQ(scalar(*fcn, "select userPwd from qx_user where userID = 'alice'"),
              "7F859864A360AC80B24FAE759B");
    EXPECT_EQ(scalar(*fcn, "select Allow from qx_user where userID = 'bob'").trimmed(), "F");
    EXPECT_EQ(scalar(*fcn, "select AllowZekou from qx_user where userID = 'bob'"), "100");
    EXPECT_EQ(scalar(*fcn, "select zuid from qx_user where userID = 'alice'"), "1001");
    QTemporaryDir dir;
    const QString a = dir.path() + "/a.json", b = dir.path() + "/b.json";
    EXPECT_EQ(run({"export", a, "--store", full->connectionString()}).first, 0);
    TempStore again(GetParam());
    EXPECT_EQ(run({"import", a, "--store", again.connectionString()}).first, 0);
    EXPECT_EQ(run({"export", b, "--store", again.connectionString()}).first, 0);
    QFile fa(a), fb(b);
    ASSERT_TRUE(fa.open(QIODevice::ReadOnly) && fb.open(QIODevice::ReadOnly));
    EXPECT_EQ(fa.readAll(), fb.readAll());
}

// Each fault that keeps a store from being exported is one the doctor reports, in the same
// words; the one with an unambiguous mend is repaired, and the store then exports.
TEST_P(Transfer, TheDoctorReportsEveryStoreThatExportRefuses) {
    const struct {
        const char* fault;
        const char* sql;
        const char* finding;
    } cases[] = {
        {"member of a missing user group", "UPDATE qx_user SET zuid = 1005 WHERE userID = 'alice'",
         "user 'alice' is a member of user group number 5, which does not exist"},
        {"two user groups share a number", "UPDATE qx_user SET zuid = 1 WHERE userID = 'ops'",
         "user groups 'sales', 'ops' share the number 1"},
        {"zuid 5000", "UPDATE qx_user SET zuid = 5000 WHERE userID = 'alice'",
         "qx_user row 'alice' has the user-group code 5000"},
        {"zuid 10001", "UPDATE qx_user SET zuid = 10001 WHERE userID = 'bob'",
         "qx_user row 'bob' has the user-group code 10001"},
        {"an item without a number", "INSERT INTO qx_Name (qxID, qxName) VALUES (NULL, 'nameless')",
         "qx_Name row without a number (name 'nameless')"},
        {"a date without leading zeros", "UPDATE qx_user SET startTime = '2026-1-5' WHERE userID = 'bob'",
         "qx_user row 'bob': startTime \"2026-1-5\" is no date"},
        {"a discount above 100", "UPDATE qx_user SET AllowZekou = 101 WHERE userID = 'bob'",
         "qx_user row 'bob': AllowZekou 101 is not a whole number from 0 to 100"},
        {"a password that is no cipher text", "UPDATE qx_user SET userPwd = 'secret' WHERE userID = 'alice'",
         "qx_user row 'alice': userPwd is no cipher text"},
        {"one item number twice", "INSERT INTO qx_Name (qxID, qxName) VALUES (1001, 'Print invoices')",
         "item 1001 is listed 2 times in qx_Name"},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        auto s = filled(GetParam());
        auto cn = openConnection(s->connectionString());
        cn->execute(c.sql);
        EXPECT_TRUE(violations(checkStore(*cn)).contains(c.finding))
            << violations(checkStore(*cn)).toStdString();
        const auto [code, out] = run({"export", dir.path() + "/x.json", "--store", s->connectionString()});
        EXPECT_EQ(code, 1);
        EXPECT_TRUE(out.contains(c.finding)) << out.toStdString();
    }
    // An item listed twice under one name is one item: the repair keeps one row.
    auto s = filled(GetParam());
    auto cn = openConnection(s->connectionString());
    cn->execute("INSERT INTO qx_Name (qxID, qxName) VALUES (1001, 'Print invoices')");
    EXPECT_EQ(run({"doctor", s->connectionString(), "--repair"}).first, 0);
    EXPECT_TRUE(checkStore(*cn).clean()) << violations(checkStore(*cn)).toStdString();
    EXPECT_EQ(scalar(*cn, "select count(*) from qx_Name where qxID = 1001"), "1");
    EXPECT_EQ(run({"export", dir.path() + "/x.json", "--store", s->connectionString()}).first, 0);
}

// Values a SQLite file can hold that the store's columns cannot: the copy names the table, row
// and column, and the destination stays empty, whatever its kind.
TEST_P(Transfer, CopyCarriesEveryValueExactlyOrRefusesNamingIt) {
    const struct {
        const char* sql;
        const char* message;
    } cases[] = {
        {"UPDATE qx_user SET userName = CAST(X'61FF62' AS TEXT) WHERE userID = 'bob'",
         "qx_user row 4, column userName: the bytes 61 ff 62 are no UTF-8 text"},
        {"UPDATE qx_user SET userName = CAST(X'61FE62' AS TEXT) WHERE userID = 'bob'",
         "qx_user row 4, column userName: the bytes 61 fe 62 are no UTF-8 text"},
        {"UPDATE qx_Name SET qxName = CAST(X'D6D0CEC4' AS TEXT) WHERE qxID = 1001", // GBK 中文
         "qx_Name row 2, column qxName: the bytes d6 d0 ce c4 are no UTF-8 text"},
        {"UPDATE qx_Name SET qxID = 2.5 WHERE qxID = 7",
         "qx_Name row 3, column qxID: a real (2.5) in an integer column"},
        {"UPDATE qx_user SET zuid = 'abc' WHERE userID = 'bob'",
         "qx_user row 4, column zuid: a text (abc) in an integer column"},
        {"UPDATE qx_user SET AllowZekou = 7.9 WHERE userID = 'bob'",
         "qx_user row 4, column AllowZekou: a real (7.9) in an integer column"},
        {"UPDATE qx_user SET userPwd = X'00FF' WHERE userID = 'alice'",
         "qx_user row 3, column userPwd: a blob (X'00ff') in a text column"},
    };
    TempStore dst(GetParam());
    auto d = openConnection(dst.connectionString());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        auto src = filled(Backend::SQLite);
        openConnection(src->connectionString())->execute(c.sql);
        const auto [code, out] = run({"copy", src->connectionString(), dst.connectionString()});
        EXPECT_EQ(code, 1);
        EXPECT_TRUE(out.contains(c.message)) << out.toStdString();
        EXPECT_EQ(rows(*d, "qx_user") + rows(*d, "qx_Name"), 0);
    }
    // A store of values the columns hold copies, and reads back byte for byte.
    auto src = filled(Backend::SQLite);
    openConnection(src->connectionString())
        ->execute(QString::fromUtf8(
            "UPDATE qx_user SET userName = '\xEF\xBB\xBFO''Brien 中文 \\' WHERE userID = 'bob'"));
    const auto [code, out] = run({"copy", src->connectionString(), dst.connectionString()});
    ASSERT_EQ(code, 0) << out.toStdString();
    const QString bytes =
        GetParam() == Backend::SQLite
            ? "select lower(hex(userName)) from qx_user where userID = 'bob'"
            : "select encode(convert_to(userName, 'UTF8'), 'hex') from qx_user where userID = 'bob'";
    EXPECT_EQ(scalar(*d, bytes), QByteArray("\xEF\xBB\xBFO'Brien 中文 \\").toHex());
}

// The source is read in one read transaction: a writer holding SQLite's write lock does not stop
// the copy (nor the copy a writer), and on a server every table is read from one snapshot, so
// rows committed while the copy runs are in no table of it.
TEST_P(Transfer, CopyReadsTheSourceInOneSnapshotWithoutItsWriteLock) {
    auto src = filled(GetParam());
    TempStore dst(Backend::SQLite);
    auto writer = openConnection(src->connectionString());
    auto d = openConnection(dst.connectionString());
    const QString late = "INSERT INTO qx_Logs VALUES ('pc', 'late', '2026-06-01 08:00:00', 'late')";
    if (GetParam() == Backend::SQLite) {
        writer->beginTrans(); // the write lock, as a desktop writing its audit row holds it
        writer->execute(late);
        const auto [code, out] = run({"copy", src->connectionString(), dst.connectionString()});
        EXPECT_EQ(code, 0) << out.toStdString();
        writer->rollbackTrans();
    } else {
        // The copy waits for the last table it reads while rows are committed to two tables.
        writer->beginTrans();
        writer->execute("LOCK TABLE qx_Logs IN ACCESS EXCLUSIVE MODE");
        QProcess copy;
        startCli(copy, {"copy", src->connectionString(), dst.connectionString()});
        auto watcher = openConnection(src->connectionString());
        const QString waiting = "select count(*) from pg_locks l join pg_class c on c.oid = l.relation "
                                "where c.relname = 'qx_logs' and not l.granted";
        for (int i = 0; i < 1200 && copy.state() == QProcess::Running && scalarInt(*watcher, waiting) == 0;
             ++i)
            QThread::msleep(50);
        ASSERT_EQ(copy.state(), QProcess::Running) << copy.readAllStandardError().toStdString();
        writer->execute("INSERT INTO qx_user (zuid, userID, userName) VALUES (3, 'late', 'late')");
        writer->execute(late);
        writer->commitTrans();
        ASSERT_TRUE(copy.waitForFinished(120000));
        EXPECT_EQ(copy.exitCode(), 0) << copy.readAllStandardError().toStdString();
        EXPECT_EQ(scalarInt(*d, "select count(*) from qx_user where userID = 'late'"), 0);
    }
    EXPECT_EQ(scalarInt(*d, "select count(*) from qx_Logs where theLog = 'late'"), 0);
    EXPECT_EQ(rows(*d, "qx_user"), 4);
}

INSTANTIATE_TEST_SUITE_P(Backends, Transfer, VARDEX_BACKEND_PARAMS);
