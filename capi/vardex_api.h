#pragma once
// Shared by the files that export the C interface: argument conversion and the guard that turns
// every error into VARDEX_ERROR with the message kept for VardexLastError().
#include "capi/vardex.h"
#include "platform/errors.h"

#include <QString>
#include <exception>
#include <string>

namespace vardex::capi {

// A C text argument: local 8-bit encoding; NULL reads as empty.
inline QString text(const char* s) { return s ? QString::fromLocal8Bit(s) : QString(); }

void setLastError(const std::string& message);
void clearLastError();
// Makes the application object and the message-box presenter ready.
void prepare();

template <typename F>
int32_t guarded(F&& body) {
    try {
        clearLastError();
        prepare();
        return body();
    } catch (const vardex::Error& e) {
        setLastError(e.message().toLocal8Bit().toStdString());
    } catch (const std::exception& e) {
        setLastError(e.what());
    } catch (...) {
        setLastError("unknown error");
    }
    return VARDEX_ERROR;
}

} // namespace vardex::capi
