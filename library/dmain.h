#pragma once
// The session of the access-control library: session values, opening and closing the session,
// the two ways statements reach the store, and the audit log.
#include "library/answers.h"
#include "library/udata.h"

#include <QString>

#include <memory>

namespace vardex {

struct SessionValues {
    QString WorkDate;        // yyyy-MM-dd, the date validity periods are compared with
    QString CipherKey;       // key of the password cipher
    QString ComputerName;    // recorded with every audit row
    QString CurrentUserID;   // the user who last logged in successfully
    QString CurrentUserName; // that user's display name; empty while nobody has logged in
    bool LoginUpdatesSession = false;
    QChar DateSeparator; // set to '-' by a successful ConnectDatabase; the dialogs use it
};

// One session of the library: its values, and its data module (the connection and the queries)
// from ConnectDatabase to DisconnectDatabase. Sessions are independent of each other: two of them
// in one process may be open on two stores, each with its own current user. The values outlive
// DisconnectDatabase on purpose: the current user survives a disconnect and reconnect. A session
// destroyed while open closes its connection without a logout row.
class LibrarySession {
  public:
    LibrarySession();
    ~LibrarySession();
    LibrarySession(const LibrarySession&) = delete;
    LibrarySession& operator=(const LibrarySession&) = delete;

    SessionValues& values() { return m_values; }
    const SessionValues& values() const { return m_values; }
    // True between ConnectDatabase and DisconnectDatabase (the data module exists).
    bool hasData() const { return m_data != nullptr; }
    // The data module, or a DbError when the session is not open.
    TdData& data() const;
    // How many library calls on this session are in progress (CallInProgress).
    int callDepth() const { return m_callDepth; }

  private:
    friend class CallInProgress;
    friend int ConnectDatabase(LibrarySession&, const QString&, const QString&, const QString&,
                               const QString&, const QString&, QString*);
    friend void DisconnectDatabase(LibrarySession&);

    SessionValues m_values;
    std::unique_ptr<TdData> m_data;
    int m_callDepth = 0;
};

// The process's one session: the one the C interface's calls and windows use, as the classic
// calls require one session per process.
LibrarySession& processSession();

// Opens the session. Returns 0 when connected, 1 when the connection was not opened (the
// data module then stays, unconnected, and no session value changes); *failure then receives
// the reason. A store newer than this library knows answers -1 (connection::NewerStore) the
// same way, the reason naming both versions. Raises Error, changing nothing, while another library call
// on the session is in progress.
int ConnectDatabase(LibrarySession& s, const QString& connectionString, const QString& userId,
                    const QString& password, const QString& workDate, const QString& cipherKey,
                    QString* failure = nullptr);
// Writes the logout row of the current user (if any), closes the connection, forgets the
// credentials and frees the data module. An error writing the row ends the call before
// anything is closed. Raises Error while another library call on the session is in progress.
void DisconnectDatabase(LibrarySession& s);

// Marks a library call in progress on a session for as long as it lives. Calls that use the
// data module hold one, so a ConnectDatabase or DisconnectDatabase of the same session made from
// inside them (a message handler, a modal window's loop) is refused instead of freeing what they
// are using.
class CallInProgress {
  public:
    explicit CallInProgress(LibrarySession& s);
    ~CallInProgress();
    CallInProgress(const CallInProgress&) = delete;
    CallInProgress& operator=(const CallInProgress&) = delete;

  private:
    LibrarySession& m_session;
};

void ExecSql(LibrarySession& s, const QString& sql);
// Opens the query and returns its record count; when the open fails, executes the query's text
// as a command and returns the rows affected. An error of that execution reaches the caller.
int OpenOrExecute(AdoQuery& query);

// An audit row under the session's current user, or under the given user name.
void WriteLog(LibrarySession& s, const QString& text);
void WriteLog(LibrarySession& s, const QString& text, const QString& userName);
void ClearLogs(LibrarySession& s, const QString& beforeTime);

// Local date and time in the forms the store keeps.
QString todayText(); // yyyy-MM-dd
QString nowText();   // yyyy-MM-dd hh:mm:ss

// The library's own texts of the login codes (library/answers.h).
namespace login {
QString builtInText(int code);
} // namespace login

// Verifies a login on the working date (empty: today); see vardex.h for the codes and modes.
// failText == nullptr is the caller's null pointer (mode 1 then shows nothing).
int CheckUserLogin(LibrarySession& s, const QString& userId, const QString& password, const QString& workDate,
                   const QString* failText, int mode);

// Whether the user (or the user group he belongs to) holds item rightId. A grant whose audit
// row cannot be written still answers 0; the loss is reported as a warning (notifyWarning)
// and its reason, in the form handed back to a calling program, stored in *auditLoss.
int CheckUserRight(LibrarySession& s, const QString& userId, int rightId, const QString* failText, int mode,
                   QString* auditLoss = nullptr);
QString rightRefusedText();
// Stores in answers[i] the code CheckUserRight would answer for rightIds[i] (rights::), for count
// items, with no box and no audit row. Every id is read before any answer is written, so the
// two arrays may overlap. Whatever the count, one or two statements find the user
// (and his group) and one more reads every grant of the user who decides.
void QueryUserRights(LibrarySession& s, const QString& userId, const int32_t* rightIds, int count,
                     int32_t* answers);

// Verifies the old password and stores the new one enciphered: passwordChange:: or login:: codes.
int ChangeUserPassword(LibrarySession& s, const QString& userId, const QString& oldPassword,
                       const QString& newPassword, const QString& workDate);
// Whether the session's store would refuse newPassword as too long to hash (a secured store, or
// password.hash=bcrypt, and more than 72 bytes of UTF-8), and the windows' reason for it.
bool newPasswordTooLong(const LibrarySession& s, const QString& newPassword);
QString newPasswordTooLongText();

// Lifts a lockout: forgets the user's failures. When they held a lock in force, the audit row
// "账号解锁" is written under userName and the answer is true; otherwise nothing is written.
// Without lockout in the store's policy no statement is sent.
bool UnlockUser(LibrarySession& s, const QString& userId, const QString& userName);

// The same calls on the process's session, for the command-line tool (which runs on that one
// session) until it is given a session of its own.
SessionValues& session();
bool hasDataModule();
TdData& dataModule();
int ConnectDatabase(const QString& connectionString, const QString& userId, const QString& password,
                    const QString& workDate, const QString& cipherKey, QString* failure = nullptr);
void DisconnectDatabase();
void ExecSql(const QString& sql);
void WriteLog(const QString& text);
void WriteLog(const QString& text, const QString& userName);
void ClearLogs(const QString& beforeTime);
int CheckUserLogin(const QString& userId, const QString& password, const QString& workDate,
                   const QString* failText, int mode);
int CheckUserRight(const QString& userId, int rightId, const QString* failText, int mode,
                   QString* auditLoss = nullptr);
void QueryUserRights(const QString& userId, const int32_t* rightIds, int count, int32_t* answers);
int ChangeUserPassword(const QString& userId, const QString& oldPassword, const QString& newPassword,
                       const QString& workDate);
bool newPasswordTooLong(const QString& newPassword);
bool UnlockUser(const QString& userId, const QString& userName);

// The about box.
void ShowAbout();
QString aboutCaption();
QString aboutText();

} // namespace vardex
