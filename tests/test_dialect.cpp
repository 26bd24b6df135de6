// Statement translation, quoting and connection strings: pure text, no database.
#include "platform/connstr.h"
#include "platform/errors.h"
#include "platform/sqldialect.h"

#include <gtest/gtest.h>

using namespace vardex;

namespace {
QString tr(const char* s, Dialect d) {
    return translateStatement(QString::fromUtf8(s), d);
}
} // namespace

TEST(Dialect, SqlServerTextIsNeverChanged) {
    for (const char* s :
         {"Exec qxAddUser 'a'", "Insert qx_user (a) values (1)", "DELETE qx_Logs", "select 1 as 权限ID"})
        EXPECT_EQ(tr(s, Dialect::SqlServer), QString::fromUtf8(s));
}

TEST(Dialect, ProcedureCalls) {
    EXPECT_EQ(tr("Exec qxAddUser 'u1'", Dialect::SQLite), "INSERT INTO qxAddUser VALUES ('u1')");
    EXPECT_EQ(tr("Exec qxAddUser 'u1'", Dialect::PostgreSQL), "CALL qxAddUser('u1')");
    EXPECT_EQ(tr("exec qxuserintozu 'u1',3", Dialect::SQLite), "INSERT INTO qxuserintozu VALUES ('u1',3)");
    EXPECT_EQ(tr("exec qxuserintozu 'u1',3", Dialect::PostgreSQL), "CALL qxuserintozu('u1',3)");
    EXPECT_EQ(tr("Exec qxUpDateAllows 'g',-5,'T'", Dialect::PostgreSQL), "CALL qxUpDateAllows('g',-5,'T')");
    EXPECT_EQ(tr("Exec qxNameChanged_before", Dialect::SQLite),
              "INSERT INTO qxNameChanged_before DEFAULT VALUES");
    EXPECT_EQ(tr("Exec qxNameChanged", Dialect::PostgreSQL), "CALL qxNameChanged()");
    EXPECT_EQ(tr("EXECUTE qxDelzu 'x';", Dialect::PostgreSQL), "CALL qxDelzu('x')");
    // A statement that only mentions exec later is not a call.
    EXPECT_EQ(tr("select exec from t", Dialect::SQLite), "select exec from t");
}

TEST(Dialect, QuotedTextIsNeverTouched) {
    // Words inside a literal look like statements but stay literal.
    EXPECT_EQ(tr("Exec qxAddUser 'a'' exec b; DELETE c'", Dialect::SQLite),
              "INSERT INTO qxAddUser VALUES ('a'' exec b; DELETE c')");
    EXPECT_EQ(tr("Exec qxAddUser '; DROP TABLE qx_user; --'", Dialect::PostgreSQL),
              "CALL qxAddUser('; DROP TABLE qx_user; --')");
    EXPECT_EQ(tr("select * from qx_user where userID = 'x as 名字'", Dialect::PostgreSQL),
              "select * from qx_user where userID = 'x as 名字'");
    EXPECT_EQ(tr("DELETE qx_Logs where theTime <= 'DELETE x'", Dialect::SQLite),
              "DELETE FROM qx_Logs where theTime <= 'DELETE x'");
}

TEST(Dialect, InsertAndDeleteWithoutKeywords) {
    EXPECT_EQ(tr("Insert qx_user (zuid,userID,userName) values (1,'g','g')", Dialect::SQLite),
              "Insert INTO qx_user (zuid,userID,userName) values (1,'g','g')");
    EXPECT_EQ(tr("INSERT INTO qx_Logs VALUES ('a')", Dialect::PostgreSQL),
              "INSERT INTO qx_Logs VALUES ('a')");
    EXPECT_EQ(tr("DELETE qx_Logs", Dialect::PostgreSQL), "DELETE FROM qx_Logs");
    EXPECT_EQ(tr("delete from qx_Logs", Dialect::SQLite), "delete from qx_Logs");
    EXPECT_EQ(tr("  \r\nDELETE qx_Logs where theTime <= '1'\r\n", Dialect::SQLite),
              "  \r\nDELETE FROM qx_Logs where theTime <= '1'\r\n");
}

TEST(Dialect, PostgresAliasesKeepTheirSpelling) {
    EXPECT_EQ(tr("select qxID as 权限ID, qxName as 权限名称 from qx_Name", Dialect::PostgreSQL),
              QString::fromUtf8("select qxID as \"权限ID\", qxName as \"权限名称\" from qx_Name"));
    EXPECT_EQ(tr("select qxID as id from qx_Name", Dialect::PostgreSQL), "select qxID as id from qx_Name");
    // Keywords and type names after AS are never quoted, nor is a dollar-quoted body touched.
    EXPECT_EQ(tr("CREATE TABLE qx_Temp AS SELECT CAST(a AS INT) AS ID FROM t", Dialect::PostgreSQL),
              "CREATE TABLE qx_Temp AS SELECT CAST(a AS INT) AS ID FROM t");
    EXPECT_EQ(tr("CREATE PROCEDURE p() AS $$ select 1 as 名 $$ LANGUAGE sql", Dialect::PostgreSQL),
              QString::fromUtf8("CREATE PROCEDURE p() AS $$ select 1 as 名 $$ LANGUAGE sql"));
    EXPECT_EQ(tr("select qxID as 权限ID from qx_Name", Dialect::SQLite),
              QString::fromUtf8("select qxID as 权限ID from qx_Name"));
}

TEST(Dialect, NeverMakesTwoStatementsFromOne) {
    const char* inputs[] = {"Exec p 'a;b'", "Exec p 'it''s'", "DELETE t where a = ';'",
                            "Insert t values (';--')", "Exec p /* ; */ 'x'"};
    for (const char* in : inputs)
        for (Dialect d : {Dialect::SQLite, Dialect::PostgreSQL}) {
            const QString out = tr(in, d);
            // The count of semicolons outside quotes must not grow.
            auto bare = [](const QString& s) {
                int n = 0;
                bool inQuote = false;
                for (QChar c : s) {
                    if (c == QLatin1Char('\''))
                        inQuote = !inQuote;
                    else if (!inQuote && c == QLatin1Char(';'))
                        ++n;
                }
                return n;
            };
            EXPECT_LE(bare(out), bare(QString::fromUtf8(in))) << in << " -> " << out.toStdString();
        }
}

TEST(Quoting, DoublesSingleQuotesOnly) {
    EXPECT_EQ(escapeQuotes("abc"), "abc");
    EXPECT_EQ(escapeQuotes("a'b"), "a''b");
    EXPECT_EQ(escapeQuotes("' or '1'='1"), "'' or ''1''=''1");
    EXPECT_EQ(escapeQuotes("back\\slash"), "back\\slash");
}

TEST(Trim, RemovesBlanksAndControlCharactersAtBothEnds) {
    EXPECT_EQ(trimBlanks(" \t GO \r"), "GO");
    EXPECT_EQ(trimBlanks(QString::fromUtf8("\x01 a b \x1f")), "a b");
    EXPECT_EQ(trimBlanks("   "), "");
    EXPECT_EQ(trimBlanks(QString::fromUtf8("　全角")),
              QString::fromUtf8("　全角")); // an ideographic blank is text
}

TEST(ConnectionStrings, Sqlite) {
    const ConnectionTarget s = ConnectionString::resolve("Provider=SQLite;Data Source=/tmp/a b;c.db");
    EXPECT_EQ(s.driver, "QSQLITE");
    EXPECT_EQ(s.dialect, Dialect::SQLite);
    EXPECT_EQ(s.databaseName, "/tmp/a b");
    EXPECT_EQ(ConnectionString::resolve("provider=sqlite; data source = \"/x;y.db\" ").databaseName,
              "/x;y.db");
    EXPECT_THROW(ConnectionString::resolve("Provider=SQLite"), DbError);
}

TEST(ConnectionStrings, Postgres) {
    const ConnectionTarget s = ConnectionString::resolve(
        "Provider=PostgreSQL;Host=10.0.0.5;Port=6543;Database=perm;User ID=clerk;Password=p;w");
    EXPECT_EQ(s.driver, "QPSQL");
    EXPECT_EQ(s.host, "10.0.0.5");
    EXPECT_EQ(s.port, 6543);
    EXPECT_EQ(s.databaseName, "perm");
    EXPECT_EQ(s.userId, "clerk");
    EXPECT_EQ(s.password, "p"); // a ';' ends the value unless quoted
    EXPECT_EQ(ConnectionString::resolve("Provider=PostgreSQL;Password=\"p;w\"\"x\"").password, "p;w\"x");
}

// Several hosts in either spelling reach libpq as its host and port lists; every value that
// goes into the driver's option text is one libpq defines, so none can carry a keyword of its own.
TEST(ConnectionStrings, PostgresHostLists) {
    struct Case {
        const char* keys;
        const char* host;
        int port;
        const char* options; // after connect_timeout=10
    };
    const Case good[] = {
        {"Host=pg1,pg2;Port=5432,5433", "pg1,pg2", -1, ";port=5432,5433"},
        {"Host=pg1:5432, pg2:5433", "pg1,pg2", -1, ";port=5432,5433"},
        {"Host=pg1,pg2:6000", "pg1,pg2", -1, ";port=,6000"},
        {"Host=pg1,pg2;Port=6000", "pg1,pg2", -1, ";port=6000"},
        {"Host=pg1:6000", "pg1", 6000, ""},
        {"Host=[::1]:6000,/run/pg", "::1,/run/pg", -1, ";port=6000,"},
        {"Host=pg1,pg2;Target Session Attrs=Read-Write", "pg1,pg2", -1, ";target_session_attrs=read-write"},
        {"Host=pg1;target_session_attrs=prefer-standby", "pg1", -1, ";target_session_attrs=prefer-standby"},
    };
    for (const Case& c : good) {
        const ConnectionTarget t = ConnectionString::resolve(QStringLiteral("Provider=PostgreSQL;") + c.keys);
        EXPECT_EQ(t.host.toStdString(), c.host) << c.keys;
        EXPECT_EQ(t.port, c.port) << c.keys;
        EXPECT_EQ(t.options.toStdString(), std::string("connect_timeout=10") + c.options) << c.keys;
    }
    const std::pair<const char*, const char*> bad[] = {
        {"Host=pg1,pg2;Port=5432,5433,5434", "Port"},
        {"Host=pg1:5432,pg2;Port=5433", "Port"},
        {"Host=pg1,pg2;Port=5432,x", "Port"},
        {"Host=pg1:99999", "Host"},
        {"Host=pg1:", "Host"},
        {"Host=pg1,,pg2", "Host"},
        {"Host=\"pg1' port='1\"", "Host"},
        {"Host=\"pg1 options=-cx\"", "Host"},
        {"Host=pg1\\", "Host"},
        {"Host=a=b", "Host"},
        {"Host=[::1]x", "Host"},
        {"Target Session Attrs=master", "Target Session Attrs"},
        {"Target Session Attrs=\"any options='-c standard_conforming_strings=off'\"", "Target Session Attrs"},
    };
    for (const auto& [keys, named] : bad) {
        try {
            ConnectionString::resolve(QStringLiteral("Provider=PostgreSQL;") + keys);
            ADD_FAILURE() << keys << " was accepted";
        } catch (const DbError& e) {
            EXPECT_TRUE(e.message().contains(QLatin1String(named)))
                << keys << ": " << e.message().toStdString();
        }
    }
}

TEST(ConnectionStrings, OdbcAndSqlServer) {
    const ConnectionTarget o = ConnectionString::resolve(
        "Provider=ODBC;Driver={PostgreSQL Unicode};Server=h;Port=5;Database=d;Uid=u;Pwd=secret");
    EXPECT_EQ(o.driver, "QODBC");
    EXPECT_EQ(o.dialect, Dialect::PostgreSQL);
    EXPECT_EQ(o.userId, "u");
    EXPECT_EQ(o.password, "secret");
    EXPECT_FALSE(o.databaseName.contains("secret")); // given at open time, not in the string
    EXPECT_TRUE(o.databaseName.startsWith("Driver={PostgreSQL Unicode};Server=h;"));

    const ConnectionTarget m =
        ConnectionString::resolve("Provider=SQLOLEDB.1;Data Source=srv;Initial Catalog=perm");
    EXPECT_EQ(m.driver, "QODBC");
    EXPECT_EQ(m.dialect, Dialect::SqlServer);
    EXPECT_TRUE(m.databaseName.contains("Server=srv;"));
    EXPECT_TRUE(m.databaseName.contains("Database=perm;"));
    EXPECT_EQ(ConnectionString::resolve("Provider=ODBC;DSN=payroll;Dialect=SQLite").dialect, Dialect::SQLite);
    EXPECT_THROW(ConnectionString::resolve("Provider=Jet"), DbError);
    EXPECT_THROW(ConnectionString::resolve("Data Source=x"), DbError);
}
