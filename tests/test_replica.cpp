// PostgreSQL as sites run it: a primary with a synchronous standby that takes over when the
// primary dies, and PgBouncer in transaction pooling mode in front of it (tests/pg_replica.sh,
// folder VARDEX_REPLICA_DIR). Desktops are hardening_worker processes in "mixed" mode.
//
// The pooling test runs first: the failover test kills the primary the pooler is in front of.
// The pooling test's size comes from VARDEX_POOL_PROCESSES and VARDEX_POOL_SECONDS (small by
// default; bench/pooling.sh runs 100 processes for 60 s).
#include "library/cipher.h"
#include "library/doctor.h"
#include "tests/support/testsupport.h"

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <iostream>

using namespace vardex;
using namespace vardex::test;

namespace {

QString replicaDir() {
    return qEnvironmentVariable("VARDEX_REPLICA_DIR");
}

QString replicaFile(const char* name) {
    QFile f(replicaDir() + QLatin1Char('/') + QLatin1String(name));
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll()).trimmed();
}

void replica(const QString& command) {
    QProcess p;
    p.start(sourceDir() + QStringLiteral("/tests/pg_replica.sh"), {command, replicaDir()});
    ASSERT_TRUE(p.waitForFinished(120000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
}

// Users m1..m<n> (password "pw", no user group), items 1..3, permission group gm granting item 1
// to every one of them, and permission group gx that the window actions change (nobody is in it).
void seedDesktops(AdoConnection& cn, int n) {
    for (int item = 1; item <= 3; ++item)
        cn.execute(QString("INSERT INTO qx_Name (qxID, qxName) VALUES (%1, 'item%1')").arg(item));
    cn.execute("Exec qxAddzuName 'gm'");
    cn.execute("Exec qxAddzuName 'gx'");
    cn.execute("Exec qxUpDateAllows 'gm',1,'T'");
    const QString pwd = EncryptPassword("pw", "kmpq");
    for (int u = 1; u <= n; ++u) {
        cn.execute(
            QString("INSERT INTO qx_user (userID, userName, userPwd, startTime, endTime, Allow, AllowZekou, "
                    "zuid) VALUES ('m%1', 'desk%1', '%2', '2026-01-01', '2026-12-31', 'T', 0, 10000)")
                .arg(u)
                .arg(pwd));
        cn.execute(QString("Exec qxAddUser 'm%1'").arg(u));
        cn.execute(QString("Exec qx_user_zu_changed 'm%1','gm','T'").arg(u));
    }
}

// One answered call as a worker printed it.
struct Answer {
    qint64 at;
    char verdict;
    int rows;
};

struct Desktop {
    std::unique_ptr<QProcess> process;
    std::vector<Answer> answers;
    QString summary;
    QByteArray partial; // a line not yet ended
    QString errors;

    // Takes in what the worker has printed since the last look.
    void read() {
        static const QRegularExpression line("^(\\d+) ([REW]) (\\d+)$");
        partial += process->readAllStandardOutput();
        errors += QString::fromLocal8Bit(process->readAllStandardError());
        qsizetype eol;
        while ((eol = partial.indexOf('\n')) >= 0) {
            const QString l = QString::fromLocal8Bit(partial.left(eol)).trimmed();
            partial.remove(0, eol + 1);
            const auto m = line.match(l);
            if (m.hasMatch())
                answers.push_back(
                    {m.captured(1).toLongLong(), m.captured(2).at(0).toLatin1(), m.captured(3).toInt()});
            else if (l.startsWith("calls="))
                summary = l;
        }
    }
    // The time of the first right answer after a call that failed at or after since; 0 if none yet.
    qint64 resumedAfter(qint64 since) const {
        bool failed = false;
        for (const Answer& a : answers) {
            if (a.at < since)
                continue;
            if (a.verdict == 'E')
                failed = true;
            else if (failed && a.verdict == 'R')
                return a.at;
        }
        return 0;
    }
};

// Reads the desktops' answers as they come until done() holds, or for at most seconds; whether
// done() held.
bool waitFor(std::vector<Desktop>& desktops, int seconds, const std::function<bool()>& done) {
    const qint64 end = QDateTime::currentMSecsSinceEpoch() + qint64(seconds) * 1000;
    for (;;) {
        for (Desktop& d : desktops) {
            if (d.process->state() == QProcess::Running)
                d.process->waitForReadyRead(20);
            d.read();
        }
        if (done())
            return true;
        if (QDateTime::currentMSecsSinceEpoch() > end)
            return false;
    }
}

// Starts the workers, lets them all go at once, runs meanwhile, then stops them (a worker also
// stops by itself after the given seconds) and returns once every one has finished.
std::vector<Desktop> runDesktops(const QString& conn, int n, int seconds, bool admin,
                                 const std::function<void(std::vector<Desktop>&)>& meanwhile) {
    std::vector<Desktop> desktops(n);
    for (int i = 0; i < n; ++i) {
        desktops[i].process = std::make_unique<QProcess>();
        QStringList args{"mixed",
                         conn,
                         "postgres",
                         QString::number(i + 1),
                         QString::number(7000 + i),
                         QString::number(seconds)};
        if (admin && i % 10 == 0)
            args << "admin";
        desktops[i].process->start(binDir() + "/hardening_worker", args);
    }
    for (Desktop& d : desktops) {
        while (!d.process->canReadLine())
            if (!d.process->waitForReadyRead(120000)) {
                ADD_FAILURE() << "a worker did not start: "
                              << d.process->readAllStandardError().toStdString();
                return desktops;
            }
        EXPECT_EQ(d.process->readLine().trimmed(), "ready");
    }
    for (Desktop& d : desktops) {
        d.process->write("go\n");
        d.process->waitForBytesWritten(30000);
    }
    meanwhile(desktops);
    for (Desktop& d : desktops) {
        d.process->write("stop\n");
        d.process->closeWriteChannel();
    }
    for (Desktop& d : desktops) {
        EXPECT_TRUE(d.process->waitForFinished(300000));
        d.read();
        EXPECT_FALSE(d.summary.isEmpty()) << d.errors.toStdString();
        EXPECT_EQ(d.process->exitCode(), 0) << d.errors.toStdString();
    }
    return desktops;
}

long auditRows(AdoConnection& cn, const QString& condition = QString()) {
    return scalar(cn, "select count(*) from qx_Logs" + condition).toLong();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

class Replica : public ::testing::Test {
  protected:
    void SetUp() override {
        if (replicaFile("conn.txt").isEmpty())
            GTEST_SKIP() << "no replica set (VARDEX_REPLICA_DIR)";
        qputenv("VARDEX_PG_CONNFILE", (replicaDir() + "/conn.txt").toLocal8Bit());
    }
};

// Desktops through PgBouncer in transaction pooling mode, with as many server connections as the
// pooler gives (10): logins, checks, menu queries, password changes and window actions, and
// meanwhile an administrator's vardex-cli verbs. No call fails or answers wrongly, every
// acknowledged audit row is there and no other, and the doctor finds nothing. The same desktops
// then run directly on the primary for the comparison.
TEST_F(Replica, DesktopsThroughTransactionPoolingAnswerRightAndKeepTheAuditExact) {
    const int n = qEnvironmentVariableIntValue("VARDEX_POOL_PROCESSES") > 0
                      ? qEnvironmentVariableIntValue("VARDEX_POOL_PROCESSES")
                      : 12;
    const int seconds = qEnvironmentVariableIntValue("VARDEX_POOL_SECONDS") > 0
                            ? qEnvironmentVariableIntValue("VARDEX_POOL_SECONDS")
                            : 4;
    const QString pooler = replicaFile("pooler.txt");
    ASSERT_FALSE(pooler.isEmpty());
    TempStore store(Backend::PostgreSQL);
    const QString db =
        ConnectionString::value(ConnectionString::parse(store.connectionString()), {"Database"});
    auto cn = openConnection(store.connectionString());
    seedDesktops(*cn, n);
    double rate[2] = {0, 0};
    const QString conns[2] = {pooler, replicaFile("conn.txt")};
    for (int run = 0; run < 2; ++run) {
        const long rowsBefore = auditRows(*cn);
        // Without the user ID: the workers give it to the open call.
        QString conn = conns[run];
        conn.replace(";User ID=postgres", "");
        // Meanwhile an administrator's verbs, each vardex-cli run a session of its own.
        const QString store = conn + ";Database=" + db;
        long verbs = 0;
        const auto desktops = runDesktops(store, n, seconds, true, [&](std::vector<Desktop>&) {
            const QStringList administration[] = {{"permgroup", "set", "gx", "2", verbs % 2 ? "off" : "on"},
                                                  {"list", "grants", "--user", "m1"},
                                                  {"item", "rename", "3", QString("item3-%1").arg(verbs)}};
            const qint64 end = QDateTime::currentMSecsSinceEpoch() + seconds * 1000;
            while (QDateTime::currentMSecsSinceEpoch() < end) {
                QProcess cli;
                cli.start(binDir() + "/vardex-cli",
                          administration[verbs % 3] + QStringList{"--store", store, "--db-user", "postgres"});
                ASSERT_TRUE(cli.waitForFinished(120000));
                EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
                ++verbs;
            }
        });
        EXPECT_GT(verbs, 0);
        long calls = 0, rows = 0;
        for (const Desktop& d : desktops)
            for (const Answer& a : d.answers) {
                EXPECT_EQ(a.verdict, 'R') << d.summary.toStdString();
                ++calls;
                rows += a.rows;
            }
        rate[run] = double(calls) / seconds;
        EXPECT_EQ(auditRows(*cn) - rowsBefore, rows) << (run == 0 ? "through the pooler" : "directly");
        const DoctorReport report = checkStore(*cn);
        for (const Violation& v : report.violations)
            ADD_FAILURE() << v.describe().toStdString();
    }
    std::cout << "[ figures  ] pooling: " << n << " desktops x " << seconds << " s, "
              << qEnvironmentVariable("VARDEX_POOL_SIZE", "10").toStdString()
              << " server connections: " << rate[0] << " calls/s through PgBouncer, " << rate[1]
              << " calls/s directly" << std::endl;
    QProcess doctor;
    doctor.start(binDir() + "/vardex-cli", {"doctor", pooler + ";Database=" + db});
    ASSERT_TRUE(doctor.waitForFinished(120000));
    EXPECT_EQ(doctor.exitCode(), 0) << doctor.readAllStandardOutput().toStdString();
}

// Eight desktops on a two-host string with Target Session Attrs=read-write (one of them also
// making window actions, each a transaction); the primary is killed with SIGKILL and the
// standby promoted once every desktop has seen its calls fail. Every desktop goes on by itself
// on the new primary, not one call answers wrongly, and every audit row of a call that answered 0
// before the kill is on the new primary (the standby is synchronous). The desktops run until each
// has answered right after the promotion, however long a loaded machine takes for it.
TEST_F(Replica, DesktopsFollowThePromotedStandbyAndKeepEveryAcknowledgedAuditRow) {
    const QString failover = replicaFile("failover.txt");
    ASSERT_FALSE(failover.isEmpty()) << "the replica set has no standby";
    const int n = 8;
    auto store = std::make_unique<TempStore>(Backend::PostgreSQL);
    const QString db =
        ConnectionString::value(ConnectionString::parse(store->connectionString()), {"Database"});
    {
        auto cn = openConnection(store->connectionString());
        seedDesktops(*cn, n);
    }
    qint64 killedAt = 0, promotedAt = 0;
    const auto everyDesktop = [](std::vector<Desktop>& desktops,
                                 const std::function<bool(const Desktop&)>& f) {
        return std::all_of(desktops.begin(), desktops.end(), f);
    };
    // A worker stops by itself after ten minutes, should the harness never tell it to.
    const auto desktops =
        runDesktops(failover + ";Database=" + db, n, 600, true, [&](std::vector<Desktop>& ds) {
            // Every desktop has acknowledged calls before the kill.
            ASSERT_TRUE(waitFor(ds, 120, [&] {
                return everyDesktop(ds, [](const Desktop& d) { return d.answers.size() >= 20; });
            })) << "the desktops did not start answering";
            // The server first, then its children (by the script).
            QFile pidFile(replicaDir() + "/primary/data/postmaster.pid");
            ASSERT_TRUE(pidFile.open(QIODevice::ReadOnly));
            const pid_t postmaster = static_cast<pid_t>(pidFile.readLine().trimmed().toLongLong());
            ASSERT_GT(postmaster, 0);
            ASSERT_EQ(::kill(postmaster, SIGKILL), 0);
            replica("kill-primary");
            // Until its children are gone too, the server's connections go on answering (and
            // committing: the standby's sender is one of them), so the kill is over only now.
            killedAt = QDateTime::currentMSecsSinceEpoch();
            // A site's monitoring promotes the standby once the primary is known dead: here once every
            // desktop has had a call fail, so that each is left to find the new primary by itself.
            ASSERT_TRUE(waitFor(ds, 120, [&] {
                return everyDesktop(ds, [&](const Desktop& d) {
                    return std::any_of(d.answers.begin(), d.answers.end(),
                                       [&](const Answer& a) { return a.at >= killedAt && a.verdict == 'E'; });
                });
            })) << "not every desktop noticed the kill";
            // Audit times have whole seconds: the new primary's rows start in a second of their own.
            waitFor(ds, 2, [&] { return QDateTime::currentMSecsSinceEpoch() / 1000 != killedAt / 1000; });
            promotedAt = QDateTime::currentMSecsSinceEpoch();
            replica("promote");
            waitFor(ds, 300, [&] {
                return everyDesktop(ds, [&](const Desktop& d) { return d.resumedAfter(killedAt) > 0; });
            });
        });
    store.release(); // its database went with the primary; the cluster is thrown away

    // The first answer after the kill is that of the call running at the kill: it may have
    // written up to two rows (a login) and still answered VARDEX_ERROR, its reply lost. The
    // switch ends for a desktop at its first right answer after a call that failed.
    long acknowledged = 0;
    std::vector<double> switchSeconds, afterPromotion;
    for (const Desktop& d : desktops) {
        for (const Answer& a : d.answers) {
            EXPECT_NE(a.verdict, 'W') << d.summary.toStdString();
            if (a.at < killedAt)
                acknowledged += a.rows;
        }
        const qint64 resumed = d.resumedAfter(killedAt);
        EXPECT_GT(resumed, 0) << "a desktop did not resume: " << d.summary.toStdString() << "\n"
                              << d.errors.toStdString();
        if (resumed) {
            switchSeconds.push_back((resumed - killedAt) / 1000.0);
            afterPromotion.push_back((resumed - promotedAt) / 1000.0);
        }
    }
    const long inFlight = 2 * n;
    ASSERT_GT(acknowledged, 0);
    ASSERT_EQ(switchSeconds.size(), size_t(n));

    const QString standbyPort = replicaFile("standby_port");
    auto cn = openConnection("Provider=PostgreSQL;Host=127.0.0.1;Port=" + standbyPort +
                             ";User ID=postgres;Database=" + db);
    // No call succeeds between the kill and the promotion, which comes in a later second than the
    // kill: the rows stamped before the promotion's second are those written before the kill.
    const QString cutoff = QDateTime::fromMSecsSinceEpoch(promotedAt).toString("yyyy-MM-dd hh:mm:ss");
    const long before = auditRows(*cn, " where theTime < '" + cutoff + "'");
    std::cout << "[ figures  ] failover: " << n << " desktops; audit rows acknowledged before the kill "
              << acknowledged << ", on the new primary " << before << " (at most " << inFlight
              << " more from the calls running at the kill); seconds from the kill to the first right "
                 "answer: median "
              << median(switchSeconds) << ", max "
              << *std::max_element(switchSeconds.begin(), switchSeconds.end())
              << " (the promotion asked for after " << (promotedAt - killedAt) / 1000.0
              << " s; from then: median " << median(afterPromotion) << ", max "
              << *std::max_element(afterPromotion.begin(), afterPromotion.end()) << ")" << std::endl;
    EXPECT_GE(before, acknowledged);
    EXPECT_LE(before, acknowledged + inFlight);
    EXPECT_TRUE(checkStore(*cn).clean());
}
