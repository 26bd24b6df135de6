#include "library/dmain.h"
#include "library/auditlog.h"
#include "library/cipher.h"
#include "library/installer.h"
#include "library/securestore.h"
#include "library/storeschema.h"
#include "library/uitext.h"
#include "platform/msgservice.h"
#include "platform/passwordhash.h"
#include "platform/sqldialect.h"
#include "platform/sysinfo.h"

#include <QDateTime>
#include <QSet>

#include <cmath>
#include <optional>
#include <vector>

namespace vardex {

SessionValues& session() {
    static SessionValues values;
    return values;
}

bool hasDataModule() {
    return dData != nullptr;
}

TdData& dataModule() {
    if (!dData)
        throw DbError(QStringLiteral("No database session is open (call ConnectDatabase first)."));
    return *dData;
}

QString todayText() {
    return QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
}

QString nowText() {
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

namespace {
int g_callDepth = 0;

void refuseWhileBusy(const char* call) {
    if (g_callDepth > 0)
        throw Error(
            QStringLiteral("%1 was called while another library call is still in progress (from a message "
                           "handler or a window); it is refused and the session is left as it is.")
                .arg(QLatin1String(call)));
}
} // namespace

CallInProgress::CallInProgress() {
    ++g_callDepth;
}
CallInProgress::~CallInProgress() {
    --g_callDepth;
}
int CallInProgress::depth() {
    return g_callDepth;
}

int ConnectDatabase(const QString& connectionString, const QString& userId, const QString& password,
                    const QString& workDate, const QString& cipherKey, QString* failure) {
    refuseWhileBusy("ConnectDatabase");
    int result = connection::Failed;
    // A second ConnectDatabase replaces the previous data module; its connection is closed
    // without a logout row (the session values, and so the current user, carry over).
    delete dData;
    dData = nullptr;
    dData = new TdData;
    dData->ADOcn.setConnectionString(connectionString);
    try {
        dData->ADOcn.open(userId, password);
    } catch (const Error& e) {
        // A connection that cannot be opened is answered with Failed and no message; the reason
        // goes to the caller that asked for it.
        if (failure)
            *failure = e.message();
    }
    if (dData->ADOcn.connected()) {
        // A desktop's account on a secured store makes every check a call of the store's
        // functions, which apply the password policy themselves; otherwise the store's password
        // policy is read once here: the logins of the session send no statement for it. A store
        // that cannot be asked, or a policy that cannot be read, fails the connection.
        // The store's version is read here too (one statement, on a store that records one): a
        // store newer than this library is refused (VARDEX_ERROR); an older one opens, and what
        // needs a later version's tables says to run vardex-cli upgrade.
        try {
            dData->Secured = securestore::detect(dData->ADOcn, &dData->SecuredSchema);
            if (!dData->Secured) {
                const int found = recordedStoreVersion(dData->ADOcn);
                const int newest = newestStoreVersion(dData->ADOcn.dialect());
                if (found > newest) {
                    result = connection::NewerStore;
                    throw Error(newerStoreText(found, newest));
                }
                dData->Policy = policy::readPolicy(dData->ADOcn);
            }
        } catch (const Error& e) {
            if (failure)
                *failure = e.message();
            dData->ADOcn.close();
            dData->ADOcn.forgetCredentials();
        }
    }
    if (dData->ADOcn.connected()) {
        SessionValues& s = session();
        s.WorkDate = workDate.isEmpty() ? todayText() : workDate;
        s.CipherKey = cipherKey.isEmpty() ? QStringLiteral("kmpq") : cipherKey;
        result = Ok;
        s.ComputerName = computerName();
        s.LoginUpdatesSession = true;
        s.DateSeparator = QLatin1Char('-');
    }
    return result;
}

void DisconnectDatabase() {
    refuseWhileBusy("DisconnectDatabase");
    TdData& d = dataModule();
    if (!session().CurrentUserName.isEmpty()) {
        if (d.Secured)
            securestore::logout(d.ADOcn, d.SecuredSchema, session().ComputerName, session().CurrentUserName);
        else
            WriteLog(QStringLiteral("用户退出登录"));
    }
    d.ADOcn.close();
    d.ADOcn.forgetCredentials();
    delete dData;
    dData = nullptr;
}

void ExecSql(const QString& sql) {
    dataModule().ADOcn.execute(sql);
}

int OpenOrExecute(AdoQuery& query) {
    try {
        query.open();
        return query.recordCount();
    } catch (const std::exception&) {
        // The text is tried once more as a command; its error is the one the caller sees. Not
        // when the connection was lost and could not be opened again: the next host of a
        // failover string may answer the second try, and a SELECT run as a command returns no
        // rows, which would read as "no such user".
        if (query.connection() && !query.connection()->connected())
            throw;
    }
    return query.execSql();
}

void WriteLog(const QString& text) {
    WriteLog(text, session().CurrentUserName);
}

namespace {
QString auditRowSql(const QString& text, const QString& userName,
                    const QString& computer = session().ComputerName) {
    return QStringLiteral("INSERT INTO qx_Logs VALUES (") + schema::sqlLiteral(computer) + QLatin1Char(',') +
           schema::sqlLiteral(userName) + QStringLiteral(",'") + nowText() + QStringLiteral("',") +
           schema::sqlLiteral(text) + QLatin1Char(')');
}

// The row of a refused login, under the user ID as typed: the names are cut to the columns, so
// that no typed ID can make the row fail.
void writeFailedLogin(int code, bool locked, const QString& userId) {
    AdoConnection& cn = dataModule().ADOcn;
    cn.executeOutsideTransaction(auditRowSql(
        audit::failedLoginText(code, locked), audit::cutToColumn(userId, audit::kUserWidth, cn.dialect()),
        audit::cutToColumn(session().ComputerName, audit::kComputerWidth, cn.dialect())));
}
} // namespace

void WriteLog(const QString& text, const QString& userName) {
    // An audit row outlasts the rollback of a transaction open meanwhile (a window's Cancel).
    dataModule().ADOcn.executeOutsideTransaction(auditRowSql(text, userName));
}

void ClearLogs(const QString& beforeTime) {
    CallInProgress busy;
    securestore::refuseOnDesktop("ClearLogs");
    QString sql = QStringLiteral("DELETE qx_Logs");
    if (!beforeTime.isEmpty())
        sql += QStringLiteral(" where theTime <= ") + schema::sqlLiteral(beforeTime);
    ExecSql(sql);
}

} // namespace vardex

// ---------------------------------------------------------------------------------------------
// Access-control calls

namespace vardex {

namespace {

const uint32_t kWarningBox = mb::Ok | mb::IconWarning;

// Byte-wise comparison of two texts as the store's 8-bit code page has them: unsigned bytes,
// the first difference decides, a prefix is the smaller.
int compareBytes(const QString& a, const QString& b) {
    const QByteArray x = toCipherBytes(a);
    const QByteArray y = toCipherBytes(b);
    return x < y ? -1 : (y < x ? 1 : 0);
}

} // namespace

QString login::builtInText(int code) {
    switch (code) {
    case Disabled:
        return Ui::tr("该用户被禁止使用, 登录不成功, 请与系统管理员联系.");
    case Expired:
        return Ui::tr("该用户使用期限已过, 登录不成功, 请与系统管理员联系.");
    case WrongPassword:
        return Ui::tr("密码不正确, 登录不成功, 请重试.");
    case NoSuchUser:
        return Ui::tr("无此用户! 登录不成功, 请与系统管理员联系.");
    default:
        return QString();
    }
}

namespace {

// Whether a typed password is the one a row stores: empty for empty, a hash that verifies, or
// cipher text that deciphers to it under the session's key.
bool storedPasswordMatches(const QString& stored, const QString& typed, const QByteArray& typedBytes,
                           const QByteArray& key) {
    if (stored.isEmpty())
        return typed.isEmpty();
    if (isPasswordHash(stored))
        return verifyPasswordHash(typed, stored);
    return decipherBytes(stored, key) == typedBytes;
}

// What a wrong password does under lockout: its attempt, counted before the verification,
// stays counted, and the attempt that reached the limit writes the lock's audit row under the
// user's name.
void countWrongPassword(TdData& d, int attempt, const QString& userName) {
    if (attempt == d.Policy.lockoutFailures)
        WriteLog(QStringLiteral("账号锁定"), userName);
}

// The matched row still holds cipher text while the store asks for hashes: it is re-written as
// the hash of the password just verified, unless another desktop changed it meanwhile.
void upgradeStoredPassword(TdData& d, const QString& userId, const QString& stored, const QString& typed) {
    if (!d.Policy.bcrypt || stored.isEmpty() || isPasswordHash(stored))
        return;
    ExecSql(QStringLiteral("Update qx_user set userPwd = ") +
            schema::sqlLiteral(hashPassword(typed, d.Policy.cost)) + QStringLiteral(" where userID = ") +
            schema::sqlLiteral(userId) + QStringLiteral(" and userPwd = ") + schema::sqlLiteral(stored));
}

// The answer of the row whose password matched: Disabled or Expired with the library's text in
// message, or Verified, the login then recorded while the session records logins.
int matchedRowAnswer(AdoQuery& q, SessionValues& s, const QString& userId, QString& message) {
    const QString startTime = q.fieldByName(QStringLiteral("startTime")).asString();
    const QString endTime = q.fieldByName(QStringLiteral("endTime")).asString();
    const QString allow = q.fieldByName(QStringLiteral("Allow")).asString();
    const QString userName = q.fieldByName(QStringLiteral("userName")).asString();
    if (allow != schema::kGranted) {
        message = login::builtInText(login::Disabled);
        return login::Disabled;
    }
    if (compareBytes(s.WorkDate, startTime) < 0 || compareBytes(s.WorkDate, endTime) > 0) {
        message = login::builtInText(login::Expired);
        return login::Expired;
    }
    if (!s.LoginUpdatesSession)
        return login::Verified;
    if (!s.CurrentUserName.isEmpty())
        WriteLog(QStringLiteral("用户退出登录"));
    // The user becomes current only once his login row is written: a login that ends in an
    // error leaves the session's rows under the user it had.
    WriteLog(QStringLiteral("用户登录"), userName);
    s.CurrentUserID = userId;
    s.CurrentUserName = userName;
    return login::Verified;
}

// Shows a refusal as the display mode says, and answers its code.
int reportLoginAnswer(int code, QString message, const QString* failText, int mode) {
    switch (mode) {
    case 1:
        if (!failText)
            return code;
        message = *failText;
        break;
    case 2:
        break;
    default:
        // Mode 0, and any mode a caller was not meant to pass: nothing is shown.
        return code;
    }
    showMessage(message, Ui::tr("用户登录"), kWarningBox);
    return code;
}

// CheckUserLogin on a secured store: the attempt (vardex_login_attempt verifies and counts)
// and its answer (vardex_answer, which writes the logout and login rows); the session is
// updated here.
int securedLogin(const QString& userId, const QString& password, const QString& workDate,
                 const QString* failText, int mode) {
    CallInProgress busy;
    SessionValues& s = session();
    s.WorkDate = workDate.isEmpty() ? todayText() : workDate;
    const securestore::LoginAnswer a = securestore::login(
        dataModule().ADOcn, dataModule().SecuredSchema, userId, password, s.WorkDate, s.ComputerName,
        s.LoginUpdatesSession ? s.CurrentUserName : QString(), s.LoginUpdatesSession);
    if (a.code != login::Verified)
        return reportLoginAnswer(a.code, login::builtInText(a.code), failText, mode);
    if (s.LoginUpdatesSession) {
        s.CurrentUserID = userId;
        s.CurrentUserName = a.userName;
    }
    return login::Verified;
}

// CheckUserLogin, and the verification of ChangeUserPassword (upgrade false: the stored
// password is left as it is, the change writes its own).
int verifyLogin(const QString& userId, const QString& password, const QString& workDate,
                const QString* failText, int mode, bool upgrade) {
    CallInProgress busy;
    SessionValues& s = session();
    TdData& d = dataModule();
    const PasswordPolicy& policy = d.Policy;
    s.WorkDate = workDate.isEmpty() ? todayText() : workDate;

    AdoQuery& q = d.ADOqrCheck;
    q.close();
    q.clearSql();
    q.addSql(QStringLiteral("select * from qx_user where userID = ") + schema::sqlLiteral(userId) +
             QStringLiteral(" and zuid > %1").arg(schema::kMemberBase));
    OpenOrExecute(q);

    int code = login::Verified;
    QString message;
    // Under lockout the attempt is counted, and committed, before the password is tried: however
    // many desktops guess at once, no more than the limit are verified.
    const int attempt =
        q.recordCount() > 0 && policy.lockoutOn() ? policy::countAttempt(d.ADOcn, policy, userId) : -1;
    if (q.recordCount() == 0) {
        // An unknown ID costs what a wrong password costs, so the answers' times tell nothing.
        if (policy.bcrypt)
            spendVerification(password, policy.cost);
        code = login::NoSuchUser;
        if (mode == 2)
            message = login::builtInText(code);
    } else if (attempt == 0) {
        // A locked user is answered as a disabled one; the password is not even tried.
        code = login::Disabled;
        message = login::builtInText(code);
    } else {
        // The password picks the row: the first whose stored password matches it.
        const QByteArray typed = toCipherBytes(password);
        const QByteArray key = toCipherBytes(s.CipherKey);
        q.first();
        const QString firstName = q.fieldByName(QStringLiteral("userName")).asString();
        bool matched = false;
        for (; !q.eof(); q.next()) {
            if (storedPasswordMatches(q.fieldByName(QStringLiteral("userPwd")).asString(), password, typed,
                                      key)) {
                matched = true;
                break;
            }
        }
        if (!matched) {
            if (policy.lockoutOn())
                countWrongPassword(d, attempt, firstName);
            code = login::WrongPassword;
            if (mode == 2)
                message = login::builtInText(code);
        } else {
            if (policy.lockoutOn())
                policy::clearFailures(d.ADOcn, userId);
            if (upgrade)
                upgradeStoredPassword(d, userId, q.fieldByName(QStringLiteral("userPwd")).asString(),
                                      password);
            code = matchedRowAnswer(q, s, userId, message);
            if (code == login::Verified)
                return code;
        }
    }
    q.close();
    if (policy.auditFailures)
        writeFailedLogin(code, attempt == 0, userId);
    return reportLoginAnswer(code, message, failText, mode);
}

} // namespace

int CheckUserLogin(const QString& userId, const QString& password, const QString& workDate,
                   const QString* failText, int mode) {
    if (dataModule().Secured)
        return securedLogin(userId, password, workDate, failText, mode);
    return verifyLogin(userId, password, workDate, failText, mode, true);
}

QString rightRefusedText() {
    return Ui::tr("您没有使用这个功能的权限, 要想使用, 请与系统管理员联系.");
}

namespace {

// Whose grants decide for userId: his own when he is outside any user group, his group's for a
// member. Answers Held (0) with the deciding userID in *effective, NoSuchUser when there is no
// such user, NoGroup when the member's group is missing; the first row found decides. The query
// is left closed.
int decidingUser(AdoQuery& q, const QString& userId, QString* effective) {
    q.close();
    q.setSql(QStringLiteral("select * from qx_user where userid = ") + schema::sqlLiteral(userId));
    OpenOrExecute(q);
    if (q.recordCount() == 0) {
        q.close();
        return rights::NoSuchUser;
    }
    q.first();
    const int zuid = q.fieldByName(QStringLiteral("zuid")).asInteger();
    q.close();
    if (zuid >= schema::kNoGroupZuid) {
        *effective = userId;
        return rights::Held;
    }
    // A member is judged by his user group's grants. The group number is written as computed,
    // so a row below 1000 asks for a negative number and finds nothing.
    q.setSql(QStringLiteral("select * from qx_user where zuid =") +
             QString::number(static_cast<qint64>(zuid) - schema::kMemberBase));
    q.open();
    if (q.recordCount() == 0) {
        q.close();
        return rights::NoGroup;
    }
    q.first();
    *effective = q.fieldByName(QStringLiteral("userID")).asString();
    q.close();
    return rights::Held;
}

// Writes the audit row of a granted check, the item's name read from q (on its qx_Name row, if
// any). A failure never turns the grant into an error, but it is made known: as a warning, and
// with its reason in *auditLoss.
void recordRightUse(AdoQuery& q, const QString& userId, int rightId, QString* auditLoss) {
    QString reason;
    try {
        q.first();
        const QString name = q.fieldByName(QStringLiteral("qxName")).asString();
        WriteLog(QStringLiteral("使用权限(") + name + QLatin1Char(')'));
        return;
    } catch (const Error& e) {
        reason = e.message();
    } catch (const std::exception& e) {
        reason = QString::fromLocal8Bit(e.what());
    } catch (...) {
    }
    if (reason.isEmpty())
        reason = QStringLiteral("unknown error");
    if (auditLoss)
        *auditLoss =
            QStringLiteral("CheckUserRight: the right %1 of %2 was granted, but its audit row could not "
                           "be written: %3")
                .arg(rightId)
                .arg(userId, reason);
    notifyWarning(Ui::tr("审计日志写入失败, 这次权限使用没有记录: ") + reason, Ui::tr("用户权限"));
}

} // namespace

namespace {
int rightRefused(int code, bool defined, int rightId, const QString* failText, int mode);
} // namespace

int CheckUserRight(const QString& userId, int rightId, const QString* failText, int mode,
                   QString* auditLoss) {
    CallInProgress busy;
    TdData& d = dataModule();
    if (d.Secured) {
        const securestore::RightAnswer a = securestore::checkRight(
            d.ADOcn, d.SecuredSchema, userId, rightId, session().ComputerName, session().CurrentUserName);
        return a.code == rights::Held ? rights::Held
                                      : rightRefused(a.code, a.itemDefined, rightId, failText, mode);
    }
    AdoQuery& q = d.ADOqrCheck;
    QString effective;
    int code = decidingUser(q, userId, &effective);
    if (code == rights::Held) {
        q.clearSql();
        q.addSql(QStringLiteral("select * from qx_user_qx"));
        q.addSql(QStringLiteral("where UserID = ") + schema::sqlLiteral(effective) + QStringLiteral(" and ") +
                 QStringLiteral("qxID = ") + QString::number(rightId) +
                 QStringLiteral(" and AllowCount > 0"));
        q.open();
        const int count = q.recordCount();
        q.close();
        if (count == 0)
            code = rights::NotHeld;
    }

    q.close();
    q.clearSql();
    q.addSql(QStringLiteral("select * from qx_Name"));
    q.addSql(QStringLiteral("where qxID = ") + QString::number(rightId));
    q.open();

    if (code == rights::Held) {
        recordRightUse(q, userId, rightId, auditLoss);
        return rights::Held;
    }
    const bool defined = q.recordCount() > 0;
    q.close();
    return rightRefused(code, defined, rightId, failText, mode);
}

namespace {

// Shows what a refused right check shows: the undefined-item box when the item has no qx_Name
// row, then the caller's text (mode 1) or the library's (mode 2). Answers code.
int rightRefused(int code, bool defined, int rightId, const QString* failText, int mode) {
    const QString fail = failText ? *failText : QString();
    if (!defined)
        showMessage(Ui::tr("权限没有定义(") + QString::number(rightId) + QLatin1Char(' ') + fail +
                        QLatin1Char(')'),
                    Ui::tr("用户权限"), kWarningBox);
    if (mode == 1) {
        if (failText)
            showMessage(*failText, Ui::tr("用户权限"), kWarningBox);
    } else if (mode == 2) {
        showMessage(rightRefusedText(), Ui::tr("用户权限"), kWarningBox);
    }
    return code;
}

} // namespace

namespace {

// The item number a stored qxID value stands for in "qxID = <n>", if any. A NULL never matches,
// nor does a value that is no whole number, nor a BLOB (a store without types can hold one; it
// never equals a number). On SQLite a text never equals a number either: the column's integer
// affinity has already turned every text that reads as a number into one.
std::optional<qint64> grantedId(const QVariant& v, bool sqlite) {
    if (v.isNull())
        return std::nullopt;
    switch (v.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float: {
        const double x = v.toDouble();
        if (x == std::floor(x) && std::fabs(x) < 9.0e15)
            return static_cast<qint64>(x);
        return std::nullopt;
    }
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return v.toLongLong();
    case QMetaType::QString:
        break;
    default:
        return std::nullopt;
    }
    if (sqlite)
        return std::nullopt;
    bool ok = false;
    const qint64 id = v.toString().toLongLong(&ok);
    return ok ? std::optional<qint64>(id) : std::nullopt;
}

} // namespace

void QueryUserRights(const QString& userId, const int32_t* rightIds, int count, int32_t* answers) {
    CallInProgress busy;
    TdData& d = dataModule();
    if (count <= 0)
        return;
    if (d.Secured) {
        securestore::queryRights(d.ADOcn, d.SecuredSchema, userId, rightIds, count, answers);
        return;
    }
    // A query of its own: a call made from a message handler while CheckUserRight has the
    // check query open must not close it under that call.
    AdoQuery q(&d.ADOcn);
    QString effective;
    // The user and the group are found as CheckUserRight finds them.
    int code = decidingUser(q, userId, &effective);

    QSet<qint64> granted;
    if (code == rights::Held) {
        code = rights::NotHeld; // for every item not found among the grants
        q.setSql(QStringLiteral("select qxID from qx_user_qx where UserID = ") +
                 schema::sqlLiteral(effective) + QStringLiteral(" and AllowCount > 0"));
        q.open();
        const bool sqlite = d.ADOcn.dialect() == Dialect::SQLite;
        for (int row = 0; row < q.recordCount(); ++row)
            if (const auto id = grantedId(q.value(row, 0), sqlite))
                granted.insert(*id);
        q.close();
    }
    // The ids are all read before the first answer is written: the caller's arrays may overlap.
    const std::vector<int32_t> ids(rightIds, rightIds + count);
    for (int i = 0; i < count; ++i)
        answers[i] = code == rights::NotHeld && granted.contains(ids[i]) ? rights::Held : code;
}

int ChangeUserPassword(const QString& userId, const QString& oldPassword, const QString& newPassword,
                       const QString& workDate) {
    CallInProgress busy;
    SessionValues& s = session();
    TdData& d = dataModule();
    if (d.Secured) {
        // The working date is set as the verification of the classic path sets it.
        s.WorkDate = workDate.isEmpty() ? todayText() : workDate;
        return securestore::changePassword(d.ADOcn, d.SecuredSchema, userId, oldPassword, newPassword,
                                           s.WorkDate, s.ComputerName, s.CurrentUserName);
    }
    int code = login::Verified;
    {
        // Verification only: no audit row, no change of the current user. The flag is restored
        // even when the verification ends with an error.
        const bool saved = s.LoginUpdatesSession;
        s.LoginUpdatesSession = false;
        const QString empty;
        try {
            code = verifyLogin(userId, oldPassword, workDate, &empty, 0, false);
        } catch (...) {
            s.LoginUpdatesSession = saved;
            throw;
        }
        s.LoginUpdatesSession = saved;
    }
    if (code != login::Verified)
        return code;
    // A successful verification leaves the check query on the row whose password matched.
    const QString verified = d.ADOqrCheck.fieldByName(QStringLiteral("userPwd")).asString();
    d.ADOqrCheck.close();
    if (toCipherBytes(oldPassword) == toCipherBytes(newPassword))
        return passwordChange::Same;
    if (!meetsPolicy(d.Policy, newPassword))
        return passwordChange::PolicyRefused;
    const QString stored = storedPassword(d.Policy, newPassword, s.CipherKey);

    // The update counts only while the password verified is still the stored one: under a
    // lock on the user's rows (SQLite: the write lock of BEGIN IMMEDIATE) its cipher text is
    // read again, so of several changes racing from the same old password exactly one is made
    // and the others answer "could not update".
    AdoConnection& cn = d.ADOcn;
    AdoTransaction own(cn, !cn.inTransaction()); // a transaction the caller holds is joined
    int rows = 0;
    {
        const QString who = schema::sqlLiteral(userId);
        QString lockSql;
        switch (cn.dialect()) {
        case Dialect::PostgreSQL:
            lockSql = QStringLiteral("select userPwd from qx_user where userID = ") + who +
                      QStringLiteral(" for update");
            break;
        case Dialect::SqlServer:
            lockSql =
                QStringLiteral("select userPwd from qx_user with (updlock, rowlock) where userID = ") + who;
            break;
        case Dialect::SQLite:
            lockSql = QStringLiteral("select userPwd from qx_user where userID = ") + who;
            break;
        }
        AdoQuery again(&cn, lockSql);
        again.open();
        bool unchanged = false;
        for (again.first(); !again.eof() && !unchanged; again.next())
            unchanged = again.fieldByName(QStringLiteral("userPwd")).asString() == verified;
        again.close();
        if (unchanged)
            rows = cn.execute(QStringLiteral("Update qx_user set userPwd = ") + schema::sqlLiteral(stored) +
                              QStringLiteral(" where userID = ") + who);
        if (own.active()) {
            if (rows > 0)
                own.commit();
            else
                own.rollback();
        }
    }
    if (rows <= 0)
        return passwordChange::NotChanged;
    WriteLog(QStringLiteral("用户更改密码成功"));
    return passwordChange::Changed;
}

bool newPasswordTooLong(const QString& newPassword) {
    const TdData& d = dataModule();
    PasswordPolicy hashing = d.Policy;
    hashing.bcrypt = hashing.bcrypt || d.Secured; // a secured store keeps bcrypt hashes only
    return tooLongToHash(hashing, newPassword);
}

QString newPasswordTooLongText() {
    return Ui::tr("新密码太长(超过 72 字节)! ");
}

bool UnlockUser(const QString& userId, const QString& userName) {
    CallInProgress busy;
    TdData& d = dataModule();
    if (!d.Policy.lockoutOn())
        return false; // nothing is counted, nor sent, while the store has no lockout
    const bool locked = policy::isLocked(d.ADOcn, d.Policy, userId);
    policy::clearFailures(d.ADOcn, userId);
    // The unlock row belongs to the unlock: made in the same transaction, it goes when a window's
    // Cancel (or a dry run) takes the unlock back.
    if (locked)
        d.ADOcn.execute(auditRowSql(QStringLiteral("账号解锁"), userName));
    return locked;
}

QString aboutCaption() {
    return Ui::tr("关于权限管理应用工具");
}

QString aboutText() {
    return Ui::tr("权限管理应用工具 (Vardex)\r\n"
                  "\r\n"
                  "为桌面数据库应用程序管理用户、用户组、权限组和权限项,\r\n"
                  "并提供登录验证、权限检查、密码修改和审计日志.\r\n"
                  "\r\n"
                  "权限库可以是 SQLite 文件、PostgreSQL 服务器或 SQL Server.") +
           QStringLiteral("\r\n\r\n") + Ui::tr("版本 %1").arg(QStringLiteral(VARDEX_VERSION_TEXT));
}

void ShowAbout() {
    showMessage(aboutText(), aboutCaption(), mb::Ok);
}

} // namespace vardex
