// The shape of the three installation scripts as the installer reads them: CR LF lines, batches
// closed by "GO", the tables and procedures in their fixed order, one object per batch, and
// what each kind of database needs of its script.
#include "library/installer.h"
#include "tests/support/testsupport.h"

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
// The store's own tables, made after the procedures.
const QStringList kOwnTables{"vardex_settings", "vardex_lockout"};
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
    ASSERT_FALSE(text.isEmpty());
    for (int i = 0; i < text.size(); ++i) {
        ASSERT_LT(static_cast<unsigned char>(text[i]), 0x80) << "non-ASCII byte at " << i;
        const bool lf = text[i] == '\n', cr = text[i] == '\r';
        ASSERT_FALSE(lf && (i == 0 || text[i - 1] != '\r')) << "bare LF at " << i;
        ASSERT_FALSE(cr && (i + 1 == text.size() || text[i + 1] != '\n')) << "bare CR at " << i;
    }
    EXPECT_TRUE(text.endsWith("\r\nGO\r\n"));
    // A second install must fail at its first batch: nothing is created only when missing.
    EXPECT_FALSE(QString::fromLatin1(text).contains(QRegularExpression(
        R"(CREATE\s+(OR\s+REPLACE|\w+\s+IF\s+NOT\s+EXISTS))", QRegularExpression::CaseInsensitiveOption)));
    EXPECT_FALSE(text.toUpper().contains("UNIQUE")); // two rows may share a user ID
}

TEST_P(Script, TablesThenProceduresOneObjectPerBatch) {
    const QString name = GetParam();
    const QList<QStringList> batches = batchesOf(readScript(name));
    ASSERT_EQ(batches.size(), kTables.size() + kProcedures.size() + kOwnTables.size());

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
    for (int i = 0; i < kOwnTables.size(); ++i)
        EXPECT_EQ(createdObjects(batches[kTables.size() + kProcedures.size() + i].join("\r\n")),
                  QStringList{"TABLE " + kOwnTables[i]});
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
    static const QRegularExpression re(R"(CREATE INDEX \S+ ON ([\w\[\]\.]+)\s*\(([^)]*)\))");
    for (int i = 0; i < kTables.size(); ++i) {
        EXPECT_EQ(columnsOf(batches[i]), expected[i]) << kTables[i].toStdString();
        for (auto it = re.globalMatch(batches[i].join("\r\n")); it.hasNext();) {
            const auto m = it.next();
            indexes << unbracket(m.captured(1)) + '(' + unbracket(m.captured(2)).remove(' ') + ')';
        }
    }
    EXPECT_EQ(indexes,
              (QStringList{"qx_Name(qxID)", "qx_user(userID)", "qx_user(zuid)", "qx_user_qx(userID,qxID)",
                           "qx_user_zu(userID,zuName)", "qx_zu(zuName,qxID)", "qx_Logs(theTime)"}));
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
    for (const QStringList& batch : batchesOf(readScript("tb_sp_SQLite.sql")))
        for (const QString& line : batch) {
            const auto m = col.match(line);
            if (!m.hasMatch())
                continue;
            ++checked;
            EXPECT_TRUE(line.contains(QString("CHECK (length(%1) <= %2)").arg(m.captured(1), m.captured(2))))
                << line.toStdString();
        }
    // The seven tables, qx_Temp, vardex_settings and vardex_lockout.
    EXPECT_EQ(checked, 2 + 2 + 6 + 1 + 3 + 2 + 4 + 2 + 2 + 2);
}

// SQL Server cannot be run here: check by reading what a server would refuse or mishandle.
TEST(SqlServerScript, ProceduresAreEncryptedAndTheirCursorsLocalAndComplete) {
    const QList<QStringList> batches = batchesOf(readScript("tb_sp_SQL.sql"));
    ASSERT_EQ(batches.size(), kTables.size() + kProcedures.size() + kOwnTables.size());
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
