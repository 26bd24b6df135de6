// The shape of the three installation scripts (version 1 of the store) and of the steps that
// follow them, as the installer reads them: CR LF lines, batches closed by "GO", the tables and
// procedures in their fixed order, one object per batch, and what each kind of database needs.
#include "library/installer.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace vardex;
using namespace vardex::test;

// Readable failure messages.
void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
void PrintTo(const QStringList& l, std::ostream* os) {
    *os << '{' << l.join(", ").toStdString() << '}';
}

namespace {

const QStringList kTables{"qx_Name",    "qx_Name_Temp", "qx_user", "qx_user_qx",
                          "qx_user_zu", "qx_zu",        "qx_Logs"};
// The store's own tables, made by the steps: the password policy's, then the version's.
const QStringList kOwnTables{"vardex_settings", "vardex_lockout", "vardex_meta"};
// Procedure name and the number of arguments its callers pass.
const QList<QPair<QString, int>> kProcedures{
    {"qxAddUser", 1},          {"qxAddzuName", 1},          {"qxDelUser", 1},      {"qxDelzu", 1},
    {"qxNameChanged", 0},      {"qxNameChanged_before", 0}, {"qxUpDateAllows", 3}, {"qx_user_zu_changed", 3},
    {"qxUpDateUserAllows", 2}, {"qxuserintozu", 2},         {"qxuseroutzu", 2}};

QByteArray readScript(const QString& name) {
    QFile f(sourceDir() + "/store/" + name);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
    return f.readAll();
}

// The folder of a script's steps.
QString stepFolder(const QString& script) {
    return script.contains("SQLite") ? "sqlite" : script.contains("PG") ? "pg" : "sqlserver";
}

// The step files of a script's kind, in order: "0002-password-policy.sql", ...
QStringList stepFiles(const QString& script) {
    return QDir(sourceDir() + "/store/" + stepFolder(script))
        .entryList({"[0-9][0-9][0-9][0-9]-*.sql"}, QDir::Files, QDir::Name);
}

QByteArray readStep(const QString& script, const QString& file) {
    return readScript(stepFolder(script) + "/" + file);
}

QList<QStringList> batchesOf(const QByteArray& text) {
    QStringList lines = QString::fromLatin1(text).split("\r\n");
    lines.removeLast(); // the empty text after the last line end
    return splitBatches(lines);
}

QString unbracket(QString name) {
    name.remove("[dbo].").remove('[').remove(']');
    return name;
}

// Every "CREATE <kind> <name>" of a batch, as "kind name" with the name's brackets removed.
QStringList createdObjects(const QString& batch) {
    static const QRegularExpression re(R"(\bCREATE\s+(TABLE|PROCEDURE|VIEW|INDEX|TRIGGER)\s+([\w\[\]\.]+))",
                                       QRegularExpression::CaseInsensitiveOption);
    QStringList out;
    for (auto it = re.globalMatch(batch); it.hasNext();) {
        const auto m = it.next();
        out << m.captured(1).toUpper() + ' ' + unbracket(m.captured(2));
    }
    return out;
}

// Column names of a CREATE TABLE batch, in order.
QStringList columnsOf(const QStringList& batch) {
    QStringList cols;
    const int start = batch.indexOf(QRegularExpression("CREATE TABLE .*"));
    for (int i = start + 1; start >= 0 && i < batch.size() && !batch[i].startsWith(')'); ++i)
        cols << unbracket(batch[i].section(' ', 0, 0));
    return cols;
}

class Script : public ::testing::TestWithParam<const char*> {};

} // namespace

TEST_P(Script, LinesEndInCrLfAndTheLastLineIsGo) {
    const QByteArray text = readScript(GetParam());
    for (const QString& file : QStringList{GetParam()} + stepFiles(GetParam())) {
        SCOPED_TRACE(file.toStdString());
        const QByteArray t = file == GetParam() ? text : readStep(GetParam(), file);
        ASSERT_FALSE(t.isEmpty());
        for (int i = 0; i < t.size(); ++i) {
            ASSERT_LT(static_cast<unsigned char>(t[i]), 0x80) << "non-ASCII byte at " << i;
            const bool lf = t[i] == '\n', cr = t[i] == '\r';
            ASSERT_FALSE(lf && (i == 0 || t[i - 1] != '\r')) << "bare LF at " << i;
            ASSERT_FALSE(cr && (i + 1 == t.size() || t[i + 1] != '\n')) << "bare CR at " << i;
        }
        EXPECT_TRUE(t.endsWith("\r\nGO\r\n"));
    }
    // A second install must fail at its first batch: nothing is created only when missing.
    EXPECT_FALSE(QString::fromLatin1(text).contains(QRegularExpression(
        R"(CREATE\s+(OR\s+REPLACE|\w+\s+IF\s+NOT\s+EXISTS))", QRegularExpression::CaseInsensitiveOption)));
    EXPECT_FALSE(text.toUpper().contains("UNIQUE")); // two rows may share a user ID
}

TEST_P(Script, TablesThenProceduresOneObjectPerBatch) {
    const QString name = GetParam();
    const QList<QStringList> batches = batchesOf(readScript(name));
    ASSERT_EQ(batches.size(), kTables.size() + kProcedures.size());

    // The first batch is exactly the qx_Name table: five lines, three columns, nothing else.
    const QStringList first = batches[0];
    ASSERT_EQ(first.size(), 5);
    EXPECT_EQ(createdObjects(first.join("\r\n")), QStringList{"TABLE qx_Name"});
    EXPECT_TRUE(first[4].startsWith(')'));

    for (const QStringList& batch : batches) { // each batch begins by creating its object
        const QString text = batch.join("\r\n").remove(
            QRegularExpression(R"(/\*.*?\*/)", QRegularExpression::DotMatchesEverythingOption));
        EXPECT_TRUE(text.trimmed().startsWith("CREATE ")) << batch.join('\n').toStdString();
    }
    for (int i = 0; i < kTables.size(); ++i) {
        const QStringList objects = createdObjects(batches[i].join("\r\n"));
        ASSERT_FALSE(objects.isEmpty());
        EXPECT_EQ(objects[0], "TABLE " + kTables[i]);
        for (int k = 1; k < objects.size(); ++k)
            EXPECT_TRUE(objects[k].startsWith("INDEX ")) << objects[k].toStdString();
    }
    const bool sqlite = name.contains("SQLite");
    for (int i = 0; i < kProcedures.size(); ++i) {
        const QString proc = kProcedures[i].first;
        QStringList objects = createdObjects(batches[kTables.size() + i].join("\r\n"));
        if (!sqlite) { // a server procedure; tables it makes when it runs may follow
            EXPECT_EQ(objects.value(0), "PROCEDURE " + proc);
            EXPECT_EQ(objects.filter("PROCEDURE ").size(), 1);
            continue;
        }
        // SQLite: the procedure's view and its trigger; qxNameChanged also keeps its work table.
        if (proc == "qxNameChanged") {
            EXPECT_EQ(objects.takeFirst(), "TABLE qx_Temp");
        }
        EXPECT_EQ(objects, (QStringList{"VIEW " + proc, "TRIGGER " + proc + "_run"}));
    }
    // The steps, numbered 2, 3, 4, 5 alike on every kind: the password policy's two tables, one a
    // batch; what the releases after the first added to the classic tables and procedures,
    // each statement leaving an object that exists as it is; the version's table; the audit
    // log's indexes by user and by computer and its setting for failed logins, one a batch.
    EXPECT_EQ(stepFiles(name), (QStringList{"0002-password-policy.sql", "0003-classic-additions.sql",
                                            "0004-schema-version.sql", "0005-audit-log.sql"}));
    QStringList own;
    for (const QString& file : stepFiles(name))
        for (const QStringList& batch : batchesOf(readStep(name, file))) {
            const QString text = batch.join(' ');
            const QStringList objects = createdObjects(text);
            if (file.startsWith("0005")) {
                // Indexes on qx_Logs and the audit setting's row, each kept as a store has it.
                EXPECT_TRUE(text.contains(QRegularExpression(
                    R"((IF NOT EXISTS.*CREATE INDEX|CREATE INDEX IF NOT EXISTS).* ON (\[dbo\]\.\[qx_Logs\]|qx_Logs) ?\(|)"
                    R"(INSERT INTO .*vardex_settings.* VALUES \('audit\.failures', 'off'\)( ON CONFLICT \(name\) DO NOTHING)?$)")))
                    << text.toStdString();
                continue;
            }
            if (file.startsWith("0003")) {
                EXPECT_TRUE(text.contains(QRegularExpression(R"(CREATE OR REPLACE PROCEDURE|IF NOT EXISTS)")))
                    << text.toStdString();
                continue;
            }
            ASSERT_EQ(objects.size(), 1) << file.toStdString();
            ASSERT_TRUE(objects[0].startsWith("TABLE ")) << file.toStdString();
            own << objects[0].mid(6);
        }
    EXPECT_EQ(own, kOwnTables);
}

TEST_P(Script, SameColumnsAndLookupIndexesInEveryScript) {
    const QList<QStringList> batches = batchesOf(readScript(GetParam()));
    ASSERT_GE(batches.size(), kTables.size());
    const QList<QStringList> expected{
        {"qxID", "qxName", "qxNameEx"},
        {"qxID", "qxName", "qxNameEx"},
        {"userID", "userName", "userPwd", "startTime", "endTime", "Allow", "AllowZekou", "zuid"},
        {"userID", "qxID", "AllowCount"},
        {"userID", "zuName", "Allow"},
        {"zuName", "qxID", "Allow"},
        {"CompName", "userName", "theTime", "theLog"}};
    QStringList indexes;
    static const QRegularExpression re(
        R"(CREATE INDEX (?:IF NOT EXISTS )?\S+ ON ([\w\[\]\.]+)\s*\(([^)]*)\))");
    QList<QStringList> indexed = batches.mid(0, kTables.size());
    for (const QString& file : stepFiles(GetParam()))
        indexed += batchesOf(readStep(GetParam(), file));
    for (int i = 0; i < indexed.size(); ++i) {
        if (i < kTables.size()) {
            EXPECT_EQ(columnsOf(indexed[i]), expected[i]) << kTables[i].toStdString();
        }
        for (auto it = re.globalMatch(indexed[i].join("\r\n")); it.hasNext();) {
            const auto m = it.next();
            // PostgreSQL's pattern operator class is how a column is indexed, not which.
            indexes << unbracket(m.captured(1)) + '(' +
                           unbracket(m.captured(2)).remove(" varchar_pattern_ops").remove(' ') + ')';
        }
    }
    // The lookup index on qx_Name came after the first release: it is in step 3; the audit
    // log's by user and by computer in step 5.
    EXPECT_EQ(indexes,
              (QStringList{"qx_user(userID)", "qx_user(zuid)", "qx_user_qx(userID,qxID)",
                           "qx_user_zu(userID,zuName)", "qx_zu(zuName,qxID)", "qx_Logs(theTime)",
                           "qx_Name(qxID)", "qx_Logs(userName,theTime)", "qx_Logs(CompName,theTime)"}));
}

INSTANTIATE_TEST_SUITE_P(Store, Script,
                         ::testing::Values("tb_sp_SQL.sql", "tb_sp_SQLite.sql", "tb_sp_PG.sql"),
                         [](const auto& info) {
                             return QString(info.param).section('.', 0, 0).remove('_').toStdString();
                         });

// SQLite has no varchar lengths: a CHECK on every text column refuses what a server refuses.
TEST(SQLiteScript, EveryTextColumnChecksItsLength) {
    static const QRegularExpression col(R"(^(\w+) (?:varchar|char)\((\d+)\))");
    int checked = 0;
    QList<QStringList> batches = batchesOf(readScript("tb_sp_SQLite.sql"));
    for (const QString& file : stepFiles("tb_sp_SQLite.sql"))
        batches += batchesOf(readStep("tb_sp_SQLite.sql", file));
    for (const QStringList& batch : batches)
        for (const QString& line : batch) {
            const auto m = col.match(line);
            if (!m.hasMatch())
                continue;
            ++checked;
            EXPECT_TRUE(line.contains(QString("CHECK (length(%1) <= %2)").arg(m.captured(1), m.captured(2))))
                << line.toStdString();
        }
    // The seven tables, qx_Temp, vardex_settings, vardex_lockout and vardex_meta.
    EXPECT_EQ(checked, 2 + 2 + 6 + 1 + 3 + 2 + 4 + 2 + 2 + 2 + 2);
}

// SQL Server cannot be run here: check by reading what a server would refuse or mishandle.
TEST(SqlServerScript, ProceduresAreEncryptedAndTheirCursorsLocalAndComplete) {
    const QList<QStringList> batches = batchesOf(readScript("tb_sp_SQL.sql"));
    ASSERT_EQ(batches.size(), kTables.size() + kProcedures.size());
    static const QRegularExpression cursorDecl(R"(^declare (\w+) cursor (\w+))",
                                               QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression variable(R"(@@?\w+)");
    for (int i = 0; i < kProcedures.size(); ++i) {
        const QStringList body = batches[kTables.size() + i];
        const QString proc = kProcedures[i].first;
        const int header = body.indexOf(QRegularExpression("^CREATE PROCEDURE " + proc + "$"));
        ASSERT_GE(header, 0) << proc.toStdString();
        const int with = body.indexOf("WITH ENCRYPTION", header);
        ASSERT_GT(with, header) << proc.toStdString();
        EXPECT_EQ(body.value(with + 1), "AS");
        QStringList declared; // parameters and variables, spelled as declared
        for (int k = header + 1; k < with; ++k)
            declared << body[k].section(' ', 0, 0);
        EXPECT_EQ(declared.size(), kProcedures[i].second) << proc.toStdString();
        const QString text = body.join("\n");
        for (const QString& line : body) {
            if (line.startsWith("declare @"))
                declared << line.section(' ', 1, 1);
            const auto c = cursorDecl.match(line);
            if (!c.hasMatch())
                continue;
            const QString cur = c.captured(1);
            EXPECT_EQ(c.captured(2), "local") << proc.toStdString();
            for (const QString& step : {"open " + cur, "close " + cur, "deallocate " + cur})
                EXPECT_EQ(body.count(step), 1) << proc.toStdString() << ": " << step.toStdString();
            EXPECT_EQ(text.count(QRegularExpression("fetch next from " + cur + " into @\\w+")), 2)
                << proc.toStdString();
        }
        // Variable names must match their declaration exactly: a server with a case-sensitive
        // collation treats @qxid and @qxID as two names.
        for (auto it = variable.globalMatch(text); it.hasNext();) {
            const QString v = it.next().captured(0);
            if (!v.startsWith("@@")) {
                EXPECT_TRUE(declared.contains(v)) << proc.toStdString() << ": " << v.toStdString();
            }
        }
        EXPECT_EQ(body.count("begin"), body.count("end")) << proc.toStdString();
    }
}
