#pragma once
// Shared by the files that export the C interface: argument conversion and the guard that turns
// every error into VARDEX_ERROR with the message kept for VardexLastError().
#include "capi/vardex.h"
#include "library/dmain.h"
#include "platform/errors.h"

#include <QString>
#include <exception>
#include <string>

namespace vardex::capi {

// A C text shown to somebody (a caption, a fail text): local 8-bit encoding; NULL reads as
// empty; a byte that is not valid text is shown as the replacement character.
inline QString text(const char* s) {
    return s ? QString::fromLocal8Bit(s) : QString();
}

// A C text that is compared, stored or sent to the store (IDs, passwords, keys, dates, the
// connection string): NULL reads as empty; bytes that are not valid text in the local 8-bit
// encoding raise Error naming the argument. Decoding them leniently would make different byte
// strings equal (every bad byte reads as U+FFFD).
QString exactText(const char* s, const char* argument);

void setLastError(const std::string& message);
void clearLastError();
// Makes the application object and the message-box presenter ready. Returns false, doing
// nothing, when the calling thread is not the library's thread: the thread of the application
// object, or the first thread that called the library when the program had none.
bool prepare();
std::string wrongThreadMessage();

enum class Scope { Call, SessionChange };

// Runs one exported call on the process's session. Scope::Call marks a call in progress there (a
// ConnectDatabase or DisconnectDatabase made from inside it is refused); ConnectDatabase and
// DisconnectDatabase themselves use Scope::SessionChange.
template <typename F> int32_t guarded(Scope scope, F&& body) {
    try {
        clearLastError();
        if (!prepare()) {
            setLastError(wrongThreadMessage());
            return VARDEX_ERROR;
        }
        if (scope == Scope::SessionChange)
            return body();
        CallInProgress busy(processSession());
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

template <typename F> int32_t guarded(F&& body) {
    return guarded(Scope::Call, std::forward<F>(body));
}

} // namespace vardex::capi
