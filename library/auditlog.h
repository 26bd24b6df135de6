#pragma once
// Reading the audit log (qx_Logs): pages of rows newest or oldest first, the number of rows a
// filter keeps, the rows per day for a chart, and what kind of event a stored text records.
//
// qx_Logs has no key. A page goes on from the last row of the one before by the row's time and
// a tie-breaker of the database kind (SQLite's rowid, PostgreSQL's ctid; on SQL Server the
// number of rows of that same time already read), never by an offset from the start, so each
// page costs the same however deep the reading is. Rows without a time come after every dated
// row newest first, and before them oldest first.
//
// Every filter text matches itself literally: quotes, backslashes, % and _ are ordinary
// characters. Values reach PostgreSQL as bound parameters; the other kinds get them as quoted
// literals.
#include "platform/adodb.h"

#include <QDate>
#include <QString>
#include <QVector>
#include <functional>

namespace vardex::audit {

// The texts the library writes. Stored texts stay as written; eventOf() tells them apart.
inline constexpr const char16_t* kLoginText = u"用户登录";
inline constexpr const char16_t* kLogoutText = u"用户退出登录";
inline constexpr const char16_t* kPasswordChangedText = u"用户更改密码成功";
inline constexpr const char16_t* kLockedText = u"账号锁定";
inline constexpr const char16_t* kUnlockedText = u"账号解锁";
inline constexpr const char16_t* kRightUsedPrefix = u"使用权限("; // + item name + ")"
inline constexpr const char16_t* kFailedPrefix = u"登录失败(";    // + reason + ")"

// The row a refused login writes while the store's policy says audit.failures = on, naming
// the reason: a login code (login::NoSuchUser, Disabled, Expired, WrongPassword), or a lock in
// force (locked, whatever the code). Empty for a verified login.
QString failedLoginText(int loginCode, bool locked);

// Widths of qx_Logs' columns.
inline constexpr int kComputerWidth = 100, kUserWidth = 20, kTextWidth = 100;
// A text cut to fit a qx_Logs column of the given width, whole characters only: SQLite and
// PostgreSQL count characters, SQL Server the bytes of its 8-bit code page.
QString cutToColumn(const QString& text, int width, Dialect dialect);

struct Filter {
    QString user;     // userName starts with this (as the database compares texts)
    QString computer; // CompName starts with this
    QString text;     // theLog contains this
    QString since;    // theTime at or after this: "yyyy-mm-dd hh:mm:ss", or a bare day
    QString until;    // theTime at or before this; a bare day "yyyy-mm-dd" takes the whole day
};

struct Row {
    QString computer, user, time, text;
};

// Where a reading goes on. A default Cursor starts at the newest (or oldest) row.
struct Cursor {
    bool started = false; // false: from the first row
    bool undated = false; // the last row read had no time
    QString time;         // the last row's time
    QString tie;          // the last row's tie-breaker, as text
};

struct Page {
    QVector<Row> rows;
    QVector<Cursor> positions; // where each row stands: a reading from there goes on after it
    Cursor next;               // where the next page starts
    bool more = false;         // another page may follow (false: the rows ran out)
};

// A position as text, to hand to a caller and take back: "D" (a dated row) or "U", the
// tie-breaker, ";", the time. positionFromText() raises Error for a text that is no position.
QString positionText(const Cursor& at);
Cursor positionFromText(const QString& text);

enum class Order { NewestFirst, OldestFirst };

// Up to limit rows (at least 1) after from, in the given order. Raises DbError, and Error for a
// position whose tie-breaker is not of this kind of database.
Page read(AdoConnection& cn, const Filter& filter, const Cursor& from, int limit, Order order);
inline Page newestFirst(AdoConnection& cn, const Filter& filter, const Cursor& from, int limit) {
    return read(cn, filter, from, limit, Order::NewestFirst);
}
// Every row the filter keeps, page by page, until each returns false. Returns the rows given.
qint64 forEach(AdoConnection& cn, const Filter& filter, Order order,
               const std::function<bool(const Row&)>& each);

// The number of rows the filter keeps.
qint64 count(AdoConnection& cn, const Filter& filter);

// Per day of the filtered rows (days with no row left out), oldest day first: logins,
// failed logins and rights used.
struct Day {
    QDate day;
    int logins = 0, failures = 0, rightsUsed = 0;
    int rows = 0; // every row of the day the filter keeps, of whatever event
};
QVector<Day> perDay(AdoConnection& cn, const Filter& filter);

enum class Event { Login, Logout, RightUsed, PasswordChanged, Locked, Unlocked, Failed, Other };
Event eventOf(const QString& storedText);
// A stored text as the windows show it, in their language (gui::setLanguage): the library's
// texts translated (an item's name and the failure's reason kept in their place), any other
// text as it is.
QString shownText(const QString& storedText);

} // namespace vardex::audit
