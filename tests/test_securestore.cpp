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

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QUuid>
#include <gtest/gtest.h>
#include <thread>

using namespace vardex;
using namespace vardex::test;

void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
void PrintTo(const QStringList& l, std::ostream* os) {
    *os << l.join(QStringLiteral("\n")).toStdString();
}

namespace {

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
        auto admin = openConnection(
            QStringLiteral("Provider=PostgreSQL;Host=%1;Port=%2;User ID=%3;Database=postgres")
                .arg(clusterSetting("Host"), clusterSetting("Port"), clusterSetting("User ID")));
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
    ProgramRun cli(const QStringList& args) {
        return runAndWait(binDir() + QStringLiteral("/vardex-cli"), args);
    }
    ProgramRun secure(const QStringList& more = {}) {
        return cli(QStringList{QStringLiteral("secure"), store->connectionString(),
                               QStringLiteral("--client-role"), role} +
                   more);
    }
    // Runs a psql script as the role (on the given port: the cluster's, or a pooler's); what
    // it printed (unaligned, tuples only) and its error lines.
    ProgramRun psqlAs(const QByteArray& script, const QString& port = QString()) {
        return runAndWait(QStringLiteral("psql"),
                          {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-At"),
                           QStringLiteral("-h"), clusterSetting("Host"), QStringLiteral("-p"),
                           port.isEmpty() ? clusterSetting("Port") : port, QStringLiteral("-U"), role,
                           QStringLiteral("-d"), database},
                          script);
    }
    static QStringList errorLines(const ProgramRun& r) {
        QStringList errors;
        for (const QString& line : r.err.split(QLatin1Char('\n')))
            if (line.startsWith(QLatin1String("ERROR:")))
                errors << line;
        return errors;
    }
    QStringList psqlAsRole(const QByteArray& script) { return errorLines(psqlAs(script)); }
    // SetUp, then the store secured for the role; false when skipped or failed.
    bool setUpSecured() {
        SecuredStore::SetUp();
        if (IsSkipped())
            return false;
        EXPECT_EQ(secure().code, 0);
        return !HasFailure();
    }
    int connectAs(const QString& account) {
        return ::ConnectDatabase(store->connectionString().toLocal8Bit().constData(),
                                 account.toUtf8().constData(), "", "2024-05-06", "");
    }
    static QString serverLog() {
        QFile f(QFileInfo(qEnvironmentVariable("VARDEX_PG_CONNFILE")).absolutePath() +
                QStringLiteral("/server.log"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    // The statements the role's sessions have sent, as the server logged them: a statement
    // text, or one whose values were bound parameters (the extended protocol's execute).
    int loggedStatements() {
        const QString log = serverLog();
        return int(log.count(QStringLiteral("LOG:  statement: ") + marker) +
                   log.count(QStringLiteral("LOG:  execute <unnamed>: ") + marker));
    }
    std::unique_ptr<TempStore> store;
    std::unique_ptr<AdoConnection> owner;
    QString role, database;
    QString marker; // the text that starts every statement the library sends on a secured store
};

TEST_F(SecuredStore, RefusesUntilThePolicyAllowsAndChangesNothingTheSecondTime) {
    owner->execute(QStringLiteral("update qx_user set userPwd = 'A1B2C3' where userID = 'm3'"));
    ProgramRun r = secure();
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
    const ProgramRun undone = secure({QStringLiteral("--undo")});
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
        calls += "select vardex_login_attempt(" + l + "," + l + "," + l + "," + l + "," + l +
                 ", true) as t \\gset\nselect * from vardex_answer(:'t');\n" +
                 "select * from vardex_check_right(" + l + ", 1, " + l + "," + l + ");\n" +
                 "select vardex_query_rights(" + l + ", '{1,2}');\n" +
                 "select vardex_change_password_attempt(" + l + "," + l + "," + l + "," + l + "," + l + "," +
                 l + ") as t \\gset\nselect * from vardex_answer(:'t');\n";
    }
    calls += "select vardex_login_attempt('a', 'pa', '2024-01-01', 'pc', E'\\xff\\xfe', true);\n"
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
    const ProgramRun codes =
        runAndWait(QStringLiteral("psql"),
                   {QStringLiteral("-X"), QStringLiteral("-At"), QStringLiteral("-h"), clusterSetting("Host"),
                    QStringLiteral("-p"), clusterSetting("Port"), QStringLiteral("-U"), role,
                    QStringLiteral("-d"), database},
                   "select vardex_login_attempt('m3', 'pc', '2024-05-06', 'pc', '', true) as t "
                   "\\gset\nselect code from vardex_answer(:'t');\nselect vardex_login_attempt('m3', " +
                       sqlLiteral(cipher).toUtf8() +
                       ", '2024-05-06', 'pc', '', true) as t \\gset\nselect code from "
                       "vardex_answer(:'t');\n");
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

// A login, and a change of password, are two statements on a secured store: the attempt, which
// counts the guess and commits, and then the answer, which the server gives only to a later
// transaction, so that no caller can read an answer and take the count back.
constexpr int kLoginStatements = 2;

} // namespace

// The calls of a desktop, made once by an owner's session (the classic statements) and once by
// the role's (the functions), from the same state of the store: every answer, box and audit row
// must be the same, and each call of the role's session one statement on the server (two for a
// login or a change of password).
class SecuredSameAnswers : public SecuredStore {
  protected:
    void SetUp() override {
        if (!setUpSecured())
            return;
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
    // Every login case and password change, with the lockout at 2 and a least length of 3.
    std::vector<Step> loginCases() {
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
            calls.push_back({QStringLiteral("CheckUserLogin %1 %2 %3").arg(id, pw).arg(mode),
                             [=] {
                                 return QString::number(::CheckUserLogin(id, pw, "", "fail", mode)) +
                                        QLatin1Char(' ') + session().CurrentUserName;
                             },
                             kLoginStatements});
        };
        const auto change = [&](const char* id, const char* from, const char* to) {
            calls.push_back({QStringLiteral("ChangeUserPassword %1 %2 %3").arg(id, from, to),
                             [=] { return QString::number(::ChangeUserPassword(id, from, to, "")); },
                             kLoginStatements});
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
                     *owner,
                     QStringLiteral("select string_agg(userID || '/' || userName || '=' || p, ' ' order "
                                    "by userID, userName, p) from qx_user, unnest(array['pa', 'newpass', "
                                    "'p1', 'p1x', 'p2', 'pm']) p where userPwd ~ '^[$]2a[$]' and "
                                    "crypt(p, userPwd) = userPwd"));
             },
             0});
        return calls;
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
             {"VardexQueryLog",
              [] {
                  return ::VardexQueryLog("", "", "", "", "", VARDEX_LOG_NEWEST_FIRST, "", 0, nullptr,
                                          nullptr);
              }},
             {"EditRightList", [] { return ::EditRightList(0); }},
             {"ShowRightManager", [] { return ::ShowRightManager(0, 1); }},
             {"VardexShowAuditLog", [] { return ::VardexShowAuditLog(); }}}) {
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
        const ProgramRun r = cli(verb);
        EXPECT_EQ(r.code, 1) << verb.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(QLatin1String("administrator's account"))) << r.err.toStdString();
    }
    // vardex-cli session takes the same path: a right answered, the log left alone.
    const ProgramRun calls = runAndWait(
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
    expectSameAnswers(loginCases());
    // The store's policy writes no row for a refused login unless asked.
    EXPECT_EQ(scalarInt(*owner, QStringLiteral("select count(*) from qx_Logs where theLog like '登录失败%'")),
              0);
}

// With audit.failures on, every refused login and verification of an old password writes a row
// naming its reason under the user ID typed, alike on both paths.
TEST_F(SecuredSameAnswers, FailedLoginsOnRecordAlikeOnBothPaths) {
    setting("audit.failures", QStringLiteral("on"));
    expectSameAnswers(loginCases());
    QStringList failed =
        scalar(*owner, QStringLiteral("select string_agg(userName || '|' || theLog, ',') from qx_Logs "
                                      "where theLog like '登录失败%'"))
            .split(QLatin1Char(','));
    failed.sort();
    EXPECT_EQ(failed, (QStringList{"a|登录失败(密码错误)", "a|登录失败(密码错误)", "a|登录失败(密码错误)",
                                   "a|登录失败(账号锁定)", "dis|登录失败(账号禁用)", "dis|登录失败(账号禁用)",
                                   "exp|登录失败(账号过期)", "exp|登录失败(账号过期)",
                                   "m1|登录失败(密码错误)", "m1|登录失败(密码错误)", "m1|登录失败(账号锁定)",
                                   "nobody|登录失败(无此用户)", "nobody|登录失败(无此用户)"}));
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
            {QStringLiteral("login window a %1").arg(password),
             [=] {
                 TfrJoin w;
                 w.Timer1->stop();
                 w.applySettings(QString(), QStringLiteral("2024-05-06"), 3, 0, 0);
                 w.show();
                 type({{w.Edit1, QStringLiteral("a")}, {w.Edit2, QLatin1String(password)}}, w.btnOK);
                 return QStringLiteral("%1 %2 %3")
                     .arg(w.loginResult)
                     .arg(w.closed())
                     .arg(session().CurrentUserName);
             },
             kLoginStatements});
    // The window verifies the old password, then changes it: two calls.
    for (const auto& [old, fresh, statements] :
         {std::tuple{"wrong", "abcd", kLoginStatements}, std::tuple{"pa", "ab", 2 * kLoginStatements},
          std::tuple{"pa", "abcd", 2 * kLoginStatements}})
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

namespace {

// A login attempt and its answer, as two psql statements (each its own transaction).
QByteArray attemptAndAnswer(const QByteArray& user, const QByteArray& password,
                            const QByteArray& computer = "pc") {
    return "select vardex_login_attempt('" + user + "', '" + password + "', '2024-05-06', '" + computer +
           "', '', false) as t \\gset\nselect code from vardex_answer(:'t');\n";
}

} // namespace

// The desktops' role as an attacker uses it: psql with the role's connection string, and the
// library on the same role, directly and through PgBouncer in transaction mode with one server
// connection, so that every desktop of the role is lent the same server session.
class SecuredAgainstDesktops : public SecuredStore {
  protected:
    void SetUp() override {
        if (!setUpSecured())
            return;
        // A role that may still make temporary tables, as on a store secured before.
        owner->execute(QStringLiteral("GRANT TEMPORARY ON DATABASE %1 TO %2").arg(database, role));
    }
    void TearDown() override {
        stopPooler();
        SecuredStore::TearDown();
    }
    // PgBouncer in transaction mode in front of the test cluster, one server connection per
    // database and role. Its port.
    QString startPooler() {
        pooler = std::make_unique<Pooler>(QStringList{role});
        return QString::number(pooler->port);
    }
    void stopPooler() { pooler.reset(); }
    // The library's connection string for the role, through the pooler when port is given.
    QString roleString(const QString& through = QString()) const {
        QString cs = store->connectionString();
        cs.replace(QRegularExpression(QStringLiteral("User ID=[^;]*")), QStringLiteral("User ID=") + role);
        if (!through.isEmpty())
            cs.replace(QRegularExpression(QStringLiteral("Port=[^;]*")), QStringLiteral("Port=") + through);
        return cs;
    }
    int connectRole(const QString& through = QString()) {
        return ::ConnectDatabase(roleString(through).toLocal8Bit().constData(), "", "", "2024-05-06", "");
    }
    int failures(const char* user) {
        return scalarInt(*owner, QStringLiteral("select coalesce(max(failures), 0) from vardex_lockout where "
                                                "userID = '%1'")
                                     .arg(QLatin1String(user)));
    }
    // On the library's session: a's right password and a wrong one, a change to fresh, which then
    // logs in.
    static void expectLoginAndChange(const char* fresh) {
        EXPECT_EQ(::CheckUserLogin("a", "pa", "", "", 0), 0);
        EXPECT_EQ(::CheckUserLogin("a", "wrong", "", "", 0), 3);
        EXPECT_EQ(::ChangeUserPassword("a", "pa", fresh, ""), 0);
        EXPECT_EQ(::CheckUserLogin("a", fresh, "", "", 0), 0);
    }
    // VardexQueryRights of a's items 1 to 6 on the library's session, beside the owner's own
    // reading of the grants.
    void expectStoreRightsOfA() {
        std::vector<int32_t> ids{1, 2, 3, 4, 5, 6}, got(6, -1);
        EXPECT_EQ(::VardexQueryRights("a", ids.data(), 6, got.data()), VARDEX_OK);
        QString rights;
        for (int32_t g : got)
            rights += QString::number(g);
        EXPECT_EQ(rights,
                  scalar(*owner, QStringLiteral("select string_agg(case when exists (select 1 from "
                                                "qx_user_qx where userID = 'a' and qxID = i and AllowCount "
                                                "> 0) then '0' else '3' end, '' order by i) from "
                                                "generate_series(1, 6) i")));
    }
    std::unique_ptr<Pooler> pooler;
};

TEST_F(SecuredAgainstDesktops, AGuessWhoseAnswerIsReadStaysCountedWhateverTheCallerRollsBack) {
    setting("lockout.failures", QStringLiteral("3"));
    for (const bool pooled : {false, true}) {
        SCOPED_TRACE(pooled ? "through PgBouncer, one server connection" : "directly");
        const QString through = pooled ? startPooler() : QString();
        owner->execute(QStringLiteral("delete from vardex_lockout; delete from qx_Logs"));
        // The answer is refused inside the attempt's transaction, and with it the attempt goes:
        // the caller learns nothing and nothing is counted.
        const ProgramRun takenBack = psqlAs(
            "begin;\nselect vardex_login_attempt('a', 'g1', '2024-05-06', 'pc', '', false) as t \\gset\n"
            "select code from vardex_answer(:'t');\nrollback;\n"
            "select (select code from vardex_answer(vardex_login_attempt('a', 'g2', '2024-05-06', 'pc', '', "
            "false))), 1/0;\n"
            "begin;\nsavepoint s;\nselect vardex_login_attempt('a', 'g3', '2024-05-06', 'pc', '', false) as "
            "t "
            "\\gset\nrelease savepoint s;\nselect code from vardex_answer(:'t');\nrollback;\n",
            through);
        const QStringList refused = errorLines(takenBack);
        ASSERT_EQ(refused.size(), 3) << takenBack.err.toStdString();
        for (const QString& e : refused)
            EXPECT_TRUE(e.contains(QLatin1String("has not committed")) ||
                        e.contains(QLatin1String("division by zero")))
                << e.toStdString();
        EXPECT_EQ(takenBack.out, QString());
        EXPECT_EQ(failures("a"), 0);
        // Answers read: each counted, whatever happens to the answer's own transaction (rolled
        // back, it only gives the same answer again).
        const ProgramRun counted =
            psqlAs(attemptAndAnswer("a", "g4") +
                       "select vardex_login_attempt('a', 'g5', '2024-05-06', 'pc', '', false) "
                       "as t \\gset\nbegin;\nselect code from vardex_answer(:'t');\nrollback;\n"
                       "select code from vardex_answer(:'t');\n" +
                       // the guess that locks, from a computer name longer than
                       // qx_Logs.CompName: cut to fit, never a reason to lose the count
                       attemptAndAnswer("a", "g6", QByteArray(101, 'c')) + attemptAndAnswer("a", "pa"),
                   through);
        EXPECT_EQ(counted.out, QStringLiteral("3\n3\n3\n3\n1\n")) << counted.err.toStdString();
        EXPECT_EQ(failures("a"), 3);
        EXPECT_EQ(
            scalar(*owner, QStringLiteral("select string_agg(CompName || '|' || userName, ',') from qx_Logs "
                                          "where theLog = '账号锁定'")),
            QString(100, QLatin1Char('c')) + QStringLiteral("|Ann"));
        // The library on the same role: locked, then (the lock lifted) the right password.
        ASSERT_EQ(connectRole(through), 0) << ::VardexLastError();
        EXPECT_EQ(::CheckUserLogin("a", "pa", "", "", 0), 1) << ::VardexLastError();
        owner->execute(QStringLiteral("delete from vardex_lockout"));
        EXPECT_EQ(::CheckUserLogin("a", "wrong", "", "", 0), 3);
        EXPECT_EQ(failures("a"), 1);
        EXPECT_EQ(::CheckUserLogin("a", "pa", "", "", 0), 0);
        EXPECT_EQ(scalarInt(*owner, QStringLiteral("select count(*) from vardex_lockout")), 0);
        // The library's own calls refuse to join a transaction begun on its connection.
        dataModule().ADOcn.execute(QStringLiteral("begin"));
        EXPECT_EQ(::CheckUserLogin("a", "pa", "", "", 0), VARDEX_ERROR);
        EXPECT_TRUE(
            QString::fromLocal8Bit(::VardexLastError()).contains(QLatin1String("transaction of its own")))
            << ::VardexLastError();
        dataModule().ADOcn.execute(QStringLiteral("rollback"));
        EXPECT_EQ(::DisconnectDatabase(), VARDEX_OK);
        stopPooler();
    }
}

// A refused login's row is decided with its count: inside the attempt's transaction a right and
// a wrong password still write alike, an attempt rolled back leaves no row, and one whose answer
// is never read is on record once its ticket is dropped, at the attempt's time.
TEST_F(SecuredAgainstDesktops, AFailedLoginIsOnRecordWhateverTheCallerDoes) {
    setting("audit.failures", QStringLiteral("on"));
    const QByteArray writes =
        "select string_agg(relname || ':' || n_tup_ins || ':' || n_tup_upd || ':' || "
        "n_tup_del, ',' order by relname) from pg_stat_xact_user_tables where n_tup_ins "
        "+ n_tup_upd + n_tup_del > 0;\n";
    // Each in a session of its own: a session's counts of earlier transactions may not have
    // been handed on yet.
    const auto attemptWrites = [&](const QByteArray& password) {
        const ProgramRun r =
            psqlAs("begin;\nselect vardex_login_attempt('a', '" + password +
                   "', '2024-05-06', 'pc', '', false) is not null;\n" + writes + "rollback;\n");
        EXPECT_TRUE(r.out.startsWith(QLatin1String("t\n"))) << r.err.toStdString();
        return r.out.section(QLatin1Char('\n'), 1, 1);
    };
    const QString right = attemptWrites("pa");
    EXPECT_TRUE(right.contains(QLatin1String("vardex_tickets:1:0:0"))) << right.toStdString();
    EXPECT_EQ(attemptWrites("bad"), right);
    EXPECT_EQ(scalarInt(*owner, QStringLiteral("select count(*) from qx_Logs")), 0);

    // Committed, its answer never read: nothing yet; dropped as too old by a later attempt's
    // ticket: its row, at its own time, and the later attempt's row from its answer.
    const ProgramRun left = psqlAs("select vardex_login_attempt('a', 'bad', '2024-05-06', 'pc9', '', false) "
                                   "is not null;\n");
    EXPECT_EQ(left.out, QStringLiteral("t\n")) << left.err.toStdString();
    EXPECT_EQ(scalarInt(*owner, QStringLiteral("select count(*) from qx_Logs")), 0);
    owner->execute(QStringLiteral("update vardex_tickets set made = made - interval '11 minutes'"));
    const QString aged = scalar(*owner, QStringLiteral("select to_char(made, 'YYYY-MM-DD HH24:MI:SS') from "
                                                       "vardex_tickets"));
    EXPECT_EQ(psqlAs(attemptAndAnswer("nobody", "x")).out, QStringLiteral("4\n"));
    EXPECT_EQ(
        scalar(*owner, QStringLiteral("select string_agg(CompName || '|' || userName || '|' || theLog || "
                                      "'|' || (theTime = %1)::text, ',' order by CompName) from qx_Logs")
                           .arg(sqlLiteral(aged))),
        QStringLiteral("pc|nobody|登录失败(无此用户)|false,pc9|a|登录失败(密码错误)|true"));
}

TEST_F(SecuredAgainstDesktops, NoOtherDesktopSeesATypedPassword) {
    ASSERT_EQ(connectRole(), 0) << ::VardexLastError();
    EXPECT_EQ(::CheckUserLogin("a", "pa", "", "", 0), 0);
    EXPECT_EQ(::ChangeUserPassword("a", "pa", "Sesame-9x", ""), 0);
    // The first desktop sits idle; a second one reads what the role's sessions show.
    const ProgramRun seen =
        psqlAs("select query from pg_stat_activity where usename = current_user and pid <> "
               "pg_backend_pid();\n");
    EXPECT_TRUE(seen.out.contains(QLatin1String("vardex_answer($1)")))
        << seen.out.toStdString() << seen.err.toStdString();
    EXPECT_FALSE(seen.out.contains(QLatin1String("Sesame"))) << seen.out.toStdString();
    EXPECT_EQ(::CheckUserLogin("a", "Sesame-9x", "", "", 0), 0);
    const ProgramRun again =
        psqlAs("select query from pg_stat_activity where usename = current_user and pid <> "
               "pg_backend_pid();\n");
    EXPECT_TRUE(again.out.contains(QLatin1String("vardex_answer($1)"))) << again.out.toStdString();
    EXPECT_FALSE(again.out.contains(QLatin1String("Sesame"))) << again.out.toStdString();
}

TEST_F(SecuredAgainstDesktops, AnotherDesktopsTemporaryTablesAreNeverRead) {
    // What a desktop leaves on its server session: tables of the store's names, a user whose
    // empty password verifies, every right granted.
    const QByteArray tables =
        "create temp table qx_user (userID varchar(20), userName varchar(20), userPwd varchar(100), "
        "startTime "
        "varchar(10), endTime varchar(10), Allow char(1), AllowZekou int, zuid int);\n"
        "insert into qx_user values ('a', 'Ann', '', '2000-01-01', '2099-12-31', 'T', 0, 10000);\n"
        "create temp table qx_user_qx (userID varchar(20), qxID int, AllowCount int);\n"
        "insert into qx_user_qx select 'a', i, 1 from generate_series(1, 6) i;\n"
        "create temp table qx_Name (qxID int, qxName varchar(30), qxNameEx varchar(50));\n"
        "create temp table qx_Logs (CompName varchar(100), userName varchar(20), theTime varchar(20), theLog "
        "varchar(100));\n"
        "create temp table vardex_settings (name varchar(40), value varchar(200));\n"
        "create temp table vardex_lockout (userID varchar(20), failures int, lastFailure varchar(19));\n";
    const auto answers = [this] {
        QString out = QString::number(::CheckUserLogin("a", "", "", "", 0)) + QLatin1Char(' ') +
                      QString::number(::CheckUserLogin("a", "pa", "", "", 0));
        std::vector<int32_t> ids{1, 2, 3, 4, 5, 6}, got(6, -1);
        EXPECT_EQ(::VardexQueryRights("a", ids.data(), 6, got.data()), VARDEX_OK);
        for (int32_t g : got)
            out += QLatin1Char(' ') + QString::number(g);
        return out;
    };
    ASSERT_EQ(connectRole(), 0);
    const QString expected = answers();
    ::DisconnectDatabase();
    EXPECT_TRUE(expected.startsWith(QLatin1String("3 0 "))) << expected.toStdString();
    const QString through = startPooler();
    const ProgramRun left =
        psqlAs(tables + "select count(*) from pg_class where relnamespace = pg_my_temp_schema() "
                        "and relkind = 'r';\n",
               through);
    ASSERT_EQ(left.out, QStringLiteral("6\n")) << left.err.toStdString();
    owner->execute(QStringLiteral("delete from qx_Logs"));
    ASSERT_EQ(connectRole(through), 0) << ::VardexLastError();
    EXPECT_TRUE(dataModule().Secured);
    EXPECT_EQ(answers(), expected);
    // Still the same server session, the tables still there: the answers were the store's.
    EXPECT_EQ(
        psqlAs("select count(*) from pg_class where relnamespace = pg_my_temp_schema();\n", through).out,
        QStringLiteral("6\n"));
    EXPECT_EQ(scalarInt(*owner, QStringLiteral("select count(*) from qx_Logs where theLog = '用户登录'")), 1);
}

TEST_F(SecuredAgainstDesktops, AnotherDesktopsSettingsChangeNoAnswer) {
    setting("lockout.failures", QStringLiteral("3"));
    const QByteArray settings = "set standard_conforming_strings = off;\nset time zone 'UTC+167';\n"
                                "set DateStyle = 'SQL, DMY';\nset search_path = pg_temp, public;\n"
                                "set enable_hashjoin = off;\nset plan_cache_mode = force_generic_plan;\n";
    const ProgramRun direct = psqlAs(settings + attemptAndAnswer("a", "pa") + attemptAndAnswer("two", "p2"));
    EXPECT_EQ(direct.out, QStringLiteral("0\n0\n")) << direct.err.toStdString();
    const QString through = startPooler();
    ASSERT_EQ(connectRole(through), 0) << ::VardexLastError();
    // Left on the pooler's one server connection, which the library's session is lent next.
    const ProgramRun set = psqlAs(settings, through);
    ASSERT_TRUE(errorLines(set).isEmpty()) << set.err.toStdString();
    EXPECT_EQ(::CheckUserLogin("two", "p2", "", "", 0), 0);
    expectLoginAndChange("a\\b'c");
    expectStoreRightsOfA();
    // The settings PgBouncer does not carry per client were still the other desktop's (it sets
    // standard_conforming_strings, DateStyle and TimeZone back per client; the direct calls
    // above ran under all of them).
    EXPECT_EQ(scalar(dataModule().ADOcn, QStringLiteral("show search_path")),
              QStringLiteral("pg_temp, public"));
    EXPECT_EQ(scalar(dataModule().ADOcn, QStringLiteral("show enable_hashjoin")), QStringLiteral("off"));
}

TEST_F(SecuredAgainstDesktops, AuditTimesAreTheServersClockInTheStoresZone) {
    // The store's zone: the server's (secure ran with no zone of its own).
    const QString zone = psqlAs("show TimeZone;\n").out.trimmed();
    const ProgramRun r = psqlAs("set time zone 'UTC+167';\nselect vardex_logout('pc1', 'Alice');\n"
                                "begin;\nset local time zone '" +
                                zone.toUtf8() +
                                "';\nselect to_char(now(), 'YYYY-MM-DD HH24:MI:SS');\nselect pg_sleep(1.5);\n"
                                "select vardex_logout('pc2', 'Bob');\ncommit;\n");
    ASSERT_TRUE(errorLines(r).isEmpty()) << r.err.toStdString();
    const QString began = r.out.section(QLatin1Char('\n'), 1, 1);
    const QString now = scalar(*owner, QStringLiteral("select to_char(clock_timestamp() at time zone %1, "
                                                      "'YYYY-MM-DD HH24:MI:SS')")
                                           .arg(sqlLiteral(zone)));
    const QString alice =
        scalar(*owner, QStringLiteral("select theTime from qx_Logs where userName = 'Alice'"));
    const QString bob = scalar(*owner, QStringLiteral("select theTime from qx_Logs where userName = 'Bob'"));
    // Written within the minute before now, in the store's zone, not seven days back.
    EXPECT_LE(alice, now);
    EXPECT_GE(alice, QDateTime::fromString(now, QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                         .addSecs(-60)
                         .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    EXPECT_GT(bob, began) << "the time the transaction began";
}

TEST_F(SecuredAgainstDesktops, NullIsRefusedWhereverTheLibraryWouldSendAText) {
    setting("password.minlength", QStringLiteral("8"));
    const QString contents = storeContents(*owner);
    const QByteArray calls =
        "select vardex_change_password_attempt('a', 'pa', NULL, '2024-05-06', 'pc', 'Ann');\n"
        "select vardex_change_password_attempt('a', NULL, 'long enough', '2024-05-06', 'pc', 'Ann');\n"
        "select vardex_change_password_attempt('a', 'pa', 'long enough', NULL, 'pc', 'Ann');\n"
        "select vardex_login_attempt('exp', 'pe', NULL, 'pc', '', false);\n"
        "select vardex_login_attempt(NULL, 'pa', '2024-05-06', 'pc', '', false);\n"
        "select vardex_login_attempt('a', 'pa', '2024-05-06', NULL, '', true);\n"
        "select vardex_login_attempt('a', 'pa', '2024-05-06', 'pc', NULL, true);\n"
        "select vardex_login_attempt('a', 'pa', '2024-05-06', 'pc', '', NULL);\n"
        "select vardex_answer(NULL);\n"
        "select vardex_check_right(NULL, 1, 'pc', 'Ann');\n"
        "select vardex_check_right('a', NULL, 'pc', 'Ann');\n"
        "select vardex_check_right('a', 1, NULL, 'Ann');\n"
        "select vardex_query_rights('a', '{1,NULL}');\n"
        "select vardex_query_rights('a', NULL);\n"
        "select vardex_logout(NULL, 'Ann');\n"
        "select vardex_logout('pc', NULL);\n";
    const QStringList errors = psqlAsRole(calls);
    ASSERT_EQ(errors.size(), 16) << errors.join(QLatin1Char('\n')).toStdString();
    for (const QString& e : errors)
        EXPECT_TRUE(e.contains(QLatin1String("NULL"))) << e.toStdString();
    EXPECT_EQ(storeContents(*owner), contents);
    EXPECT_EQ(psqlAs(attemptAndAnswer("a", "pa") + attemptAndAnswer("exp", "pe")).out,
              QStringLiteral("0\n2\n"));
}

TEST_F(SecuredAgainstDesktops, ANewPasswordLongerThanBcryptReadsIsRefused) {
    ASSERT_EQ(connectRole(), 0);
    EXPECT_EQ(::ChangeUserPassword("a", "pa", QByteArray(73, 'x').constData(), ""), 7);
    const QByteArray cjk24 = QStringLiteral("密").repeated(24).toUtf8(); // 72 bytes
    EXPECT_EQ(::ChangeUserPassword("a", "pa", (cjk24 + "码").constData(), ""), 7);
    EXPECT_EQ(::ChangeUserPassword("a", "pa", cjk24.constData(), ""), 0);
    EXPECT_EQ(::CheckUserLogin("a", cjk24.constData(), "", "", 0), 0);
}

TEST_F(SecuredAgainstDesktops, VardexQueryRightsReadsTheGrantsOnceAlsoInThePlanTheSessionKeeps) {
    // 20,000 grants; the plans of the function's query logged by auto_explain (the owner's
    // session: a superuser may load it), the sixth and later calls running the generic plan.
    owner->execute(
        QStringLiteral("insert into qx_user_qx select 'f' || k, i, 1 from generate_series(1, 1000) i, "
                       "generate_series(1, 20) k; analyze qx_user_qx"));
    owner->execute(QStringLiteral("LOAD 'auto_explain'; SET auto_explain.log_min_duration = 0; "
                                  "SET auto_explain.log_nested_statements = on"));
    const int before = int(serverLog().size());
    QString items = QStringLiteral("{1");
    for (int i = 2; i <= 1000; ++i)
        items += QLatin1Char(',') + QString::number(i);
    items += QLatin1Char('}');
    QString answer;
    for (int call = 0; call < 8; ++call)
        answer = scalar(*owner, QStringLiteral("select vardex_query_rights('a', '%1')").arg(items));
    owner->execute(QStringLiteral("SET auto_explain.log_min_duration = -1"));
    EXPECT_TRUE(answer.startsWith(QLatin1Char('0'))) << answer.toStdString();
    const QString log = serverLog().mid(before);
    const QStringList plans = log.split(QStringLiteral("Query Text: '0' || coalesce((SELECT encode"));
    ASSERT_EQ(plans.size(), 9) << log.left(4000).toStdString();
    // One scan of the user's grants by the index, whatever the plan: no probe per item.
    for (const QString& plan : plans.mid(1)) {
        const QString text = plan.section(QStringLiteral("Query Text:"), 0, 0);
        EXPECT_TRUE(text.contains(QLatin1String("Scan"))) << text.toStdString();
        for (const char* perItem : {"Nested Loop", "SubPlan", "ANY", "Loop"})
            EXPECT_FALSE(text.contains(QLatin1String(perItem))) << text.toStdString();
    }
}

TEST_F(SecuredAgainstDesktops, ASecondSecureReplacesTheFunctionsOfAnEarlierVersion) {
    // The functions an earlier version left: answers in the caller's transaction, an array out.
    owner->execute(
        QStringLiteral(
            "DROP FUNCTION vardex_query_rights(text, integer[]); "
            "CREATE FUNCTION vardex_query_rights(p_user_id text, p_right_ids integer[]) RETURNS integer[] "
            "LANGUAGE sql SECURITY DEFINER AS 'select array[0]'; "
            "CREATE FUNCTION vardex_login(text, text, text, text, text, boolean, OUT code integer, OUT "
            "user_name "
            "text) LANGUAGE sql SECURITY DEFINER AS 'select 0, ''x''::text'; "
            "GRANT EXECUTE ON FUNCTION vardex_login(text, text, text, text, text, boolean) TO %1")
            .arg(role));
    const ProgramRun again = secure();
    ASSERT_EQ(again.code, 0) << again.err.toStdString();
    EXPECT_EQ(
        scalar(*owner, QStringLiteral("select to_regprocedure('vardex_login(text, text, text, text, text, "
                                      "boolean)') is null and pg_get_function_result("
                                      "'vardex_query_rights(text, integer[])'::regprocedure) = 'text'")),
        QStringLiteral("true"));
    ASSERT_EQ(connectRole(), 0);
    std::vector<int32_t> ids{1, 2}, got(2, -1);
    EXPECT_EQ(::VardexQueryRights("nobody", ids.data(), 2, got.data()), VARDEX_OK);
    EXPECT_EQ(got, (std::vector<int32_t>{1, 1}));
}

TEST_F(SecuredAgainstDesktops, ACallWhoseConnectionDropsIsNeverSentAgain) {
    marker = QStringLiteral("select public.vardex_login_attempt(");
    owner->execute(
        QStringLiteral("ALTER ROLE %1 IN DATABASE %2 SET log_statement = 'all'").arg(role, database));
    setting("lockout.failures", QStringLiteral("5"));
    owner->execute(QStringLiteral("insert into vardex_lockout values ('a', 0, '2000-01-01 00:00:00')"));
    ASSERT_EQ(connectRole(), 0);
    const QString pids = QStringLiteral("select pid from pg_stat_activity where usename = '%1'").arg(role);
    // Ended while idle: found before anything is sent, opened anew, the call answered.
    const QString idle = scalar(*owner, pids);
    owner->execute(QStringLiteral("select pg_terminate_backend(%1, 10000)").arg(idle));
    EXPECT_NE(::CheckUserRight("a", 1, "", 0), VARDEX_ERROR) << ::VardexLastError();
    EXPECT_NE(scalar(*owner, pids), idle);
    // Ended while the attempt waits for the user's lockout row: the call fails and is not sent
    // again (the server may have run it).
    owner->execute(QStringLiteral("begin; select * from vardex_lockout where userID = 'a' for update"));
    std::thread ender([this] {
        auto admin = openConnection(store->connectionString());
        QString pid;
        for (; pid.isEmpty(); QThread::msleep(10))
            pid = scalar(*admin, QStringLiteral("select pid from pg_stat_activity where usename = '%1' and "
                                                "wait_event_type = 'Lock'")
                                     .arg(role));
        admin->execute(QStringLiteral("select pg_terminate_backend(%1, 10000)").arg(pid));
    });
    const int before = loggedStatements();
    const int code = ::CheckUserLogin("a", "wrong", "", "", 0);
    ender.join();
    owner->execute(QStringLiteral("rollback"));
    EXPECT_EQ(code, VARDEX_ERROR);
    EXPECT_TRUE(QString::fromLocal8Bit(::VardexLastError()).contains(QLatin1String("not sent again")))
        << ::VardexLastError();
    EXPECT_EQ(loggedStatements() - before, 1);
    EXPECT_EQ(::CheckUserLogin("a", "wrong", "", "", 0), 3);
    EXPECT_EQ(loggedStatements() - before, 2);
}

TEST_F(SecuredAgainstDesktops, TheCallsThroughOdbcBindTheirValuesToo) {
    const QString cs =
        QStringLiteral("Provider=ODBC;Driver={PostgreSQL Unicode};Server=%1;Port=%2;Database=%3;Uid=%4")
            .arg(clusterSetting("Host"), clusterSetting("Port"), database, role);
    ASSERT_EQ(::ConnectDatabase(cs.toLocal8Bit().constData(), "", "", "2024-05-06", ""), 0)
        << ::VardexLastError();
    ASSERT_TRUE(dataModule().Secured);
    expectLoginAndChange("it's \\ new");
    // The last call, idle on the connection, was the login with the new password (psqlODBC binds
    // through a named prepared statement, which it deallocates after).
    const ProgramRun seen =
        psqlAs("select query from pg_stat_activity where usename = current_user and pid <> "
               "pg_backend_pid();\n");
    EXPECT_FALSE(seen.out.contains(QLatin1String("new"))) << seen.out.toStdString();
    expectStoreRightsOfA();
}
