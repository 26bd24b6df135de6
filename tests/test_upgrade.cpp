// Stores of every version this repository released, brought to today's by vardex-cli upgrade:
// the catalog of an upgraded store is the catalog of a fresh install; an upgrade stopped between
// steps, or refused by a step, leaves a whole version and a second one finishes; a library
// refuses a store newer than it knows and opens an older one.
#include "capi/vardex.h"
#include "library/installer.h"
#include "storage/acFileStorage.h"
#include "store/storeblob.h"
#include "tests/support/testsupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <cstring>

using namespace vardex;
using namespace vardex::test;

void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
// A catalog that differs prints as its count of rows; the rows that differ are listed apart.
void PrintTo(const QStringList& l, std::ostream* os) {
    *os << l.size() << " rows";
}

namespace {

struct CliRun {
    int exitCode = -1;
    QString out, err;
};

CliRun cli(const QStringList& args) {
    const ProgramRun r = runAndWait(binDir() + "/vardex-cli", args);
    return {r.code, r.out, r.err};
}

QByteArray fixture(const QString& release, const QString& file) {
    QFile f(sourceDir() + "/tests/data/releases/" + release + "/" + file);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << f.fileName().toStdString();
    return f.readAll();
}

QString scriptFor(Backend b) {
    return b == Backend::SQLite ? "tb_sp_SQLite.sql" : "tb_sp_PG.sql";
}

// Runs a released installation script the way the installer of its day ran it: lines trimmed,
// batches cut at GO, in one transaction.
void installRelease(AdoConnection& cn, const QByteArray& script) {
    QStringList lines = QString::fromLatin1(script).split("\r\n");
    lines.removeLast();
    AdoTransaction tx(cn);
    AdoQuery q(&cn);
    for (const QStringList& batch : splitBatches(lines)) {
        q.setSqlLines(batch);
        q.execSql();
        q.close();
    }
    tx.commit();
}

QStringList rowsOf(AdoConnection& cn, const QString& sql) {
    AdoQuery q(&cn, sql);
    q.open();
    QStringList out;
    for (int r = 0; r < q.recordCount(); ++r) {
        QStringList row;
        for (int c = 0; c < q.fieldCount(); ++c)
            row << (q.value(r, c).isNull() ? "<null>" : q.value(r, c).toString());
        out << row.join('|');
    }
    q.close();
    return out;
}

// The store's catalog as the database describes it. SQLite: every object of sqlite_master with
// its text (white space collapsed; SQLite drops IF NOT EXISTS itself). PostgreSQL: tables and
// columns with their types, constraints, indexes, procedures and functions (the md5 of their
// text, security, settings), and the privileges on tables and routines.
QStringList catalog(AdoConnection& cn) {
    if (cn.dialect() == Dialect::SQLite) {
        QStringList out = rowsOf(cn, "select type, name, tbl_name, sql from sqlite_master "
                                     "where name not like 'sqlite_%' order by type, name");
        static const QRegularExpression blanks("\\s+");
        for (QString& row : out)
            row = row.replace(blanks, " ").trimmed();
        return out;
    }
    QStringList out;
    out << rowsOf(cn, "select 'column', table_name, column_name, data_type, character_maximum_length, "
                      "is_nullable, column_default from information_schema.columns "
                      "where table_schema = current_schema() order by 2, 3");
    out << rowsOf(cn, "select 'constraint', conrelid::regclass::text, conname, pg_get_constraintdef(oid) "
                      "from pg_constraint where connamespace = current_schema()::regnamespace order by 2, 3");
    out << rowsOf(cn, "select 'index', tablename, indexname, indexdef from pg_indexes "
                      "where schemaname = current_schema() order by 2, 3");
    out << rowsOf(cn, "select 'routine', p.proname, p.prokind, pg_get_function_identity_arguments(p.oid), "
                      "pg_get_function_result(p.oid), md5(p.prosrc), p.prosecdef, "
                      "array_to_string(p.proconfig, ','), array_to_string(p.proacl, ',') from pg_proc p "
                      "where p.pronamespace = current_schema()::regnamespace order by 2, 4");
    out << rowsOf(cn,
                  "select 'table', c.relname, c.relkind, array_to_string(c.relacl, ',') from pg_class c "
                  "where c.relnamespace = current_schema()::regnamespace and c.relkind in ('r', 'v', 'S') "
                  "order by 2");
    // The database's own grants differ by its name only.
    out << rowsOf(cn, "select 'database', array_to_string(regexp_split_to_array(coalesce(datacl::text, ''), "
                      "','), ',') from pg_database where datname = current_database()");
    return out;
}

// The two catalogs are the same; else the rows of each that the other lacks.
void expectSameCatalog(const QStringList& got, const QStringList& want) {
    QStringList only;
    for (const QString& row : got)
        if (!want.contains(row))
            only << "upgraded only: " + row;
    for (const QString& row : want)
        if (!got.contains(row))
            only << "fresh only: " + row;
    EXPECT_EQ(got, want) << only.join('\n').toStdString();
}

class Upgrade : public ::testing::TestWithParam<Backend> {
  protected:
    // A database holding a store made by the scripts of a release, and a fresh install of today.
    std::unique_ptr<TempDatabase> released(const QString& release) {
        auto db = std::make_unique<TempDatabase>(GetParam());
        auto cn = openConnection(db->connectionString());
        installRelease(*cn, fixture(release, scriptFor(GetParam())));
        return db;
    }
    QStringList freshCatalog() {
        TempStore fresh(GetParam());
        return catalog(*openConnection(fresh.connectionString()));
    }
    StoreVersion versionOf(const TempDatabase& db) {
        return storeVersion(*openConnection(db.connectionString()));
    }
};

} // namespace

// Version 1, carried by the program, is byte for byte the script the first release installed.
TEST(StoredScripts, VersionOneIsTheFirstReleasesScript) {
    const auto storage = TacFileStorage::fromStoredData(storedScripts());
    int compared = 0;
    for (const auto& file : storage->Files())
        if (file->Name() != "tb_sp_SQL.sql") {
            EXPECT_EQ(file->Data(), fixture("a96bdac", file->Name())) << file->Name().toStdString();
            ++compared;
        }
    EXPECT_EQ(compared, 2);
}

TEST_P(Upgrade, EveryReleasedStoreUpgradesToTheCatalogOfAFreshInstall) {
    const QStringList fresh = freshCatalog();
    ASSERT_FALSE(fresh.isEmpty());
    // The first release: the classic schema alone; the password policy's release, whose store
    // an operator has set a policy on.
    const struct {
        const char* release;
        int version;
    } releases[] = {{"a96bdac", 1}, {"24800ec", 2}};
    for (const auto& r : releases) {
        SCOPED_TRACE(r.release);
        const auto db = released(r.release);
        if (r.version == 2) {
            openConnection(db->connectionString())
                ->execute("update vardex_settings set value = '4' where name = 'lockout.failures'");
        }
        const StoreVersion before = versionOf(*db);
        EXPECT_EQ(before.version, r.version);
        EXPECT_FALSE(before.recorded);
        EXPECT_NE(catalog(*openConnection(db->connectionString())), fresh);

        const CliRun run = cli({"upgrade", db->connectionString()});
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_TRUE(
            run.out.endsWith(QString("the store is at version %1 (was %2)\n")
                                 .arg(newestStoreVersion(openConnection(db->connectionString())->dialect()))
                                 .arg(r.version)))
            << run.out.toStdString();
        auto cn = openConnection(db->connectionString());
        expectSameCatalog(catalog(*cn), fresh);
        EXPECT_TRUE(storeVersion(*cn).recorded);
        EXPECT_TRUE(storeVersion(*cn).pending.isEmpty());
        if (r.version == 2) {
            EXPECT_EQ(scalar(*cn, "select value from vardex_settings where name = 'lockout.failures'"), "4");
        }
        // Current: nothing to do, and it says so.
        const CliRun again = cli({"upgrade", db->connectionString()});
        EXPECT_EQ(again.exitCode, 0);
        EXPECT_EQ(again.out, QString("the store is at version %1\n").arg(storeVersion(*cn).version));
        expectSameCatalog(catalog(*cn), fresh);
    }
}

// A store of version 4 (the release before the audit log's indexes) takes step 5: --dry-run
// lists it and changes nothing, upgrade gives the indexes a fresh install has.
TEST_P(Upgrade, AVersionFourStoreGetsTheAuditLogIndexes) {
    const QStringList fresh = freshCatalog();
    TempStore store(GetParam());
    auto cn = openConnection(store.connectionString());
    cn->execute("DROP INDEX ix_qx_Logs_userName");
    cn->execute("DROP INDEX ix_qx_Logs_CompName");
    cn->execute("update vardex_meta set value = '4' where name = 'schema.version'");
    const QStringList four = catalog(*cn);
    ASSERT_NE(four, fresh);

    const CliRun dry = cli({"upgrade", "--dry-run", store.connectionString()});
    EXPECT_EQ(dry.exitCode, 0) << dry.err.toStdString();
    const QString kind = GetParam() == Backend::SQLite ? "sqlite" : "pg";
    EXPECT_TRUE(dry.out.contains("step 5: " + kind + "/0005-audit-log.sql\n")) << dry.out.toStdString();
    EXPECT_TRUE(dry.out.contains("1 step(s) from version 4 to 5\n")) << dry.out.toStdString();
    expectSameCatalog(catalog(*cn), four);

    const CliRun run = cli({"upgrade", store.connectionString()});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    expectSameCatalog(catalog(*cn), fresh);
}

TEST_P(Upgrade, AStoppedOrRefusedUpgradeLeavesAWholeVersionAndASecondOneFinishes) {
    const QStringList fresh = freshCatalog();
    const auto db = released("a96bdac");
    const QStringList before = catalog(*openConnection(db->connectionString()));

    // Killed between steps: after step 3, before step 4, with the first two done.
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VARDEX_TEST_UPGRADE_PAUSE", "3");
    p.setProcessEnvironment(env);
    p.setReadChannel(QProcess::StandardError);
    p.start(binDir() + "/vardex-cli", {"upgrade", db->connectionString()});
    ASSERT_TRUE(p.waitForStarted());
    QByteArray err;
    while (!err.contains("paused after step 3") && p.state() == QProcess::Running)
        if (p.waitForReadyRead(60000))
            err += p.readAllStandardError();
    ASSERT_TRUE(err.contains("paused after step 3")) << err.toStdString();
    p.kill();
    ASSERT_TRUE(p.waitForFinished());
    {
        auto cn = openConnection(db->connectionString());
        EXPECT_EQ(storeVersion(*cn).version, 1);
        expectSameCatalog(catalog(*cn), before);
    }

    // A step refused half-way: a table of the operator's own holds the name of step 2's second.
    openConnection(db->connectionString())->execute("CREATE TABLE vardex_lockout (mine int)");
    const CliRun refused = cli({"upgrade", db->connectionString()});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.contains("Step 2 (" + QString(GetParam() == Backend::SQLite ? "sqlite" : "pg") +
                                     "/0002-password-policy.sql), batch 2: "))
        << refused.err.toStdString();
    {
        auto cn = openConnection(db->connectionString());
        EXPECT_FALSE(cn->tableNames().contains("vardex_settings", Qt::CaseInsensitive)); // its batch 1 undone
        EXPECT_EQ(storeVersion(*cn).version, 1);
        cn->execute("DROP TABLE vardex_lockout");
        expectSameCatalog(catalog(*cn), before);
    }

    const CliRun finished = cli({"upgrade", db->connectionString()});
    EXPECT_EQ(finished.exitCode, 0) << finished.err.toStdString();
    expectSameCatalog(catalog(*openConnection(db->connectionString())), fresh);
}

TEST_P(Upgrade, ALibraryRefusesANewerStoreAndOpensAnOlderOne) {
    // Older: the first release's store opens; what needs a later version says to upgrade.
    const auto old = released("a96bdac");
    const std::string cs = old->connectionString().toStdString();
    EXPECT_EQ(ConnectDatabase(cs.c_str(), "", "", "2026-06-15", ""), VARDEX_OK) << VardexLastError();
    DisconnectDatabase();
    const CliRun doctor = cli({"doctor", old->connectionString()});
    const int newestHere = newestStoreVersion(openConnection(old->connectionString())->dialect());
    EXPECT_TRUE(
        doctor.out.contains(QString("the store is at version 1; %1 step(s) to version %2 are pending: run "
                                    "vardex-cli upgrade")
                                .arg(newestHere - 1)
                                .arg(newestHere)))
        << doctor.out.toStdString();
    const CliRun set = cli({"policy", "set", "lockout.failures=3", "--store", old->connectionString()});
    EXPECT_EQ(set.exitCode, 1);
    EXPECT_TRUE(set.err.contains("run vardex-cli upgrade")) << set.err.toStdString();

    // Newer: a store at a version past this library's is refused, naming both versions; the
    // session values stay as a failed connection leaves them.
    TempStore store(GetParam());
    auto cn = openConnection(store.connectionString());
    const int newest = newestStoreVersion(cn->dialect());
    cn->execute(QString("update vardex_meta set value = '%1' where name = 'schema.version'").arg(newest + 1));
    const std::string newer = store.connectionString().toStdString();
    EXPECT_EQ(ConnectDatabase(newer.c_str(), "", "", "2026-06-15", ""), VARDEX_ERROR);
    const QString expected =
        QString("The store is at version %1; this program knows versions up to %2: use a "
                "newer Vardex.")
            .arg(newest + 1)
            .arg(newest);
    EXPECT_EQ(QString::fromLocal8Bit(VardexLastError()), expected);
    // upgrade refuses it too, changing nothing.
    const CliRun up = cli({"upgrade", store.connectionString()});
    EXPECT_EQ(up.exitCode, 1);
    EXPECT_TRUE(up.err.contains(expected)) << up.err.toStdString();
    EXPECT_EQ(scalarInt(*cn, "select value from vardex_meta"), newest + 1);
    DisconnectDatabase();
    // A version table that lost its row reads as the version that made it, not as a store of
    // the first releases: upgrade finishes it instead of failing to make the table again.
    cn->execute("delete from vardex_meta");
    const CliRun lost = cli({"upgrade", store.connectionString()});
    EXPECT_EQ(lost.exitCode, 0) << lost.err.toStdString();
    EXPECT_EQ(scalarInt(*cn, "select value from vardex_meta where name = 'schema.version'"), newest);
}

// A store secured before the hostile-desktop changes: the first release's secure, replayed from
// the statements it sent, on the scripts of its day. upgrade brings its functions and privileges
// to those of today's secure on a fresh install, and secure --undo still gives back what the
// role held before.
TEST(SecuredStore, AStoreSecuredByAnEarlierReleaseUpgradesToTodaysFunctionsAndPrivileges) {
    if (!postgresAvailable())
        GTEST_SKIP() << "no PostgreSQL test cluster";
    const QString role = "vxup_" + QString::number(QCoreApplication::applicationPid());
    const QString roleSql = '"' + role + '"';
    // The policy the secured store needs, a user, and a privilege the role held before.
    const auto prepare = [&](AdoConnection& cn) {
        cn.execute("CREATE EXTENSION IF NOT EXISTS pgcrypto");
        cn.execute("update vardex_settings set value = 'bcrypt' where name = 'password.hash'");
        cn.execute(
            "insert into qx_user (userID, userName, userPwd, startTime, endTime, Allow, zuid) values ('a', "
            "'Ann', crypt('pa', gen_salt('bf', 10)), '2000-01-01', '2099-12-31', 'T', 10000)");
        cn.execute("GRANT SELECT ON qx_user TO " + roleSql);
    };
    {
        TempDatabase old(Backend::PostgreSQL);
        auto cn = openConnection(old.connectionString());
        cn->execute("CREATE ROLE " + roleSql + " LOGIN");
        installRelease(*cn, fixture("24800ec", "tb_sp_PG.sql")); // unchanged until 8471aac
        prepare(*cn);
        const QString database = scalar(*cn, "select current_database()");
        QString functions = QString::fromUtf8(fixture("8471aac", "securestore_sql.inc"));
        functions = functions.section("R\"SQL(", 1).section(")SQL\"", 0, 0);
        functions.replace("@S@", "\"public\"").replace("@C@", "public").replace("@R@", roleSql);
        QStringList statements;
        for (const QString& line : QString::fromUtf8(fixture("8471aac", "secure.sql")).split('\n'))
            if (!line.startsWith("--"))
                statements << line;
        {
            AdoTransaction tx(*cn);
            for (QString st : statements.join('\n').split("\n;\n", Qt::SkipEmptyParts)) {
                st = st.trimmed();
                if (st.isEmpty())
                    continue;
                cn->execute(st == "@FUNCTIONS@"
                                ? functions
                                : st.replace("@R@", roleSql)
                                      .replace("@DB@", database)
                                      .replace("@ROID@", scalar(*cn, "select '" + role + "'::regrole::oid")));
            }
            tx.commit();
        }
        EXPECT_FALSE(psqlErrors(role, database, "select * from qx_user;\n").isEmpty());

        TempStore fresh(Backend::PostgreSQL);
        auto fcn = openConnection(fresh.connectionString());
        prepare(*fcn);
        const ProgramRun secured =
            runAndWait(binDir() + "/vardex-cli", {"secure", fresh.connectionString(), "--client-role", role});
        ASSERT_EQ(secured.code, 0) << secured.err.toStdString();

        const CliRun run = cli({"upgrade", old.connectionString()});
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_TRUE(run.out.contains(role + " may run: ")) << run.out.toStdString();
        expectSameCatalog(catalog(*cn), catalog(*fcn));
        // Current now, functions included.
        EXPECT_EQ(cli({"upgrade", old.connectionString()}).out,
                  QString("the store is at version %1\n").arg(newestStoreVersion(Dialect::PostgreSQL)));
        // The desktop still reaches nothing but the functions; undo gives back what it held.
        EXPECT_FALSE(psqlErrors(role, database, "select * from qx_user;\n").isEmpty());
        const CliRun undo = cli({"secure", old.connectionString(), "--client-role", role, "--undo"});
        EXPECT_EQ(undo.exitCode, 0) << undo.err.toStdString();
        EXPECT_EQ(psqlErrors(role, database, "select * from qx_user;\n"), QStringList());
        EXPECT_EQ(scalarInt(*cn, "select count(*) from pg_proc where proname like 'vardex\\_%'"), 0);
    }
    openConnection(TempDatabase(Backend::PostgreSQL).connectionString())->execute("DROP ROLE " + roleSql);
}

INSTANTIATE_TEST_SUITE_P(Store, Upgrade, ::testing::ValuesIn(serverAndFile()),
                         [](const ::testing::TestParamInfo<Backend>& info) {
                             return backendName(info.param);
                         });
