// The C exports of the standard dialogs: login, change password, permission item list.
#include "capi/vardex_api.h"

#include "dialogs/join.h"
#include "dialogs/qxList.h"
#include "dialogs/repass.h"
#include "library/adminops.h"

#include <cstring>

using vardex::capi::guarded;
using vardex::capi::text;

namespace {

// The first whole characters of text whose local 8-bit form fits in maxBytes: a multi-byte
// character is never split.
QByteArray cutAtCharacter(const QString& text, int maxBytes) {
    QByteArray out;
    const QList<uint> characters = text.toUcs4();
    for (const uint u : characters) {
        const char32_t c = u;
        const QByteArray bytes = QString::fromUcs4(&c, 1).toLocal8Bit();
        if (out.size() + bytes.size() > maxBytes)
            break;
        out += bytes;
    }
    return out;
}

} // namespace

extern "C" {

VARDEX_API int32_t VARDEX_CALL ShowLoginDialog(const char* caption, const char* workDate, char** userIdRef,
                                               int32_t* countRef, int32_t* shiftRef, int32_t maxShift) {
    return guarded([&]() -> int32_t {
        if (!countRef)
            throw vardex::Error(QStringLiteral("ShowLoginDialog: countRef is NULL."));
        const int shift = shiftRef ? *shiftRef : 0;
        const vardex::LoginDialogOutcome out =
            vardex::ShowLoginDialog(text(caption), vardex::capi::exactText(workDate, "workDate"), *countRef,
                                    shift, maxShift, vardex::processSession());
        if (out.result != VARDEX_OK) {
            *countRef = 0;
            return out.result;
        }
        const QByteArray id = out.userId.toLocal8Bit();
        *countRef = static_cast<int32_t>(id.size());
        if (userIdRef && *userIdRef) {
            // The caller's buffer holds 20 bytes of text and the terminating zero.
            const QByteArray cut = cutAtCharacter(out.userId, 20);
            std::memcpy(*userIdRef, cut.constData(), static_cast<size_t>(cut.size()));
            (*userIdRef)[cut.size()] = '\0';
        }
        if (shiftRef)
            *shiftRef = out.shift;
        return VARDEX_OK;
    });
}

VARDEX_API int32_t VARDEX_CALL ShowChangePasswordDialog(const char* userId, const char* workDate) {
    return guarded([&] {
        vardex::adminops::refuseInWindowTransaction("ShowChangePasswordDialog");
        return vardex::ShowChangePasswordDialog(vardex::capi::exactText(userId, "userId"),
                                                vardex::capi::exactText(workDate, "workDate"),
                                                vardex::processSession());
    });
}

VARDEX_API int32_t VARDEX_CALL EditRightList(int32_t useTransaction) {
    return guarded([&] {
        vardex::EditRightList(useTransaction, vardex::processSession());
        return VARDEX_OK;
    });
}

} // extern "C"
