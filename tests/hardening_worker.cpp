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
#include "capi/vardex.h"
#include "library/dmain.h"
#include "platform/errors.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QThread>

#include <cstdio>
#include <cstring>
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

int load(const QByteArray& conn, quint32 seed, int operations) {
    if (ConnectDatabase(conn.constData(), "", "", "2026-06-15", "") != 0) {
        std::fprintf(stderr, "connect: %s\n", VardexLastError());
        return 2;
    }
    // All desktops start together: each says it is connected and waits for a line on stdin.
    std::printf("ready\n");
    std::fflush(stdout);
    char go[16];
    if (!std::fgets(go, sizeof go, stdin))
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
    std::fprintf(stderr, "usage: hardening_worker load|hang|passwd|login|audit <connection> ...\n");
    return 2;
}
