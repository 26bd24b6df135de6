// The conventions every verb of vardex-cli keeps, checked over the verb tables as the program
// lists them (help --json): help on standard output, exit 2 on a bad argument, --json that
// parses, --dry-run that leaves the store as it was; and each convention that is not a table's
// column: the question of a destructive verb, log's --user, standard input for import, no Qt
// chatter, progress on a terminal, -q and -v, the language, and the bash completion.
#include "cli/commands.h"
#include "cli/inprocess.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace vardex;
using namespace vardex::test;
namespace vcli = vardex::cli;
using vcli::CliRun;

namespace {

// A verb run in this process, as the program would run it.
CliRun invoke(const QStringList& args, const QByteArray& input = {}, const QMap<QString, QString>& env = {},
              const QStringList& unset = {}) {
    return vcli::runInProcess(args, input, env, unset);
}

// vardex-cli run as a process of its own: for what only a process shows.
CliRun cliProcess(const QStringList& args, const QByteArray& input = {},
                  const QMap<QString, QString>& env = {}, const QStringList& unset = {}) {
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (auto it = env.begin(); it != env.end(); ++it)
        e.insert(it.key(), it.value());
    for (const QString& name : unset)
        e.remove(name);
    p.setProcessEnvironment(e);
    p.start(binDir() + "/vardex-cli", args);
    EXPECT_TRUE(p.waitForStarted(10000));
    p.write(input);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(120000));
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

// Runs vardex-cli with a terminal as its standard streams, typing what is given; answers what
// the terminal showed.
int onTerminal(const QStringList& args, const QByteArray& typed, QString& screen) {
    QStringList quoted{"'" + binDir() + "/vardex-cli'"};
    for (const QString& a : args)
        quoted << "'" + QString(a).replace("'", "'\\''") + "'";
    QProcess p;
    p.start("script", {"-qec", quoted.join(' '), "/dev/null"});
    EXPECT_TRUE(p.waitForStarted());
    p.write(typed);
    EXPECT_TRUE(p.waitForFinished(60000));
    screen = QString::fromUtf8(p.readAll());
    return p.exitCode();
}

// A verb of this test only, with an option whose name is 60 characters long: it is checked as
// any other, whatever the width of the help.
const QString kLongOption = "an-option-whose-name-is-sixty-characters-long-for-the-parser";
void longOptions(vcli::Options& o) {
    o << vcli::OptionDecl{{kLongOption}, "A number.", "N", vcli::Kind::Int32};
    o << vcli::OptionDecl{{"at"}, "A time.", "T", vcli::Kind::Time};
}

// Every row of every table of a store, sorted.
QStringList dump(const QString& cs) {
    auto cn = openConnection(cs);
    QStringList out;
    const QStringList present = cn->tableNames();
    for (const char* t : {"qx_Name", "qx_user", "qx_user_qx", "qx_user_zu", "qx_zu", "qx_Logs",
                          "vardex_settings", "vardex_lockout", "vardex_meta"}) {
        if (!present.contains(t, Qt::CaseInsensitive))
            continue;
        AdoQuery q(cn.get(), QString("select * from %1").arg(t));
        q.open();
        for (int r = 0; r < q.recordCount(); ++r) {
            QStringList row{t};
            for (int c = 0; c < q.fieldCount(); ++c)
                row << (q.value(r, c).isNull() ? "<null>" : q.value(r, c).toString());
            out << row.join('|');
        }
    }
    out.sort();
    return out;
}

// SQLite stores made by copying one prepared file: a store with items, a user group with a
// member, users, a permission group and audit rows; or an installed, empty one.
class Stores {
  public:
    Stores() {
        EXPECT_EQ(invoke({"install", cs(m_dir.path() + "/empty.db")}).exitCode, 0);
        const QString base = cs(m_dir.path() + "/base.db");
        EXPECT_EQ(invoke({"install", base}).exitCode, 0);
        passwordFile = m_dir.path() + "/pw";
        QFile pw(passwordFile);
        EXPECT_TRUE(pw.open(QIODevice::WriteOnly));
        pw.write("secret\n");
        pw.close();
        pw.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        for (const QStringList& a : QList<QStringList>{
                 {"item", "add", "1000", "Invoices"},
                 {"item", "add", "1001", "Print"},
                 {"usergroup", "add", "sales"},
                 {"user", "add", "alice", "--name", "Alice", "--group", "sales", "--no-password"},
                 {"user", "add", "bob", "--no-password"},
                 {"user", "add", "dan", "--disabled", "--no-password"},
                 {"permgroup", "add", "clerks"},
                 {"permgroup", "set", "clerks", "1001", "on"},
                 {"permgroup", "assign", "clerks", "sales"},
                 // dan's cipher text is left for passwords upgrade, and dan is locked out.
                 {"user", "passwd", "dan", "--new-password-file", passwordFile},
                 {"policy", "set", "password.hash=bcrypt", "lockout.failures=3"}}) {
            const CliRun r = invoke(a + QStringList{"--store", base});
            EXPECT_EQ(r.exitCode, 0) << a.join(' ').toStdString() << r.err.toStdString();
        }
        auto cn = openConnection(base);
        cn->execute("INSERT INTO qx_Logs VALUES ('pc1','Alice','2026-03-01 08:00:00','用户登录')");
        cn->execute("INSERT INTO qx_Logs VALUES ('pc2','Bob','2026-03-02 09:00:00','用户登录')");
        cn->execute("INSERT INTO qx_Logs VALUES ('pc1','Alice','2026-04-01 00:00:00','用户退出登录')");
        cn->execute("INSERT INTO vardex_lockout VALUES ('dan', 3, '2999-01-01 00:00:00')");
    }
    // A fresh copy of the prepared store (or of the empty one).
    QString fresh(bool empty = false) {
        const QString path = m_dir.path() + QString("/s%1.db").arg(++m_count);
        EXPECT_TRUE(QFile::copy(m_dir.path() + (empty ? "/empty.db" : "/base.db"), path));
        return cs(path);
    }
    static QString cs(const QString& path) { return "Provider=SQLite;Data Source=" + path; }
    QString dir() const { return m_dir.path(); }
    QString passwordFile;

  private:
    QTemporaryDir m_dir;
    int m_count = 0;
};

// A verb run as the table test runs it: its arguments on a store, which it is given as
// CONNSTR, --store, or (import, copy) as files and stores of their own.
struct Sample {
    QStringList args; // "@STORE" is the store's connection string, "@EMPTY" an empty store's,
                      // "@OLD" the store's as a release before the version row left it
    bool onStore = true;
};

const QMap<QString, Sample>& samples() {
    static const QMap<QString, Sample> m{
        {"doctor", {{"@STORE"}, false}},
        {"upgrade", {{"@OLD"}, false}},
        {"user add", {{"carol", "--no-password"}}},
        {"user edit", {{"bob", "--name", "Bobby"}}},
        {"user passwd", {{"bob", "--new-password-file", "@PW"}}},
        {"user move", {{"bob", "--group", "sales"}}},
        {"user delete", {{"bob"}}},
        {"user enable", {{"dan"}}},
        {"user disable", {{"bob"}}},
        {"usergroup add", {{"g2"}}},
        {"usergroup delete", {{"sales"}}},
        {"permgroup add", {{"p2"}}},
        {"permgroup delete", {{"clerks"}}},
        {"permgroup assign", {{"clerks", "bob"}}},
        {"permgroup unassign", {{"clerks", "sales"}}},
        {"permgroup set", {{"clerks", "1000", "off"}}},
        {"item add", {{"2000", "Reports"}}},
        {"item rename", {{"1001", "Print all"}}},
        {"item renumber", {{"1001", "1005"}}},
        {"item delete", {{"1001"}}},
        {"grant", {{"bob", "1001"}}},
        {"revoke", {{"sales", "1001"}}},
        {"list", {{"users"}}},
        {"log", {{}}},
        {"log clear", {{"--before", "2026-03-15"}}},
        {"policy set", {{"lockout.minutes=30"}}},
        {"passwords upgrade", {{"--key", "kmpq", "--known-user", "dan", "--known-password-file", "@PW"}}},
        {"user unlock", {{"dan"}}},
        {"import", {{"@EXPORT", "--store", "@EMPTY"}, false}},
        {"copy", {{"@STORE", "@EMPTY"}, false}},
    };
    return m;
}

QJsonArray verbTable() {
    const CliRun r = invoke({"help", "--json"});
    EXPECT_EQ(r.exitCode, 0);
    return QJsonDocument::fromJson(r.out.toUtf8()).array();
}

} // namespace

class CliConventions : public ::testing::Test {
  protected:
    // The sample's command line on fresh stores; target is the store it changes.
    QStringList commandLine(const QString& verb, QString& target) {
        const Sample& s = samples()[verb];
        const QString store = stores.fresh();
        const QString empty = stores.fresh(true);
        target = s.args.contains("@EMPTY") ? empty : store;
        QStringList out = verb.split(' ');
        for (QString a : s.args) {
            if (a == "@EXPORT") {
                a = stores.dir() + "/export.json";
                if (!QFile::exists(a)) {
                    EXPECT_EQ(invoke({"export", a, "--store", stores.fresh()}).exitCode, 0);
                }
            }
            if (a == "@OLD") {
                openConnection(store)->execute("DROP TABLE vardex_meta");
                a = "@STORE";
            }
            out << (a == "@STORE" ? store : a == "@EMPTY" ? empty : a == "@PW" ? stores.passwordFile : a);
        }
        if (s.onStore)
            out << "--store" << store;
        return out;
    }
    Stores stores;
};

TEST_F(CliConventions, EveryVerbOfTheTablesKeepsThem) {
    const QJsonArray verbs = verbTable();
    ASSERT_GT(verbs.size(), 20);
    for (const QJsonValue& value : verbs) {
        const QJsonObject v = value.toObject();
        const QString verb = v["verb"].toString();
        SCOPED_TRACE(verb.toStdString());
        const QStringList words = verb.split(' ');
        // Help: on standard output, from both spellings, every argument described.
        for (const QStringList& asked : {QStringList{"help"} + words, words + QStringList{"--help"}}) {
            const CliRun h = invoke(asked);
            EXPECT_EQ(h.exitCode, 0);
            EXPECT_TRUE(h.out.startsWith("Usage: vardex-cli " + verb)) << h.out.left(200).toStdString();
            EXPECT_EQ(h.err, "");
            EXPECT_FALSE(h.out.contains("--help-all"));
        }
        QStringList filler; // an argument of the right kind for each, but one too many
        for (const QJsonValue& a : v["arguments"].toArray()) {
            EXPECT_FALSE(a["help"].toString().isEmpty()) << a["name"].toString().toStdString();
            filler << (a["kind"].toString() == "int32" ? "7" : "x");
        }
        // A bad argument is exit 2, before a store is looked for: one too many, a number that
        // is none, an option's number or time that is none.
        EXPECT_EQ(invoke(words + filler + QStringList{"extra"}).exitCode, 2);
        for (int i = 0; i < filler.size(); ++i)
            if (filler[i] == "7") {
                QStringList bad = filler;
                bad[i] = "abc";
                const CliRun r = invoke(words + bad);
                EXPECT_EQ(r.exitCode, 2);
                const QString name = v["arguments"].toArray().at(i).toObject().value("name").toString();
                EXPECT_TRUE(r.err.contains(name + " \"abc\" is not a whole number")) << r.err.toStdString();
            }
        // Every option is of a kind, a value-taking one of a value's kind; a value not of its
        // kind is refused naming the option and the kind.
        static const QMap<QString, QString> refusals{{"int32", "is not a whole number of 32 bits"},
                                                     {"time", "is not a time"},
                                                     {"date", "is not a date"}};
        for (const QJsonValue& o : v["options"].toArray()) {
            const QString kind = o["kind"].toString();
            const QString option = "--" + o["names"].toArray().last().toString();
            EXPECT_TRUE(
                QStringList({"flag", "int32", "time", "date", "text", "secret", "file"}).contains(kind))
                << option.toStdString();
            EXPECT_EQ(kind == "flag", o["value"].toString().isEmpty()) << option.toStdString();
            if (!refusals.contains(kind))
                continue;
            const CliRun r = invoke(words + filler + QStringList{option, "12x"});
            EXPECT_EQ(r.exitCode, 2) << option.toStdString();
            EXPECT_TRUE(r.err.contains(option + " \"12x\" " + refusals[kind])) << r.err.toStdString();
        }
        if (!v["json"].toBool() && !v["writes"].toBool())
            continue;
        ASSERT_TRUE(samples().contains(verb)) << "no sample for a verb that writes or gives JSON";
        QString target;
        const QStringList yes = v["destructive"].toBool() ? QStringList{"--yes"} : QStringList{};
        // --json parses, with real booleans; a write verb's outcome is one object.
        const CliRun j = invoke(commandLine(verb, target) + yes + QStringList{"--json"});
        EXPECT_EQ(j.exitCode, 0) << j.err.toStdString();
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(j.out.toUtf8(), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << j.out.left(300).toStdString();
        if (verb == "list") {
            EXPECT_TRUE(doc.array().at(0).toObject().value("enabled").isBool()); // true, not "yes"
        }
        if (verb == "doctor") {
            EXPECT_TRUE(doc["clean"].isBool());
        }
        if (v["writes"].toBool()) {
            ASSERT_TRUE(doc.isObject());
            EXPECT_TRUE(doc["ok"].isBool() && doc["ok"].toBool());
            EXPECT_TRUE(doc["dryRun"].isBool() && doc["committed"].toBool());
            EXPECT_EQ(doc["verb"].toString(), verb);
            // --dry-run: the statements are sent and rolled back; the store is as it was. The
            // same command line without it changes the store.
            const QStringList line = commandLine(verb, target);
            const QStringList before = dump(target);
            const CliRun d = invoke(line + QStringList{"--dry-run"});
            EXPECT_EQ(d.exitCode, 0) << d.err.toStdString();
            EXPECT_TRUE(d.out.contains("rolled back")) << d.out.toStdString();
            EXPECT_EQ(dump(target), before);
            EXPECT_EQ(invoke(line + yes).exitCode, 0);
            EXPECT_NE(dump(target), before);
        }
    }
}

TEST_F(CliConventions, DestructiveVerbsAskOnATerminalAndRefuseScriptsWithoutYes) {
    const QString cs = stores.fresh();
    const QStringList before = dump(cs);
    const CliRun script = invoke({"usergroup", "delete", "sales", "--store", cs});
    EXPECT_EQ(script.exitCode, 2);
    EXPECT_TRUE(script.err.contains("pass --yes")) << script.err.toStdString();
    EXPECT_EQ(dump(cs), before);
    QString screen;
    EXPECT_EQ(onTerminal({"usergroup", "delete", "sales", "--store", cs}, "n\n", screen), 1);
    EXPECT_TRUE(screen.contains("its 1 member(s): alice")) << screen.toStdString();
    EXPECT_TRUE(screen.contains("[y/N]")) << screen.toStdString();
    EXPECT_EQ(dump(cs), before);
    EXPECT_EQ(onTerminal({"usergroup", "delete", "sales", "--store", cs}, "y\n", screen), 0)
        << screen.toStdString();
    const QStringList after = dump(cs);
    EXPECT_TRUE(after.filter(QRegularExpression("^qx_user\\|(alice|sales)\\|")).isEmpty());
}

TEST_F(CliConventions, LogTakesAUserIdANameAndCheckedTimes) {
    const QString cs = stores.fresh();
    auto rows = [&](const QStringList& args) {
        const CliRun r = invoke(QStringList{"log", "--json", "--store", cs} + args);
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        return QJsonDocument::fromJson(r.out.toUtf8()).array().size();
    };
    EXPECT_EQ(rows({"--user", "alice"}), 2); // the user alice: her rows carry her name, Alice
    EXPECT_EQ(rows({"--name", "Alice"}), 2);
    EXPECT_EQ(rows({"--name", "alice"}), 0);
    EXPECT_EQ(invoke({"log", "--user", "Alice", "--store", cs}).exitCode, 1); // no user with that ID
    for (const char* t : {"garbage", "2026-02-30", "2026-03-01 25:00:00", "2026-03-01T08:00:00"})
        EXPECT_EQ(invoke({"log", "--since", t, "--store", cs}).exitCode, 2) << t;
    EXPECT_EQ(rows({"--since", "2026-03-01 08:00:00", "--until", "2026-03-02"}), 2);
    // log clear deletes what ClearLogs deletes: the rows at or before the time.
    EXPECT_EQ(invoke({"log", "clear", "--before", "2026-03-02 09:00:00", "--yes", "--store", cs}).exitCode,
              0);
    EXPECT_EQ(rows({}), 1);
    EXPECT_EQ(invoke({"log", "clear", "--yes", "--store", cs}).exitCode, 2); // --before is needed
}

TEST_F(CliConventions, HelpAndUnknownVerbs) {
    for (const QStringList& asked : {QStringList{"--help"}, QStringList{"help"}}) {
        const CliRun r = cliProcess(asked);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_TRUE(r.out.startsWith("usage: vardex-cli VERB")) << r.out.toStdString();
        EXPECT_EQ(r.err, "");
    }
    const CliRun unknown = cliProcess({"frobnicate"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_TRUE(unknown.err.startsWith("vardex-cli: unknown verb frobnicate\n")) << unknown.err.toStdString();
    EXPECT_EQ(invoke({"help", "frobnicate"}).exitCode, 2);
    for (const QStringList& asked : {QStringList{"user", "--help"}, QStringList{"help", "user"}}) {
        const CliRun r = invoke(asked);
        EXPECT_EQ(r.exitCode, 0);
        for (const char* verb : {"add", "edit", "passwd", "move", "delete", "enable", "disable"})
            EXPECT_TRUE(r.out.contains(QString("  user %1 ID").arg(verb))) << verb << r.out.toStdString();
    }
}

TEST_F(CliConventions, ImportReadsStandardInputAsExportWritesStandardOutput) {
    const CliRun out = invoke({"export", "-", "--store", stores.fresh()});
    ASSERT_EQ(out.exitCode, 0);
    const QString empty = stores.fresh(true);
    const CliRun in = invoke({"import", "-", "--store", empty}, out.out.toUtf8());
    EXPECT_EQ(in.exitCode, 0) << in.err.toStdString();
    EXPECT_EQ(invoke({"export", "-", "--store", empty}).out, out.out);
}

// Qt's own remarks (here the missing XDG_RUNTIME_DIR of a program on a display) never reach
// the verb's streams.
TEST_F(CliConventions, NothingButTheVerbsOwnOutput) {
    const QString cs = stores.fresh();
    const QMap<QString, QString> display{{"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "offscreen"}};
    const CliRun list = cliProcess({"list", "items", "--store", cs}, {}, display, {"XDG_RUNTIME_DIR"});
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_EQ(list.err, "");
    const CliRun session = cliProcess({"session", cs}, "CheckUserLogin \"bob\" \"\" \"\" \"\" 0\n", display,
                                      {"XDG_RUNTIME_DIR"});
    EXPECT_EQ(session.out, "0\n");
    EXPECT_EQ(session.err, "");
}

TEST_F(CliConventions, ProgressOnATerminalOnly) {
    QString screen;
    EXPECT_EQ(onTerminal({"copy", stores.fresh(), stores.fresh(true)}, {}, screen), 0)
        // The last table a copy fills is the lockout counts.
        << screen.toStdString();
    EXPECT_TRUE(screen.contains(QRegularExpression("vardex_lockout: \\d+ of \\d+ rows, \\d+ rows/s")))
        << screen.toStdString();
    const CliRun quiet = invoke({"copy", stores.fresh(), stores.fresh(true)});
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_EQ(quiet.err, "");
    EXPECT_EQ(
        onTerminal({"import", stores.dir() + "/none.json", "-q", "--store", stores.fresh(true)}, {}, screen),
        1);
    EXPECT_FALSE(screen.contains("rows/s"));
}

TEST_F(CliConventions, QuietAndVerbose) {
    const QString cs = stores.fresh();
    EXPECT_TRUE(invoke({"user", "enable", "bob", "--store", cs}).err.contains("already"));
    const CliRun quiet = invoke({"user", "enable", "bob", "-q", "--store", cs});
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_EQ(quiet.err, "");
    const CliRun install = invoke({"install", "-q", Stores::cs(stores.dir() + "/quiet.db")});
    EXPECT_EQ(install.exitCode, 0) << install.err.toStdString();
    EXPECT_EQ(install.out + install.err, "");
    const CliRun verbose =
        invoke({"user", "passwd", "bob", "-v", "--new-password-file", stores.passwordFile, "--store", cs});
    EXPECT_EQ(verbose.exitCode, 0);
    EXPECT_TRUE(verbose.err.contains("sent: ")) << verbose.err.toStdString();
    EXPECT_TRUE(verbose.err.contains("'***'")) << verbose.err.toStdString(); // the password masked
}

// The program speaks the language VARDEX_LANG names, else the locale's: its own messages and the
// texts it shares with the windows alike.
TEST_F(CliConventions, MessagesFollowVardexLangThenTheLocale) {
    const CliRun zh = invoke({"install", Stores::cs(stores.dir() + "/zh.db")}, {}, {{"VARDEX_LANG", "zh"}});
    EXPECT_TRUE(zh.out.startsWith("导入数据表: 成功导入数据表!")) << zh.out.toStdString();
    const CliRun en = invoke({"install", Stores::cs(stores.dir() + "/en.db")}, {},
                             {{"VARDEX_LANG", "en"}, {"LC_ALL", "zh_CN.UTF-8"}});
    EXPECT_TRUE(en.out.startsWith("Install Tables: The tables have been installed.")) << en.out.toStdString();
    const QString store = stores.fresh();
    const QStringList nobody{"user", "enable", "nobody", "--store", store};
    const CliRun chinese =
        invoke(nobody, {}, {{"LC_ALL", ""}, {"LC_MESSAGES", "zh_CN.UTF-8"}}, {"VARDEX_LANG"});
    EXPECT_EQ(chinese.exitCode, 1);
    EXPECT_EQ(chinese.err, "vardex-cli: 没有用户 nobody\n");
    EXPECT_EQ(invoke(nobody, {}, {{"VARDEX_LANG", "zh"}, {"LC_ALL", "C.UTF-8"}}).err,
              "vardex-cli: 没有用户 nobody\n");
    EXPECT_EQ(invoke(nobody, {}, {{"LC_ALL", "C.UTF-8"}}, {"VARDEX_LANG"}).err,
              "vardex-cli: no user nobody\n");
    const CliRun unknown = invoke({"frobnicate"}, {}, {{"VARDEX_LANG", "zh"}});
    EXPECT_TRUE(unknown.err.startsWith("vardex-cli: 未知命令 frobnicate\n")) << unknown.err.toStdString();
    // A refusal in the window's words: in the window's language.
    const QString cs = stores.fresh();
    openConnection(cs)->execute("update qx_user set startTime = '2026-13-01' where userID = 'bob'");
    const CliRun refused =
        invoke({"user", "edit", "bob", "--name", "B", "--store", cs}, {}, {{"VARDEX_LANG", "en"}});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.contains("“2026-13-01” is not a valid date.")) << refused.err.toStdString();
}

TEST(CliDeclarations, EveryDeclaredKindIsCheckedWhateverTheNameLength) {
    ASSERT_EQ(kLongOption.size(), 60);
    int ran = 0;
    const vcli::Verb verb{"test verb",
                          {vcli::int32Arg("COUNT")},
                          "A verb of this test.",
                          vcli::Takes::Own,
                          longOptions,
                          [&](const vcli::Invocation&) { return ++ran, vcli::kOk; }};
    auto run = [&](const QStringList& words) {
        return vcli::runInProcess([&] { return vcli::runDeclared(verb, words); });
    };
    CliRun r = run({"1", "--" + kLongOption, "12x"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "vardex-cli: --" + kLongOption + " \"12x\" is not a whole number of 32 bits\n");
    r = run({"1", "--at", "2026-02-30"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("--at \"2026-02-30\" is not a time")) << r.err.toStdString();
    r = run({"x1", "--" + kLongOption, "12"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("COUNT \"x1\" is not a whole number")) << r.err.toStdString();
    EXPECT_EQ(ran, 0);
    r = run({"1", "--" + kLongOption, "-2147483648", "--at", "2026-02-28 23:59:59"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(ran, 1);
    EXPECT_TRUE(run({"--help"}).out.contains("--" + kLongOption + " <N>"));
}

// The installed manual page carries every verb and every option, written from the same
// declarations when the program is built.
TEST(CliDeclarations, TheManualPageDescribesEveryVerbAndOption) {
    QProcess gz;
    gz.start("gzip", {"-dc", binDir() + "/../pkg/man/vardex-cli.1.gz"});
    ASSERT_TRUE(gz.waitForFinished(10000));
    const QString page = QString::fromUtf8(gz.readAllStandardOutput());
    ASSERT_TRUE(page.startsWith(".TH VARDEX-CLI 1")) << page.left(100).toStdString();
    EXPECT_FALSE(page.contains("@VERB_REFERENCE@"));
    for (const QJsonValue& value : verbTable()) {
        const QString verb = value["verb"].toString();
        EXPECT_TRUE(page.contains(".SS \"" + QString(verb).replace('-', "\\-"))) << verb.toStdString();
        for (const QJsonValue& o : value["options"].toArray()) {
            const QString name = o["names"].toArray().last().toString();
            if (name.size() > 1) {
                EXPECT_TRUE(page.contains("\\-\\-" + QString(name).replace('-', "\\-")))
                    << verb.toStdString() << " --" << name.toStdString();
            }
        }
    }
}

// The completion is written from the same tables: every verb completes from its first letters,
// and its options after it.
TEST_F(CliConventions, BashCompletionCoversEveryVerb) {
    const QString script = stores.dir() + "/completion.bash";
    const CliRun c = invoke({"completion", "bash"});
    ASSERT_EQ(c.exitCode, 0);
    QFile f(script);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(c.out.toUtf8());
    f.close();
    auto complete = [&](const QStringList& words) {
        QProcess p;
        p.start("bash", {"-c", QString("source '%1'; COMP_WORDS=(vardex-cli %2); COMP_CWORD=%3; _vardex_cli; "
                                       "printf '%s\\n' \"${COMPREPLY[@]}\"")
                                   .arg(script, words.join(' '))
                                   .arg(words.size())});
        EXPECT_TRUE(p.waitForFinished(10000));
        return QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    };
    for (const QJsonValue& value : verbTable()) {
        const QStringList words = value["verb"].toString().split(' ');
        QStringList typed = words;
        typed.last() = typed.last().left(2);
        EXPECT_TRUE(complete(typed).contains(words.last())) << value["verb"].toString().toStdString();
        const QStringList options = complete(words + QStringList{"--"});
        // A file's value completes with file names, any other value with nothing.
        for (const QJsonValue& o : value["options"].toArray()) {
            const QString kind = o["kind"].toString();
            if (kind == "flag")
                continue;
            const QStringList after =
                complete(words + QStringList{"--" + o["names"].toArray().last().toString(), "/"});
            EXPECT_EQ(kind == "file", !after.isEmpty())
                << o["names"].toArray().last().toString().toStdString();
        }
        for (const QJsonValue& o : value["options"].toArray()) {
            if (o["names"].toArray().last().toString().size() > 1) {
                EXPECT_TRUE(options.contains("--" + o["names"].toArray().last().toString()))
                    << value["verb"].toString().toStdString()
                    << o["names"].toArray().last().toString().toStdString();
            }
        }
    }
}
