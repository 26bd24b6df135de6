/*
 * vardex.h - the Vardex access-control library, plain C interface.
 *
 * Client programs link libvardex and call these functions to open a session on the permission
 * store, verify logins, check permission items, change passwords and show the standard windows.
 *
 * Conventions
 *   - Texts are null-terminated strings in the process's local 8-bit encoding (UTF-8 on Linux).
 *     A NULL text pointer counts as an empty text unless a call says otherwise. The library
 *     copies every argument and keeps no pointer of the caller's.
 *   - Numbers and results are 32-bit signed integers. 0 is success; each call documents its own
 *     positive answer codes.
 *   - Failures that are not answers (a database error, a stored password that is not cipher
 *     text, a call made while no session is open) return VARDEX_ERROR; the message is then
 *     available from VardexLastError(). No C++ exception ever leaves the library.
 *   - Texts that are compared, stored or sent to the store (user IDs, passwords, cipher keys,
 *     dates, the connection string) must be valid text in that encoding: a call given invalid
 *     bytes in one of them returns VARDEX_ERROR and names the argument, because read leniently
 *     different byte strings would compare equal. Captions and fail texts are only shown; an
 *     invalid byte there is shown as a replacement character.
 *   - Calls other than ConnectDatabase, ShowAbout and the Vardex* helpers need an open session:
 *     between a ConnectDatabase (whatever it returned) and the following DisconnectDatabase.
 *   - One thread. Every call must come from the library's thread: the thread of the program's
 *     Qt application object, or, when the program has none, the first thread that called the
 *     library (which then makes one there). A call from any other thread does nothing and
 *     returns VARDEX_ERROR (VardexSetMessageHandler leaves the handler as it was); its message
 *     is on that thread's VardexLastError(). Calls are not queued or serialised for you.
 *   - Re-entry. A message handler, or a program's code running while a library window or box
 *     is open, may call the library again, except ConnectDatabase and DisconnectDatabase: made
 *     while another call is in progress they are refused with VARDEX_ERROR and change nothing,
 *     since the call in progress is still using the session. Close the session after that call
 *     has returned.
 */
#ifndef VARDEX_H
#define VARDEX_H

/* The version of this header; VardexVersion() gives that of the library loaded at run time. */
#define VARDEX_VERSION_MAJOR 0
#define VARDEX_VERSION_MINOR 2
#define VARDEX_VERSION_PATCH 0

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define VARDEX_CALL __stdcall
#else
#define VARDEX_CALL
#endif

#if defined(_WIN32)
#if defined(VARDEX_BUILDING)
#define VARDEX_API __declspec(dllexport)
#else
#define VARDEX_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define VARDEX_API __attribute__((visibility("default")))
#else
#define VARDEX_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result of a call that failed with an error instead of answering (see VardexLastError). */
#define VARDEX_ERROR (-1)
/* Success: the answer 0 of every call. */
#define VARDEX_OK 0

/*
 * ConnectDatabase opens the library's one session on the permission store.
 *   connectionString  e.g. "Provider=SQLite;Data Source=/var/lib/vardex/store.db" or
 *                     "Provider=PostgreSQL;Host=db;Port=5432;Database=perm" (see docs/developer.md)
 *   userId, password  database credentials; empty: those of the connection string. They are
 *                     written nowhere: they are kept in memory while the session is open, so
 *                     that a connection lost to a server restart is opened again with them,
 *                     and are overwritten at DisconnectDatabase
 *   workDate          working date "yyyy-MM-dd"; empty: today
 *   cipherKey         key of the password cipher; empty: "kmpq". The key is a byte string,
 *                     letter case significant, and a password deciphers only under the key it
 *                     was enciphered with. The host program's key box starts at "KMPQ", and
 *                     its administration window enciphers the passwords it sets under the key
 *                     its session was opened with: users created there with that default log
 *                     in from a client only when the client passes "KMPQ" here (an empty key,
 *                     meaning "kmpq", answers VARDEX_LOGIN_WRONG_PASSWORD for them).
 * Returns VARDEX_OK (0) when the session is connected, VARDEX_CONNECT_FAILED (1) when the
 * connection could not be opened (no message is shown; the session values keep what they held;
 * VardexLastError() tells why), also when the store's password policy (its vardex_settings
 * table) holds a value out of range: the reason then names the setting.
 * A session already open is closed first, without a logout row. VARDEX_ERROR: an argument is
 * not valid text, or the call was made while another library call was in progress, or the
 * store records a version (its vardex_meta table) newer than this library knows: nothing is
 * opened then, the session values keep what they held, and VardexLastError() names both
 * versions. An older store opens as it is (vardex-cli upgrade brings it to this version).
 *
 * Opening never makes a store: a SQLite Data Source that does not exist answers 1 and nothing
 * is created (stores are made by installing them). A PostgreSQL session, and every automatic
 * reopen, runs with standard_conforming_strings on whatever the server, the role or PGOPTIONS
 * say, and is refused when that cannot be set. Values that reach a driver's option text are
 * checked: Connect Timeout and Port take a whole number, SSL Mode one of disable, allow,
 * prefer, require, verify-ca, verify-full; anything else answers 1 naming the key. Host may
 * name several servers (Host=pg1,pg2;Port=5432,5433 or Host=pg1:5432,pg2:5433), tried in order
 * at every opening and reopening, and Target Session Attrs takes libpq's any, read-write,
 * read-only, primary, standby or prefer-standby: a host name that is not one, a port count that
 * fits neither one nor the hosts, or another value answers 1 naming the key. Through
 * ODBC the user ID and password are passed as quoted values, so ';' or '}' in them is text, and
 * the database kind is the one the driver names (SQL_DBMS_NAME), whatever the driver or DSN is
 * called: a PostgreSQL server reached through ODBC gets standard_conforming_strings on as well.
 * A Dialect= that says otherwise, or a database that is not SQLite, PostgreSQL or SQL Server,
 * answers 1.
 */
#define VARDEX_CONNECT_FAILED 1

VARDEX_API int32_t VARDEX_CALL ConnectDatabase(const char* connectionString, const char* userId,
                                               const char* password, const char* workDate,
                                               const char* cipherKey);

/*
 * DisconnectDatabase writes the logout row of the current user (when somebody has logged in
 * during this process), closes the connection and ends the session.
 * Returns 0, or VARDEX_ERROR when no session is open or the logout row could not be written
 * (the session then stays open).
 */
VARDEX_API int32_t VARDEX_CALL DisconnectDatabase(void);

/*
 * ClearLogs deletes the audit rows whose time is at or before beforeTime (a text compared with
 * "yyyy-MM-dd hh:mm:ss" times: "2026-01-31" keeps that day's rows, "2026-01-31 23:59:59" deletes
 * them); an empty beforeTime deletes every row. No audit row is written about the deletion.
 * Returns 0, or VARDEX_ERROR.
 */
VARDEX_API int32_t VARDEX_CALL ClearLogs(const char* beforeTime);

/* ---------------------------------------------------------------------------------------------
 * Login verification, right check, password change
 * ------------------------------------------------------------------------------------------- */

/* Display modes of CheckUserLogin and CheckUserRight. */
#define VARDEX_SHOW_NOTHING 0  /* never show a box (the undefined-item warning still shows) */
#define VARDEX_SHOW_FAILTEXT 1 /* on refusal show failText; no box when failText is NULL */
#define VARDEX_SHOW_BUILTIN 2  /* on refusal show the library's own text */

/*
 * CheckUserLogin verifies that userId may log in with password on workDate ("yyyy-MM-dd";
 * empty: today, which also becomes the session's working date for later calls).
 * Returns
 *   VARDEX_OK                    0  verified; while the session records logins, the previous
 *                                   user's logout row and the new user's login row are written
 *                                   and the user becomes the session's current user
 *   VARDEX_LOGIN_DISABLED        1  the user is disabled
 *   VARDEX_LOGIN_EXPIRED         2  workDate lies outside the user's validity period
 *   VARDEX_LOGIN_WRONG_PASSWORD  3  the password matches none of the user's rows
 *   VARDEX_LOGIN_NO_USER         4  no user with this ID (user groups never log in)
 *   VARDEX_ERROR                    a database error, or a stored password that is not cipher text
 * On codes 1 to 4 a warning box captioned "用户登录" is shown as mode says. Passwords compare
 * byte for byte, letter case significant.
 * The store's policy (read by ConnectDatabase) may add to this: under password.hash=bcrypt a row
 * still holding cipher text is re-written as a hash once its password verifies; with
 * lockout.failures=N above 0, N consecutive answers 3 for one user ID (counted in the store, for
 * every desktop) lock it, and it is answered 1 whatever the password until lockout.minutes have
 * passed since the last failure or an administrator unlocks it. A success resets the count. Each
 * attempt is counted, and committed, before its password is tried, so however many desktops
 * guess at once no more than N guesses are verified.
 */
#define VARDEX_LOGIN_DISABLED 1
#define VARDEX_LOGIN_EXPIRED 2
#define VARDEX_LOGIN_WRONG_PASSWORD 3
#define VARDEX_LOGIN_NO_USER 4

VARDEX_API int32_t VARDEX_CALL CheckUserLogin(const char* userId, const char* password, const char* workDate,
                                              const char* failText, int32_t mode);

/*
 * CheckUserRight answers whether userId holds permission item rightId. A member of a user group
 * is judged by the group's grants. A granted check writes the audit row "使用权限(<item name>)".
 * Returns
 *   VARDEX_OK              0  the right is held
 *   VARDEX_RIGHT_NO_USER   1  no user or user group has this ID
 *   VARDEX_RIGHT_NO_GROUP  2  the user is a group member whose user group no longer exists (or
 *                             the ID is a group's)
 *   VARDEX_RIGHT_NOT_HELD  3  the right is not held
 *   VARDEX_ERROR              a database error
 * When the answer is not 0 and no item has number rightId, a warning box
 * "权限没有定义(<rightId> <failText>)" is shown first, in every mode. Boxes are captioned "用户权限".
 * The check does not look at the user's enabled flag or validity period.
 * A grant whose audit row cannot be written (a full disk, a refused insert) still answers 0,
 * but the loss is made known: VardexLastError() then tells why, and the library reports it as a
 * warning to the message handler when one is installed (an OK box, captioned "用户权限"), else
 * on standard error. After any other answer VardexLastError() is empty.
 */
#define VARDEX_RIGHT_NO_USER 1
#define VARDEX_RIGHT_NO_GROUP 2
#define VARDEX_RIGHT_NOT_HELD 3

VARDEX_API int32_t VARDEX_CALL CheckUserRight(const char* userId, int32_t rightId, const char* failText,
                                              int32_t mode);

/*
 * VardexQueryRights answers, for count items at once, what CheckUserRight would answer for each:
 * answers[i] receives VARDEX_OK, VARDEX_RIGHT_NO_USER, VARDEX_RIGHT_NO_GROUP or
 * VARDEX_RIGHT_NOT_HELD (0 to 3, as above) for rightIds[i]. It only asks: no box is shown in
 * any case and no audit row is written. Its cost barely grows with count (the user, his user
 * group, then every grant of the one who decides, each read once), where count CheckUserRight
 * calls cost count times theirs.
 * Which to call: VardexQueryRights to enable or disable menu entries and buttons (at start or
 * after a login), CheckUserRight when the user actually starts the function, so that the use is
 * checked at that moment and recorded in the audit log.
 * Returns 0 (every answer stored), or VARDEX_ERROR: count negative, rightIds or answers NULL
 * while count is above 0, no session, userId not valid text, a call from another thread, a
 * database error; answers is then left as it was. With count 0 nothing is read. Every rightIds
 * entry is read before any answer is written, so answers may overlap rightIds.
 */
VARDEX_API int32_t VARDEX_CALL VardexQueryRights(const char* userId, const int32_t* rightIds, int32_t count,
                                                 int32_t* answers);

/*
 * ChangeUserPassword verifies oldPassword on workDate (as CheckUserLogin, but without recording
 * a login) and stores newPassword enciphered, or as a bcrypt hash when the store's policy says
 * password.hash=bcrypt; an empty newPassword is stored as empty.
 * Returns
 *   VARDEX_OK                    0  changed (the audit row "用户更改密码成功" is written under
 *                                   the session's current user)
 *   VARDEX_LOGIN_...             1 to 4 as CheckUserLogin
 *   VARDEX_PASSWORD_SAME         5  newPassword equals oldPassword (nothing changed)
 *   VARDEX_PASSWORD_NOT_CHANGED  6  the update changed no row
 *   VARDEX_PASSWORD_POLICY       7  newPassword does not meet the store's policy: it has fewer
 *                                   characters than password.minlength, or, where passwords
 *                                   are stored as bcrypt hashes (password.hash=bcrypt, a
 *                                   secured store), more than 72 bytes of UTF-8, since bcrypt
 *                                   uses the first 72 only (nothing changed)
 *   VARDEX_ERROR                    a database error (under cipher text, a new password of more
 *                                   than 49 bytes gives more than the 100 characters userPwd
 *                                   holds, and the store refuses it)
 * The update is made only while the stored password is still the one just verified: of several
 * changes racing from the same old password one answers VARDEX_OK and the others
 * VARDEX_PASSWORD_NOT_CHANGED (or VARDEX_LOGIN_WRONG_PASSWORD when they verify after it).
 */
#define VARDEX_PASSWORD_SAME 5
#define VARDEX_PASSWORD_NOT_CHANGED 6
#define VARDEX_PASSWORD_POLICY 7

VARDEX_API int32_t VARDEX_CALL ChangeUserPassword(const char* userId, const char* oldPassword,
                                                  const char* newPassword, const char* workDate);

/* ShowAbout shows the about box. It needs no session. Returns 0, or VARDEX_ERROR. */
VARDEX_API int32_t VARDEX_CALL ShowAbout(void);

/* ---------------------------------------------------------------------------------------------
 * Standard windows (modal; they need a display, and an open session except ShowAbout)
 * ------------------------------------------------------------------------------------------- */

/*
 * ShowLoginDialog asks for a user ID and a password and verifies every attempt.
 *   caption    window title; empty or NULL keeps "系统登录"
 *   workDate   working date for the verification; empty: today
 *   userIdRef  address of the caller's pointer to a buffer of at least 21 bytes; on success the
 *              buffer receives the trimmed user ID, cut at the last whole character within 20
 *              bytes (a UTF-8 character is never split), and a terminating zero
 *   countRef   in: 10 or less = number of attempts, more than 10 = seconds; out: the full byte
 *              length of the trimmed user ID on success, else 0
 *   shiftRef   in: 0 = no shift selector, else the shift the selector starts at; out: the shift
 *              chosen (1 when there was no selector)
 *   maxShift   highest shift offered (read only when the selector is shown)
 * Returns
 *   VARDEX_OK                0  verified
 *   VARDEX_DIALOG_FAILED     1  the last allowed attempt failed
 *   VARDEX_DIALOG_TIMED_OUT  2  the time ran out
 *   VARDEX_DIALOG_CANCELLED  3  cancelled or closed
 *   VARDEX_ERROR                no session, a NULL or negative countRef, no display, a database
 *                               error
 */
#define VARDEX_DIALOG_FAILED 1
#define VARDEX_DIALOG_TIMED_OUT 2
#define VARDEX_DIALOG_CANCELLED 3

VARDEX_API int32_t VARDEX_CALL ShowLoginDialog(const char* caption, const char* workDate, char** userIdRef,
                                               int32_t* countRef, int32_t* shiftRef, int32_t maxShift);

/*
 * ShowChangePasswordDialog lets userId change his or her own password on workDate (empty:
 * today). Returns VARDEX_OK (0) when the password was changed, VARDEX_DIALOG_NOT_CHANGED (1)
 * when it was not, VARDEX_ERROR.
 */
#define VARDEX_DIALOG_NOT_CHANGED 1

VARDEX_API int32_t VARDEX_CALL ShowChangePasswordDialog(const char* userId, const char* workDate);

/*
 * EditRightList opens the permission item list editor. useTransaction 1: the visit is one
 * transaction, committed on OK and rolled back on Cancel. Returns 0, or VARDEX_ERROR.
 */
VARDEX_API int32_t VARDEX_CALL EditRightList(int32_t useTransaction);

/*
 * ShowRightManager opens the administration window for users, user groups, permission groups
 * and grants. useTransaction exactly 1: the visit is one transaction ("保存(&S)" commits part-way,
 * OK commits, anything else rolls back). showDiscount nonzero: the user dialogs show the
 * discount field. Returns 0, or VARDEX_ERROR.
 */
VARDEX_API int32_t VARDEX_CALL ShowRightManager(int32_t useTransaction, int32_t showDiscount);

/*
 * VardexShowAuditLog opens the audit log window: a chart of logins, failed logins and rights
 * used per day, the rows newest first, filtered by user, computer, dates and text as they are
 * typed, the number of rows the filters leave, and export of those rows as CSV. It changes
 * nothing in the store. It needs an administrator's account: on a secured store a desktop's
 * session gets VARDEX_ERROR, the message saying so. Returns 0, or VARDEX_ERROR (no session, no
 * display, a database error).
 */
VARDEX_API int32_t VARDEX_CALL VardexShowAuditLog(void);

/* ---------------------------------------------------------------------------------------------
 * The audit log
 * ------------------------------------------------------------------------------------------- */

/* Order of VardexQueryLog's rows. Rows written in the same second come in no particular order;
 * rows without a time count as the oldest. */
#define VARDEX_LOG_NEWEST_FIRST 0
#define VARDEX_LOG_OLDEST_FIRST 1

/* Receives one audit row: the computer's name, the user's name as the row carries it (the
 * display name; for a refused login, the user ID as typed), the time ("yyyy-MM-dd hh:mm:ss") and
 * the event text as stored (Chinese, whatever the language: see docs/administrator.md for the
 * texts). position marks where the row stands: given as VardexQueryLog's after, the reading goes
 * on after this row. The texts are valid only during the call. Return 0 for the next row, any
 * other value to stop. */
typedef int32_t(VARDEX_CALL* VardexLogRowHandler)(const char* computer, const char* user, const char* time,
                                                  const char* text, const char* position, void* context);

/*
 * VardexQueryLog reads the audit log (qx_Logs), filtered, and hands each row to handler.
 *   user      rows whose user name starts with this text; NULL or "": every user
 *   computer  rows whose computer name starts with this text; NULL or "": every computer
 *   text      rows whose event text contains this text; NULL or "": every text
 *   since     rows at or after this time, "yyyy-MM-dd hh:mm:ss" or a day "yyyy-MM-dd"
 *   until     rows at or before this time; a day "yyyy-MM-dd" includes the whole day
 *   order     VARDEX_LOG_NEWEST_FIRST or VARDEX_LOG_OLDEST_FIRST
 *   after     NULL or "": from the first row in that order; else a position a handler was given
 *             (with the same filters and order): the rows after it
 *   limit     the most rows to hand over; 0 or less: every row
 *   handler   called once per row, in order; NULL: nothing is read, the rows are counted
 *   context   passed to handler as it is
 * Every filter text matches itself: quotes, backslashes, "%", "_" and "*" are ordinary
 * characters. Names and texts compare as the database compares them (letter case counts on
 * SQLite and PostgreSQL). Times are compared as the stored text.
 * Returns the number of rows handed to handler (with handler NULL: the number of rows the
 * filters keep, at most 2147483647), or VARDEX_ERROR: no session, a desktop's account on a
 * secured store (the log is for an administrator's account), an order other than the two, an
 * argument that is not valid text, a position not handed out by this call on this store, a
 * database error. Rows are read a page at a time, so a handler that stops early costs little on
 * a large log; a handler may call the library, but not ConnectDatabase or DisconnectDatabase.
 */
VARDEX_API int32_t VARDEX_CALL VardexQueryLog(const char* user, const char* computer, const char* text,
                                              const char* since, const char* until, int32_t order,
                                              const char* after, int32_t limit, VardexLogRowHandler handler,
                                              void* context);

/* ---------------------------------------------------------------------------------------------
 * Message boxes
 *
 * Every box of the library and of its windows is described by its text, its caption and a type
 * made of the classic message-box bits below; the answer is the button pressed. By default the
 * library shows its own boxes (without a display the text goes to standard error and the box
 * answers as if OK, or Yes, was pressed). A client program can take every box itself.
 * ------------------------------------------------------------------------------------------- */

#define VARDEX_MB_OK 0x00000000u
#define VARDEX_MB_OKCANCEL 0x00000001u
#define VARDEX_MB_YESNOCANCEL 0x00000003u
#define VARDEX_MB_YESNO 0x00000004u
#define VARDEX_MB_ICONERROR 0x00000010u
#define VARDEX_MB_ICONQUESTION 0x00000020u
#define VARDEX_MB_ICONWARNING 0x00000030u
#define VARDEX_MB_ICONINFORMATION 0x00000040u

#define VARDEX_IDOK 1
#define VARDEX_IDCANCEL 2
#define VARDEX_IDYES 6
#define VARDEX_IDNO 7

/* text and caption are in the process's local 8-bit encoding; user is the pointer given to
 * VardexSetMessageHandler. Return the button pressed (VARDEX_ID...). */
typedef int32_t(VARDEX_CALL* VardexMessageHandler)(const char* text, const char* caption, uint32_t type,
                                                   void* user);
VARDEX_API void VARDEX_CALL VardexSetMessageHandler(VardexMessageHandler handler,
                                                    void* user); /* NULL: the built-in boxes again */

/* The message of the last failed call on this thread, or the reason of the last ConnectDatabase
 * that answered 1; "" after a call that succeeded. */
VARDEX_API const char* VARDEX_CALL VardexLastError(void);

/* The library's version, "major.minor.patch". */
VARDEX_API const char* VARDEX_CALL VardexVersion(void);

/* The language of the windows and message boxes the library shows from now on: "zh" (Chinese,
 * the default whatever the locale says) or "en" (English). Without this call the environment
 * variable VARDEX_LANG ("zh" or "en") is read at the library's first call. Only what is shown
 * changes (the boxes' texts and captions quoted in this header, also as a message handler
 * receives them, are then in English): the texts written to the store (audit rows) and the
 * codes and texts handed back to the caller are the same in every language, so a store reads
 * the same to every client. A
 * window already open keeps its language. Returns 0, or VARDEX_ERROR (nothing changes) for any
 * other code, NULL, a call from another thread, or a call made while another library call is
 * in progress (from a message handler or while a library window is open). */
VARDEX_API int32_t VARDEX_CALL VardexSetLanguage(const char* code);

#ifdef __cplusplus
}
#endif

#endif /* VARDEX_H */
