// The exported C interface. Every export converts its texts, runs the call and turns any error
// into VARDEX_ERROR with the message kept for VardexLastError(): a C++ exception must never
// cross into the caller's code.
#include "capi/vardex_api.h"

#include "library/dmain.h"
#include "platform/msgbox_qt.h"
#include "platform/msgservice.h"

#include <QCoreApplication>
#include <exception>
#include <string>

namespace vardex::capi {

namespace {
thread_local std::string g_lastError;
}

void setLastError(const std::string& message) { g_lastError = message.empty() ? "unknown error" : message; }
void clearLastError() { g_lastError.clear(); }

void prepare() {
    vardex::gui::ensureApplication();
    vardex::gui::installMessagePresenter();
}

} // namespace vardex::capi

using vardex::capi::guarded;
using vardex::capi::text;

extern "C" {

VARDEX_API int32_t VARDEX_CALL ConnectDatabase(const char* connectionString, const char* userId, const char* password,
                                               const char* workDate, const char* cipherKey) {
    return guarded([&] {
        return vardex::ConnectDatabase(text(connectionString), text(userId), text(password), text(workDate),
                                       text(cipherKey));
    });
}

VARDEX_API int32_t VARDEX_CALL DisconnectDatabase(void) {
    return guarded([&] {
        vardex::DisconnectDatabase();
        return 0;
    });
}

VARDEX_API int32_t VARDEX_CALL ClearLogs(const char* beforeTime) {
    return guarded([&] {
        vardex::ClearLogs(text(beforeTime));
        return 0;
    });
}

VARDEX_API int32_t VARDEX_CALL CheckUserLogin(const char* userId, const char* password, const char* workDate,
                                              const char* failText, int32_t mode) {
    return guarded([&] {
        const QString fail = text(failText);
        return vardex::CheckUserLogin(text(userId), text(password), text(workDate), failText ? &fail : nullptr, mode);
    });
}

VARDEX_API int32_t VARDEX_CALL CheckUserRight(const char* userId, int32_t rightId, const char* failText, int32_t mode) {
    return guarded([&] {
        const QString fail = text(failText);
        return vardex::CheckUserRight(text(userId), rightId, failText ? &fail : nullptr, mode);
    });
}

VARDEX_API int32_t VARDEX_CALL ChangeUserPassword(const char* userId, const char* oldPassword, const char* newPassword,
                                                  const char* workDate) {
    return guarded([&] {
        return vardex::ChangeUserPassword(text(userId), text(oldPassword), text(newPassword), text(workDate));
    });
}

VARDEX_API int32_t VARDEX_CALL ShowAbout(void) {
    return guarded([&] {
        vardex::ShowAbout();
        return 0;
    });
}

VARDEX_API void VARDEX_CALL VardexSetMessageHandler(VardexMessageHandler handler, void* user) {
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

VARDEX_API const char* VARDEX_CALL VardexLastError(void) { return vardex::capi::g_lastError.c_str(); }

VARDEX_API const char* VARDEX_CALL VardexVersion(void) { return VARDEX_VERSION_TEXT; }

} // extern "C"
