// The exported C interface. Every export converts its texts, runs the call and turns any error
// into VARDEX_ERROR with the message kept for VardexLastError(): a C++ exception must never
// cross into the caller's code.
#include "capi/vardex_api.h"

#include "dialogs/language.h"
#include "library/adminops.h"
#include "library/dmain.h"
#include "platform/msgbox_qt.h"
#include "platform/msgservice.h"

#include <QCoreApplication>
#include <QStringDecoder>
#include <QThread>
#include <cstring>
#include <exception>
#include <mutex>
#include <string>

// The core's answer codes (library/answers.h) are the ones this interface documents.
static_assert(VARDEX_OK == vardex::Ok);
static_assert(VARDEX_CONNECT_FAILED == vardex::connection::Failed);
static_assert(VARDEX_ERROR == vardex::connection::NewerStore);
static_assert(VARDEX_LOGIN_DISABLED == vardex::login::Disabled &&
              VARDEX_LOGIN_EXPIRED == vardex::login::Expired &&
              VARDEX_LOGIN_WRONG_PASSWORD == vardex::login::WrongPassword &&
              VARDEX_LOGIN_NO_USER == vardex::login::NoSuchUser);
static_assert(VARDEX_RIGHT_NO_USER == vardex::rights::NoSuchUser &&
              VARDEX_RIGHT_NO_GROUP == vardex::rights::NoGroup &&
              VARDEX_RIGHT_NOT_HELD == vardex::rights::NotHeld);
static_assert(VARDEX_PASSWORD_SAME == vardex::passwordChange::Same &&
              VARDEX_PASSWORD_NOT_CHANGED == vardex::passwordChange::NotChanged &&
              VARDEX_PASSWORD_POLICY == vardex::passwordChange::PolicyRefused);
static_assert(VARDEX_DIALOG_FAILED == vardex::loginDialog::AttemptsUsed &&
              VARDEX_DIALOG_TIMED_OUT == vardex::loginDialog::TimedOut &&
              VARDEX_DIALOG_CANCELLED == vardex::loginDialog::Cancelled);
static_assert(VARDEX_DIALOG_NOT_CHANGED == vardex::passwordDialog::NotChanged);

namespace vardex::capi {

namespace {
thread_local std::string g_lastError;
}

void setLastError(const std::string& message) {
    g_lastError = message.empty() ? "unknown error" : message;
}
void clearLastError() {
    g_lastError.clear();
}

QString exactText(const char* s, const char* argument) {
    if (!s)
        return QString();
    QStringDecoder decoder(QStringConverter::System, QStringConverter::Flag::Stateless);
    QString out = decoder(QByteArrayView(s));
    if (decoder.hasError())
        throw vardex::Error(
            QStringLiteral("The argument %1 is not valid text in the local 8-bit encoding; it is "
                           "refused rather than read with its invalid bytes replaced.")
                .arg(QLatin1String(argument)));
    return out;
}

bool prepare() {
    // The connection, the queries, the session values and the windows belong to one thread.
    // The check and the making of the application object are one step, so two threads that
    // call first at the same moment cannot both make one.
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    if (QCoreApplication* app = QCoreApplication::instance()) {
        if (app->thread() != QThread::currentThread())
            return false;
    }
    vardex::gui::ensureApplication();
    vardex::gui::installMessagePresenter();
    vardex::gui::applyEnvironmentLanguage();
    return true;
}

std::string wrongThreadMessage() {
    return "Vardex calls must all come from one thread (the thread of the application object, or the "
           "first thread that called the library); this call came from another thread and was refused.";
}

} // namespace vardex::capi

using vardex::capi::guarded;
using vardex::capi::text;

extern "C" {

VARDEX_API int32_t VARDEX_CALL ConnectDatabase(const char* connectionString, const char* userId,
                                               const char* password, const char* workDate,
                                               const char* cipherKey) {
    return guarded(vardex::capi::Scope::SessionChange, [&] {
        using vardex::capi::exactText;
        QString failure;
        const int32_t rc = vardex::ConnectDatabase(
            vardex::processSession(), exactText(connectionString, "connectionString"),
            exactText(userId, "userId"), exactText(password, "password"), exactText(workDate, "workDate"),
            exactText(cipherKey, "cipherKey"), &failure);
        if (rc != VARDEX_OK)
            vardex::capi::setLastError(failure.toLocal8Bit().toStdString());
        return rc;
    });
}

VARDEX_API int32_t VARDEX_CALL DisconnectDatabase(void) {
    return guarded(vardex::capi::Scope::SessionChange, [&] {
        vardex::DisconnectDatabase(vardex::processSession());
        return VARDEX_OK;
    });
}

VARDEX_API int32_t VARDEX_CALL ClearLogs(const char* beforeTime) {
    return guarded([&] {
        vardex::adminops::refuseInWindowTransaction("ClearLogs");
        vardex::ClearLogs(vardex::processSession(), vardex::capi::exactText(beforeTime, "beforeTime"));
        return VARDEX_OK;
    });
}

VARDEX_API int32_t VARDEX_CALL CheckUserLogin(const char* userId, const char* password, const char* workDate,
                                              const char* failText, int32_t mode) {
    return guarded([&] {
        const QString fail = text(failText);
        using vardex::capi::exactText;
        return vardex::CheckUserLogin(vardex::processSession(), exactText(userId, "userId"),
                                      exactText(password, "password"), exactText(workDate, "workDate"),
                                      failText ? &fail : nullptr, mode);
    });
}

VARDEX_API int32_t VARDEX_CALL CheckUserRight(const char* userId, int32_t rightId, const char* failText,
                                              int32_t mode) {
    return guarded([&] {
        const QString fail = text(failText);
        QString auditLoss;
        const int32_t rc =
            vardex::CheckUserRight(vardex::processSession(), vardex::capi::exactText(userId, "userId"),
                                   rightId, failText ? &fail : nullptr, mode, &auditLoss);
        // A grant whose audit row was lost still answers VARDEX_OK; the reason is kept for VardexLastError.
        if (!auditLoss.isEmpty())
            vardex::capi::setLastError(auditLoss.toLocal8Bit().toStdString());
        return rc;
    });
}

VARDEX_API int32_t VARDEX_CALL VardexQueryRights(const char* userId, const int32_t* rightIds, int32_t count,
                                                 int32_t* answers) {
    return guarded([&] {
        if (count < 0)
            throw vardex::Error(QStringLiteral("VardexQueryRights: count is negative (%1).").arg(count));
        if (count > 0 && (!rightIds || !answers))
            throw vardex::Error(
                QStringLiteral("VardexQueryRights: rightIds and answers must not be NULL when "
                               "count is above 0."));
        vardex::QueryUserRights(vardex::processSession(), vardex::capi::exactText(userId, "userId"), rightIds,
                                count, answers);
        return VARDEX_OK;
    });
}

VARDEX_API int32_t VARDEX_CALL ChangeUserPassword(const char* userId, const char* oldPassword,
                                                  const char* newPassword, const char* workDate) {
    return guarded([&] {
        vardex::adminops::refuseInWindowTransaction("ChangeUserPassword");
        using vardex::capi::exactText;
        return vardex::ChangeUserPassword(
            vardex::processSession(), exactText(userId, "userId"), exactText(oldPassword, "oldPassword"),
            exactText(newPassword, "newPassword"), exactText(workDate, "workDate"));
    });
}

VARDEX_API int32_t VARDEX_CALL ShowAbout(void) {
    return guarded([&] {
        vardex::ShowAbout();
        return VARDEX_OK;
    });
}

VARDEX_API void VARDEX_CALL VardexSetMessageHandler(VardexMessageHandler handler, void* user) {
    vardex::capi::clearLastError();
    if (!vardex::capi::prepare()) {
        vardex::capi::setLastError(vardex::capi::wrongThreadMessage());
        return;
    }
    if (!handler) {
        vardex::setMessageHandler(vardex::MessageHandler());
        return;
    }
    vardex::setMessageHandler([handler, user](const vardex::MessageBoxRequest& r) -> int {
        const QByteArray t = r.text.toLocal8Bit();
        const QByteArray c = r.caption.toLocal8Bit();
        return handler(t.constData(), c.constData(), r.type, user);
    });
}

VARDEX_API int32_t VARDEX_CALL VardexSetLanguage(const char* code) {
    return guarded(vardex::capi::Scope::SessionChange, [&] {
        if (vardex::processSession().callDepth() > 0)
            throw vardex::Error(
                QStringLiteral("VardexSetLanguage: refused while another Vardex call is in progress; "
                               "choose the language before opening a window."));
        if (!code)
            throw vardex::Error(QStringLiteral("VardexSetLanguage: code is NULL; give \"zh\" or \"en\"."));
        // Only the two exact two-letter codes are accepted: longer texts and other bytes are
        // refused before anything is decoded.
        const size_t length = std::strlen(code);
        if (length != 2 || !vardex::gui::setLanguage(QString::fromLatin1(code, 2)))
            throw vardex::Error(
                QStringLiteral("VardexSetLanguage: the language code is not \"zh\" or \"en\"."));
        return VARDEX_OK;
    });
}

VARDEX_API const char* VARDEX_CALL VardexLastError(void) {
    return vardex::capi::g_lastError.c_str();
}

VARDEX_API const char* VARDEX_CALL VardexVersion(void) {
    return VARDEX_VERSION_TEXT;
}

} // extern "C"
