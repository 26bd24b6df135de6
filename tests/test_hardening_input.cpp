// Hostile text through every exported call of the C interface: each call answers with one of its
// codes or VARDEX_ERROR, never crashes (this program also runs under ASan/UBSan), and leaves the
// store as it was wherever the call has no business writing.
#include "capi/vardex.h"
#include "library/cipher.h"
#include "library/dmain.h"
#include "library/doctor.h"
#include "platform/sqldialect.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QProcess>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>

using namespace vardex;
using namespace vardex::test;

namespace {

struct Hostile {
    const char* name;
    std::string value;
    bool isNull = false;
    const char* c() const { return isNull ? nullptr : value.c_str(); }
};

std::vector<Hostile> hostileTexts() {
    std::vector<Hostile> v;
    v.push_back({"null", "", true});
    v.push_back({"empty", ""});
    v.push_back({"megabyte", std::string(1 << 20, 'a')});
    v.push_back({"megabyteQuotes", std::string(1 << 20, '\'')});
    v.push_back({"invalidUtf8", "\xff\xfe\xc3\x28\xa0\xa1\xe2\x82\xf0\x28\x8c\xbc"});
    v.push_back({"truncatedUtf8", "u\xe6\x9d"});
    v.push_back({"quotes", "o'neil\"s''"});
    v.push_back({"injection", "'; DROP TABLE qx_user; --"});
    v.push_back({"orTrue", "' or '1'='1"});
    v.push_back({"backslashes", "\\\\'\\"});
    v.push_back({"control", "\x01\x02\t\r\n\x1b\x7f"});
    v.push_back({"goLine", "x\r\nGO\r\n'"});
    // A backslash before a quote, which ends a literal when a server reads backslash escapes.
    v.push_back({"backslashQuote", "bob\\' OR 1=1 --"});
    // ODBC and libpq syntax inside a value.
    v.push_back({"odbcBraces", "x};Database=postgres;PWD={"});
    v.push_back({"driverOptions", "10 options='-c standard_conforming_strings=off'"});
    // A lone Latin-1 byte, and the replacement character it would be read as.
    v.push_back({"latin1", "caf\xe9"});
    v.push_back({"replacementChar", "caf\xef\xbf\xbd"});
    return v;
}

// Every row of every store table, as sorted text: equal snapshots mean an unchanged store.
using Snapshot = std::map<QString, QStringList>;
const QStringList kTables = {"qx_Name", "qx_user", "qx_user_qx", "qx_user_zu", "qx_zu", "qx_Logs"};

Snapshot snapshot(AdoConnection& cn) {
    Snapshot s;
    for (const QString& table : kTables) {
        AdoQuery q(&cn, "select * from " + table);
        q.open();
        QStringList rows;
        for (q.first(); !q.eof(); q.next()) {
            QStringList fields;
            for (int i = 0; i < q.fieldCount(); ++i)
                fields << q.fieldByName(q.fieldName(i)).asString();
            rows << fields.join('|');
        }
        rows.sort();
        s[table] = rows;
    }
    return s;
}

// The tables that changed between two snapshots.
std::set<QString> changed(const Snapshot& a, const Snapshot& b) {
    std::set<QString> out;
    for (const QString& t : kTables)
        if (a.at(t) != b.at(t))
            out.insert(t);
    return out;
}

struct Boxes {
    int calls = 0;
};
int32_t VARDEX_CALL answerOk(const char* text, const char* caption, uint32_t, void* user) {
    // Touch every byte: a dangling or unterminated text shows up under the sanitizers.
    volatile size_t n = std::strlen(text) + std::strlen(caption);
    (void)n;
    static_cast<Boxes*>(user)->calls++;
    return VARDEX_IDOK;
}

} // namespace

class HostileInput : public ::testing::TestWithParam<Backend> {
  protected:
    void SetUp() override {
        store = std::make_unique<TempStore>(GetParam());
        db = openConnection(store->connectionString());
        db->execute("INSERT INTO qx_Name (qxID, qxName) VALUES (1, 'query')");
        db->execute("Exec qxAddzuName 'pg1'");
        db->execute("Exec qxUpDateAllows 'pg1',1,'T'");
        db->execute(
            "INSERT INTO qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou, zuid) "
            "VALUES ('u', 'u', '" +
            EncryptPassword("pw", "kmpq") + "', '2026-01-01', '2026-12-31', 'T', 0, 10000)");
        db->execute("Exec qxAddUser 'u'");
        db->execute("Exec qx_user_zu_changed 'u','pg1','T'");
        conn = store->connectionString().toLocal8Bit().toStdString();
        VardexSetMessageHandler(answerOk, &boxes);
        connect();
    }
    void TearDown() override {
        if (hasDataModule())
            ::DisconnectDatabase();
        VardexSetMessageHandler(nullptr, nullptr);
        session() = SessionValues();
    }
    void connect() { ASSERT_EQ(::ConnectDatabase(conn.c_str(), "", "", "2026-06-15", ""), 0); }
    // The call's answer is one of codes or VARDEX_ERROR (then with a message), the store doctor
    // finds nothing, and only the tables in mayChange differ from before.
    void expectSafe(const char* what, const Hostile& h, int32_t rc, std::set<int32_t> codes,
                    const Snapshot& before, std::set<QString> mayChange) {
        SCOPED_TRACE(std::string(what) + " with " + h.name);
        codes.insert(VARDEX_ERROR);
        EXPECT_TRUE(codes.count(rc)) << "answer " << rc;
        if (rc == VARDEX_ERROR) {
            EXPECT_STRNE(VardexLastError(), "");
        }
        EXPECT_TRUE(checkStore(*db).clean());
        for (const QString& t : changed(before, snapshot(*db)))
            EXPECT_TRUE(mayChange.count(t)) << t.toStdString() << " changed";
    }
    std::unique_ptr<TempStore> store;
    std::unique_ptr<AdoConnection> db;
    std::string conn;
    Boxes boxes;
};

TEST_P(HostileInput, AnUnknownHostileUserIdWritesNothing) {
    for (const Hostile& h : hostileTexts()) {
        Snapshot before = snapshot(*db);
        for (int mode = 0; mode <= 2; ++mode)
            expectSafe("CheckUserLogin id", h, ::CheckUserLogin(h.c(), "pw", "2026-06-15", "no", mode), {4},
                       before, {});
        expectSafe("CheckUserRight id", h, ::CheckUserRight(h.c(), 1, "no", 2), {1}, before, {});
        expectSafe("CheckUserRight undefined item", h, ::CheckUserRight(h.c(), 77, h.c(), 0), {1}, before,
                   {});
        expectSafe("ChangeUserPassword id", h, ::ChangeUserPassword(h.c(), "pw", "new", "2026-06-15"), {4},
                   before, {});
        // The user "u" and the item survive whatever was sent.
        EXPECT_EQ(::CheckUserLogin("u", "pw", "2026-06-15", nullptr, 0), 0) << h.name;
    }
}

TEST_P(HostileInput, HostilePasswordsAndTextsForARealUserWriteOnlyTheLog) {
    for (const Hostile& h : hostileTexts()) {
        Snapshot before = snapshot(*db);
        expectSafe("CheckUserLogin password", h, ::CheckUserLogin("u", h.c(), "2026-06-15", h.c(), 1), {3},
                   before, {});
        expectSafe("CheckUserLogin failText", h, ::CheckUserLogin("u", "bad", "2026-06-15", h.c(), 1), {3},
                   before, {});
        // A hostile working date: a code or an error, and at most a login row.
        expectSafe("CheckUserLogin workDate", h, ::CheckUserLogin("u", "pw", h.c(), nullptr, 0), {0, 2},
                   before, {"qx_Logs"});
        before = snapshot(*db);
        expectSafe("CheckUserRight failText", h, ::CheckUserRight("u", 1, h.c(), 1), {0}, before,
                   {"qx_Logs"});
        before = snapshot(*db);
        expectSafe("CheckUserRight unknown item failText", h, ::CheckUserRight("u", -5, h.c(), 2), {3},
                   before, {});
        expectSafe("ChangeUserPassword old", h, ::ChangeUserPassword("u", h.c(), "x", "2026-06-15"), {3},
                   before, {});
        expectSafe("ChangeUserPassword date", h, ::ChangeUserPassword("u", "pw", "pw", h.c()), {2, 5}, before,
                   {});
    }
    EXPECT_GT(boxes.calls, 0);
}

TEST_P(HostileInput, AHostileNewPasswordIsStoredExactlyOrRefused) {
    for (const Hostile& h : hostileTexts()) {
        SCOPED_TRACE(h.name);
        const Snapshot before = snapshot(*db);
        const int32_t rc = ::ChangeUserPassword("u", "pw", h.c(), "2026-06-15");
        const size_t bytes = h.isNull ? 0 : h.value.size();
        if (bytes > 49) {
            // Too long for the store: refused, and nothing at all changed.
            EXPECT_EQ(rc, VARDEX_ERROR);
            EXPECT_TRUE(changed(before, snapshot(*db)).empty());
        } else {
            expectSafe("ChangeUserPassword new", h, rc, {0, 5}, before, {"qx_user", "qx_Logs"});
        }
        if (rc == 0) {
            // The same bytes log in; then put the old password back.
            EXPECT_EQ(::CheckUserLogin("u", h.c(), "2026-06-15", nullptr, 0), 0);
            EXPECT_EQ(::ChangeUserPassword("u", h.c(), "pw", "2026-06-15"), 0);
        }
        EXPECT_EQ(::CheckUserLogin("u", "pw", "2026-06-15", nullptr, 0), 0);
    }
}

TEST_P(HostileInput, ClearLogsTouchesOnlyTheLog) {
    for (const Hostile& h : hostileTexts()) {
        ::CheckUserRight("u", 1, nullptr, 0); // at least one audit row to delete or keep
        const Snapshot before = snapshot(*db);
        expectSafe("ClearLogs", h, ::ClearLogs(h.c()), {0}, before, {"qx_Logs"});
    }
}

TEST_P(HostileInput, HostileConnectionArgumentsAnswerAndTheStoreStaysWhole) {
    // A connection string that names no store must not make one in the working folder.
    const QStringList filesBefore = QDir::current().entryList(QDir::Files);
    for (const Hostile& h : hostileTexts()) {
        const Snapshot before = snapshot(*db);
        expectSafe("ConnectDatabase string", h, ::ConnectDatabase(h.c(), "", "", "", ""), {0, 1}, before, {});
        connect();
        expectSafe("ConnectDatabase user", h, ::ConnectDatabase(conn.c_str(), h.c(), h.c(), "2026-06-15", ""),
                   {0, 1}, before, {});
        connect();
        expectSafe("ConnectDatabase date", h, ::ConnectDatabase(conn.c_str(), "", "", h.c(), ""), {0, 1},
                   before, {});
        connect();
        expectSafe("ConnectDatabase key", h, ::ConnectDatabase(conn.c_str(), "", "", "2026-06-15", h.c()),
                   {0, 1}, before, {});
        // With another key the stored cipher text no longer matches: 3 or a cipher error.
        const int32_t rc = ::CheckUserLogin("u", "pw", "2026-06-15", nullptr, 0);
        EXPECT_TRUE(rc == 0 || rc == 3 || rc == VARDEX_ERROR) << h.name << " " << rc;
        connect();
        // The connection string text sits in a log row only for a logout; nobody logged in.
        EXPECT_EQ(::DisconnectDatabase(), 0);
        EXPECT_TRUE(changed(before, snapshot(*db)).count("qx_user") == 0);
        connect();
    }
    EXPECT_EQ(QDir::current().entryList(QDir::Files), filesBefore);
}

TEST_P(HostileInput, WindowCallsRefuseBeforeShowingAWindow) {
    int32_t count = -1, shift = 0;
    char buffer[21] = "unchanged";
    char* ref = buffer;
    const Snapshot before = snapshot(*db);
    // With a session: a NULL or negative limit is refused before any window.
    EXPECT_EQ(::ShowLoginDialog("c", "", &ref, nullptr, &shift, 3), VARDEX_ERROR);
    EXPECT_EQ(::ShowLoginDialog("c", "", &ref, &count, &shift, 3), VARDEX_ERROR);
    EXPECT_STRNE(VardexLastError(), "");
    EXPECT_STREQ(buffer, "unchanged");
    ASSERT_EQ(::DisconnectDatabase(), 0);
    // Without one: every call answers the error, whatever its arguments.
    for (const Hostile& h : hostileTexts()) {
        SCOPED_TRACE(h.name);
        count = 3;
        EXPECT_EQ(::ShowLoginDialog(h.c(), h.c(), &ref, &count, &shift, 3), VARDEX_ERROR);
        EXPECT_EQ(::ShowLoginDialog(h.c(), h.c(), nullptr, &count, nullptr, -1), VARDEX_ERROR);
        EXPECT_EQ(::ShowChangePasswordDialog(h.c(), h.c()), VARDEX_ERROR);
        EXPECT_EQ(::CheckUserLogin(h.c(), h.c(), h.c(), h.c(), 2), VARDEX_ERROR);
        EXPECT_EQ(::CheckUserRight(h.c(), 1, h.c(), 2), VARDEX_ERROR);
        EXPECT_EQ(::ChangeUserPassword(h.c(), h.c(), h.c(), h.c()), VARDEX_ERROR);
        EXPECT_EQ(::ClearLogs(h.c()), VARDEX_ERROR);
        EXPECT_STRNE(VardexLastError(), "");
    }
    for (int32_t t : {-1, 0, 1, 2, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(::EditRightList(t), VARDEX_ERROR);
        EXPECT_EQ(::ShowRightManager(t, t), VARDEX_ERROR);
    }
    EXPECT_EQ(::DisconnectDatabase(), VARDEX_ERROR);
    EXPECT_STREQ(buffer, "unchanged");
    EXPECT_TRUE(changed(before, snapshot(*db)).empty());
    EXPECT_TRUE(checkStore(*db).clean());
}

TEST_P(HostileInput, TheAboutBoxAndHandlersNeedNothing) {
    ::DisconnectDatabase();
    const int before = boxes.calls;
    EXPECT_EQ(::ShowAbout(), 0);
    EXPECT_EQ(boxes.calls, before + 1);
    VardexSetMessageHandler(nullptr, &boxes); // NULL handler with a user pointer: built-in boxes
    MessageRecorder rec;
    EXPECT_EQ(::ShowAbout(), 0);
    EXPECT_EQ(boxes.calls, before + 1);
    VardexSetMessageHandler(answerOk, nullptr);
    VardexSetMessageHandler(answerOk, &boxes);
    EXPECT_EQ(::ShowAbout(), 0);
    EXPECT_EQ(boxes.calls, before + 2);
    EXPECT_STRNE(VardexVersion(), "");
}

// The secrets vardex-cli reads, with every hostile text: a user's new password from a file and
// from VARDEX_NEW_PASSWORD is stored exactly as its bytes are, or refused with nothing changed;
// bytes that are no valid text are always refused, never read as replacement characters; the
// account's password from VARDEX_PASSWORD is refused the same; a file others may read is refused.
TEST_P(HostileInput, HostileSecretsGivenToTheCliAreStoredExactlyOrRefused) {
    QTemporaryDir dir;
    const QString file = dir.path() + "/pw";
    auto run = [&](const QStringList& args, const char* variable, const QByteArray& value, QString* err) {
        // The child inherits the bytes as they are: a QProcessEnvironment would take them as text.
        QProcess p;
        qunsetenv("VARDEX_NEW_PASSWORD");
        qunsetenv("VARDEX_PASSWORD");
        if (variable)
            qputenv(variable, value);
        p.start(binDir() + "/vardex-cli", args + QStringList{"--store", store->connectionString()});
        if (variable)
            qunsetenv(variable);
        EXPECT_TRUE(p.waitForFinished(120000));
        *err = QString::fromUtf8(p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    };
    auto writeFile = [&](const QByteArray& bytes, QFile::Permissions mode) {
        QFile f(file);
        f.remove();
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        ASSERT_TRUE(f.setPermissions(mode));
    };
    auto validText = [](const QByteArray& bytes) {
        QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = decode(bytes);
        return !decode.hasError();
    };
    const QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner;
    for (const Hostile& h : hostileTexts()) {
        if (h.isNull)
            continue;
        const QByteArray value = QByteArray::fromStdString(h.value);
        for (const bool fromFile : {true, false}) {
            SCOPED_TRACE(std::string(h.name) + (fromFile ? " in a file" : " in VARDEX_NEW_PASSWORD"));
            QByteArray meant = value;
            QString err;
            int rc;
            const Snapshot before = snapshot(*db);
            if (fromFile) {
                meant = value.left(value.indexOf('\n') < 0 ? value.size() : value.indexOf('\n'));
                if (meant.endsWith('\r'))
                    meant.chop(1);
                writeFile(value, ownerOnly);
                rc = run({"user", "passwd", "u", "--new-password-file", file}, nullptr, {}, &err);
            } else {
                if (value.size() > 100000) // more than one environment string holds
                    continue;
                rc = run({"user", "passwd", "u"}, "VARDEX_NEW_PASSWORD", value, &err);
            }
            const QString text = trimBlanks(QString::fromUtf8(meant));
            if (!validText(meant) || text.isEmpty() || meant.size() > (1 << 16)) {
                EXPECT_EQ(rc, 2) << err.toStdString();
                EXPECT_TRUE(changed(before, snapshot(*db)).empty());
            } else if (rc == 0) {
                EXPECT_EQ(
                    DecryptPassword(scalar(*db, "select userPwd from qx_user where userID = 'u'"), "kmpq"),
                    text);
                for (const QString& t : changed(before, snapshot(*db)))
                    EXPECT_EQ(t, "qx_user");
            } else {
                EXPECT_EQ(rc, 1) << err.toStdString(); // too long for the store
                EXPECT_TRUE(changed(before, snapshot(*db)).empty());
            }
        }
        if (value.size() <= 100000 && !validText(value)) {
            QString err;
            EXPECT_EQ(run({"list", "users"}, "VARDEX_PASSWORD", value, &err), 2) << h.name;
            EXPECT_TRUE(err.contains("VARDEX_PASSWORD is not valid UTF-8 text")) << err.toStdString();
        }
    }
    // A password file its group or others may read, or a link to one, is refused.
    for (const QFile::Permissions mode :
         {ownerOnly | QFile::ReadGroup, ownerOnly | QFile::ReadOther, ownerOnly | QFile::WriteOther}) {
        writeFile("pw2\n", mode);
        QFile::remove(file + "-link");
        ASSERT_TRUE(QFile::link(file, file + "-link"));
        const Snapshot before = snapshot(*db);
        for (const QStringList& args :
             {QStringList{"user", "passwd", "u", "--new-password-file", file},
              QStringList{"user", "passwd", "u", "--new-password-file", file + "-link"},
              QStringList{"list", "users", "--password-file", file}}) {
            QString err;
            EXPECT_EQ(run(args, nullptr, {}, &err), 2) << args.join(' ').toStdString();
            EXPECT_TRUE(err.contains("may be read by others")) << err.toStdString();
        }
        EXPECT_TRUE(changed(before, snapshot(*db)).empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Store, HostileInput, VARDEX_BACKEND_PARAMS);
