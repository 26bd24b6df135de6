// The C export of the administration window.
#include "capi/vardex_api.h"

#include "admin/auditlogwindow.h"
#include "admin/manager.h"
#include "platform/errors.h"
#include "platform/msgbox_qt.h"

extern "C" {

VARDEX_API int32_t VARDEX_CALL ShowRightManager(int32_t useTransaction, int32_t showDiscount) {
    return vardex::capi::guarded([&] {
        // Without a display there is no window to show; Qt must never abort the caller's process.
        if (!vardex::gui::haveWidgets())
            throw vardex::Error(QStringLiteral("No display is available to show the administration window."));
        return vardex::ShowRightManager(useTransaction, showDiscount, vardex::processSession());
    });
}

VARDEX_API int32_t VARDEX_CALL VardexShowAuditLog(void) {
    return vardex::capi::guarded([&] {
        if (!vardex::gui::haveWidgets())
            throw vardex::Error(QStringLiteral("No display is available to show the audit log window."));
        return vardex::ShowAuditLog();
    });
}

} // extern "C"
