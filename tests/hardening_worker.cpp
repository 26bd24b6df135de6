// A desktop in a box, for the many-desktops and crash tests: it opens the library's session on a
// store and runs what clerks and administrators do, printing what the store acknowledged.
//
//   hardening_worker load <connection> <seed> <operations>
//       A mix of CheckUserLogin, CheckUserRight and administration-window actions, each action
//       in its own transaction (beginTrans, a row statement, the procedure, commitTrans).
//       Prints "ready" once connected and starts when a line arrives on stdin. Then prints
//       "rights=<granted checks> logins=<verified logins> admin=<committed actions>
//       errors=<failed calls>" and exits 0 when nothing failed.
//   hardening_worker hang <connection> <user> <group>
//       Opens an assignment action's transaction, sends its statements, prints "inside" and
//       waits to be killed: the transaction is never committed.
//   hardening_worker passwd <connection> <user> <old> <new>
//       Connects, prints "ready", waits for a line on stdin, then changes the user's password
//       and prints "rc=<answer>".
//   hardening_worker login <connection> <user> <password>
//       Connects, prints "ready", waits for a line on stdin, then checks the login and prints
//       "rc=<answer>".
//   hardening_worker audit <connection> <user> <item>
//       Checks a granted right forever; after each check has returned 0 (its audit row written)
//       prints "ack <n>", flushed, and waits to be killed.
//   hardening_worker mixed <connection> <db user> <n> <seed> <seconds> [admin]
//       A desktop of user m<n> (password "pw" or "pw2", item 1 granted, 2 and 3 not, no user group)
//       for the failover and pooling tests: opens with the database user given to the open call,
//       prints "ready", waits for a line on stdin, then mixes right checks, menu queries, logins
//       (right and wrong passwords) and password changes, and with admin window actions on
//       permission group gx, until the given seconds are over or another line (or the end of
//       stdin) arrives, whichever comes first. Every answer is judged against the one the store
//       must give: R right, E VARDEX_ERROR with its reason, W anything else. Prints a line
//       "<ms since the epoch> <R|E|W> <audit rows acknowledged>" per call, flushed, and at the end
//       "calls=<n> right=<n> errors=<n> wrong=<n> rows=<acknowledged audit rows> lost=<grants
//       whose audit row was reported lost>".
#include "capi/vardex.h"
#include "library/dmain.h"
#include "platform/errors.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QRandomGenerator>
#include <QThread>

#include <cstdio>
#include <cstring>
#include <poll.h>
#include <string>

namespace {

const int kUsers = 6;  // u1..u6, users without a user group
const int kGroups = 4; // g1..g4, permission groups
const int kItems = 6;  // items 1..6

QString quoteText(const QString& s) {
    return QString(s).replace('\'', "''");
}

// The current flag of one row, read inside the action's transaction after its row statement.
QString flagOf(vardex::AdoConnection& cn, const QString& sql) {
    vardex::AdoQuery q(&cn, sql);
    q.open();
    return q.eof() ? QString() : q.fieldByName("Allow").asString();
}

// One window action: the row statement locks the row the action is about (on the servers; SQLite
// locks the whole file at beginTrans), then the flag is read and the procedure flips it.
void assignmentAction(vardex::AdoConnection& cn, const QString& user, const QString& group) {
    cn.beginTrans();
    try {
        cn.execute("UPDATE qx_user_zu SET Allow = Allow WHERE userID = '" + quoteText(user) +
                   "' AND zuName = '" + quoteText(group) + "'");
        const QString now = flagOf(cn, "select Allow from qx_user_zu where userID = '" + quoteText(user) +
                                           "' and zuName = '" + quoteText(group) + "'");
        const QString flip = now == "T" ? "F" : "T";
        cn.execute("Exec qx_user_zu_changed '" + quoteText(user) + "','" + quoteText(group) + "','" + flip +
                   "'");
        cn.commitTrans();
    } catch (...) {
        if (cn.inTransaction())
            cn.rollbackTrans();
        throw;
    }
}

void groupItemAction(vardex::AdoConnection& cn, const QString& group, int item) {
    cn.beginTrans();
    try {
        const QString where = "zuName = '" + quoteText(group) + "' AND qxID = " + QString::number(item);
        cn.execute("UPDATE qx_zu SET Allow = Allow WHERE " + where);
        const QString now = flagOf(cn, "select Allow from qx_zu where " + where);
        const QString flip = now == "T" ? "F" : "T";
        cn.execute("Exec qxUpDateAllows '" + quoteText(group) + "'," + QString::number(item) + ",'" + flip +
                   "'");
        cn.commitTrans();
    } catch (...) {
        if (cn.inTransaction())
            cn.rollbackTrans();
        throw;
    }
}

// Opens the session, says "ready" and waits for a line on stdin: all desktops start together.
bool connectAndWait(const QByteArray& conn, const char* dbUser, const char* cipherKey) {
    if (ConnectDatabase(conn.constData(), dbUser, "", "2026-06-15", cipherKey) != 0) {
        std::fprintf(stderr, "connect: %s\n", VardexLastError());
        return false;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    char go[16];
    return std::fgets(go, sizeof go, stdin) != nullptr;
}

int load(const QByteArray& conn, quint32 seed, int operations) {
    if (!connectAndWait(conn, "", ""))
        return 2;
    QRandomGenerator rng(seed);
    long rights = 0, logins = 0, admin = 0, errors = 0;
    for (int i = 0; i < operations; ++i) {
        const int kind = rng.bounded(10);
        const QByteArray user = "u" + QByteArray::number(rng.bounded(kUsers) + 1);
        const QString group = QStringLiteral("g%1").arg(rng.bounded(kGroups) + 1);
        const int item = rng.bounded(kItems) + 1;
        if (kind < 4) {
            const int32_t rc = CheckUserRight(user.constData(), item, nullptr, VARDEX_SHOW_NOTHING);
            if (rc == 0)
                ++rights;
            else if (rc != 3) {
                ++errors;
                std::fprintf(stderr, "right %s %d: %d %s\n", user.constData(), item, rc, VardexLastError());
            }
        } else if (kind < 6) {
            const int32_t rc =
                CheckUserLogin(user.constData(), "pw", "2026-06-15", nullptr, VARDEX_SHOW_NOTHING);
            if (rc == 0)
                ++logins;
            else {
                ++errors;
                std::fprintf(stderr, "login %s: %d %s\n", user.constData(), rc, VardexLastError());
            }
        } else {
            try {
                if (kind < 8)
                    assignmentAction(vardex::dataModule().ADOcn, QString::fromLatin1(user), group);
                else
                    groupItemAction(vardex::dataModule().ADOcn, group, item);
                ++admin;
            } catch (const vardex::Error& e) {
                ++errors;
                std::fprintf(stderr, "admin: %s\n", e.message().toLocal8Bit().constData());
            }
        }
    }
    // The logout row of the last user is written here.
    if (DisconnectDatabase() != 0) {
        ++errors;
        std::fprintf(stderr, "disconnect: %s\n", VardexLastError());
    }
    std::printf("rights=%ld logins=%ld admin=%ld errors=%ld\n", rights, logins, admin, errors);
    std::fflush(stdout);
    return errors == 0 ? 0 : 1;
}

int hang(const QByteArray& conn, const QString& user, const QString& group) {
    if (ConnectDatabase(conn.constData(), "", "", "2026-06-15", "") != 0)
        return 2;
    vardex::AdoConnection& cn = vardex::dataModule().ADOcn;
    cn.beginTrans();
    cn.execute("UPDATE qx_user SET userName = 'killed' WHERE userID = '" + quoteText(user) + "'");
    cn.execute("Exec qx_user_zu_changed '" + quoteText(user) + "','" + quoteText(group) + "','T'");
    std::printf("inside\n");
    std::fflush(stdout);
    for (;;)
        QThread::sleep(1);
}

int audit(const QByteArray& conn, const QByteArray& user, int item) {
    if (ConnectDatabase(conn.constData(), "", "", "2026-06-15", "") != 0)
        return 2;
    for (long n = 1;; ++n) {
        if (CheckUserRight(user.constData(), item, nullptr, VARDEX_SHOW_NOTHING) != 0) {
            std::fprintf(stderr, "right: %s\n", VardexLastError());
            return 1;
        }
        std::printf("ack %ld\n", n);
        std::fflush(stdout);
    }
}

// Connects, says "ready", waits for a line on stdin, makes one call and prints its answer.
template <typename Call> int oneCall(const QByteArray& conn, const char* what, Call call) {
    if (ConnectDatabase(conn.constData(), "", "", "2026-06-15", "") != 0)
        return 2;
    std::printf("ready\n");
    std::fflush(stdout);
    char go[16];
    if (!std::fgets(go, sizeof go, stdin))
        return 2;
    const int32_t rc = call();
    std::printf("rc=%d\n", rc);
    if (rc == VARDEX_ERROR)
        std::fprintf(stderr, "%s: %s\n", what, VardexLastError());
    std::fflush(stdout);
    DisconnectDatabase();
    return 0;
}

// One desktop's calls, each judged against the answer the store must give.
class MixedDesktop {
  public:
    MixedDesktop(QByteArray user, bool admin) : m_user(std::move(user)), m_admin(admin) {}

    // One call of the mix; returns its verdict.
    char call(int kind) {
        m_rows = 0;
        m_kind = kind;
        if (kind < 3)
            return judge(CheckUserRight(m_user.constData(), 1, nullptr, VARDEX_SHOW_NOTHING), 0, 1);
        if (kind == 3)
            return judge(CheckUserRight(m_user.constData(), 2, nullptr, VARDEX_SHOW_NOTHING), 3, 0);
        if (kind < 6)
            return menuQuery();
        if (kind == 6)
            return login();
        if (kind == 7)
            return judge(
                CheckUserLogin(m_user.constData(), "nope", "2026-06-15", nullptr, VARDEX_SHOW_NOTHING), 3, 0);
        if (kind == 8 || !m_admin)
            return changePassword();
        try {
            groupItemAction(vardex::dataModule().ADOcn, QStringLiteral("gx"), 1);
            return 'R';
        } catch (const vardex::Error& e) {
            m_lastError = "admin: " + e.message().toLocal8Bit();
            return 'E';
        }
    }
    int rows() const { return m_rows; }
    const QByteArray& lastError() const { return m_lastError; }
    const QByteArray& user() const { return m_user; }
    long lost() const { return m_lost; }

  private:
    // A granted check whose audit row could not be written answers 0 and says so: the row is
    // then not counted as acknowledged.
    char judge(int32_t rc, int32_t expected, int rows) {
        if (rc == expected) {
            if (rows > 0 && *VardexLastError() != '\0') {
                ++m_lost;
                return 'R';
            }
            m_rows = rows;
            return 'R';
        }
        if (rc == VARDEX_ERROR && *VardexLastError() != '\0') {
            m_lastError = VardexLastError();
            return 'E';
        }
        std::fprintf(stderr, "%s: call %d answered %d, not %d (%s)\n", m_user.constData(), m_kind, rc,
                     expected, VardexLastError());
        return 'W';
    }

    char menuQuery() {
        const int32_t ids[3] = {1, 2, 3};
        int32_t answers[3] = {-1, -1, -1};
        const int32_t rc = VardexQueryRights(m_user.constData(), ids, 3, answers);
        if (rc == 0 && (answers[0] != 0 || answers[1] != 3 || answers[2] != 3)) {
            std::fprintf(stderr, "%s: menu %d %d %d\n", m_user.constData(), answers[0], answers[1],
                         answers[2]);
            return 'W';
        }
        return judge(rc, 0, 0);
    }

    // A login writes the login row, and after the first one the logout row before it.
    char login() {
        if (m_password.isEmpty())
            return settlePassword();
        const char v = judge(CheckUserLogin(m_user.constData(), m_password.constData(), "2026-06-15", nullptr,
                                            VARDEX_SHOW_NOTHING),
                             0, m_loggedIn ? 2 : 1);
        if (v == 'R')
            m_loggedIn = true;
        return v;
    }

    // After a change that answered VARDEX_ERROR the password is one of the two: a login finds it.
    char settlePassword() {
        for (const char* candidate : {"pw", "pw2"}) {
            const int32_t rc =
                CheckUserLogin(m_user.constData(), candidate, "2026-06-15", nullptr, VARDEX_SHOW_NOTHING);
            if (rc == 0) {
                m_password = candidate;
                const int rows = m_loggedIn ? 2 : 1;
                m_loggedIn = true;
                return judge(rc, 0, rows);
            }
            if (rc != VARDEX_LOGIN_WRONG_PASSWORD)
                return judge(rc, 0, 0);
        }
        std::fprintf(stderr, "%s: neither password logs in\n", m_user.constData());
        return 'W';
    }

    char changePassword() {
        if (m_password.isEmpty())
            return settlePassword();
        const QByteArray next = m_password == "pw" ? "pw2" : "pw";
        const int32_t rc =
            ChangeUserPassword(m_user.constData(), m_password.constData(), next.constData(), "2026-06-15");
        const char v = judge(rc, 0, 1);
        if (v == 'R')
            m_password = next;
        else if (v == 'E')
            m_password.clear(); // changed or not: the next login tells
        return v;
    }

    QByteArray m_user;
    bool m_admin;
    QByteArray m_password; // "pw" or "pw2": an earlier run may have changed it; a login tells
    bool m_loggedIn = false;
    int m_rows = 0;
    int m_kind = 0;
    long m_lost = 0;
    QByteArray m_lastError;
};

int mixed(const QByteArray& conn, const QByteArray& dbUser, int n, quint32 seed, int seconds, bool admin) {
    if (!connectAndWait(conn, dbUser.constData(), "kmpq"))
        return 2;
    MixedDesktop desktop("m" + QByteArray::number(n), admin);
    QRandomGenerator rng(seed);
    long calls = 0, right = 0, errors = 0, wrong = 0, rows = 0;
    const qint64 end = QDateTime::currentMSecsSinceEpoch() + qint64(seconds) * 1000;
    // The harness stops a desktop by writing a line or closing stdin: readable then.
    pollfd in{0, POLLIN, 0};
    while (QDateTime::currentMSecsSinceEpoch() < end && ::poll(&in, 1, 0) == 0) {
        const char v = desktop.call(rng.bounded(10));
        ++calls;
        right += v == 'R';
        errors += v == 'E';
        wrong += v == 'W';
        rows += desktop.rows();
        std::printf("%lld %c %d\n", static_cast<long long>(QDateTime::currentMSecsSinceEpoch()), v,
                    desktop.rows());
        std::fflush(stdout);
    }
    std::printf("calls=%ld right=%ld errors=%ld wrong=%ld rows=%ld lost=%ld\n", calls, right, errors, wrong,
                rows, desktop.lost());
    std::fflush(stdout);
    if (errors)
        std::fprintf(stderr, "%s: the last error: %s\n", desktop.user().constData(),
                     desktop.lastError().constData());
    return wrong == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc >= 5 && std::strcmp(argv[1], "load") == 0)
        return load(argv[2], static_cast<quint32>(std::atoi(argv[3])), std::atoi(argv[4]));
    if (argc >= 5 && std::strcmp(argv[1], "hang") == 0)
        return hang(argv[2], QString::fromLocal8Bit(argv[3]), QString::fromLocal8Bit(argv[4]));
    if (argc >= 6 && std::strcmp(argv[1], "passwd") == 0)
        return oneCall(argv[2], "passwd",
                       [&] { return ChangeUserPassword(argv[3], argv[4], argv[5], "2026-06-15"); });
    if (argc >= 5 && std::strcmp(argv[1], "login") == 0)
        return oneCall(argv[2], "login", [&] {
            return CheckUserLogin(argv[3], argv[4], "2026-06-15", nullptr, VARDEX_SHOW_NOTHING);
        });
    if (argc >= 5 && std::strcmp(argv[1], "audit") == 0)
        return audit(argv[2], argv[3], std::atoi(argv[4]));
    if (argc >= 7 && std::strcmp(argv[1], "mixed") == 0)
        return mixed(argv[2], argv[3], std::atoi(argv[4]), static_cast<quint32>(std::atoi(argv[5])),
                     std::atoi(argv[6]), argc >= 8 && std::strcmp(argv[7], "admin") == 0);
    std::fprintf(stderr, "usage: hardening_worker load|hang|passwd|login|audit|mixed <connection> ...\n");
    return 2;
}
