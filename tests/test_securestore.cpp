// The secured PostgreSQL store: what the desktops' role may not do (through psql), and the
// library on that role answering, showing and writing exactly what an owner's session does on
// the same store, one statement per call as the server's log counts them.
#include "capi/vardex.h"
#include "dialogs/join.h"
#include "dialogs/repass.h"
#include "library/cipher.h"
#include "library/dmain.h"
#include "platform/sqldialect.h"
#include "tests/support/testsupport.h"

#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUuid>
#include <gtest/gtest.h>

using namespace vardex;
using namespace vardex::test;

namespace {

struct Ran {
    int code;
    QString out, err;
};

Ran runProgram(const QString& program, const QStringList& args, const QByteArray& input = QByteArray()) {
    QProcess p;
    p.start(program, args);
    EXPECT_TRUE(p.waitForStarted(10000)) << program.toStdString();
    p.write(input);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(120000));
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

QString clusterValue(const char* key) {
    QFile f(qEnvironmentVariable("VARDEX_PG_CONNFILE"));
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    const auto m = QRegularExpression(QStringLiteral("%1=([^;]*)").arg(QLatin1String(key)))
                       .match(QString::fromUtf8(f.readAll()).trimmed());
    return m.captured(1);
}

// Every row of the store's tables, as text, in a fixed order: what "nothing changed" compares.
QString storeContents(AdoConnection& cn) {
    QString all;
    for (const char* t : {"qx_user", "qx_user_qx", "qx_Name", "qx_zu", "qx_user_zu", "qx_Logs",
                          "vardex_lockout", "vardex_settings"})
        all += scalar(cn, QStringLiteral("select string_agg(x::text, '|' order by x::text) from %1 x")
                              .arg(QLatin1String(t))) +
               QLatin1Char('\n');
    return all;
}

} // namespace

class SecuredStore : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!postgresAvailable())
            GTEST_SKIP() << "no PostgreSQL test cluster";
        store = std::make_unique<TempStore>(Backend::PostgreSQL);
        owner = openConnection(store->connectionString());
        role = QStringLiteral("vxdesk_") + QUuid::createUuid().toString(QUuid::Id128).left(12);
        owner->execute(QStringLiteral("CREATE ROLE %1 LOGIN").arg(role));
        database = scalar(*owner, QStringLiteral("select current_database()"));
        // The password policy's tables, as install creates them on a store of today.
        owner->execute(QStringLiteral(
            "CREATE TABLE IF NOT EXISTS vardex_settings (name varchar(40) not null primary key, value "
            "varchar(200) "
            "not null); CREATE TABLE IF NOT EXISTS vardex_lockout (userID varchar(20) not null primary key, "
            "failures integer not null, lastFailure varchar(19) not null); CREATE EXTENSION IF NOT EXISTS "
            "pgcrypto"));
        setting("password.hash", "bcrypt");
        fill();
    }
    void TearDown() override {
        if (hasDataModule()) {
            session().CurrentUserName.clear();
            vardex::DisconnectDatabase();
        }
        session() = SessionValues();
        if (!store)
            return;
        owner.reset();
        store.reset();
        auto admin =
            openConnection(QStringLiteral("Provider=PostgreSQL;Host=%1;Port=%2;User ID=%3;Database=postgres")
                               .arg(clusterValue("Host"), clusterValue("Port"), clusterValue("User ID")));
        admin->execute(QStringLiteral("DROP ROLE IF EXISTS %1").arg(role));
    }
    void setting(const char* name, const QString& value) {
        owner->execute(
            QStringLiteral("INSERT INTO vardex_settings VALUES ('%1', '%2') ON CONFLICT (name) DO UPDATE "
                           "SET value = EXCLUDED.value")
                .arg(QLatin1String(name), value));
    }
    // A small store: a user in no group, a group with a member, a member of a missing group,
    // a user with two rows, a disabled and an expired user; items 1 to 6 (6 undefined) with
    // grants drawn from a fixed pattern.
    void fill() {
        owner->execute(QStringLiteral(
            "insert into qx_user (userID, userName, userPwd, startTime, endTime, Allow, zuid) values "
            "('a', 'Ann', crypt('pa', gen_salt('bf', 10)), '2000-01-01', '2099-12-31', 'T', 10000), "
            "('g1', 'Group one', null, null, null, 'T', 1), "
            "('m1', 'Max', crypt('pm', gen_salt('bf', 10)), '2000-01-01', '2099-12-31', 'T', 1001), "
            "('m3', 'Lost', '', '2000-01-01', '2099-12-31', 'T', 1003), "
            "('two', 'First', crypt('p1', gen_salt('bf', 10)), '2000-01-01', '2099-12-31', 'T', 10000), "
            "('two', 'Second', crypt('p2', gen_salt('bf', 10)), '2000-01-01', '2099-12-31', 'T', 10000), "
            "('dis', 'Dis', crypt('pd', gen_salt('bf', 10)), '2000-01-01', '2099-12-31', 'F', 10000), "
            "('exp', 'Exp', crypt('pe', gen_salt('bf', 10)), '2000-01-01', '2001-12-31', 'T', 10000), "
            "('x''y', 'Quote', '', '2000-01-01', '2099-12-31', 'T', 10000)"));
        owner->execute(
            QStringLiteral("insert into qx_Name values (1, 'One', ''), (2, 'Two', ''), (3, 'Thr''ee', ''), "
                           "(4, 'Four', ''), (5, 'Five', ''), (5, 'Five again', '')"));
        for (const char* u : {"a", "g1", "m1", "m3", "two", "x'y"})
            for (int i = 1; i <= 6; ++i)
                owner->execute(
                    QStringLiteral("insert into qx_user_qx values (%1, %2, %3)")
                        .arg(sqlLiteral(QLatin1String(u)))
                        .arg(i)
                        .arg((i * 7 + int(qstrlen(u)) * 3) % 4 == 0 ? 0 : (i + int(qstrlen(u))) % 3));
    }
    Ran cli(const QStringList& args) { return runProgram(binDir() + QStringLiteral("/vardex-cli"), args); }
    Ran secure(const QStringList& more = {}) {
        return cli(QStringList{QStringLiteral("secure"), store->connectionString(),
                               QStringLiteral("--client-role"), role} +
                   more);
    }
    // Runs a psql script as the role; its error lines.
    QStringList psqlAsRole(const QByteArray& script) {
        const Ran r = runProgram(QStringLiteral("psql"),
                                 {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-h"),
                                  clusterValue("Host"), QStringLiteral("-p"), clusterValue("Port"),
                                  QStringLiteral("-U"), role, QStringLiteral("-d"), database},
                                 script);
        QStringList errors;
        for (const QString& line : r.err.split(QLatin1Char('\n')))
            if (line.startsWith(QLatin1String("ERROR:")))
                errors << line;
        return errors;
    }
    int connectAs(const QString& account) {
        return ::ConnectDatabase(store->connectionString().toLocal8Bit().constData(),
                                 account.toUtf8().constData(), "", "2024-05-06", "");
    }
    // The statements the role's sessions have sent, as the server logged them.
    int loggedStatements() {
        QFile f(QFileInfo(qEnvironmentVariable("VARDEX_PG_CONNFILE")).absolutePath() +
                QStringLiteral("/server.log"));
        if (!f.open(QIODevice::ReadOnly))
            return -1;
        return int(QString::fromUtf8(f.readAll()).count(QStringLiteral("LOG:  statement: ") + marker));
    }
    std::unique_ptr<TempStore> store;
    std::unique_ptr<AdoConnection> owner;
    QString role, database;
    QString marker; // the text that starts every statement the library sends on a secured store
};

TEST_F(SecuredStore, RefusesUntilThePolicyAllowsAndChangesNothingTheSecondTime) {
    owner->execute(QStringLiteral("update qx_user set userPwd = 'A1B2C3' where userID = 'm3'"));
    Ran r = secure();
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QLatin1String("passwords upgrade"))) << r.err.toStdString();
    owner->execute(QStringLiteral("update qx_user set userPwd = '' where userID = 'm3'"));
    setting("password.hash", QStringLiteral("cipher"));
    r = secure();
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QLatin1String("password.hash"))) << r.err.toStdString();
    setting("password.hash", QStringLiteral("bcrypt"));
    // Who holds what on the schema, its tables and routines, and each routine's text and settings.
    const QString grants = QStringLiteral(
        "select string_agg(x, E'\\n' order by x) from (select c.relname || ' ' || a.grantee::regrole::text "
        "|| ' ' || "
        "a.privilege_type as x from pg_class c, aclexplode(coalesce(c.relacl, acldefault('r', c.relowner))) "
        "a where "
        "c.relnamespace = 'public'::regnamespace union all select p.proname || ' ' || a.grantee || ' ' || "
        "a.privilege_type || md5(p.prosrc) || coalesce(array_to_string(p.proconfig, ','), '') from pg_proc "
        "p, "
        "aclexplode(coalesce(p.proacl, acldefault('f', p.proowner))) a where p.pronamespace = "
        "'public'::regnamespace "
        "union all select a.grantee || ' ' || a.privilege_type from pg_namespace n, "
        "aclexplode(coalesce(n.nspacl, "
        "acldefault('n', n.nspowner))) a where n.nspname = 'public') s");
    const QString before = scalar(*owner, grants);
    ASSERT_EQ(secure().code, 0);
    const QString once = scalar(*owner, grants);
    ASSERT_EQ(secure().code, 0) << "a second run";
    EXPECT_EQ(scalar(*owner, grants).toStdString(), once.toStdString());
    // Back to cipher text while the functions take hashes only: refused, the setting kept.
    r = cli({QStringLiteral("policy"), QStringLiteral("set"), QStringLiteral("password.hash=cipher"),
             QStringLiteral("--store"), store->connectionString()});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QLatin1String("secure --undo"))) << r.err.toStdString();
    EXPECT_EQ(
        scalar(*owner, QStringLiteral("select value from vardex_settings where name = 'password.hash'")),
        QStringLiteral("bcrypt"));
    const Ran undone = secure({QStringLiteral("--undo")});
    ASSERT_EQ(undone.code, 0) << undone.err.toStdString();
    EXPECT_EQ(scalar(*owner, grants).toStdString(), before.toStdString());
    TempStore sqlite(Backend::SQLite);
    r = cli({QStringLiteral("secure"), sqlite.connectionString(), QStringLiteral("--client-role"), role});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QLatin1String("PostgreSQL"))) << r.err.toStdString();
}

TEST_F(SecuredStore, TheRoleCanTouchNoTableNoProcedureAndNoSchemaAndHostileTextsChangeNothing) {
    ASSERT_EQ(secure().code, 0);
    QByteArray script;
    int statements = 0;
    for (const auto& t :
         owner
             ->run(QStringLiteral("select c.relname, (select quote_ident(attname) from pg_attribute "
                                  "where attrelid = c.oid and attnum = 1) from pg_class c where "
                                  "c.relnamespace = 'public'::regnamespace and c.relkind = 'r'"),
                   true)
             .rows) {
        const QByteArray name = t.value(0).toString().toUtf8(), column = t.value(1).toString().toUtf8();
        script += "select * from " + name + ";\ninsert into " + name + " default values;\nupdate " + name +
                  " set " + column + " = " + column + ";\ndelete from " + name + ";\n";
        statements += 4;
    }
    for (const auto& p :
         owner
             ->run(QStringLiteral("select proname, pronargs from pg_proc where pronamespace = "
                                  "'public'::regnamespace and prokind = 'p'"),
                   true)
             .rows) {
        QStringList nulls;
        for (int i = 0; i < p.value(1).toInt(); ++i)
            nulls << QStringLiteral("NULL");
        script +=
            "call " + p.value(0).toString().toUtf8() + "(" + nulls.join(QLatin1Char(',')).toUtf8() + ");\n";
        ++statements;
    }
    script += "create function public.vx_mine() returns int language sql as 'select 1';\n"
              "create table public.vx_mine (a int);\n"
              "select vardex_sec_setting('password.cost', 10, 10, 15);\n";
    statements += 3;
    const QStringList errors = psqlAsRole(script);
    EXPECT_EQ(errors.size(), statements) << errors.join(QLatin1Char('\n')).toStdString();
    for (const QString& e : errors)
        EXPECT_TRUE(e.contains(QLatin1String("permission denied"))) << e.toStdString();

    // Hostile texts as every function's arguments: the functions answer, and the only row any of
    // them writes is the logout row, holding the text as it was given.
    const QString contents = storeContents(*owner);
    const QStringList hostile = {QStringLiteral("a'); delete from qx_Logs; --"), QStringLiteral("a\\'b\\"),
                                 QStringLiteral("$$; update qx_user_qx set AllowCount = 1; $$"),
                                 QStringLiteral("$f$ || (select 1) || $f$")};
    QByteArray calls;
    for (const QString& h : hostile) {
        const QByteArray l = sqlLiteral(h).toUtf8();
        calls += "select * from vardex_login(" + l + "," + l + "," + l + "," + l + "," + l + ", true);\n" +
                 "select * from vardex_check_right(" + l + ", 1, " + l + "," + l + ");\n" +
                 "select vardex_query_rights(" + l + ", '{1,2}');\n" + "select vardex_change_password(" + l +
                 "," + l + "," + l + "," + l + "," + l + "," + l + ");\n";
    }
    calls += "select vardex_login('a', 'pa', '2024-01-01', 'pc', E'\\xff\\xfe', true);\n"
             "select vardex_logout('pc', 'x\xff');\n";
    const QStringList hostileErrors = psqlAsRole(calls);
    EXPECT_EQ(hostileErrors.size(), 2) << hostileErrors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(storeContents(*owner), contents);
    const QString who = QStringLiteral("$$'\\;--");
    EXPECT_TRUE(psqlAsRole("select vardex_logout(" + sqlLiteral(hostile[0]).toUtf8() + ", " +
                           sqlLiteral(who).toUtf8() + ");\n")
                    .isEmpty());
    EXPECT_EQ(
        scalar(*owner, QStringLiteral("select CompName || '|' || userName || '|' || theLog from qx_Logs")),
        hostile[0] + QLatin1Char('|') + who + QStringLiteral("|用户退出登录"));

    // Cipher text written after securing verifies neither against its password nor as typed.
    const QString cipher = EncryptPassword(QStringLiteral("pc"), QStringLiteral("kmpq"));
    owner->execute(
        QStringLiteral("update qx_user set userPwd = %1 where userID = 'm3'").arg(sqlLiteral(cipher)));
    const Ran codes = runProgram(QStringLiteral("psql"),
                                 {QStringLiteral("-X"), QStringLiteral("-At"), QStringLiteral("-h"),
                                  clusterValue("Host"), QStringLiteral("-p"), clusterValue("Port"),
                                  QStringLiteral("-U"), role, QStringLiteral("-d"), database},
                                 "select code from vardex_login('m3', 'pc', '2024-05-06', 'pc', '', "
                                 "true);\nselect code from vardex_login('m3', " +
                                     sqlLiteral(cipher).toUtf8() + ", '2024-05-06', 'pc', '', true);\n");
    EXPECT_EQ(codes.out, QStringLiteral("3\n3\n")) << codes.err.toStdString();
}

namespace {

// One library call of the comparison and what it gave: its answer (and the answers of a
// VardexQueryRights), and the boxes it showed.
struct Outcome {
    QString call;
    QString answer;
    QStringList boxes;
};

bool operator==(const Outcome& a, const Outcome& b) {
    return a.call == b.call && a.answer == b.answer && a.boxes == b.boxes;
}

void PrintTo(const Outcome& o, std::ostream* os) {
    *os << o.call.toStdString() << " -> " << o.answer.toStdString() << " ["
        << o.boxes.join(" / ").toStdString() << "]";
}

using Call = std::function<QString()>;
// A call of the comparison, and the statements it sends on the role's session.
struct Step {
    QString name;
    Call call;
    int statements = 1;
};

} // namespace

// The calls of a desktop, made once by an owner's session (the classic statements) and once by
// the role's (the functions), from the same state of the store: every answer, box and audit row
// must be the same, and each call of the role's session one statement on the server.
class SecuredSameAnswers : public SecuredStore {
  protected:
    void SetUp() override {
        SecuredStore::SetUp();
        if (IsSkipped())
            return;
        ASSERT_EQ(secure().code, 0);
        owner->execute(
            QStringLiteral("ALTER ROLE %1 IN DATABASE %2 SET log_statement = 'all'").arg(role, database));
        // What the calls change is put back between the two sessions.
        owner->execute(
            QStringLiteral("create table keep_user as select * from qx_user; create table keep_lockout as "
                           "select * from vardex_lockout"));
    }
    void restore() {
        owner->execute(
            QStringLiteral("delete from qx_user; insert into qx_user select * from keep_user; delete from "
                           "vardex_lockout; insert into vardex_lockout select * from keep_lockout; delete "
                           "from qx_Logs"));
    }
    // Runs the calls in a session of the given account; their outcomes, and the audit rows they
    // wrote (without their times). On the role's session each call must be one statement.
    std::vector<Outcome> runAs(const QString& account, const std::vector<Step>& calls, QStringList* audit,
                               bool countStatements) {
        restore();
        std::vector<Outcome> out;
        EXPECT_EQ(connectAs(account), 0) << ::VardexLastError();
        session().CurrentUserName = QStringLiteral("Auditor");
        for (const auto& [name, call, statements] : calls) {
            MessageRecorder boxes;
            const int before = loggedStatements();
            Outcome o{name, call(), {}};
            if (countStatements) {
                EXPECT_EQ(loggedStatements() - before, statements) << name.toStdString();
            }
            for (const auto& b : boxes.boxes)
                o.boxes << b.caption + QLatin1Char(':') + b.text;
            out.push_back(o);
        }
        const int before = loggedStatements();
        EXPECT_EQ(::DisconnectDatabase(), VARDEX_OK);
        if (countStatements) {
            EXPECT_EQ(loggedStatements() - before, 1) << "DisconnectDatabase";
        }
        *audit = scalar(*owner, QStringLiteral(
                                    "select string_agg(CompName || '|' || userName || '|' || theLog, E'\\n' "
                                    "order by 1) from qx_Logs"))
                     .split(QLatin1Char('\n'));
        return out;
    }
    void expectSameAnswers(const std::vector<Step>& calls) {
        QStringList ownerAudit, roleAudit;
        const auto byOwner = runAs(QString(), calls, &ownerAudit, false);
        const auto byRole = runAs(role, calls, &roleAudit, true);
        ASSERT_EQ(byOwner.size(), byRole.size());
        for (size_t i = 0; i < byOwner.size(); ++i)
            EXPECT_EQ(byRole[i], byOwner[i]);
        EXPECT_EQ(roleAudit, ownerAudit);
    }
};

TEST_F(SecuredSameAnswers, EveryUserAndItemThroughCheckUserRightAndVardexQueryRights) {
    marker = QStringLiteral("select ");
    std::vector<Step> calls;
    const QStringList users = {"a", "g1", "m1", "m3", "two", "x'y", "nobody", "", "a\\'$$"};
    std::vector<int32_t> items = {0, -1, 1001};
    for (int i = 1; i <= 7; ++i)
        items.push_back(i);
    int n = 0;
    for (const QString& u : users) {
        for (int32_t item : items) {
            const int mode = n++ % 3;
            calls.push_back({QStringLiteral("CheckUserRight %1 %2 mode %3").arg(u).arg(item).arg(mode), [=] {
                                 return QString::number(
                                     ::CheckUserRight(u.toUtf8().constData(), item, "no", mode));
                             }});
        }
        calls.push_back({QStringLiteral("VardexQueryRights %1").arg(u), [=] {
                             std::vector<int32_t> answers(items.size(), -9);
                             const int rc = ::VardexQueryRights(u.toUtf8().constData(), items.data(),
                                                                int32_t(items.size()), answers.data());
                             QString text = QString::number(rc);
                             for (int32_t a : answers)
                                 text += QLatin1Char(' ') + QString::number(a);
                             return text;
                         }});
    }
    expectSameAnswers(calls);
}

TEST_F(SecuredSameAnswers, AdministrationIsRefusedBeforeAnythingIsSent) {
    marker = QString();
    ASSERT_EQ(connectAs(role), 0);
    using Refusal = std::function<int32_t()>;
    for (const auto& [name, call] : std::vector<std::pair<const char*, Refusal>>{
             {"ClearLogs", [] { return ::ClearLogs(""); }},
             {"EditRightList", [] { return ::EditRightList(0); }},
             {"ShowRightManager", [] { return ::ShowRightManager(0, 1); }}}) {
        const int before = loggedStatements();
        EXPECT_EQ(call(), VARDEX_ERROR) << name;
        EXPECT_TRUE(
            QString::fromLocal8Bit(::VardexLastError()).contains(QLatin1String("administrator's account")))
            << ::VardexLastError();
        EXPECT_EQ(loggedStatements(), before) << name;
    }
    EXPECT_EQ(::DisconnectDatabase(), VARDEX_OK);
    QString cs = store->connectionString();
    cs.replace(QRegularExpression(QStringLiteral("User ID=[^;]*")), QStringLiteral("User ID=") + role);
    TempStore other(Backend::SQLite);
    for (const QStringList& verb :
         {QStringList{"user", "enable", "a", "--store", cs}, QStringList{"doctor", cs},
          QStringList{"copy", cs, other.connectionString()}}) {
        const Ran r = cli(verb);
        EXPECT_EQ(r.code, 1) << verb.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(QLatin1String("administrator's account"))) << r.err.toStdString();
    }
    // vardex-cli session takes the same path: a right answered, the log left alone.
    const Ran calls = runProgram(
        binDir() + QStringLiteral("/vardex-cli"),
        {QStringLiteral("session"), cs, QStringLiteral("--work-date"), QStringLiteral("2024-05-06")},
        "CheckUserRight \"a\" 1 \"\" 0\nClearLogs \"\"\n");
    EXPECT_EQ(calls.out.section(QLatin1Char('\n'), 0, 0), QStringLiteral("0")) << calls.out.toStdString();
    EXPECT_TRUE(calls.out.section(QLatin1Char('\n'), 1, 1).contains(QLatin1String("administrator's account")))
        << calls.out.toStdString();
    EXPECT_EQ(
        scalarInt(*owner, QStringLiteral("select count(*) from qx_Logs where theLog = '使用权限(One)'")), 1);
}

TEST_F(SecuredSameAnswers, EveryLoginCaseAndPasswordChangeWithTheLockout) {
    marker = QStringLiteral("select ");
    setting("lockout.failures", QStringLiteral("2"));
    setting("password.minlength", QStringLiteral("3"));
    // A user whose row no update reaches: the change is verified but not made (6).
    owner->execute(QStringLiteral("insert into keep_user select 'stuck', 'Stuck', userPwd, startTime, "
                                  "endTime, Allow, AllowZekou, zuid from "
                                  "keep_user where userID = 'a'; create function keep_stuck() returns "
                                  "trigger language plpgsql as $$ begin "
                                  "return case when old.userID = 'stuck' then null else new end; end $$; "
                                  "create trigger keep_stuck before "
                                  "update on qx_user for each row execute function keep_stuck()"));
    std::vector<Step> calls;
    const auto login = [&](const char* id, const char* pw, int mode) {
        calls.push_back({QStringLiteral("CheckUserLogin %1 %2 %3").arg(id, pw).arg(mode), [=] {
                             return QString::number(::CheckUserLogin(id, pw, "", "fail", mode)) +
                                    QLatin1Char(' ') + session().CurrentUserName;
                         }});
    };
    const auto change = [&](const char* id, const char* from, const char* to) {
        calls.push_back({QStringLiteral("ChangeUserPassword %1 %2 %3").arg(id, from, to),
                         [=] { return QString::number(::ChangeUserPassword(id, from, to, "")); }});
    };
    login("a", "pa", 2);           // 0, the logout row of the session's user and the login row
    login("a", "wrong", 2);        // 3, counted
    login("nobody", "pa", 2);      // 4
    login("dis", "pd", 2);         // 1
    login("exp", "pe", 1);         // 2
    login("two", "p2", 0);         // 0, the second row's name
    login("x'y", "", 0);           // 0, the empty password
    login("m1", "bad", 2);         // 3
    login("m1", "bad", 2);         // 3, and the lock's audit row
    login("m1", "pm", 2);          // 1 while the lock holds
    change("nobody", "pa", "abc"); // 4
    change("dis", "pd", "abc");    // 1
    change("exp", "pe", "abc");    // 2
    change("a", "pa", "pa");       // 5
    change("a", "pa", "xy");       // 7
    change("stuck", "pa", "abcd"); // 6
    change("a", "pa", "newpass");  // 0
    change("two", "p1", "p1x");    // 0, every row of the ID
    change("a", "wrong", "abc");   // 3, counted
    change("a", "wrong", "abc");   // 3, the lock
    login("a", "newpass", 2);      // 1
    calls.push_back(
        {QStringLiteral("which passwords verify (read by the owner)"),
         [this] {
             return scalar(
                 *owner, QStringLiteral("select string_agg(userID || '/' || userName || '=' || p, ' ' order "
                                        "by userID, userName, p) from qx_user, unnest(array['pa', 'newpass', "
                                        "'p1', 'p1x', 'p2', 'pm']) p where userPwd ~ '^[$]2a[$]' and "
                                        "crypt(p, userPwd) = userPwd"));
         },
         0});
    expectSameAnswers(calls);
}

TEST_F(SecuredSameAnswers, TheLoginAndChangePasswordWindowsAsTyped) {
    marker = QStringLiteral("select ");
    const auto type = [](const std::vector<std::pair<QLineEdit*, QString>>& entries, QWidget* ok) {
        for (const auto& [box, text] : entries) {
            QTest::mouseClick(box, Qt::LeftButton);
            QTest::keyClicks(box, text);
        }
        QTest::mouseClick(ok, Qt::LeftButton);
    };
    std::vector<Step> calls;
    for (const char* password : {"wrong", "pa"})
        calls.push_back(
            {QStringLiteral("login window a %1").arg(password), [=] {
                 TfrJoin w;
                 w.Timer1->stop();
                 w.applySettings(QString(), QStringLiteral("2024-05-06"), 3, 0, 0);
                 w.show();
                 type({{w.Edit1, QStringLiteral("a")}, {w.Edit2, QLatin1String(password)}}, w.btnOK);
                 return QStringLiteral("%1 %2 %3")
                     .arg(w.loginResult)
                     .arg(w.closed())
                     .arg(session().CurrentUserName);
             }});
    // The window verifies the old password, then changes it: two calls.
    for (const auto& [old, fresh, statements] :
         {std::tuple{"wrong", "abcd", 1}, std::tuple{"pa", "ab", 2}, std::tuple{"pa", "abcd", 2}})
        calls.push_back({QStringLiteral("change-password window a %1 %2").arg(old, fresh),
                         [type, old = old, fresh = fresh] {
                             TfrRepass w;
                             w.Edit1->setText(QStringLiteral("a"));
                             w.workDate = QStringLiteral("2024-05-06");
                             w.show();
                             type({{w.Edit2, QLatin1String(old)},
                                   {w.Edit3, QLatin1String(fresh)},
                                   {w.Edit4, QLatin1String(fresh)}},
                                  w.SpeedButton2);
                             return QStringLiteral("%1 %2").arg(w.repassResult).arg(w.closed());
                         },
                         statements});
    setting("password.minlength", QStringLiteral("3"));
    expectSameAnswers(calls);
}
