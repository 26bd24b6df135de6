// Reading the audit log on every database kind this run has: pages in either order give each
// row exactly once (rows of the same second, identical rows and rows without a time included),
// and filter texts match themselves literally, hostile ones included.
#include "library/auditlog.h"
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

INSTANTIATE_TEST_SUITE_P(Store, AuditLog, VARDEX_BACKEND_PARAMS);

TEST(AuditEvents, StoredTextsAreToldApart) {
    EXPECT_EQ(audit::eventOf(QStringLiteral("用户登录")), audit::Event::Login);
    EXPECT_EQ(audit::eventOf(QStringLiteral("用户退出登录")), audit::Event::Logout);
    EXPECT_EQ(audit::eventOf(QStringLiteral("使用权限(打印)")), audit::Event::RightUsed);
    EXPECT_EQ(audit::eventOf(QStringLiteral("用户更改密码成功")), audit::Event::PasswordChanged);
    EXPECT_EQ(audit::eventOf(QStringLiteral("账号锁定")), audit::Event::Locked);
    EXPECT_EQ(audit::eventOf(QStringLiteral("用户登录 ")), audit::Event::Other);
}

} // namespace
