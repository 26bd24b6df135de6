// Administration from the shell: every verb of vardex-cli sends the statements the
// administration window and the item list editor send for the same action (the texts the
// window tests pin down), leaves a store the doctor finds clean, and a refused verb changes
// nothing. Export/import round-trips, and copy carries a store between kinds unchanged.
#include "admin/manager.h"
#include "admin/treelist.h"
#include "bench/storegen.h"
#include "cli/inprocess.h"
#include "library/cipher.h"
#include "library/dmain.h"
#include "library/doctor.h"
#include "tests/support/testsupport.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidgetItemIterator>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace vardex;
using namespace vardex::test;

QT_BEGIN_NAMESPACE
inline void PrintTo(const QStringList& l, std::ostream* os) {
    *os << "[" << l.join("] [").toStdString() << "]";
}
QT_END_NAMESPACE

namespace {

using vardex::cli::CliRun;

// A verb of vardex-cli run in this process.
CliRun runCli(const QStringList& args, const QMap<QString, QString>& env = {}, const QByteArray& input = {}) {
    return vardex::cli::runInProcess(args, input, env);
}

// Every row of the tables an administration action changes, sorted.
QStringList snapshot(AdoConnection& cn) {
    QStringList out;
    for (const char* t : {"qx_Name", "qx_user", "qx_user_qx", "qx_user_zu", "qx_zu"}) {
        AdoQuery q(&cn, QString("select * from %1").arg(t));
        q.open();
        for (int r = 0; r < q.recordCount(); ++r) {
            QStringList row{t};
            for (int c = 0; c < q.fieldCount(); ++c)
                row << (q.value(r, c).isNull() ? "<null>" : q.value(r, c).toString().trimmed());
            out << row.join('|');
        }
    }
    out.sort();
    return out;
}

} // namespace

class CliAdmin : public ::testing::TestWithParam<Backend> {
  protected:
    void SetUp() override {
        store = std::make_unique<TempStore>(GetParam());
        db = openConnection(store->connectionString());
    }
    // Runs a verb on the store and answers the statements it sent.
    QStringList verb(QStringList args, int expectExit = 0, const QMap<QString, QString>& env = {}) {
        const QString trace = dir.path() + "/trace.json";
        QFile::remove(trace);
        args << "--store" << store->connectionString() << "--trace" << trace;
        last = runCli(args, env);
        EXPECT_EQ(last.exitCode, expectExit) << args.join(" ").left(200).toStdString() << "\n"
                                             << last.err.left(500).toStdString();
        QFile f(trace);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QStringList out;
        for (const QJsonValue& v : QJsonDocument::fromJson(f.readAll()).array())
            out << v.toString();
        return out;
    }
    // Runs a verb on the store with a terminal as its standard input, typing what is given.
    int onTerminal(const QString& args, const QByteArray& typed, QByteArray& screen) {
        QProcess p;
        p.start(
            "script",
            {"-qec",
             QString("'%1' %2 --store '%3'").arg(binDir() + "/vardex-cli", args, store->connectionString()),
             "/dev/null"});
        EXPECT_TRUE(p.waitForStarted());
        p.write(typed);
        EXPECT_TRUE(p.waitForFinished(60000));
        screen = p.readAll();
        return p.exitCode();
    }
    static QStringList writes(const QStringList& log) {
        QStringList out;
        for (const QString& s : log)
            if (!s.startsWith("select", Qt::CaseInsensitive))
                out << s;
        return out;
    }
    void expectClean() {
        const DoctorReport r = checkStore(*db);
        for (const Violation& v : r.violations)
            ADD_FAILURE() << v.describe().toStdString();
    }
    QTemporaryDir dir;
    std::unique_ptr<TempStore> store;
    std::unique_ptr<AdoConnection> db;
    CliRun last;
};

TEST_P(CliAdmin, EveryVerbSendsTheWindowsStatementsAndLeavesACleanStore) {
    const QString list = "SELECT qxID AS 权限ID, qxName AS 权限名称 FROM qx_Name Order By qxID\r\n";
    // The item list editor: the list read, the procedure before, the posted row, the one after.
    for (const auto& [id, name] : {std::pair{"1000", "system"}, {"1001", "users"}, {"1002", "backup"}}) {
        const QStringList s = verb({"item", "add", id, name});
        ASSERT_GE(s.size(), 4);
        EXPECT_EQ(s.mid(s.size() - 4),
                  QStringList({list, "Exec qxNameChanged_before",
                               QString("INSERT INTO qx_Name (qxID,qxName) VALUES (%1,'%2')").arg(id, name),
                               "Exec qxNameChanged"}));
        expectClean();
    }
    // The name dialog's check, then the first free number and the group's rows.
    QStringList s = verb({"usergroup", "add", "fin"});
    EXPECT_EQ(s.mid(s.size() - 4),
              QStringList({"select * from qx_user where userid = 'fin'\r\n",
                           "select * from qx_user where zuid < 1000 order by zuid\r\n",
                           "INSERT INTO qx_user (zuid,userid,username) VALUES (1,'fin','fin')",
                           "Exec qxAddUser 'fin'"}));
    expectClean();
    // The user dialog's check, the insert, and for a user in no group the rows of its own.
    s = verb({"user", "add", "n2", "--name", "Nora", "--disabled", "--discount", "35", "--start",
              "2026-01-01", "--end", "2026-12-31"},
             0, {{"VARDEX_NEW_PASSWORD", "abc"}});
    EXPECT_TRUE(s.contains("select * from qx_user where userID ='n2'\r\n"));
    ASSERT_EQ(writes(s).size(), 2);
    EXPECT_TRUE(writes(s)[0].startsWith(
        "Insert qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou,zuid) "
        "VALUES ('n2','Nora','"));
    EXPECT_TRUE(writes(s)[0].endsWith("','2026-01-01','2026-12-31','F',35,10000)"))
        << writes(s)[0].toStdString();
    EXPECT_EQ(writes(s)[1], "Exec qxAddUser 'n2'");
    EXPECT_EQ(DecryptPassword(scalar(*db, "select userPwd from qx_user where userID = 'n2'"), "kmpq"), "abc");
    s = verb({"user", "add", "m1", "--group", "fin", "--start", "2026-01-01", "--end", "2026-12-31",
              "--no-password"});
    EXPECT_EQ(
        writes(s),
        QStringList({"Insert qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou,zuid) "
                     "VALUES ('m1','m1','','2026-01-01','2026-12-31','T',0,1001)"}));
    verb({"user", "add", "m2", "--group", "fin", "--no-password"});
    expectClean();
    // The edit: the whole row written, then the procedure of the move.
    s = verb({"user", "move", "m1", "--no-group"});
    EXPECT_EQ(
        writes(s),
        QStringList({"Update qx_user Set userName = 'm1',userPwd = '',startTime = '2026-01-01',endTime = "
                     "'2026-12-31',Allow = 'T',AllowZekou = 0, zuid = 10000 where userID = 'm1'",
                     "exec qxuseroutzu 'm1',1"}));
    expectClean();
    s = verb({"user", "move", "n2", "--group", "fin"});
    ASSERT_EQ(writes(s).size(), 2);
    EXPECT_TRUE(writes(s)[0].endsWith(
        "',startTime = '2026-01-01',endTime = '2026-12-31',Allow = 'F',AllowZekou = 35, zuid = 1001 "
        "where userID = 'n2'"));
    EXPECT_EQ(writes(s)[1], "exec qxuserintozu 'n2',1");
    EXPECT_EQ(DecryptPassword(scalar(*db, "select userPwd from qx_user where userID = 'n2'"), "kmpq"), "abc");
    expectClean();
    // A password typed at the prompt of a terminal, enciphered with the session's key (--key).
    {
        QByteArray screen;
        EXPECT_EQ(onTerminal("user passwd m2 --key K2", "tty pw\ntty pw\n", screen), 0)
            << screen.toStdString();
        EXPECT_EQ(DecryptPassword(scalar(*db, "select userPwd from qx_user where userID = 'm2'"), "K2"),
                  "tty pw");
    }
    // Flags cascade as in the user list: a member's last enabled sibling clears the group...
    EXPECT_EQ(writes(verb({"user", "disable", "m2"})),
              QStringList({"Exec qxUpDateUserAllows 'm2','F'", "Exec qxUpDateUserAllows 'fin','F'"}));
    // ...an enabled group passes the flag to every member that shows another, in list order
    // (members of one group come in the order the store returns them).
    s = writes(verb({"user", "enable", "fin"}));
    ASSERT_EQ(s.size(), 3);
    EXPECT_EQ(s.takeFirst(), "Exec qxUpDateUserAllows 'fin','T'");
    s.sort();
    EXPECT_EQ(s, QStringList({"Exec qxUpDateUserAllows 'm2','T'", "Exec qxUpDateUserAllows 'n2','T'"}));
    // Permission groups: the name dialog's check, then the procedure; a head item takes its items.
    s = verb({"permgroup", "add", "admin"});
    EXPECT_TRUE(s.contains("select * from qx_zu where zuName = 'admin'\r\n"));
    EXPECT_EQ(writes(s), QStringList({"Exec qxAddzuName 'admin'"}));
    EXPECT_EQ(writes(verb({"permgroup", "set", "admin", "1001", "on"})),
              QStringList({"Exec qxUpDateAllows 'admin',1001,'T'", "Exec qxUpDateAllows 'admin',1000,'T'"}));
    EXPECT_EQ(writes(verb({"permgroup", "set", "admin", "1000", "on"})), QStringList()); // already: nothing
    EXPECT_EQ(writes(verb({"permgroup", "set", "admin", "1000", "off"})),
              QStringList({"Exec qxUpDateAllows 'admin',1000,'F'", "Exec qxUpDateAllows 'admin',1001,'F'"}));
    verb({"permgroup", "set", "admin", "1002", "on"});
    EXPECT_EQ(writes(verb({"permgroup", "assign", "admin", "fin"})),
              QStringList({"Exec qx_user_zu_changed 'fin','admin','T'"}));
    expectClean();
    EXPECT_EQ(scalarInt(*db, "select AllowCount from qx_user_qx where userID = 'fin' and qxID = 1002"), 1);
    // Item edits carry the grants along through the two procedures.
    s = verb({"item", "renumber", "1002", "1003"});
    EXPECT_EQ(writes(s).size(), 3);
    EXPECT_TRUE(writes(s)[1].contains("SET qxID = 1003")) << writes(s)[1].toStdString();
    EXPECT_TRUE(writes(s)[1].contains("qxID = 1002 AND qxName = 'backup'")) << writes(s)[1].toStdString();
    EXPECT_EQ(scalarInt(*db, "select AllowCount from qx_user_qx where userID = 'fin' and qxID = 1003"), 1);
    expectClean();
    // grant through a permission group of the user's own; revoke takes back what grants it.
    verb({"grant", "m1", "1001"});
    EXPECT_EQ(scalarInt(*db, "select AllowCount from qx_user_qx where userID = 'm1' and qxID = 1001"), 1);
    EXPECT_EQ(writes(verb({"revoke", "m1", "1001"})), QStringList({"Exec qx_user_zu_changed 'm1','m1','F'"}));
    EXPECT_EQ(scalarInt(*db, "select AllowCount from qx_user_qx where userID = 'm1' and qxID = 1001"), 0);
    expectClean();
    EXPECT_EQ(writes(verb({"item", "delete", "1003", "--yes"})).mid(1, 1).value(0).left(6), "DELETE");
    EXPECT_EQ(writes(verb({"permgroup", "delete", "admin", "--yes"})), QStringList({"Exec qxDelzu 'admin'"}));
    EXPECT_EQ(writes(verb({"user", "delete", "m1", "--yes"})), QStringList({"Exec qxDelUser 'm1'"}));
    EXPECT_EQ(writes(verb({"usergroup", "delete", "fin", "--yes"})), QStringList({"Exec qxDelUser 'fin'"}));
    EXPECT_EQ(scalarInt(*db, "select count(*) from qx_user"), 0); // the members went with it
    expectClean();
}

TEST_P(CliAdmin, RefusedVerbsNameWhatWasWrongAndChangeNothing) {
    verb({"usergroup", "add", "fin"});
    verb({"item", "add", "1001", "users"});
    verb({"user", "add", "o'brien", "--group", "fin", "--no-password"});
    verb({"permgroup", "add", "pg"});
    const QStringList before = snapshot(*db);
    const QString huge(40000, QChar(u'名')); // 120 KB: near the largest word a command line carries
    const struct {
        QStringList args;
        int exit;
        QString message;
    } cases[] = {
        {{"user", "add", "x", "--group", "销售部", "--no-password"}, 1, "no user group 销售部"},
        {{"item", "add", "1001", "again"}, 1, "item 1001 exists"},
        {{"item", "add", "4294968297", "wraps"}, 2, "not a whole number of 32 bits"},
        {{"item", "add", " 1002", "padded"}, 2, "not a whole number of 32 bits"},
        {{"item", "rename", "77", "x"}, 1, "no item 77"},
        {{"user", "add", "o'brien", "--no-password"}, 1, "user o'brien exists"},
        {{"user", "add", "a\\b\"c'); DROP TABLE qx_user; --"}, 1, "longer than 20 characters"},
        {{"user", "add", QString("tab\there")}, 1, "control character"},
        {{"user", "add", huge}, 1, "longer than 20 characters"},
        {{"user", "add", "x", "--end", "2026-02-30"}, 1, "no date"},
        {{"user", "add", "x", "--discount", "101"}, 1, "from 0 to 100"},
        {{"user", "edit", "fin", "--name", "x"}, 1, "fin is a user group, not a user"},
        {{"user", "delete", "fin"}, 1, "usergroup delete"},
        {{"permgroup", "assign", "pg", "o'brien"}, 1, "member of user group fin"},
        {{"permgroup", "set", "pg", "1001", "maybe"}, 1, "neither on nor off"},
        {{"permgroup", "set", "nope", "1001", "on"}, 1, "no permission group nope"},
        {{"usergroup", "delete", "o'brien"}, 1, "no user group o'brien"},
        {{"user", "move", "o'brien"}, 2, "exactly one of --group and --no-group"},
        {{"user", "frobnicate", "x"}, 2, "unknown verb user frobnicate"},
        {{"user", "add"}, 2, "takes ID"},
        {{"user", "add", "x", "--new-password-file", "/nonexistent/pw"},
         2,
         "cannot read the new password file"},
    };
    for (const auto& c : cases) {
        const QStringList s = verb(c.args, c.exit);
        EXPECT_TRUE(last.err.contains(c.message))
            << c.args.join(' ').left(80).toStdString() << ": " << last.err.left(300).toStdString();
        EXPECT_EQ(writes(s), QStringList()) << c.args.join(' ').left(80).toStdString();
    }
    // Bytes that are no valid text never reach the store as replacement characters.
    {
        QProcess p;
        p.start("bash", {"-c", "\"$0\" user add \"$(printf 'caf\\351')\" --store \"$1\"",
                         binDir() + "/vardex-cli", store->connectionString()});
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 2);
        EXPECT_TRUE(p.readAllStandardError().contains("argument 3 is not valid text"));
    }
    // A refusal after statements were sent: an import whose last user repeats one rolls back.
    const QString file = dir.path() + "/bad.json";
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(R"({"format":"vardex-permissions","version":1,"items":[{"id":5,"name":"five"}],"userGroups":[],
        "users":[{"id":"u","name":"u","password":"","start":"2026-01-01","end":"2026-12-31","enabled":true,"discount":0,"group":null},
                 {"id":"u","name":"u","password":"","start":"2026-01-01","end":"2026-12-31","enabled":true,"discount":0,"group":null}],
        "permissionGroups":[]})");
    f.close();
    TempStore empty(GetParam());
    const CliRun r = runCli({"import", file, "--store", empty.connectionString()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("user u exists")) << r.err.toStdString();
    auto e = openConnection(empty.connectionString());
    EXPECT_EQ(snapshot(*e), QStringList());
    EXPECT_EQ(snapshot(*db), before);
    expectClean();
}

TEST_P(CliAdmin, ListsAndTheLogInTheirThreeForms) {
    verb({"item", "add", "7", "say \"hi\", then\\go"});
    verb({"item", "add", "8", "打印"});
    db->execute("INSERT INTO qx_Logs VALUES ('pc1','Alice','2026-03-01 08:00:00','用户登录')");
    db->execute("INSERT INTO qx_Logs VALUES ('pc2','Bob','2026-03-02 09:00:00','使用权限(打印)')");
    db->execute("INSERT INTO qx_Logs VALUES ('pc1','Alice','2026-03-31 23:59:59','使用权限(打印)')");
    db->execute("INSERT INTO qx_Logs VALUES ('pc1','Alice','2026-04-01 00:00:00','用户退出登录')");
    verb({"list", "items", "--csv"});
    EXPECT_EQ(last.out, "item,name\r\n7,\"say \"\"hi\"\", then\\go\"\r\n8,打印\n");
    verb({"list", "items", "--json"});
    const QJsonArray items = QJsonDocument::fromJson(last.out.toUtf8()).array();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0].toObject().value("item").toInt(-1), 7); // a number, not a text
    EXPECT_EQ(items[0].toObject().value("name").toString(), "say \"hi\", then\\go");
    verb({"list", "items"});
    EXPECT_EQ(last.out.split('\n').value(3), "8     打印");
    // The log: a day given to --until takes the whole day; --text and --name narrow it.
    verb({"log", "--since", "2026-03-02", "--until", "2026-03-31", "--csv"});
    EXPECT_EQ(last.out, "computer,user,time,text\r\npc2,Bob,2026-03-02 09:00:00,使用权限(打印)\r\n"
                        "pc1,Alice,2026-03-31 23:59:59,使用权限(打印)\n");
    verb({"log", "--name", "Alice", "--text", "登录", "--json"});
    const QJsonArray rows = QJsonDocument::fromJson(last.out.toUtf8()).array();
    ASSERT_EQ(rows.size(), 2); // 用户登录 and 用户退出登录
    EXPECT_EQ(rows[1].toObject().value("time").toString(), "2026-04-01 00:00:00");
    verb({"log", "--name", "o'brien"});
    EXPECT_EQ(last.out.count('\n'), 2); // the heading and its rule
    verb({"log", "--json", "--csv"}, 2);
}

// The text table pads each cell to the columns the terminal draws it in: a wide character takes
// two, a combining mark none, and a character drawn as nothing (a C1 control) none.
TEST(CliTable, CellsArePaddedToTheColumnsTheyTake) {
    TempStore store(Backend::SQLite);
    const QString cs = store.connectionString();
    ASSERT_EQ(runCli({"item", "add", "1", "one", "--store", cs}).exitCode, 0);
    const struct {
        QString name;
        int columns;
    } cases[] = {{"plain", 5},
                 {"打印机", 6},
                 {QString("cafe") + QChar(0x0301), 4},
                 {QString("a") + QChar(0x0085) + "b", 2}};
    int widest = 4; // the heading "name"
    for (const auto& c : cases) {
        ASSERT_EQ(runCli({"permgroup", "add", c.name, "--store", cs}).exitCode, 0) << c.name.toStdString();
        widest = std::max(widest, c.columns);
    }
    const CliRun r = runCli({"list", "permgroups", "--store", cs});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = r.out.split('\n');
    for (const auto& c : cases) {
        const QString expected = c.name + QString(widest - c.columns + 2, ' ') + "0      0";
        EXPECT_TRUE(lines.contains(expected)) << c.name.toStdString() << "\n" << r.out.toStdString();
    }
}

// Random setups made through the procedures: export, import into an empty store, export again
// gives the same text.
TEST_P(CliAdmin, ExportImportExportGivesTheSameJson) {
    const int rounds = GetParam() == Backend::SQLite ? 4 : 2;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE(round);
        TempStore src(GetParam());
        auto cn = openConnection(src.connectionString());
        QRandomGenerator rng(1234 + round);
        const int items = 3 + rng.bounded(8), groups = rng.bounded(4), users = 2 + rng.bounded(8),
                  perms = 1 + rng.bounded(4);
        for (int i = 0; i < items; ++i)
            cn->execute(QString("INSERT INTO qx_Name (qxID, qxName) VALUES (%1, 'it''em %1')")
                            .arg(i % 3 == 0 ? i * 1000 : 1000 * (i / 3) + i % 3));
        for (int g = 1; g <= groups; ++g) {
            cn->execute(
                QString("INSERT INTO qx_user (zuid,userid,username,Allow) VALUES (%1,'组%1','组%1','%2')")
                    .arg(g)
                    .arg(rng.bounded(2) ? "T" : "F"));
            cn->execute(QString("Exec qxAddUser '组%1'").arg(g));
        }
        for (int u = 0; u < users; ++u) {
            const int zuid = groups && rng.bounded(2) ? 1001 + rng.bounded(groups) : 10000;
            cn->execute(QString("Insert qx_user (userID, userName, userPwd, startTime, endTime, Allow, "
                                "AllowZekou,zuid) VALUES "
                                "('u%1','User \\%1','%2','2026-01-0%3','2027-12-31','%4',%5,%6)")
                            .arg(u)
                            .arg(u % 3 ? EncryptPassword(QString("pw%1").arg(u), "kmpq") : QString())
                            .arg(1 + rng.bounded(9))
                            .arg(rng.bounded(2) ? "T" : "F")
                            .arg(rng.bounded(101))
                            .arg(zuid));
            if (zuid == 10000)
                cn->execute(QString("Exec qxAddUser 'u%1'").arg(u));
        }
        const QStringList holders = [&] {
            QStringList h;
            AdoQuery q(cn.get(), "select userID from qx_user where zuid < 1000 or zuid >= 10000");
            q.open();
            for (int r = 0; r < q.recordCount(); ++r)
                h << q.value(r, 0).toString();
            return h;
        }();
        for (int p = 0; p < perms; ++p) {
            cn->execute(QString("Exec qxAddzuName 'p%1'").arg(p));
            AdoQuery q(cn.get(), "select qxID from qx_Name");
            q.open();
            for (int r = 0; r < q.recordCount(); ++r)
                if (rng.bounded(2))
                    cn->execute(
                        QString("Exec qxUpDateAllows 'p%1',%2,'T'").arg(p).arg(q.value(r, 0).toInt()));
            for (const QString& h : holders)
                if (rng.bounded(3) == 0)
                    cn->execute(QString("Exec qx_user_zu_changed '%1','p%2','T'").arg(h).arg(p));
        }
        ASSERT_TRUE(checkStore(*cn).clean());
        const QString a = dir.path() + "/a.json", b = dir.path() + "/b.json";
        ASSERT_EQ(runCli({"export", a, "--store", src.connectionString()}).exitCode, 0);
        TempStore dst(GetParam());
        CliRun r = runCli({"import", a, "--store", dst.connectionString()});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        ASSERT_EQ(runCli({"export", b, "--store", dst.connectionString()}).exitCode, 0);
        QFile fa(a), fb(b);
        ASSERT_TRUE(fa.open(QIODevice::ReadOnly) && fb.open(QIODevice::ReadOnly));
        const QByteArray ja = fa.readAll();
        EXPECT_EQ(ja, fb.readAll());
        EXPECT_TRUE(ja.contains("\"grants\"") && ja.contains("\"version\": 1"));
        // It holds every password's cipher text: nobody but its owner reads it.
        EXPECT_EQ(QFile::permissions(a) &
                      (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
                  0);
        auto d = openConnection(dst.connectionString());
        EXPECT_TRUE(checkStore(*d).clean());
        EXPECT_EQ(scalar(*d, "select count(*) from qx_user_qx"),
                  scalar(*cn, "select count(*) from qx_user_qx"));
        // A second import into the filled store is refused.
        r = runCli({"import", a, "--store", dst.connectionString()});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.err.contains("the store is not empty")) << r.err.toStdString();
    }
}

// The trace holds every statement but no password: it is its owner's alone, is never written
// through a symbolic link, and a trace that cannot be written stops the verb before it starts.
TEST_P(CliAdmin, TheTraceShowsNoPasswordAndOnlyItsOwnerReadsIt) {
    const QString cipher = EncryptPassword("secret", "kmpq");
    // An import: the cipher text of the export in the insert's values.
    const QString file = dir.path() + "/e.json";
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QString(R"({"format":"vardex-permissions","version":1,"items":[],"userGroups":[],
        "users":[{"id":"imp","name":"imp","password":"%1","start":"2026-01-01","end":"2026-12-31",
                  "enabled":true,"discount":0,"group":null}],"permissionGroups":[]})")
                .arg(cipher)
                .toUtf8());
    f.close();
    QStringList all = verb({"import", file});
    all += verb({"user", "add", "bob"}, 0, {{"VARDEX_NEW_PASSWORD", "secret"}});
    all += verb({"user", "passwd", "bob"}, 0, {{"VARDEX_NEW_PASSWORD", "other"}});
    all += verb({"user", "edit", "imp", "--name", "Imp"});
    const QStringList stored{cipher, scalar(*db, "select userPwd from qx_user where userID = 'bob'"),
                             scalar(*db, "select userPwd from qx_user where userID = 'imp'")};
    int masked = 0;
    for (const QString& s : all) {
        for (const QString& c : stored)
            EXPECT_FALSE(s.contains(c)) << s.toStdString();
        masked += s.count("'***'");
    }
    const std::string joined = all.join("\n").toStdString();
    EXPECT_EQ(masked, 4) << joined; // two inserts, two updates
    EXPECT_TRUE(all.join("\n").contains("VALUES ('bob','bob','***','")) << joined;
    EXPECT_TRUE(all.join("\n").contains("Update qx_user Set userName = 'Imp',userPwd = '***',startTime"))
        << joined;
    // Its owner's only, also when the file was there before with other permissions.
    const QString trace = dir.path() + "/trace.json";
    for (const bool existed : {false, true}) {
        QFile::remove(trace);
        if (existed) {
            QFile old(trace);
            ASSERT_TRUE(old.open(QIODevice::WriteOnly));
            old.write(QByteArray(10000, 'x'));
            old.close();
            QFile::setPermissions(trace,
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
        }
        const CliRun r = runCli({"list", "users", "--store", store->connectionString(), "--trace", trace});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(trace).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << existed;
        QFile t(trace);
        ASSERT_TRUE(t.open(QIODevice::ReadOnly));
        EXPECT_TRUE(QJsonDocument::fromJson(t.readAll()).isArray()) << existed;
    }
    // A symbolic link, a dangling one, a missing folder, a folder: exit 2 and the verb not run.
    const QString target = dir.path() + "/target";
    QFile keep(target);
    ASSERT_TRUE(keep.open(QIODevice::WriteOnly));
    keep.write("keep");
    keep.close();
    ASSERT_TRUE(QFile::link(target, dir.path() + "/link"));
    ASSERT_TRUE(QFile::link(dir.path() + "/nowhere", dir.path() + "/dangling"));
    for (const QString& bad :
         {dir.path() + "/link", dir.path() + "/dangling", dir.path() + "/no/dir/t.json", dir.path()}) {
        const CliRun r = runCli(
            {"user", "add", "zed", "--no-password", "--store", store->connectionString(), "--trace", bad});
        EXPECT_EQ(r.exitCode, 2) << bad.toStdString();
        EXPECT_TRUE(r.err.contains("cannot write the trace file")) << r.err.toStdString();
    }
    EXPECT_EQ(scalarInt(*db, "select count(*) from qx_user where userID = 'zed'"), 0);
    QFile back(target);
    ASSERT_TRUE(back.open(QIODevice::ReadOnly));
    EXPECT_EQ(back.readAll(), "keep");
    EXPECT_FALSE(QFile::exists(dir.path() + "/nowhere"));
}

// A user's password is never set by accident: --password is the database account's on no user
// verb, an empty password needs --no-password, and without a terminal a password must be given.
TEST_P(CliAdmin, AUserGetsThePasswordMeantOrNone) {
    auto logsIn = [&](const QString& id, const QString& pwd) {
        return runCli({"session", store->connectionString()}, {},
                      QString("CheckUserLogin \"%1\" \"%2\" \"\" \"\" 0\n").arg(id, pwd).toUtf8())
            .out.startsWith("0\n");
    };
    const struct {
        QStringList args;
        QMap<QString, QString> env;
        QString message;
    } refused[] = {
        {{"user", "add", "bob", "--password", "secret"}, {}, "--db-password"},
        {{"user", "passwd", "bob", "--password", "secret"}, {}, "--db-password"},
        {{"list", "users", "--password", "secret"}, {}, "--db-password"},
        {{"user", "add", "bob"}, {}, "no new password"},
        {{"user", "passwd", "bob"}, {}, "no new password"},
        {{"user", "add", "bob"}, {{"VARDEX_NEW_PASSWORD", ""}}, "VARDEX_NEW_PASSWORD is empty"},
        {{"user", "add", "bob"}, {{"VARDEX_NEW_PASSWORD", " \t "}}, "--no-password"},
        {{"user", "add", "bob", "--ask-password"}, {{"VARDEX_NEW_PASSWORD", "x"}}, "no new password"},
        {{"user", "add", "bob", "--no-password", "--ask-password"}, {}, "give one of"},
    };
    for (const auto& c : refused) {
        const QStringList s = verb(c.args, 2, c.env);
        EXPECT_TRUE(last.err.contains(c.message))
            << c.args.join(' ').toStdString() << ": " << last.err.toStdString();
        EXPECT_EQ(writes(s), QStringList()) << c.args.join(' ').toStdString();
    }
    EXPECT_EQ(scalarInt(*db, "select count(*) from qx_user"), 0);
    verb({"user", "add", "carol", "--no-password"});
    EXPECT_TRUE(logsIn("carol", ""));
    verb({"user", "add", "bob", "--db-password", ""}, 0, {{"VARDEX_NEW_PASSWORD", "secret"}});
    EXPECT_TRUE(logsIn("bob", "secret"));
    EXPECT_FALSE(logsIn("bob", ""));
    // At the prompt: an empty answer is refused, the two answers must agree.
    for (const auto& [typed, exit] : {std::pair{"\n", 2}, {"one\ntwo\n", 1}, {"new pw\nnew pw\n", 0}}) {
        QByteArray screen;
        EXPECT_EQ(onTerminal("user passwd bob", typed, screen), exit) << typed << screen.toStdString();
        EXPECT_TRUE(logsIn("bob", exit == 0 ? "new pw" : "secret")) << typed;
    }
    // --password stays the database account's on install, session and doctor.
    EXPECT_EQ(runCli({"doctor", store->connectionString(), "--password", ""}).exitCode, 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, CliAdmin, VARDEX_BACKEND_PARAMS);

// Desktops adding at the same moment: every verb's check and insert are serialised on the
// store, so after parallel rounds of the four adding verbs no user group number, user, item or
// permission group is there twice.
TEST_P(CliAdmin, ParallelAddsAddNothingTwice) {
    for (const char* v : {"(1, 'a')", "(2, 'b')"})
        db->execute(QString("INSERT INTO qx_Name (qxID, qxName) VALUES %1").arg(v));
    const int processes = 5, rounds = 4;
    for (int r = 0; r < rounds; ++r) {
        std::vector<std::unique_ptr<QProcess>> running;
        for (int p = 0; p < processes; ++p)
            for (QStringList args : {QStringList{"usergroup", "add", QString("g%1_%2").arg(r).arg(p)},
                                     QStringList{"user", "add", QString("u%1").arg(r), "--no-password"},
                                     QStringList{"item", "add", QString::number(100 + r), "x"},
                                     QStringList{"permgroup", "add", QString("pg%1").arg(r)}}) {
                running.push_back(std::make_unique<QProcess>());
                running.back()->start(binDir() + "/vardex-cli",
                                      args << "--store" << store->connectionString());
            }
        for (auto& p : running) {
            EXPECT_TRUE(p->waitForFinished(300000));
            EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
        }
    }
    const auto doubled = [&](const QString& table, const QString& key) {
        return scalarInt(*db,
                         QString("select count(*) from (select %2 from %1 group by %2 having count(*) > 1) d")
                             .arg(table, key));
    };
    EXPECT_EQ(doubled("qx_user", "zuid"), 1); // 10000: the users in no user group
    EXPECT_EQ(doubled("qx_user", "userID"), 0);
    EXPECT_EQ(doubled("qx_Name", "qxID"), 0);
    EXPECT_EQ(doubled("qx_zu", "zuName, qxID"), 0);
    EXPECT_EQ(scalarInt(*db, "select count(*) from qx_user where zuid < 1000"), rounds * processes);
    EXPECT_EQ(scalarInt(*db, "select count(*) from qx_Name"), 2 + rounds);
    expectClean();
}

// A generated store carried SQLite -> PostgreSQL -> ODBC -> SQLite: the tables hold the same
// rows, the doctor agrees, and every user's right check on every item answers the same on all.
TEST(CliCopy, SqliteToPostgresToOdbcToSqliteKeepsEveryAnswer) {
    if (!postgresAvailable())
        GTEST_SKIP() << "no PostgreSQL cluster";
    TempStore a(Backend::SQLite), b(Backend::PostgreSQL), o(Backend::OdbcPostgreSQL), c(Backend::SQLite);
    {
        auto cn = openConnection(a.connectionString());
        storegen::Size size;
        size.users = 120;
        size.items = 50;
        size.logRows = 5000;
        storegen::generate(*cn, size);
    }
    CliRun r = runCli({"copy", a.connectionString(), b.connectionString()});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("counts and contents agree")) << r.out.toStdString();
    r = runCli({"copy", b.connectionString(), o.connectionString()});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    r = runCli({"copy", o.connectionString(), c.connectionString()});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    // Into a store that is not empty: refused, nothing added.
    r = runCli({"copy", a.connectionString(), c.connectionString()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("the destination is not empty")) << r.err.toStdString();

    QList<QStringList> answers, tableCounts;
    for (TempStore* s : {&a, &b, &o, &c}) {
        auto cn = openConnection(s->connectionString());
        EXPECT_TRUE(checkStore(*cn).clean());
        QStringList counts;
        for (const char* t : {"qx_Name", "qx_user", "qx_user_qx", "qx_user_zu", "qx_zu", "qx_Logs"})
            counts << scalar(*cn, QString("select count(*) from %1").arg(t));
        tableCounts << counts;
        QStringList got;
        ASSERT_EQ(vardex::ConnectDatabase(s->connectionString(), "", "", "2026-06-15", ""), 0);
        AdoQuery users(&dataModule().ADOcn, "select userID from qx_user where zuid >= 1000 order by userID");
        users.open();
        for (int u = 0; u < users.recordCount(); ++u)
            for (int i = 0; i < 50; ++i)
                got << QString::number(vardex::CheckUserRight(users.value(u, 0).toString(),
                                                              (i / 25 + 1) * 1000 + i % 25, nullptr, 0));
        vardex::DisconnectDatabase();
        answers << got;
    }
    EXPECT_EQ(tableCounts[0].mid(0, 2), QStringList({"50", "130"}));
    EXPECT_EQ(tableCounts[0].last(), "5000");
    EXPECT_EQ(tableCounts[1], tableCounts[0]);
    EXPECT_EQ(tableCounts[2], tableCounts[0]);
    EXPECT_EQ(tableCounts[3], tableCounts[0]);
    ASSERT_EQ(answers[0].size(), 120 * 50);
    EXPECT_GT(answers[0].count("0"), 100); // granted rights exist
    EXPECT_GT(answers[0].count("3"), 100); // and refused ones
    EXPECT_EQ(answers[1], answers[0]);
    EXPECT_EQ(answers[2], answers[0]);
    EXPECT_EQ(answers[3], answers[0]);
}

// The provisioning example of the README, pasted into a shell at the top of a built checkout.
TEST(CliReadme, TheProvisioningExampleGrantsTheRight) {
    QFile readme(sourceDir() + "/README.md");
    ASSERT_TRUE(readme.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(readme.readAll());
    const qsizetype heading = text.indexOf("### Provisioning a store from nothing to a granted right");
    ASSERT_GE(heading, 0);
    const qsizetype open = text.indexOf("```sh\n", heading);
    const qsizetype close = text.indexOf("\n```", open + 6);
    ASSERT_TRUE(open > 0 && close > open);
    const QString script = text.mid(open + 6, close - open - 6);
    QTemporaryDir top;
    ASSERT_TRUE(QDir().mkpath(top.path() + "/build"));
    ASSERT_TRUE(QFile::link(binDir(), top.path() + "/build/bin"));
    QProcess p;
    p.setWorkingDirectory(top.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("VARDEX_STORE");
    p.setProcessEnvironment(env);
    p.start("bash", {"-e", "-c", script});
    ASSERT_TRUE(p.waitForFinished(120000));
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    EXPECT_EQ(p.exitCode(), 0) << QString::fromUtf8(p.readAllStandardError()).toStdString();
    EXPECT_TRUE(out.contains("\n0\n0\n")) << out.toStdString();
    EXPECT_TRUE(out.contains(QRegularExpression("sales +1001 +Print invoices +1"))) << out.toStdString();
    EXPECT_FALSE(QFile::exists(top.path() + "/alice.pw"));
    auto cn = openConnection("Provider=SQLite;Data Source=" + top.path() + "/perm.db");
    EXPECT_TRUE(checkStore(*cn).clean());
}

// The window and the shell side by side: the same toggle clicked in the administration window on
// one store and given as a verb on a twin store sends the same statements, word for word.
class CliAndWindow : public ::testing::TestWithParam<Backend> {
  protected:
    static void seed(AdoConnection& cn) {
        for (int id : {1000, 1001, 1002, 2000, 2001})
            cn.execute(QString("INSERT INTO qx_Name (qxID, qxName) VALUES (%1, 'i%1')").arg(id));
        cn.execute("INSERT INTO qx_user (zuid,userid,username) VALUES (1,'fin','fin')");
        cn.execute("Exec qxAddUser 'fin'");
        for (const char* m : {"m1", "m2"})
            cn.execute(
                QString(
                    "Insert qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou,zuid) "
                    "VALUES ('%1','%1','','2026-01-01','2026-12-31','T',0,1001)")
                    .arg(m));
        cn.execute("Exec qxAddzuName 'admin'");
        cn.execute("Exec qxUpDateAllows 'admin',2001,'T'");
        cn.execute("Exec qxUpDateAllows 'admin',2000,'T'");
        cn.execute("Exec qx_user_zu_changed 'fin','admin','T'");
    }
    // The statements that change data, sent by the window for one click.
    QStringList clickInWindow(TempStore& store, const std::function<void(Tfrmanager&)>& act) {
        EXPECT_EQ(vardex::ConnectDatabase(store.connectionString(), "", "", "2026-06-15", ""), 0);
        QStringList out;
        {
            Tfrmanager w;
            w.show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(&w));
            dataModule().ADOcn.setLogging(true);
            dataModule().ADOcn.clearLog();
            act(w);
            for (const QString& s : dataModule().ADOcn.statementLog())
                if (!s.startsWith("select", Qt::CaseInsensitive))
                    out << s;
        }
        vardex::DisconnectDatabase();
        return out;
    }
    QStringList verbOn(TempStore& store, QStringList args) {
        const QString trace = dir.path() + "/t.json";
        QFile::remove(trace);
        const CliRun r = runCli(args << "--store" << store.connectionString() << "--trace" << trace);
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        QFile f(trace);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        QStringList out;
        for (const QJsonValue& v : QJsonDocument::fromJson(f.readAll()).array())
            if (!v.toString().startsWith("select", Qt::CaseInsensitive))
                out << v.toString();
        return out;
    }
    static QTreeWidgetItem* node(TreeList* list, const QString& field, const QString& value) {
        for (QTreeWidgetItemIterator it(list); *it; ++it)
            if (list->text(*it, field) == value)
                return *it;
        return nullptr;
    }
    static void select(QTreeWidgetItem* n) {
        QTest::mouseClick(n->treeWidget()->viewport(), Qt::LeftButton, Qt::NoModifier,
                          n->treeWidget()->visualItemRect(n).center() - QPoint(40, 0));
    }
    static void clickCheck(TreeList* list, QTreeWidgetItem* n) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, list->cellRect(n, 1).center());
    }
    QTemporaryDir dir;
};

TEST_P(CliAndWindow, TogglesSendWhatTheWindowSends) {
    TempStore window(GetParam()), shell(GetParam());
    seed(*openConnection(window.connectionString()));
    seed(*openConnection(shell.connectionString()));
    // A group's last enabled member disabled: the member, then the group.
    const QStringList a = clickInWindow(window, [](Tfrmanager& w) {
        QTreeWidgetItem* m1 = node(w.dtl1, "userID", "m1");
        select(m1);
        clickCheck(w.dtl1, m1);
        QTreeWidgetItem* m2 = node(w.dtl1, "userID", "m2");
        select(m2);
        clickCheck(w.dtl1, m2);
    });
    QStringList b = verbOn(shell, {"user", "disable", "m1"});
    b += verbOn(shell, {"user", "disable", "m2"});
    EXPECT_EQ(a.size(), 3);
    EXPECT_EQ(b, a);
    // An item under a head item switched on in the group's permission group, and a head item off.
    const QStringList c = clickInWindow(window, [](Tfrmanager& w) {
        select(node(w.dtl1, "userID", "fin"));
        select(node(w.dtl2, "name", "admin"));
        clickCheck(w.dtl3, node(w.dtl3, "name", "i1002"));
        clickCheck(w.dtl3, node(w.dtl3, "name", "i2000"));
    });
    QStringList d = verbOn(shell, {"permgroup", "set", "admin", "1002", "on"});
    d += verbOn(shell, {"permgroup", "set", "admin", "2000", "off"});
    EXPECT_EQ(c,
              QStringList({"Exec qxUpDateAllows 'admin',1002,'T'", "Exec qxUpDateAllows 'admin',1000,'T'",
                           "Exec qxUpDateAllows 'admin',2000,'F'", "Exec qxUpDateAllows 'admin',2001,'F'"}));
    EXPECT_EQ(d, c);
    // The permission group taken back from the user group.
    const QStringList e = clickInWindow(window, [](Tfrmanager& w) {
        select(node(w.dtl1, "userID", "fin"));
        clickCheck(w.dtl2, node(w.dtl2, "name", "admin"));
    });
    EXPECT_EQ(e, QStringList({"Exec qx_user_zu_changed 'fin','admin','F'"}));
    EXPECT_EQ(verbOn(shell, {"permgroup", "unassign", "admin", "fin"}), e);
    auto x = openConnection(window.connectionString()), y = openConnection(shell.connectionString());
    EXPECT_EQ(snapshot(*x), snapshot(*y));
}

// Acts once on the first modal dialog with the given name that opens while it lives.
class DialogAnswer {
  public:
    DialogAnswer(const QString& name, std::function<void(QWidget*)> act) {
        QObject::connect(&m_timer, &QTimer::timeout, [this, name, act] {
            QWidget* w = QApplication::activeModalWidget();
            if (!m_done && w && w->objectName() == name) {
                m_done = true;
                act(w);
            }
        });
        m_timer.start(5);
    }
    ~DialogAnswer() { EXPECT_TRUE(m_done) << "the dialog never opened"; }

  private:
    QTimer m_timer;
    bool m_done = false;
};

TEST_P(CliAndWindow, AddingThroughTheDialogsSendsWhatTheVerbsSend) {
    TempStore window(GetParam()), shell(GetParam());
    seed(*openConnection(window.connectionString()));
    seed(*openConnection(shell.connectionString()));
    auto type = [](QWidget* dialog, const char* edit, const QString& text) {
        auto* e = dialog->findChild<QLineEdit*>(edit);
        ASSERT_NE(e, nullptr);
        e->setFocus();
        QTest::keyClicks(e, text);
    };
    auto ok = [](QWidget* dialog) {
        QTest::mouseClick(dialog->findChild<QPushButton*>("btnOK"), Qt::LeftButton);
    };
    const QStringList a = clickInWindow(window, [&](Tfrmanager& w) {
        {
            DialogAnswer d("frqxzu", [&](QWidget* dlg) {
                type(dlg, "Edit1", "audit");
                ok(dlg);
            });
            QTest::mouseClick(w.btnAddZu, Qt::LeftButton);
        }
        {
            DialogAnswer d("frqxzu", [&](QWidget* dlg) {
                type(dlg, "Edit1", "team");
                ok(dlg);
            });
            QTest::mouseClick(w.btnAddUserzu, Qt::LeftButton);
        }
        select(node(w.dtl1, "userID", "fin")); // the user dialog preselects this group
        {
            DialogAnswer d("frUser", [&](QWidget* dlg) {
                type(dlg, "Edit1", "n1");
                type(dlg, "Edit2", "Nina");
                ok(dlg);
            });
            QTest::mouseClick(w.btnAddUser, Qt::LeftButton);
        }
    });
    const QString today = QDate::currentDate().toString("yyyy-MM-dd");
    QStringList b = verbOn(shell, {"permgroup", "add", "audit"});
    b += verbOn(shell, {"usergroup", "add", "team"});
    b += verbOn(shell, {"user", "add", "n1", "--name", "Nina", "--group", "fin", "--start", today, "--end",
                        today, "--disabled", "--no-password"});
    EXPECT_EQ(a.size(), 4);
    EXPECT_EQ(b, a);
    auto x = openConnection(window.connectionString()), y = openConnection(shell.connectionString());
    EXPECT_EQ(snapshot(*x), snapshot(*y));
}

INSTANTIATE_TEST_SUITE_P(Backends, CliAndWindow, VARDEX_BACKEND_PARAMS);
