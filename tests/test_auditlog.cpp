// Reading the audit log on every database kind this run has: pages in either order give each
// row exactly once (rows of the same second, identical rows and rows without a time included),
// and filter texts match themselves literally, hostile ones included.
#include "capi/vardex.h"
#include "dialogs/language.h"
#include "library/auditlog.h"
#include "platform/auditsql.h"
#include "platform/sqldialect.h"
#include "tests/support/testsupport.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace vardex;
using namespace vardex::test;

void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.left(80).toStdString() << '"';
}
void PrintTo(const QStringList& l, std::ostream* os) {
    *os << l.join(QStringLiteral(" | ")).left(2000).toStdString();
}

namespace {

QString key(const audit::Row& r) {
    return r.computer + QChar(0x1F) + r.user + QChar(0x1F) + r.time + QChar(0x1F) + r.text;
}

class AuditLog : public ::testing::TestWithParam<Backend> {
  protected:
    void SetUp() override {
        store = std::make_unique<TempStore>(GetParam());
        cn = openConnection(store->connectionString());
    }

    void add(const QString& computer, const QString& user, const QString& time, const QString& text) {
        cn->execute(QStringLiteral("INSERT INTO qx_Logs VALUES (") + sqlLiteral(computer) + ',' +
                    sqlLiteral(user) + ',' + (time.isNull() ? QStringLiteral("NULL") : sqlLiteral(time)) +
                    ',' + sqlLiteral(text) + ')');
        rows.append({computer, user, time, text});
    }

    // Every row read page by page; fails when a row comes twice more often than it is stored.
    QVector<audit::Row> readAll(const audit::Filter& f, audit::Order order, int limit) {
        QVector<audit::Row> out;
        audit::Cursor at;
        for (int guard = 0; guard < 100; ++guard) {
            const audit::Page p = audit::read(*cn, f, at, limit, order);
            EXPECT_LE(p.rows.size(), limit);
            out += p.rows;
            if (!p.more)
                return out;
            EXPECT_EQ(p.rows.size(), limit);
            at = p.next;
        }
        ADD_FAILURE() << "the pages never end";
        return out;
    }

    static QStringList keys(const QVector<audit::Row>& rs) {
        QStringList k;
        for (const auto& r : rs)
            k << key(r);
        k.sort();
        return k;
    }

    QVector<audit::Row> expected(const std::function<bool(const audit::Row&)>& keep) const {
        QVector<audit::Row> out;
        for (const auto& r : rows)
            if (keep(r))
                out.append(r);
        return out;
    }

    std::unique_ptr<TempStore> store;
    std::unique_ptr<AdoConnection> cn;
    QVector<audit::Row> rows;
};

TEST_P(AuditLog, PagesGiveEveryRowOnceInOrder) {
    const QString t1 = QStringLiteral("2026-03-01 09:00:00");
    for (int i = 0; i < 3; ++i) // identical rows of one second
        add(QStringLiteral("pc1"), QStringLiteral("张三"), t1, QStringLiteral("用户登录"));
    add(QStringLiteral("pc2"), QStringLiteral("li"), t1, QStringLiteral("使用权限(a)"));
    add(QStringLiteral("pc1"), QStringLiteral("li"), QStringLiteral("2026-03-02 10:00:00"),
        QStringLiteral("x"));
    add(QStringLiteral("pc1"), QStringLiteral("li"), QString(), QStringLiteral("no time"));
    add(QStringLiteral("pc3"), QStringLiteral("wu"), QStringLiteral("2026-02-28 23:59:59"),
        QStringLiteral("y"));
    add(QStringLiteral("pc1"), QStringLiteral("li"), QString(), QStringLiteral("no time"));
    add(QStringLiteral("pc2"), QStringLiteral("wu"), QStringLiteral("2026-03-02 10:00:00"),
        QStringLiteral("z"));

    for (const auto order : {audit::Order::NewestFirst, audit::Order::OldestFirst}) {
        for (const int limit : {1, 2, 3, 100}) {
            SCOPED_TRACE(limit);
            const QVector<audit::Row> got = readAll({}, order, limit);
            EXPECT_EQ(keys(got), keys(rows));
            // Times in order; the rows without a time are the oldest.
            for (int i = 1; i < got.size(); ++i) {
                const audit::Row& a = order == audit::Order::NewestFirst ? got[i] : got[i - 1];
                const audit::Row& b = order == audit::Order::NewestFirst ? got[i - 1] : got[i];
                EXPECT_TRUE(a.time.isEmpty() || a.time <= b.time) << i;
                EXPECT_FALSE(b.time.isEmpty() && !a.time.isEmpty()) << i;
            }
        }
    }
    EXPECT_EQ(audit::count(*cn, {}), rows.size());

    // A bare day as the end takes the whole day; as the start, the day from its beginning.
    audit::Filter day;
    day.since = QStringLiteral("2026-03-01");
    day.until = QStringLiteral("2026-03-01");
    EXPECT_EQ(keys(readAll(day, audit::Order::NewestFirst, 2)),
              keys(expected([&](const audit::Row& r) { return r.time == t1; })));
    EXPECT_EQ(audit::count(*cn, day), 4);

    const QVector<audit::Day> days = audit::perDay(*cn, {});
    ASSERT_EQ(days.size(), 3);
    EXPECT_EQ(days[1].day, QDate(2026, 3, 1));
    EXPECT_EQ(days[1].logins, 3);
    EXPECT_EQ(days[1].rightsUsed, 1);
    EXPECT_EQ(days[1].failures, 0);
}

// A filter that keeps few of the newest rows (more than a first look at them covers) still finds
// the old ones, in order, page after page.
TEST_P(AuditLog, AFilterKeepingFewOfTheNewestRowsFindsTheOldOnesInOrder) {
    add(QStringLiteral("pc"), QStringLiteral("needle"), QStringLiteral("2020-01-01 00:00:00"),
        QStringLiteral("a"));
    add(QStringLiteral("pc"), QStringLiteral("needle"), QStringLiteral("2020-01-01 00:00:00"),
        QStringLiteral("b"));
    const QString many =
        GetParam() == Backend::SQLite
            ? QStringLiteral("WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i "
                             "< 30000) INSERT INTO qx_Logs SELECT 'pc', 'hay', '2021-01-01 00:00:00', "
                             "'x' FROM c")
            : QStringLiteral("INSERT INTO qx_Logs SELECT 'pc', 'hay', '2021-01-01 00:00:00', 'x' FROM "
                             "generate_series(1, 30000)");
    cn->execute(many);
    add(QStringLiteral("pc"), QStringLiteral("needle"), QStringLiteral("2022-01-01 00:00:00"),
        QStringLiteral("c"));
    audit::Filter user;
    user.user = QStringLiteral("need");
    QStringList texts;
    for (const audit::Row& r : readAll(user, audit::Order::NewestFirst, 2))
        texts << r.text;
    ASSERT_EQ(texts.size(), 3);
    EXPECT_EQ(texts.first(), QStringLiteral("c"));
    texts.sort();
    EXPECT_EQ(texts, (QStringList{"a", "b", "c"}));
    audit::Filter text;
    text.text = QStringLiteral("b");
    EXPECT_EQ(keys(readAll(text, audit::Order::NewestFirst, 1)),
              keys(expected([](const audit::Row& r) { return r.text == QStringLiteral("b"); })));
    EXPECT_EQ(audit::perDay(*cn, text).size(), 1);
}

TEST_P(AuditLog, FiltersMatchTheirTextLiterally) {
    const QStringList names = {QStringLiteral("a'b"), QStringLiteral("a\\b"),     QStringLiteral("a%b"),
                               QStringLiteral("a_b"), QStringLiteral("axb"),      QStringLiteral("a[b]*?"),
                               QStringLiteral("ab"),  QStringLiteral("a\\'\\b%"), QStringLiteral("张三"),
                               QStringLiteral("A'B"), QStringLiteral("a\uFFFDb"), QStringLiteral("a?c")};
    int n = 0;
    for (const QString& name : names) {
        const QString time = QStringLiteral("2026-04-01 12:00:%1").arg(n++, 2, 10, QLatin1Char('0'));
        add(name, name, time, QStringLiteral("[") + name + QStringLiteral("]"));
    }
    const QString big(1 << 20, QLatin1Char('a'));
    const QStringList probes = {QStringLiteral("a'"),
                                QStringLiteral("a\\"),
                                QStringLiteral("a%"),
                                QStringLiteral("a_"),
                                QStringLiteral("a["),
                                QStringLiteral("a[b]*"),
                                QStringLiteral("a?"),
                                QStringLiteral("a\\'\\b%"),
                                QStringLiteral("'"),
                                QStringLiteral("%"),
                                QStringLiteral("_"),
                                QStringLiteral("\\"),
                                QStringLiteral("*"),
                                QStringLiteral("a\uFFFD"),
                                QString(QChar(0xD800)),
                                QStringLiteral("张"),
                                big,
                                QStringLiteral("' OR '1'='1"),
                                QStringLiteral("a\0b")};
    for (const QString& probe : probes) {
        SCOPED_TRACE(probe.left(20).toStdString());
        audit::Filter byUser;
        byUser.user = probe;
        audit::Filter byComputer;
        byComputer.computer = probe;
        audit::Filter byText;
        byText.text = probe;
        // What reaches the database is UTF-8: a lone surrogate has no form there.
        const QString sent = QString::fromUtf8(probe.toUtf8());
        const bool nul = probe.contains(QChar(0));
        const auto want = [&](const std::function<bool(const audit::Row&)>& keep) {
            return keys(expected([&](const audit::Row& r) { return !nul && keep(r); }));
        };
        const QStringList users = want([&](const audit::Row& r) { return r.user.startsWith(sent); });
        EXPECT_EQ(keys(readAll(byUser, audit::Order::NewestFirst, 2)), users);
        EXPECT_EQ(audit::count(*cn, byUser), users.size());
        EXPECT_EQ(keys(readAll(byComputer, audit::Order::OldestFirst, 3)),
                  want([&](const audit::Row& r) { return r.computer.startsWith(sent); }));
        const QStringList texts = want([&](const audit::Row& r) { return r.text.contains(sent); });
        EXPECT_EQ(keys(readAll(byText, audit::Order::NewestFirst, 100)), texts);
        EXPECT_EQ(audit::count(*cn, byText), texts.size());
    }
    // Texts compare by the database's rules; a time given as hostile text is only a text.
    audit::Filter odd;
    odd.since = QStringLiteral("9' OR '1'='1");
    EXPECT_EQ(audit::count(*cn, odd), 0);
}

// VardexQueryLog: the rows through the callback, page by page from a position handed out,
// hostile filter texts taken literally, and what is not a filter or a position refused.
TEST_P(AuditLog, VardexQueryLogHandsOverTheRowsAndGoesOnFromAPosition) {
    const QStringList names = {QStringLiteral("o'b\\%_x"), QStringLiteral("o'b"), QStringLiteral("ob"),
                               QStringLiteral("张三")};
    for (int i = 0; i < 7; ++i)
        add(QStringLiteral("pc%1").arg(i % 2), names[i % names.size()],
            i == 5 ? QString() : QStringLiteral("2026-05-0%1 10:00:00").arg(1 + i / 3),
            QStringLiteral("用户登录"));
    ASSERT_EQ(::ConnectDatabase(store->connectionString().toUtf8().constData(), "", "", "", ""), VARDEX_OK)
        << ::VardexLastError();
    struct Seen {
        QStringList rows, positions;
        int stopAfter = -1;
    };
    const VardexLogRowHandler collect = [](const char* computer, const char* user, const char* time,
                                           const char* text, const char* position, void* context) -> int32_t {
        auto* seen = static_cast<Seen*>(context);
        seen->rows << QString::fromUtf8(computer) + '|' + QString::fromUtf8(user) + '|' +
                          QString::fromUtf8(time) + '|' + QString::fromUtf8(text);
        seen->positions << QString::fromUtf8(position);
        return seen->rows.size() == seen->stopAfter ? 1 : 0;
    };
    const auto query = [&](const char* user, int order, const char* after, int limit, Seen* seen) {
        return ::VardexQueryLog(user, "", "", "", "", order, after, limit, seen ? collect : nullptr, seen);
    };
    for (const int order : {VARDEX_LOG_NEWEST_FIRST, VARDEX_LOG_OLDEST_FIRST}) {
        Seen all;
        ASSERT_EQ(query("", order, nullptr, 0, &all), 7) << ::VardexLastError();
        // Two at a time, each call going on from the last position it handed out.
        Seen paged;
        for (int guard = 0; guard < 10; ++guard) {
            const QByteArray after =
                paged.positions.isEmpty() ? QByteArray() : paged.positions.last().toUtf8();
            if (query("", order, after.constData(), 2, &paged) < 2)
                break;
        }
        EXPECT_EQ(paged.rows, all.rows);
    }
    Seen quoted;
    EXPECT_EQ(query("o'b\\%_", VARDEX_LOG_NEWEST_FIRST, "", 0, &quoted), 2);
    EXPECT_EQ(query("o'b", VARDEX_LOG_NEWEST_FIRST, "", 0, nullptr), 4); // counted
    EXPECT_EQ(query("o_", VARDEX_LOG_NEWEST_FIRST, "", 0, nullptr), 0);
    EXPECT_EQ(query(QByteArray(1 << 20, 'o').constData(), VARDEX_LOG_NEWEST_FIRST, "", 0, nullptr), 0);
    Seen stopped;
    stopped.stopAfter = 3;
    EXPECT_EQ(query("", VARDEX_LOG_NEWEST_FIRST, "", 0, &stopped), 3);

    // Refused, each naming why: bytes that are not text, an order, positions not handed out.
    EXPECT_EQ(query("o\xff", VARDEX_LOG_NEWEST_FIRST, "", 0, nullptr), VARDEX_ERROR);
    EXPECT_TRUE(QString::fromUtf8(::VardexLastError()).contains("user")) << ::VardexLastError();
    EXPECT_EQ(query("", 2, "", 0, nullptr), VARDEX_ERROR);
    const QByteArray foreign = GetParam() == Backend::SQLite ? "D(0,1);x" : "D12;x";
    for (const QByteArray& after : {QByteArray("garbage"), foreign, QByteArray("D1' or '1'='1;x")})
        EXPECT_EQ(query("", VARDEX_LOG_NEWEST_FIRST, after.constData(), 0, &stopped), VARDEX_ERROR)
            << after.constData();
    EXPECT_EQ(::DisconnectDatabase(), VARDEX_OK);
    EXPECT_EQ(query("", VARDEX_LOG_NEWEST_FIRST, "", 0, nullptr), VARDEX_ERROR); // no session
}

INSTANTIATE_TEST_SUITE_P(Store, AuditLog, VARDEX_BACKEND_PARAMS);

TEST(AuditEvents, StoredTextsAreToldApart) {
    EXPECT_EQ(audit::eventOf(QStringLiteral("用户登录")), audit::Event::Login);
    EXPECT_EQ(audit::eventOf(QStringLiteral("用户退出登录")), audit::Event::Logout);
    EXPECT_EQ(audit::eventOf(QStringLiteral("使用权限(打印)")), audit::Event::RightUsed);
    EXPECT_EQ(audit::eventOf(QStringLiteral("用户更改密码成功")), audit::Event::PasswordChanged);
    EXPECT_EQ(audit::eventOf(QStringLiteral("账号锁定")), audit::Event::Locked);
    EXPECT_EQ(audit::eventOf(QStringLiteral("账号解锁")), audit::Event::Unlocked);
    EXPECT_EQ(audit::eventOf(QStringLiteral("登录失败(密码错误)")), audit::Event::Failed);
    EXPECT_EQ(audit::eventOf(QStringLiteral("用户登录 ")), audit::Event::Other);
    // Shown in the windows' language; the stored text itself never changes.
    ASSERT_TRUE(gui::setLanguage(QStringLiteral("en")));
    EXPECT_EQ(audit::shownText(QStringLiteral("登录失败(密码错误)")),
              QStringLiteral("Login failed (wrong password)"));
    EXPECT_EQ(audit::shownText(QStringLiteral("使用权限(打印)")), QStringLiteral("Right used (打印)"));
    EXPECT_EQ(audit::shownText(QStringLiteral("用户退出登录")), QStringLiteral("User logged out"));
    // Not the login window's caption, which shares the Chinese text.
    EXPECT_EQ(audit::shownText(QStringLiteral("用户登录")), QStringLiteral("User logged in"));
    EXPECT_EQ(audit::shownText(QStringLiteral("自定义")), QStringLiteral("自定义"));
    ASSERT_TRUE(gui::setLanguage(QStringLiteral("zh")));
    EXPECT_EQ(audit::shownText(QStringLiteral("登录失败(密码错误)")), QStringLiteral("登录失败(密码错误)"));
    for (int code = 1; code <= 4; ++code)
        EXPECT_EQ(audit::eventOf(audit::failedLoginText(code, false)), audit::Event::Failed) << code;
}

// SQL Server's rows have no address: a position counts the rows of its time read already,
// which the next page skips; a count that cannot be one is refused before it reaches OFFSET.
TEST(AuditSqlServer, APositionIsACountOfRowsToSkip) {
    const AuditSql& sql = auditSql(dialectSql(Dialect::SqlServer));
    EXPECT_TRUE(sql.validTie(QStringLiteral("3")));
    for (const char* bad : {"-1", "4294967296", "(0,1)", ""})
        EXPECT_FALSE(sql.validTie(QString::fromLatin1(bad))) << bad;
    AuditPart p;
    p.within = true;
    p.fromTime = QStringLiteral("2026-01-01 00:00:00");
    p.fromTie = QStringLiteral("3");
    p.want = 5;
    p.desc = true;
    p.where << QStringLiteral("theTime IS NOT NULL");
    EXPECT_EQ(
        sql.pageSelect(p, [](const QString& v) { return sqlLiteral(v); }),
        QStringLiteral("SELECT CompName, userName, theTime, theLog FROM qx_Logs WHERE theTime IS NOT NULL "
                       "AND theTime <= '2026-01-01 00:00:00' ORDER BY theTime DESC, CompName, userName, "
                       "theLog OFFSET 3 ROWS FETCH NEXT 5 ROWS ONLY"));
}

} // namespace
