// vardex-cli and the C example, run as a user would run them from a shell.
#include "cli/cli.h"
#include "library/cipher.h"
#include "store/storeblob.h"
#include "tests/support/testsupport.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace vardex;
using namespace vardex::test;

namespace {

struct ProcessResult {
    int exitCode = -1;
    QString out, err;
};

ProcessResult run(const QString& program, const QStringList& args, const QByteArray& input = QByteArray(),
                  bool withoutDisplay = false) {
    QProcess p;
    if (withoutDisplay) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("QT_QPA_PLATFORM");
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        p.setProcessEnvironment(env);
    }
    p.start(binDir() + "/" + program, args);
    EXPECT_TRUE(p.waitForStarted(10000)) << program.toStdString();
    p.write(input);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(60000));
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

} // namespace

class Cli : public ::testing::TestWithParam<Backend> {
  protected:
    void SetUp() override { db = std::make_unique<TempDatabase>(GetParam()); }
    std::unique_ptr<TempDatabase> db;
};

TEST_P(Cli, InstallThenSessionThenInstallAgain) {
    const QString cs = db->connectionString();
    ProcessResult r = run("vardex-cli", {"install", cs});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("The tables have been installed.")) << r.out.toStdString(); // the C locale

    r = run("vardex-cli", {"session", cs},
            "ClearLogs \"\"\nClearLogs NULL\n# a comment\n\nCheckUserRight \"x\" 1 \"\" 0\n");
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "0\n0\n1\n");

    auto cn = openConnection(cs);
    cn->execute("INSERT INTO qx_Logs VALUES ('pc','u','2020-01-01 00:00:00','x')");
    r = run("vardex-cli", {"install", cs});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains("possibly because a table of that name already exists"))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("batch 1"));
    EXPECT_EQ(scalarInt(*cn, "select count(*) from qx_Logs"), 1); // nothing changed
}

// A user whose password was enciphered under the host's key box ("KMPQ") answers 3 to a session
// on the library's default key; the session says which key would verify it, and only then.
TEST_P(Cli, WrongPasswordUnderTheOtherDefaultKeyNamesThatKey) {
    const QString cs = db->connectionString();
    ASSERT_EQ(run("vardex-cli", {"install", cs}).exitCode, 0);
    auto cn = openConnection(cs);
    cn->execute(
        QString("INSERT INTO qx_user (userID, userName, userPwd, startTime, endTime, Allow, zuid) VALUES "
                "('clerk', 'Clerk', '%1', '2000-01-01', '2099-12-31', 'T', 10000)")
            .arg(EncryptPassword("secret1", "KMPQ")));
    const QByteArray calls =
        "CheckUserLogin \"clerk\" \"secret1\" \"\" \"\" 0\nCheckUserLogin \"clerk\" \"other\" \"\" \"\" 0\n";
    ProcessResult r = run("vardex-cli", {"session", cs}, calls);
    EXPECT_EQ(r.out, "3\n3\n");
    EXPECT_EQ(r.err.count("pass --key KMPQ"), 1) << r.err.toStdString();
    r = run("vardex-cli", {"session", cs, "--key", "KMPQ"}, calls);
    EXPECT_EQ(r.out, "0\n3\n");
    EXPECT_FALSE(r.err.contains("--key")) << r.err.toStdString();
}

TEST_P(Cli, SessionReportsBadLinesAndErrors) {
    const QString cs = db->connectionString();
    ASSERT_EQ(run("vardex-cli", {"install", cs}).exitCode, 0);
    const ProcessResult r = run("vardex-cli", {"session", cs},
                                "NoSuchCall\nClearLogs\nCheckUserRight \"x\" one \"\" 0\nClearLogs \"open\n"
                                "CheckUserLogin \"a\\\"b\" \"\" \"\" NULL 0\n");
    EXPECT_EQ(r.exitCode, 1);
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 5) << r.out.toStdString();
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(lines[i].startsWith("error: ")) << lines[i].toStdString();
    EXPECT_EQ(lines[4], "4");
}

TEST_P(Cli, ConnectFailureAndUsage) {
    // The reason the connection failed is said, not only its code.
    const ProcessResult missing =
        run("vardex-cli", {"session", "Provider=SQLite;Data Source=/nonexistent-dir/q/x.db"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(missing.err.contains("ConnectDatabase returned 1: ") && missing.err.contains("x.db"))
        << missing.err.toStdString();
    EXPECT_EQ(run("vardex-cli", {"install"}).exitCode, 2);
    EXPECT_EQ(run("vardex-cli", {"frobnicate", db->connectionString()}).exitCode, 2);
}

TEST_P(Cli, TheCExampleVerifiesALoginAndARight) {
    const QString cs = db->connectionString();
    ASSERT_EQ(run("vardex-cli", {"install", cs}).exitCode, 0);
    auto cn = openConnection(cs);
    cn->execute("INSERT INTO qx_Name (qxID, qxName) VALUES (7, 'export')");
    cn->execute(
        "INSERT INTO qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou, zuid) VALUES "
        "('clerk', 'Clerk', '" +
        EncryptPassword("secret", "kmpq") + "', '2000-01-01', '2099-12-31', 'T', 0, 10000)");
    cn->execute("Exec qxAddUser 'clerk'");
    cn->execute("Exec qxAddzuName 'sales'");
    cn->execute("Exec qxUpDateAllows 'sales',7,'T'");

    ProcessResult r = run("login_check", {cs, "clerk", "secret", "7"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "login clerk: 0 (verified)\nright 7: 3 (not granted)\n");
    cn->execute("Exec qx_user_zu_changed 'clerk','sales','T'");
    r = run("login_check", {cs, "clerk", "secret", "7"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "login clerk: 0 (verified)\nright 7: 0 (granted)\n");
    r = run("login_check", {cs, "clerk", "wrong", "7"});
    EXPECT_EQ(r.out, "login clerk: 3 (wrong password)\nright 7: 0 (granted)\n");
    // login, right use, logout, login, right use, logout
    EXPECT_EQ(scalarInt(*cn, QString::fromUtf8("select count(*) from qx_Logs where theLog = '用户登录'")), 2);
    EXPECT_EQ(
        scalarInt(*cn, QString::fromUtf8("select count(*) from qx_Logs where theLog = '使用权限(export)'")),
        2);
}

TEST_P(Cli, WithoutADisplayBoxesGoToStandardErrorAndTheCallGoesOn) {
    const QString cs = db->connectionString();
    ASSERT_EQ(run("vardex-cli", {"install", cs}).exitCode, 0);
    const ProcessResult r = run(
        "vardex-cli", {"session", cs},
        "CheckUserLogin \"nobody\" \"\" \"\" \"\" 2\nCheckUserRight \"nobody\" 5 \"x\" 2\nShowAbout\n", true);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "4\n1\n0\n");
    EXPECT_TRUE(r.err.contains(QString::fromUtf8("[用户登录] 无此用户! 登录不成功, 请与系统管理员联系.")));
    EXPECT_TRUE(r.err.contains(QString::fromUtf8("[用户权限] 权限没有定义(5 x)")));
    EXPECT_TRUE(r.err.contains(QString::fromUtf8("[关于权限管理应用工具]")));
}

TEST_P(Cli, SessionRefusesNumbersBeyond32BitsAndLinesHoldingANul) {
    const QString cs = db->connectionString();
    ASSERT_EQ(run("vardex-cli", {"install", cs}).exitCode, 0);
    auto cn = openConnection(cs);
    cn->execute("INSERT INTO qx_Name (qxID, qxName) VALUES (1, 'one')");
    cn->execute(
        "Insert qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou,zuid) VALUES "
        "('alice','alice','','2000-01-01','2099-12-31','T',0,10000)");
    cn->execute("Exec qxAddUser 'alice'");
    cn->execute("Exec qxAddzuName 'g'");
    cn->execute("Exec qxUpDateAllows 'g',1,'T'");
    cn->execute("Exec qx_user_zu_changed 'alice','g','T'");
    // 4294967297 is item 1 once wrapped; "alice\0x" is alice to a C string.
    QByteArray input("CheckUserRight \"alice\" 4294967297 \"\" 0\n"
                     "CheckUserRight \"alice\" -2147483649 \"\" 0\n"
                     "CheckUserRight \"alice\" 2147483647 \"\" 0\n"
                     "CheckUserRight \"alice");
    input += '\0';
    input += "x\" 1 \"\" 0\nCheckUserRight \"alice\" 1 \"\" 0\n";
    const ProcessResult r = run("vardex-cli", {"session", cs}, input);
    EXPECT_EQ(r.exitCode, 1);
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 5) << r.out.toStdString();
    EXPECT_TRUE(lines[0].startsWith("error: ") && lines[0].contains("32 bits")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith("error: "));
    EXPECT_FALSE(lines[2].startsWith("error") || lines[2] == "0")
        << lines[2].toStdString(); // in range: no such item
    EXPECT_EQ(lines[3], "error: the line holds a NUL byte");
    EXPECT_EQ(lines[4], "0");
    EXPECT_EQ(scalarInt(*cn, "select count(*) from qx_Logs where theLog like '%one%'"),
              1); // only the last call
}

TEST_P(Cli, APasswordFileThatCannotBeReadIsAnErrorNotAnEmptyPassword) {
    const ProcessResult r = run("vardex-cli", {"install", db->connectionString(), "--user", "u",
                                               "--password-file", "/nonexistent/pw"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("cannot read the password file /nonexistent/pw")) << r.err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Backends, Cli, VARDEX_BACKEND_PARAMS);

// The installation scripts travel in the core library; a copy of it whose blob is damaged
// makes install report the damage on a line of its own instead of aborting.
TEST(CliInstall, ADamagedScriptBlobIsAnErrorLine) {
    QFile lib(binDir() + "/libvardexcore.so.0");
    ASSERT_TRUE(lib.open(QIODevice::ReadOnly));
    QByteArray bytes = lib.readAll();
    const QByteArray blob = storedScripts();
    const qsizetype at = bytes.indexOf(blob.left(256));
    ASSERT_GE(at, 0);
    ASSERT_EQ(bytes.indexOf(blob.left(256), at + 1), -1);
    const qint32 count = 100000; // far more files than the blob holds
    bytes.replace(at, 4, QByteArray(reinterpret_cast<const char*>(&count), 4));
    QTemporaryDir dir;
    QFile copy(dir.path() + "/libvardexcore.so.0");
    ASSERT_TRUE(copy.open(QIODevice::WriteOnly));
    copy.write(bytes);
    copy.close();
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LD_LIBRARY_PATH", dir.path());
    p.setProcessEnvironment(env);
    p.start(binDir() + "/vardex-cli", {"install", "Provider=SQLite;Data Source=" + dir.path() + "/s.db"});
    ASSERT_TRUE(p.waitForFinished(60000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_TRUE(err.contains("the stored script cannot be read: StoredData header: Count 100000"))
        << err.toStdString();
}

// The trace's masking, form by form: what sets, compares or inserts a userPwd value hides it;
// quoted text that only looks like one is left as it is.
TEST(CliTrace, EveryFormOfAPasswordValueIsMasked) {
    const struct {
        QString in, out;
    } cases[] = {
        {"Update qx_user set userPwd = 'B946C65ABD48D1' where userID = 'a'",
         "Update qx_user set userPwd = '***' where userID = 'a'"},
        {"update qx_user set USERPWD='B9''46' where userID='a'",
         "update qx_user set USERPWD='***' where userID='a'"},
        {"update qx_user set [userPwd] = N'x', \"userpwd\"='y', qx_user.userPwd = 'z'",
         "update qx_user set [userPwd] = N'***', \"userpwd\"='***', qx_user.userPwd = '***'"},
        {"select * from qx_user where userPwd = 'AB' -- userPwd = 'CD'\r\n",
         "select * from qx_user where userPwd = '***' -- userPwd = 'CD'\r\n"},
        {"Insert qx_user (userID, userName, userPwd, startTime) VALUES ('a','b','0102','2026-01-01')",
         "Insert qx_user (userID, userName, userPwd, startTime) VALUES ('a','b','***','2026-01-01')"},
        {"INSERT INTO qx_user (userID,userPwd,zuid) VALUES ('a','01',1),('b','',2), ('c', NULL, "
         "3),('d','02',4)",
         "INSERT INTO qx_user (userID,userPwd,zuid) VALUES ('a','***',1),('b','',2), ('c', NULL, "
         "3),('d','***',4)"},
        {"Insert qx_user (userID, userName, userPwd) VALUES ('it''s, (x)','b','0102')",
         "Insert qx_user (userID, userName, userPwd) VALUES ('it''s, (x)','b','***')"},
        // Text that only looks like a password's column or value.
        {"Update qx_user Set userName = 'userPwd = ''x''' where userID = 'userPwd'",
         "Update qx_user Set userName = 'userPwd = ''x''' where userID = 'userPwd'"},
        {"Insert qx_user (userID, userName) VALUES ('userPwd','x')",
         "Insert qx_user (userID, userName) VALUES ('userPwd','x')"},
        {"Update qx_user Set userPwd = '',startTime = '2026-01-01'",
         "Update qx_user Set userPwd = '',startTime = '2026-01-01'"},
        {"Exec qxAddUser 'userPwd'", "Exec qxAddUser 'userPwd'"},
        {"update t set userPwd = 'unterminated", "update t set userPwd = '***'"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(vardex::cli::maskPasswords(c.in), c.out) << c.in.toStdString();
}
