// The store's password policy on every kind of store: bcrypt hashes that the system's crypt
// library and the server's pgcrypto verify, the upgrade of cipher rows at login, the lockout
// counted in the store (also by many processes at once), the least length (answer 7), and the
// verbs that add the policy's tables to an older store.
#include "capi/vardex.h"
#include "library/cipher.h"
#include "library/dmain.h"
#include "library/installer.h"
#include "platform/passwordhash.h"
#include "tests/support/testsupport.h"

#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <crypt.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

using namespace vardex;
using namespace vardex::test;

namespace {

const char* const kDay = "2026-06-15";

std::string local(const QString& s) {
    return s.toLocal8Bit().toStdString();
}

// The system's crypt library, called directly: what a hash says about password.
bool cryptVerifies(const QString& password, const QString& hash) {
    crypt_data data;
    std::memset(&data, 0, sizeof data);
    const char* out = crypt_r(password.toUtf8().constData(), hash.toLatin1().constData(), &data);
    return out && QString::fromLatin1(out) == hash;
}

} // namespace

class Passwords : public ::testing::TestWithParam<Backend> {
  protected:
    void SetUp() override {
        store = std::make_unique<TempStore>(GetParam());
        db = openConnection(store->connectionString());
        conn = local(store->connectionString());
        session() = SessionValues();
    }
    void TearDown() override {
        if (hasDataModule()) {
            session().CurrentUserName.clear();
            vardex::DisconnectDatabase();
        }
        session() = SessionValues();
    }
    bool server() const { return GetParam() != Backend::SQLite; }
    void addUser(const QString& id, const QString& password) {
        db->execute(
            "INSERT INTO qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou, zuid) "
            "VALUES ('" +
            id + "', 'N" + id + "', '" + EncryptPassword(password, "kmpq") +
            "', '2026-01-01', '2026-12-31', 'T', 0, 10000)");
        db->execute("Exec qxAddUser '" + id + "'");
    }
    void set(const QString& name, const QString& value) {
        db->execute("update vardex_settings set value = '" + value + "' where name = '" + name + "'");
    }
    int connect() { return ::ConnectDatabase(conn.c_str(), "", "", kDay, ""); }
    int login(const char* id, const char* password, int mode = VARDEX_SHOW_NOTHING) {
        return ::CheckUserLogin(id, password, kDay, nullptr, mode);
    }
    QString stored(const QString& id) {
        return scalar(*db, "select userPwd from qx_user where userID = '" + id + "'");
    }
    int logRows(const char* text) {
        return scalarInt(*db,
                         "select count(*) from qx_Logs where theLog = '" + QString::fromUtf8(text) + "'");
    }
    int failures(const QString& id) {
        return scalarInt(*db, "select failures from vardex_lockout where userID = '" + id + "'");
    }
    std::unique_ptr<TempStore> store;
    std::unique_ptr<AdoConnection> db;
    std::string conn;
};

TEST_P(Passwords, HashesVerifyInTheLibraryTheCryptLibraryAndPgcrypto) {
    addUser("alice", "old");
    set("password.hash", "bcrypt");
    ASSERT_EQ(connect(), VARDEX_OK) << VardexLastError();
    const char* typed = "pässwörd€密";
    ASSERT_EQ(::ChangeUserPassword("alice", "old", typed, kDay), VARDEX_OK) << VardexLastError();
    const QString hash = stored("alice");
    EXPECT_TRUE(QRegularExpression(R"(^\$2a\$10\$[./A-Za-z0-9]{53}$)").match(hash).hasMatch()) << local(hash);
    EXPECT_TRUE(cryptVerifies(QString::fromUtf8(typed), hash));
    EXPECT_EQ(login("alice", typed), VARDEX_OK);
    EXPECT_EQ(login("alice", "old"), VARDEX_LOGIN_WRONG_PASSWORD);
    EXPECT_EQ(login("nobody", typed), VARDEX_LOGIN_NO_USER);
    if (!server())
        return;
    db->execute("create extension if not exists pgcrypto");
    const QString check =
        "select count(*) from qx_user where userID = 'alice' and crypt('%1', userPwd) = userPwd";
    EXPECT_EQ(scalarInt(*db, check.arg(QString::fromUtf8(typed))), 1);
    EXPECT_EQ(scalarInt(*db, check.arg("old")), 0);
    // And the other way: a hash the server makes logs in through the library.
    db->execute("update qx_user set userPwd = crypt('srv', gen_salt('bf', 10)) where userID = 'alice'");
    EXPECT_EQ(login("alice", "srv"), VARDEX_OK);
}

TEST_P(Passwords, CipherRowsBecomeHashesAtLoginAndTheDefaultPolicySendsNothingMore) {
    addUser("alice", "pw");
    addUser("bob", "pw2");
    // Under the default policy a login sends the one select it always sent, and nothing changes.
    ASSERT_EQ(connect(), VARDEX_OK) << VardexLastError();
    dataModule().ADOcn.setLogging(true);
    EXPECT_EQ(login("alice", "bad"), VARDEX_LOGIN_WRONG_PASSWORD);
    EXPECT_EQ(login("nobody", "pw"), VARDEX_LOGIN_NO_USER);
    for (const QString& sql : dataModule().ADOcn.statementLog())
        EXPECT_FALSE(sql.contains("vardex_")) << local(sql);
    EXPECT_EQ(dataModule().ADOcn.statementLog().size(), 2);
    EXPECT_EQ(login("alice", "pw"), VARDEX_OK);
    EXPECT_FALSE(isPasswordHash(stored("alice")));
    ::DisconnectDatabase();

    set("password.hash", "bcrypt");
    ASSERT_EQ(connect(), VARDEX_OK) << VardexLastError();
    EXPECT_EQ(login("alice", "bad"), VARDEX_LOGIN_WRONG_PASSWORD);
    EXPECT_FALSE(isPasswordHash(stored("alice"))); // a wrong password changes nothing
    EXPECT_EQ(login("alice", "pw"), VARDEX_OK);
    EXPECT_TRUE(isPasswordHash(stored("alice")));
    EXPECT_EQ(login("alice", "pw"), VARDEX_OK);
    // The verification of a password change leaves the row to the change itself.
    EXPECT_EQ(::ChangeUserPassword("bob", "pw2", "pw2", kDay), VARDEX_PASSWORD_SAME);
    EXPECT_FALSE(isPasswordHash(stored("bob")));
}

TEST_P(Passwords, WrongPasswordsLockUntilTheLockRunsOutOrIsLifted) {
    addUser("alice", "pw");
    set("lockout.failures", "3");
    ASSERT_EQ(connect(), VARDEX_OK) << VardexLastError();
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(login("alice", "bad"), VARDEX_LOGIN_WRONG_PASSWORD) << i;
        EXPECT_EQ(failures("alice"), i);
    }
    EXPECT_EQ(logRows("账号锁定"), 1);
    EXPECT_EQ(
        scalar(*db, "select userName from qx_Logs where theLog = '" + QString::fromUtf8("账号锁定") + "'"),
        "Nalice");
    {
        MessageRecorder boxes;
        EXPECT_EQ(login("alice", "pw", VARDEX_SHOW_BUILTIN), VARDEX_LOGIN_DISABLED);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].text, login::builtInText(login::Disabled));
    }
    EXPECT_EQ(login("alice", "bad"), VARDEX_LOGIN_DISABLED); // not counted while locked
    EXPECT_EQ(failures("alice"), 3);
    EXPECT_EQ(::ChangeUserPassword("alice", "pw", "new", kDay), VARDEX_LOGIN_DISABLED);

    // The lock runs out on the database's clock; the count then starts again.
    db->execute("update vardex_lockout set lastFailure = '2000-01-01 00:00:00'");
    EXPECT_EQ(login("alice", "bad"), VARDEX_LOGIN_WRONG_PASSWORD);
    EXPECT_EQ(failures("alice"), 1);
    EXPECT_EQ(login("alice", "pw"), VARDEX_OK); // a success forgets the count
    EXPECT_EQ(scalarInt(*db, "select count(*) from vardex_lockout"), 0);

    for (int i = 0; i < 3; ++i)
        login("alice", "bad");
    EXPECT_TRUE(UnlockUser("alice", "Nalice"));
    EXPECT_FALSE(UnlockUser("alice", "Nalice")); // nothing left to lift: no second audit row
    EXPECT_EQ(logRows("账号解锁"), 1);
    EXPECT_EQ(login("alice", "pw"), VARDEX_OK);
    EXPECT_EQ(logRows("账号锁定"), 2);
}

// With audit.failures on, each refused login writes a row naming its reason under the user ID as
// typed, cut to the column (whole characters); with it off, the default, none.
TEST_P(Passwords, RefusedLoginsAreOnRecordWhenThePolicyAsks) {
    addUser("alice", "pw");
    set("lockout.failures", "2");
    ASSERT_EQ(connect(), VARDEX_OK) << VardexLastError();
    EXPECT_EQ(login("alice", "bad"), VARDEX_LOGIN_WRONG_PASSWORD);
    EXPECT_EQ(login("nobody", "x"), VARDEX_LOGIN_NO_USER);
    EXPECT_EQ(scalarInt(*db, "select count(*) from qx_Logs"), 0);
    ::DisconnectDatabase();
    db->execute("delete from vardex_lockout");

    set("audit.failures", "on");
    ASSERT_EQ(connect(), VARDEX_OK) << VardexLastError();
    const QString cat = QString::fromUtf8("猫");
    EXPECT_EQ(login((cat.repeated(19) + "'\\x").toUtf8().constData(), "x"), VARDEX_LOGIN_NO_USER)
        << VardexLastError();
    EXPECT_EQ(login("alice", "bad"), VARDEX_LOGIN_WRONG_PASSWORD);
    EXPECT_EQ(login("alice", "bad"), VARDEX_LOGIN_WRONG_PASSWORD); // the lock
    EXPECT_EQ(login("alice", "pw"), VARDEX_LOGIN_DISABLED);
    EXPECT_EQ(::ChangeUserPassword("alice", "pw", "new", kDay), VARDEX_LOGIN_DISABLED);
    QStringList rows;
    AdoQuery q(db.get(), "select userName, theLog from qx_Logs");
    q.open();
    for (q.first(); !q.eof(); q.next())
        rows << q.fieldByName("userName").asString() + '|' + q.fieldByName("theLog").asString();
    rows.sort();
    EXPECT_EQ(rows, (QStringList{"Nalice|账号锁定", "alice|登录失败(密码错误)", "alice|登录失败(密码错误)",
                                 "alice|登录失败(账号锁定)", "alice|登录失败(账号锁定)",
                                 cat.repeated(19) + "'|登录失败(无此用户)"}))
        << local(rows.join('\n'));
}

TEST_P(Passwords, ANewPasswordShorterThanTheLeastLengthAnswersSeven) {
    addUser("alice", "pw");
    set("password.minlength", "6");
    ASSERT_EQ(connect(), VARDEX_OK) << VardexLastError();
    const struct {
        const char* newPassword;
        int answer;
    } cases[] = {{"", VARDEX_PASSWORD_POLICY},
                 {"abcde", VARDEX_PASSWORD_POLICY},
                 {"密码密码密", VARDEX_PASSWORD_POLICY}, // 15 bytes, 5 characters
                 {"密码密码密码", VARDEX_OK},
                 {"abcdefg", VARDEX_OK}};
    QString old = "pw";
    for (const auto& c : cases) {
        const QString before = stored("alice");
        EXPECT_EQ(::ChangeUserPassword("alice", local(old).c_str(), c.newPassword, kDay), c.answer)
            << c.newPassword;
        if (c.answer == VARDEX_OK)
            old = QString::fromUtf8(c.newPassword);
        else
            EXPECT_EQ(stored("alice"), before) << c.newPassword;
    }
    EXPECT_EQ(login("alice", "abcdefg"), VARDEX_OK);
}

TEST_P(Passwords, APolicyValueOutOfRangeFailsTheConnectionNamingIt) {
    const struct {
        const char* name;
        const char* value;
    } cases[] = {{"password.hash", "sha1"},    {"password.cost", "9"},       {"password.cost", "16"},
                 {"lockout.failures", "-1"},   {"lockout.failures", "1001"}, {"lockout.minutes", "0"},
                 {"password.minlength", "50"}, {"password.minlength", " 5"}};
    for (const auto& c : cases) {
        db->execute("delete from vardex_settings");
        db->execute(
            QString("insert into vardex_settings (name, value) values ('%1', '%2')").arg(c.name, c.value));
        EXPECT_EQ(connect(), VARDEX_CONNECT_FAILED) << c.name << "=" << c.value;
        EXPECT_NE(std::strstr(VardexLastError(), c.name), nullptr) << VardexLastError();
    }
    // A store without the settings table reads as the defaults.
    db->execute("drop table vardex_settings");
    ASSERT_EQ(connect(), VARDEX_OK) << VardexLastError();
}

TEST_P(Passwords, UpgradeAddsThePolicyTablesToAStoreOfTheFirstReleases) {
    // A store of the releases before the policy, which records no version.
    db->execute("drop table vardex_settings");
    db->execute("drop table vardex_lockout");
    db->execute("drop table vardex_meta");
    const auto upgrade = [&] {
        QProcess cli;
        cli.start(binDir() + "/vardex-cli", {"upgrade", store->connectionString()});
        EXPECT_TRUE(cli.waitForFinished(60000));
        EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
        return QString::fromLocal8Bit(cli.readAllStandardOutput());
    };
    EXPECT_TRUE(upgrade().contains("/0002-password-policy.sql\n"));
    EXPECT_EQ(scalarInt(*db, "select count(*) from vardex_settings"), 6);
    EXPECT_EQ(connect(), VARDEX_OK) << VardexLastError();
    // A missing row reads as its default: a current store's upgrade changes nothing.
    set("lockout.failures", "4");
    db->execute("delete from vardex_settings where name = 'password.cost'");
    EXPECT_EQ(upgrade(), QString("the store is at version %1\n").arg(newestStoreVersion(db->dialect())));
    EXPECT_EQ(scalar(*db, "select value from vardex_settings where name = 'lockout.failures'"), "4");
    EXPECT_EQ(scalarInt(*db, "select count(*) from vardex_settings"), 5);
}

INSTANTIATE_TEST_SUITE_P(Store, Passwords, VARDEX_BACKEND_PARAMS);

// Twenty desktops (processes: the library keeps one session per process) guess a wrong password
// for the same user at once under a limit of five, against a bcrypt hash (a verification long
// enough for the guesses to overlap): exactly five guesses are verified (each counted once), the
// rest are refused as locked, and the lock is written once.
class ManyWrongPasswords : public ::testing::TestWithParam<Backend> {};

TEST_P(ManyWrongPasswords, TwentyProcessesGetNoMoreThanTheLimitVerified) {
    const int processes = 20, limit = 5;
    TempStore store(GetParam());
    auto db = openConnection(store.connectionString());
    db->execute(
        "INSERT INTO qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou, zuid) "
        "VALUES ('u1', 'user1', '" +
        hashPassword("pw", 10) + "', '2026-01-01', '2026-12-31', 'T', 0, 10000)");
    db->execute(
        QString("update vardex_settings set value = '%1' where name = 'lockout.failures'").arg(limit));
    db->execute("update vardex_settings set value = 'bcrypt' where name = 'password.hash'");
    const std::vector<QStringList> args(processes, {"login", store.connectionString(), "u1", "wrong"});
    const auto workers = startWorkersTogether(args);
    int wrong = 0, disabled = 0;
    for (auto& p : workers) {
        ASSERT_TRUE(p->waitForFinished(120000));
        const QByteArray out = p->readAllStandardOutput().trimmed();
        EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardError().toStdString();
        wrong += out == "rc=3";
        disabled += out == "rc=1";
    }
    EXPECT_EQ(wrong + disabled, processes);
    EXPECT_EQ(wrong, limit);
    EXPECT_EQ(scalarInt(*db, "select failures from vardex_lockout where userID = 'u1'"), limit);
    EXPECT_EQ(
        scalarInt(*db, "select count(*) from qx_Logs where theLog = '" + QString::fromUtf8("账号锁定") + "'"),
        1);
    ASSERT_EQ(vardex::ConnectDatabase(store.connectionString(), "", "", kDay, ""), 0);
    EXPECT_EQ(::CheckUserLogin("u1", "pw", kDay, nullptr, 0), VARDEX_LOGIN_DISABLED);
    session().CurrentUserName.clear();
    vardex::DisconnectDatabase();
}

INSTANTIATE_TEST_SUITE_P(Store, ManyWrongPasswords, ::testing::ValuesIn(serverAndFile()),
                         [](const ::testing::TestParamInfo<Backend>& info) {
                             return backendName(info.param);
                         });

namespace {

struct CliRun {
    int exitCode;
    QString out, err;
};

CliRun cli(const QStringList& args, const QString& newPassword = QString(),
           const QString& knownPassword = QString()) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("VARDEX_NEW_PASSWORD");
    env.remove("VARDEX_KNOWN_PASSWORD");
    if (!newPassword.isNull())
        env.insert("VARDEX_NEW_PASSWORD", newPassword);
    if (!knownPassword.isNull())
        env.insert("VARDEX_KNOWN_PASSWORD", knownPassword);
    p.setProcessEnvironment(env);
    p.start(binDir() + "/vardex-cli", args);
    EXPECT_TRUE(p.waitForFinished(120000));
    return {p.exitCode(), QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

} // namespace

// The key is taken only once a known user's password proves it: a wrong key under which every
// cipher text of the store reads as text (alice's, alone at first) changes nothing.
TEST_P(Passwords, PasswordsUpgradeRewritesEveryCipherTextOnlyUnderAProvenKey) {
    // Cipher texts of fixed seeds, so that what the wrong key makes of them is the same every run:
    // alice's reads as text under it, bob's does not.
    const QByteArray key = "kmpq";
    const auto cipher = [&](const char* plain, int seed) {
        return encipherBytes(toCipherBytes(plain), key, seed);
    };
    const auto add = [&](const QString& id, const QString& pwd) {
        db->execute(QString("INSERT INTO qx_user (userID, userName, userPwd, startTime, endTime, Allow, "
                            "AllowZekou, zuid) VALUES ('%1', '%1', '%2', '2026-01-01', '2026-12-31', 'T', 0, "
                            "10000)")
                        .arg(id, pwd));
    };
    add("alice", cipher("pw1", 17));
    add("carol", hashPassword("pw3", 10));
    const QString cs = store->connectionString();
    const auto upgrade = [&](const char* k, const char* user, const char* password) {
        QStringList args{"passwords", "upgrade", "--key", k, "--store", cs};
        if (user)
            args << "--known-user" << user;
        return cli(args, QString(), password ? QString::fromUtf8(password) : QString());
    };
    EXPECT_EQ(upgrade("kmpq", "alice", "pw1").exitCode, 1); // still cipher
    set("password.hash", "bcrypt");
    EXPECT_EQ(cli({"passwords", "upgrade", "--store", cs}).exitCode, 2); // the key is required
    EXPECT_EQ(upgrade("kmpq", nullptr, nullptr).exitCode, 2);            // and its proof
    const QString alone = stored("alice");
    const struct {
        const char *key, *user, *password, *reason;
    } refused[] = {
        {"KMPQ", "alice", "pw1", "does not decipher under this key to the password given"},
        {"kmpq", "alice", "pw2", "does not decipher under this key to the password given"},
        {"kmpq", "carol", "pw3", "no password held as cipher text"},
        {"kmpq", "nobody", "pw1", "no password held as cipher text"},
    };
    for (const auto& r : refused) {
        const CliRun run = upgrade(r.key, r.user, r.password);
        EXPECT_EQ(run.exitCode, 1) << r.key << " " << r.user;
        EXPECT_TRUE(run.err.contains(r.reason)) << local(run.err);
        EXPECT_EQ(stored("alice"), alone);
    }

    add("bob", cipher("密码2", 200));
    const CliRun right = upgrade("kmpq", "alice", "pw1");
    EXPECT_EQ(right.exitCode, 0) << local(right.err);
    EXPECT_EQ(right.out, "2 password(s) upgraded\n");
    EXPECT_TRUE(isPasswordHash(stored("alice")) && isPasswordHash(stored("bob")));
    ASSERT_EQ(connect(), VARDEX_OK) << VardexLastError();
    EXPECT_EQ(login("alice", "pw1"), VARDEX_OK);
    EXPECT_EQ(login("bob", "密码2"), VARDEX_OK);
    EXPECT_EQ(cli({"passwords", "upgrade", "--key", "kmpq", "--store", cs}).out, "0 password(s) upgraded\n");
}

TEST_P(Passwords, TheUserVerbsHonourTheLeastLengthAndUnlock) {
    addUser("alice", "pw");
    set("lockout.failures", "2");
    set("password.minlength", "4");
    const QString cs = store->connectionString();
    const struct {
        QStringList args;
        const char* password;
        int exitCode;
    } cases[] = {
        {{"user", "add", "carol"}, "abc", 1},
        {{"user", "add", "carol", "--start", "2026-01-01"}, "abcd", 0},
        {{"user", "passwd", "carol"}, "xyz", 1},
        {{"user", "add", "dan", "--no-password"}, nullptr, 1},
        {{"user", "passwd", "alice"}, "wxyz", 0},
    };
    for (const auto& c : cases) {
        const CliRun r =
            cli(c.args + QStringList{"--store", cs}, c.password ? QString::fromUtf8(c.password) : QString());
        EXPECT_EQ(r.exitCode, c.exitCode) << local(c.args.join(' ')) << " " << local(r.err);
    }
    EXPECT_EQ(scalarInt(*db, "select count(*) from qx_user where userID in ('carol', 'dan')"), 1);

    ASSERT_EQ(connect(), VARDEX_OK) << VardexLastError();
    EXPECT_EQ(login("carol", "abcd"), VARDEX_OK);
    login("alice", "bad");
    login("alice", "bad");
    EXPECT_EQ(login("alice", "wxyz"), VARDEX_LOGIN_DISABLED);
    EXPECT_EQ(cli({"user", "unlock", "alice", "--store", cs}).exitCode, 0);
    EXPECT_EQ(logRows("账号解锁"), 1);
    EXPECT_TRUE(cli({"user", "unlock", "alice", "--store", cs}).err.contains("not locked"));
    EXPECT_EQ(logRows("账号解锁"), 1);
    EXPECT_EQ(login("alice", "wxyz"), VARDEX_OK);
}

// bcrypt uses the first 72 bytes of a password only: under it a longer new password is refused
// (answer 7, and the verbs' own reason), counted in bytes of UTF-8, not in characters.
TEST_P(Passwords, ANewPasswordOverSeventyTwoBytesIsRefusedUnderBcrypt) {
    addUser("alice", "old");
    set("password.hash", "bcrypt");
    const QByteArray ascii73(73, 'a');
    const QByteArray cjk24 = QString(24, QChar(0x5bc6)).toUtf8(); // 72 bytes
    const QByteArray cjk25 = cjk24 + QString(QChar(0x7801)).toUtf8();
    ASSERT_EQ(connect(), VARDEX_OK) << VardexLastError();
    EXPECT_EQ(::ChangeUserPassword("alice", "old", ascii73.constData(), kDay), VARDEX_PASSWORD_POLICY);
    EXPECT_EQ(::ChangeUserPassword("alice", "old", cjk25.constData(), kDay), VARDEX_PASSWORD_POLICY);
    EXPECT_EQ(login("alice", "old"), VARDEX_OK);
    EXPECT_EQ(::ChangeUserPassword("alice", "old", cjk24.constData(), kDay), VARDEX_OK) << VardexLastError();
    EXPECT_EQ(login("alice", cjk24.constData()), VARDEX_OK);

    const QString cs = store->connectionString();
    for (const QStringList& verb :
         {QStringList{"user", "passwd", "alice"}, QStringList{"user", "add", "bob"}}) {
        const CliRun r = cli(verb + QStringList{"--store", cs}, QString::fromUtf8(cjk25));
        EXPECT_EQ(r.exitCode, 1) << local(verb.join(' '));
        EXPECT_TRUE(r.err.contains("longer than 72 bytes")) << local(r.err);
    }
    EXPECT_EQ(login("alice", cjk24.constData()), VARDEX_OK);
    EXPECT_EQ(scalarInt(*db, "select count(*) from qx_user where userID = 'bob'"), 0);
}

TEST_P(Passwords, PolicySetChecksEveryPairBeforeWritingAny) {
    const QString cs = store->connectionString();
    EXPECT_EQ(cli({"policy", "set", "lockout.failures=5", "password.cost=9", "--store", cs}).exitCode, 2);
    EXPECT_EQ(cli({"policy", "set", "lockout.failures=5", "colour=blue", "--store", cs}).exitCode, 2);
    EXPECT_EQ(cli({"policy", "show", "--store", cs}).out,
              "password.hash=cipher\npassword.cost=10\nlockout.failures=0\nlockout.minutes=15\npassword."
              "minlength=0\naudit.failures=off\n");
    EXPECT_EQ(cli({"policy", "set", "lockout.failures=5", "password.hash=bcrypt", "--store", cs}).exitCode,
              0);
    const QString shown = cli({"policy", "show", "--store", cs}).out;
    EXPECT_TRUE(shown.contains("password.hash=bcrypt\n") && shown.contains("lockout.failures=5\n"))
        << local(shown);
}

// A hashed store with a policy and a lock, carried to another store by copy (SQLite to
// PostgreSQL) and by export and import: every login answers as it did.
TEST(PasswordTransfer, AHashedStoreAnswersEveryLoginAsBeforeWhereverItIsCarried) {
    TempStore src(Backend::SQLite);
    auto db = openConnection(src.connectionString());
    const auto add = [&](const char* id, const QString& pwd, const char* allow) {
        db->execute(
            QString("INSERT INTO qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou, "
                    "zuid) VALUES ('%1', '%1', '%2', '2026-01-01', '2026-12-31', '%3', 0, 10000)")
                .arg(id, pwd, allow));
        db->execute(QString("Exec qxAddUser '%1'").arg(id));
    };
    add("alice", hashPassword("a1", 10), "T");
    add("bob", EncryptPassword("b2", "kmpq"), "T");
    add("carol", hashPassword("c3", 10), "F");
    add("dave", EncryptPassword("d4", "kmpq"), "T");
    db->execute("update vardex_settings set value = 'bcrypt' where name = 'password.hash'");
    db->execute("update vardex_settings set value = '3' where name = 'lockout.failures'");
    db->execute("insert into vardex_lockout (userID, failures, lastFailure) values ('dave', 3, '2999-01-01 "
                "00:00:00')");
    ASSERT_EQ(cli({"doctor", src.connectionString()}).exitCode, 0); // hashes are no violation
    EXPECT_TRUE(
        cli({"doctor", src.connectionString()}).out.contains("2 stored password(s) are still cipher text"));

    QTemporaryDir dir;
    const QString file = dir.path() + "/setup.json";
    ASSERT_EQ(cli({"export", file, "--store", src.connectionString()}).exitCode, 0);
    std::vector<std::pair<std::string, std::unique_ptr<TempStore>>> targets;
    for (Backend b : availableBackends()) {
        if (b == Backend::OdbcPostgreSQL)
            continue;
        auto imported = std::make_unique<TempStore>(b);
        const CliRun r = cli({"import", file, "--store", imported->connectionString()});
        EXPECT_EQ(r.exitCode, 0) << local(r.err);
        targets.emplace_back("import into " + backendName(b), std::move(imported));
    }
    if (postgresAvailable()) {
        auto copied = std::make_unique<TempStore>(Backend::PostgreSQL);
        const CliRun r = cli({"copy", src.connectionString(), copied->connectionString()});
        EXPECT_EQ(r.exitCode, 0) << local(r.err);
        targets.emplace_back("copy to PostgreSQL", std::move(copied));
    }
    const struct {
        const char* id;
        const char* password;
        int answer;
    } logins[] = {{"alice", "a1", VARDEX_OK},
                  {"alice", "a2", VARDEX_LOGIN_WRONG_PASSWORD},
                  {"bob", "b2", VARDEX_OK},
                  {"carol", "c3", VARDEX_LOGIN_DISABLED},
                  {"dave", "d4", VARDEX_LOGIN_DISABLED},
                  {"nobody", "x", VARDEX_LOGIN_NO_USER}};
    for (const auto& [name, target] : targets) {
        SCOPED_TRACE(name);
        ASSERT_EQ(::ConnectDatabase(local(target->connectionString()).c_str(), "", "", kDay, ""), VARDEX_OK)
            << VardexLastError();
        for (const auto& l : logins)
            EXPECT_EQ(::CheckUserLogin(l.id, l.password, kDay, nullptr, 0), l.answer)
                << l.id << " " << l.password;
        session().CurrentUserName.clear();
        vardex::DisconnectDatabase();
    }
}

namespace {

// A loopback proxy in front of the test cluster, on a thread of its own (the library's calls
// block the test's thread). It forwards every connection both ways; once told a text, the first
// message of a client that holds it goes on to the server, and the server's reply to it is
// swallowed and both ends closed: the statement reached the server, its answer never came back.
class ReplyDropper {
  public:
    explicit ReplyDropper(int serverPort) : m_serverPort(serverPort) {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(m_listen, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(m_listen, 16) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw std::runtime_error("the proxy cannot listen");
        m_port = ntohs(a.sin_port);
        m_acceptor = std::thread([this] { acceptLoop(); });
    }
    ~ReplyDropper() {
        m_stop = true;
        m_acceptor.join();
        for (std::thread& t : m_pumps)
            t.join();
        ::close(m_listen);
    }
    int port() const { return m_port; }
    void dropReplyTo(const QByteArray& text) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pattern = text;
        m_dropped = false;
    }
    bool dropped() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_dropped;
    }

  private:
    void acceptLoop() {
        while (!m_stop) {
            pollfd p{m_listen, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const int client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(static_cast<uint16_t>(m_serverPort));
            if (::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
                ::close(server);
                ::close(client);
                continue;
            }
            m_pumps.emplace_back([this, client, server] { pump(client, server); });
        }
    }
    // Whether a chunk from the client holds the text to drop the reply to (then disarmed).
    bool triggers(const QByteArray& chunk) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_pattern.isEmpty() || !chunk.contains(m_pattern))
            return false;
        m_pattern.clear();
        return true;
    }
    void pump(int client, int server) {
        bool awaitingReply = false;
        char buffer[65536];
        while (!m_stop) {
            pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (::poll(p, 2, 50) <= 0)
                continue;
            if (p[0].revents != 0) {
                const ssize_t n = ::read(client, buffer, sizeof buffer);
                if (n <= 0 || ::write(server, buffer, size_t(n)) != n)
                    break;
                awaitingReply = awaitingReply || triggers(QByteArray(buffer, int(n)));
            }
            if (p[1].revents != 0) {
                const ssize_t n = ::read(server, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                if (awaitingReply) {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_dropped = true;
                    break;
                }
                if (::write(client, buffer, size_t(n)) != n)
                    break;
            }
        }
        ::close(client);
        ::close(server);
    }

    int m_serverPort;
    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    QByteArray m_pattern;
    bool m_dropped = false;
    std::thread m_acceptor;
    std::vector<std::thread> m_pumps; // touched by the acceptor only, then joined
};

} // namespace

// The connection drops after a statement reached the server and before its reply came back: the
// call answers VARDEX_ERROR saying the statement may or may not have been carried out, and never
// sends it again (a second count of the same guess, a second change of the password); the next
// call takes a fresh connection and works.
TEST(LostReplies, AStatementThatMayHaveRunIsNeverSentAgain) {
    if (!postgresAvailable())
        GTEST_SKIP() << "no PostgreSQL cluster";
    TempStore store(Backend::PostgreSQL);
    auto db = openConnection(store.connectionString());
    db->execute(
        "INSERT INTO qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou, zuid) "
        "VALUES ('u1', 'user1', '" +
        EncryptPassword("pw", "kmpq") + "', '2026-01-01', '2026-12-31', 'T', 0, 10000)");
    db->execute("update vardex_settings set value = '5' where name = 'lockout.failures'");
    const QRegularExpression portKey("Port=(\\d+)");
    const QString direct = store.connectionString();
    ReplyDropper proxy(portKey.match(direct).captured(1).toInt());
    const QString viaProxy = QString(direct).replace(portKey, QString("Port=%1").arg(proxy.port()));
    ASSERT_EQ(vardex::ConnectDatabase(viaProxy, "", "", kDay, ""), 0);
    const auto failures = [&] {
        return scalarInt(*db, "select coalesce(max(failures), 0) from vardex_lockout where userID = 'u1'");
    };

    // A wrong guess whose count committed and whose reply was lost is counted once.
    proxy.dropReplyTo("insert into vardex_lockout");
    EXPECT_EQ(::CheckUserLogin("u1", "wrong", kDay, nullptr, 0), VARDEX_ERROR);
    EXPECT_TRUE(proxy.dropped());
    EXPECT_NE(std::strstr(VardexLastError(), "may or may not have been carried out"), nullptr)
        << VardexLastError();
    EXPECT_EQ(failures(), 1);
    EXPECT_EQ(::CheckUserLogin("u1", "pw", kDay, nullptr, 0), VARDEX_OK) << VardexLastError();
    EXPECT_EQ(failures(), 0);

    // A change of password committed, its reply lost: the new password holds, nothing counted.
    proxy.dropReplyTo("COMMIT");
    EXPECT_EQ(::ChangeUserPassword("u1", "pw", "newpass1", kDay), VARDEX_ERROR);
    EXPECT_TRUE(proxy.dropped());
    EXPECT_NE(std::strstr(VardexLastError(), "may or may not have been carried out"), nullptr)
        << VardexLastError();
    EXPECT_EQ(::CheckUserLogin("u1", "newpass1", kDay, nullptr, 0), VARDEX_OK) << VardexLastError();
    EXPECT_EQ(::CheckUserLogin("u1", "pw", kDay, nullptr, 0), VARDEX_LOGIN_WRONG_PASSWORD);
    EXPECT_EQ(failures(), 1); // the old password just tried, and nothing else
    session().CurrentUserName.clear();
    vardex::DisconnectDatabase();
}
