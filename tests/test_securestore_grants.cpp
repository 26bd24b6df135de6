// secure and secure --undo against the ways a desktop's role could still reach a secured
// PostgreSQL store: column grants and roles it belongs to, role attributes, default privileges,
// temporary tables, a group role with a login per desktop (also through PgBouncer in transaction
// mode with one server connection), a database not encoded UTF8, and a store secured by the
// previous version. Every attack is made as the desktop would make it: psql and the library
// with the desktop's login only.
#include "capi/vardex.h"
#include "library/dmain.h"
#include "library/installer.h"
#include "platform/sqldialect.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUuid>
#include <arpa/inet.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace vardex;
using namespace vardex::test;

namespace {

std::unique_ptr<AdoConnection> clusterAdmin() {
    return openConnection(
        QStringLiteral("Provider=PostgreSQL;Host=%1;Port=%2;User ID=%3;Database=postgres")
            .arg(clusterSetting("Host"), clusterSetting("Port"), clusterSetting("User ID")));
}

// What a role may do with the database, every object of the public schema and their columns,
// and the default privileges: what "nothing changed" and "given back" compare.
const char* const kPrivileges =
    "select string_agg(x, E'\\n' order by x) from (select 'db ' || a.grantee::regrole::text || ' ' || "
    "a.privilege_type as x from pg_database d, aclexplode(coalesce(d.datacl, acldefault('d', d.datdba))) a "
    "where d.datname = current_database() union all select c.relname || ' ' || a.grantee::regrole::text || "
    "' ' || a.privilege_type from pg_class c, aclexplode(coalesce(c.relacl, acldefault('r', c.relowner))) "
    "a where c.relnamespace = 'public'::regnamespace union all select c.relname || '.' || t.attname || ' ' "
    "|| a.grantee::regrole::text || ' ' || a.privilege_type from pg_attribute t join pg_class c on c.oid = "
    "t.attrelid, aclexplode(t.attacl) a where c.relnamespace = 'public'::regnamespace union all select "
    "p.oid::regprocedure::text || ' ' || a.grantee::regrole::text || ' ' || a.privilege_type from pg_proc "
    "p, aclexplode(coalesce(p.proacl, acldefault('f', p.proowner))) a where p.pronamespace = "
    "'public'::regnamespace union all select 'schema ' || a.grantee::regrole::text || ' ' || "
    "a.privilege_type from pg_namespace n, aclexplode(coalesce(n.nspacl, acldefault('n', n.nspowner))) a "
    "where n.nspname = 'public' union all select 'default ' || d.defaclobjtype::text || ' ' || "
    "a.grantee::regrole::text || ' ' || a.privilege_type from pg_default_acl d, aclexplode(d.defaclacl) a "
    "union all select 'ext ' || extname from pg_extension) s";

} // namespace

class SecureGrants : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!postgresAvailable())
            GTEST_SKIP() << "no PostgreSQL test cluster";
        store = std::make_unique<TempStore>(Backend::PostgreSQL);
        owner = openConnection(store->connectionString());
        suffix = QUuid::createUuid().toString(QUuid::Id128).left(10);
        role = newRole(QStringLiteral("desk"), QStringLiteral("LOGIN"));
        database = scalar(*owner, QStringLiteral("select current_database()"));
        preparePolicy(*owner);
    }
    void TearDown() override {
        if (hasDataModule())
            vardex::DisconnectDatabase();
        if (!store)
            return;
        owner.reset();
        store.reset();
        auto admin = clusterAdmin();
        for (auto r = roles.rbegin(); r != roles.rend(); ++r)
            admin->execute(QStringLiteral("DROP ROLE IF EXISTS %1").arg(*r));
    }
    // A role of this test, dropped at its end.
    QString newRole(const QString& name, const QString& options) {
        const QString r = QStringLiteral("vx%1_%2").arg(name, suffix);
        owner->execute(QStringLiteral("CREATE ROLE %1 %2").arg(r, options));
        roles << r;
        return r;
    }
    // The password policy's tables with bcrypt, and a user 'a' whose password is 'pa'.
    static void preparePolicy(AdoConnection& cn) {
        cn.execute(QStringLiteral(
            "CREATE TABLE IF NOT EXISTS vardex_settings (name varchar(40) not null primary key, value "
            "varchar(200) not null); CREATE TABLE IF NOT EXISTS vardex_lockout (userID varchar(20) not null "
            "primary key, failures integer not null, lastFailure varchar(19) not null); CREATE EXTENSION IF "
            "NOT EXISTS pgcrypto; INSERT INTO vardex_settings VALUES ('password.hash', 'bcrypt') ON CONFLICT "
            "(name) DO UPDATE SET value = 'bcrypt'; insert "
            "into "
            "qx_user (userID, userName, userPwd, startTime, endTime, Allow, zuid) values ('a', 'Ann', "
            "crypt('pa', gen_salt('bf', 10)), '2000-01-01', '2099-12-31', 'T', 10000); insert into qx_Name "
            "values (1, 'One', '')"));
    }
    ProgramRun cli(const QStringList& args) {
        return runAndWait(binDir() + QStringLiteral("/vardex-cli"), args);
    }
    ProgramRun secure(const QString& clientRole, const QStringList& more = {}) {
        return cli(QStringList{QStringLiteral("secure"), store->connectionString(),
                               QStringLiteral("--client-role"), clientRole} +
                   more);
    }
    QStringList psqlAs(const QString& login, const QByteArray& script, const QString& port = QString()) {
        return psqlErrors(login, database, script, port);
    }
    QString privileges() { return scalar(*owner, QLatin1String(kPrivileges)); }
    int vardexFunctions() {
        return scalarInt(*owner,
                         QStringLiteral("select count(*) from pg_proc where proname like 'vardex\\_%'"));
    }
    // A refusal of secure for clientRole: exit 1, every text of expected in its message, and
    // nothing changed.
    void expectRefused(const QString& clientRole, const QStringList& expected) {
        const QString before = privileges();
        const ProgramRun r = secure(clientRole);
        EXPECT_EQ(r.code, 1) << r.out.toStdString();
        for (const QString& e : expected)
            EXPECT_TRUE(r.err.contains(e)) << e.toStdString() << " not in: " << r.err.toStdString();
        EXPECT_EQ(privileges().toStdString(), before.toStdString());
        EXPECT_EQ(vardexFunctions(), 0);
        EXPECT_EQ(scalar(*owner, QStringLiteral("select to_regclass('vardex_secure_grants')")), QString());
    }
    std::unique_ptr<TempStore> store;
    std::unique_ptr<AdoConnection> owner;
    QString suffix, role, database;
    QStringList roles;
};

TEST_F(SecureGrants, ColumnsReachedThroughAGroupAreRefusedChangingNothing) {
    const QString grp = newRole(QStringLiteral("grp"), QStringLiteral("NOLOGIN"));
    owner->execute(
        QStringLiteral("GRANT SELECT (userid, userpwd) ON qx_user TO %1; GRANT %1 TO %2").arg(grp, role));
    expectRefused(role,
                  {grp, QStringLiteral("SELECT (userid), SELECT (userpwd) on the table qx_user"),
                   QStringLiteral("REVOKE SELECT (userid), SELECT (userpwd) ON TABLE qx_user FROM ") + grp});
    // As refused, the role still reads every hash; once the group's grant goes, secure holds.
    EXPECT_TRUE(psqlAs(role, "select userid, userpwd from qx_user;\n").isEmpty());
    owner->execute(QStringLiteral("REVOKE SELECT (userid, userpwd) ON qx_user FROM %1").arg(grp));
    // A view of another schema that reads the hashes, open to the group.
    owner->execute(
        QStringLiteral("CREATE SCHEMA vx_side; CREATE VIEW vx_side.hashes AS SELECT userid, userpwd "
                       "FROM qx_user; GRANT USAGE ON SCHEMA vx_side TO %1; GRANT SELECT ON "
                       "vx_side.hashes TO %1")
            .arg(grp));
    expectRefused(role,
                  {QStringLiteral("holds SELECT on the table vx_side.hashes, a view that reads the store's "
                                  "tables")});
    owner->execute(QStringLiteral("DROP SCHEMA vx_side CASCADE"));
    const ProgramRun r = secure(role);
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QStringList errors = psqlAs(role, "select userid from qx_user;\nselect userpwd from qx_user;\n");
    EXPECT_EQ(errors.size(), 2) << errors.join(QLatin1Char('\n')).toStdString();
}

TEST_F(SecureGrants, RolesThatGoAroundGrantsAndDefaultPrivilegesAreRefused) {
    owner->execute(QStringLiteral("ALTER ROLE %1 CREATEROLE").arg(role));
    expectRefused(role,
                  {QStringLiteral("CREATEROLE"), QStringLiteral("ALTER ROLE %1 NOCREATEROLE").arg(role)});
    owner->execute(QStringLiteral("ALTER ROLE %1 NOCREATEROLE").arg(role));
    // BYPASSRLS on a role the desktop may SET ROLE to, though it inherits nothing from it.
    const QString boss = newRole(QStringLiteral("boss"), QStringLiteral("NOLOGIN BYPASSRLS"));
    owner->execute(QStringLiteral("ALTER ROLE %1 NOINHERIT; GRANT %2 TO %1").arg(role, boss));
    expectRefused(role, {QStringLiteral("BYPASSRLS"), boss});
    owner->execute(QStringLiteral("REVOKE %1 FROM %2; ALTER ROLE %2 INHERIT").arg(boss, role));
    // A predefined role that ends any other desktop's connection.
    owner->execute(QStringLiteral("GRANT pg_signal_backend TO %1").arg(role));
    expectRefused(role, {QStringLiteral("may end other desktops' connections")});
    owner->execute(QStringLiteral("REVOKE pg_signal_backend FROM %1").arg(role));
    // New tables of the store's owner in the schema, as item add and item rename make them.
    owner->execute(
        QStringLiteral("ALTER DEFAULT PRIVILEGES IN SCHEMA public GRANT ALL ON TABLES TO %1").arg(role));
    expectRefused(role,
                  {QStringLiteral("ALTER DEFAULT PRIVILEGES FOR ROLE postgres IN SCHEMA public REVOKE ALL "
                                  "ON TABLES FROM %1")
                       .arg(role)});
    owner->execute(
        QStringLiteral(
            "ALTER DEFAULT PRIVILEGES IN SCHEMA public REVOKE ALL ON TABLES FROM %1; ALTER DEFAULT "
            "PRIVILEGES GRANT SELECT ON TABLES TO PUBLIC")
            .arg(role));
    expectRefused(role,
                  {QStringLiteral("ALTER DEFAULT PRIVILEGES FOR ROLE postgres REVOKE ALL ON TABLES FROM "
                                  "PUBLIC")});
    owner->execute(QStringLiteral("ALTER DEFAULT PRIVILEGES REVOKE SELECT ON TABLES FROM PUBLIC"));
    const ProgramRun r = secure(role);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
}

TEST_F(SecureGrants, TemporaryAndColumnGrantsAreTakenAndGivenBackByUndo) {
    owner->execute(
        QStringLiteral("GRANT SELECT (qxname) ON qx_Name TO %1; GRANT UPDATE (theLog) ON qx_Logs TO "
                       "PUBLIC")
            .arg(role));
    const QByteArray attack = "create temp table qx_user (userid text);\nselect qxname from qx_Name;\n";
    EXPECT_TRUE(psqlAs(role, attack).isEmpty());
    const QString before = privileges();
    ProgramRun r = secure(role);
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QStringList errors = psqlAs(role, attack);
    ASSERT_EQ(errors.size(), 2) << errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(errors[0].contains(QLatin1String("permission denied to create temporary tables")))
        << errors[0].toStdString();
    r = secure(role, {QStringLiteral("--undo")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(privileges().toStdString(), before.toStdString());
    EXPECT_TRUE(psqlAs(role, attack).isEmpty());
}

TEST_F(SecureGrants, ARunOnAStoreSecuredByThePreviousVersionBringsItUpToDate) {
    ASSERT_EQ(secure(role).code, 0);
    // What the previous version left: TEMPORARY with PUBLIC, a record without it or the column
    // grants, and a function of an older signature the role may run.
    owner->execute(
        QStringLiteral(
            "GRANT TEMPORARY ON DATABASE %1 TO PUBLIC; COMMENT ON TABLE vardex_secure_grants IS NULL; DELETE "
            "FROM "
            "vardex_secure_grants WHERE kind = 'DATABASE'; CREATE FUNCTION vardex_login(text) RETURNS text "
            "LANGUAGE sql SECURITY DEFINER AS 'select userPwd from public.qx_user where userID = $1'; REVOKE "
            "ALL ON "
            "FUNCTION vardex_login(text) FROM PUBLIC; GRANT EXECUTE ON FUNCTION vardex_login(text) TO %2")
            .arg(database, role));
    const QByteArray attack = "create temp table qx_user (userid text);\nselect vardex_login('a');\n";
    const QStringList before = psqlAs(role, attack);
    EXPECT_TRUE(before.isEmpty()) << before.join(QLatin1Char('\n')).toStdString();
    const ProgramRun r = secure(role);
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(psqlAs(role, attack).size(), 2);
    ASSERT_EQ(secure(role, {QStringLiteral("--undo")}).code, 0);
    EXPECT_EQ(vardexFunctions(), 0);
    EXPECT_TRUE(psqlAs(role, "create temp table qx_user (userid text);\n").isEmpty());
}

TEST_F(SecureGrants, ADatabaseNotEncodedUtf8IsRefusedChangingNothing) {
    auto admin = clusterAdmin();
    const QString name = QStringLiteral("vx_euc_") + suffix.toLower();
    admin->execute(QStringLiteral("CREATE DATABASE %1 ENCODING 'EUC_CN' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE "
                                  "template0")
                       .arg(name));
    QString cs = store->connectionString();
    cs.replace(QRegularExpression(QStringLiteral("Database=[^;]*")), QStringLiteral("Database=") + name);
    {
        auto cn = openConnection(cs);
        QTemporaryDir tmp;
        ASSERT_TRUE(runInstallScript(*cn, tmp.path() + QStringLiteral("/Morlan.tmp")).ok);
        preparePolicy(*cn);
        const ProgramRun r = cli({QStringLiteral("secure"), cs, QStringLiteral("--client-role"), role});
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(r.err.contains(QLatin1String("encoded EUC_CN"))) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QLatin1String("UTF8 database"))) << r.err.toStdString();
        EXPECT_EQ(
            scalarInt(*cn, QStringLiteral("select count(*) from pg_proc where proname like 'vardex\\_%'")),
            0);
    }
    admin->execute(QStringLiteral("DROP DATABASE %1 WITH (FORCE)").arg(name));
}

// Each desktop logs in with a login of its own, a member of a group role that secure is given:
// the functions answer through the membership, and no desktop can touch another's session or
// the group's settings, directly or through PgBouncer.
TEST_F(SecureGrants, AGroupRoleWithALoginPerDesktop) {
    const QString grp = newRole(QStringLiteral("desks"), QStringLiteral("NOLOGIN"));
    const QString m1 = newRole(QStringLiteral("pc1"), QStringLiteral("LOGIN"));
    const QString m2 = newRole(QStringLiteral("pc2"), QStringLiteral("LOGIN"));
    owner->execute(QStringLiteral("GRANT %1 TO %2, %3; GRANT SELECT ON qx_user TO %2").arg(grp, m1, m2));
    // A member's own privilege on the store is found too.
    expectRefused(
        grp, {QStringLiteral("the role %1 (a member of %2) holds SELECT on the table qx_user").arg(m1, grp),
              QStringLiteral("REVOKE SELECT ON TABLE qx_user FROM %1").arg(m1)});
    owner->execute(QStringLiteral("REVOKE SELECT ON qx_user FROM %1").arg(m1));
    const ProgramRun r = secure(grp);
    ASSERT_EQ(r.code, 0) << r.err.toStdString();

    Pooler pooler({m1, m2});
    ASSERT_TRUE(pooler.ready);
    for (const QString& port : {clusterSetting("Port"), QString::number(pooler.port)}) {
        SCOPED_TRACE(port == clusterSetting("Port") ? "directly" : "through PgBouncer");
        // The library, as a member's login: the store is found secured and answers.
        const QString cs =
            port == clusterSetting("Port") ? store->connectionString() : pooler.connectionString(database);
        ASSERT_EQ(::ConnectDatabase(cs.toUtf8().constData(), m1.toUtf8().constData(), "", "2024-05-06", ""),
                  0)
            << ::VardexLastError();
        EXPECT_TRUE(dataModule().Secured);
        EXPECT_EQ(::CheckUserLogin("a", "pa", "", "", 0), 0) << ::VardexLastError();
        EXPECT_EQ(::CheckUserLogin("a", "wrong", "", "", 0), 3);
        EXPECT_EQ(::DisconnectDatabase(), VARDEX_OK);
        // Another desktop's connection, open while the first one tries to end it.
        QProcess other;
        other.start(QStringLiteral("psql"),
                    {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-At"), QStringLiteral("-h"),
                     clusterSetting("Host"), QStringLiteral("-p"), port, QStringLiteral("-U"), m2,
                     QStringLiteral("-d"), database});
        ASSERT_TRUE(other.waitForStarted(10000));
        other.write("select pg_backend_pid();\n");
        QByteArray pid;
        while (!pid.contains('\n') && other.waitForReadyRead(30000))
            pid += other.readAllStandardOutput();
        ASSERT_FALSE(pid.trimmed().isEmpty()) << other.readAllStandardError().toStdString();
        const QStringList errors =
            psqlAs(m1,
                   "select userpwd from qx_user;\ncreate temp table qx_user (userid text);\n"
                   "alter role " +
                       grp.toUtf8() + " set statement_timeout = '1ms';\nselect pg_terminate_backend(" +
                       pid.trimmed() + ");\n",
                   port);
        ASSERT_EQ(errors.size(), 4) << errors.join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(errors[2].contains(QLatin1String("permission denied"))) << errors[2].toStdString();
        EXPECT_TRUE(errors[3].contains(QLatin1String("terminat"))) << errors[3].toStdString();
        // The other desktop's connection still answers.
        other.write("select 'alive';\n");
        QByteArray alive;
        while (!alive.contains("alive") && other.waitForReadyRead(30000))
            alive += other.readAllStandardOutput();
        EXPECT_TRUE(alive.contains("alive")) << other.readAllStandardError().toStdString();
        other.closeWriteChannel();
        EXPECT_TRUE(other.waitForFinished(30000));
        EXPECT_EQ(scalar(*owner,
                         QStringLiteral("select count(*) from pg_db_role_setting where setrole = %1::regrole")
                             .arg(sqlLiteral(grp))),
                  QStringLiteral("0"));
    }
}
