#pragma once
// The answer codes of the access-control calls and of the standard windows, as the core and
// the windows return and compare them. They are the values the C interface documents in
// vardex.h (capi/ checks each one against its VARDEX_ name at compile time); the core sits
// below that header and does not include it.

namespace vardex {

constexpr int Ok = 0; // success: the answer 0 of every call

namespace connection {
constexpr int Failed = 1;      // ConnectDatabase could not open the connection
constexpr int NewerStore = -1; // the store is newer than this library knows (VARDEX_ERROR)
} // namespace connection

namespace login {
constexpr int Verified = Ok, Disabled = 1, Expired = 2, WrongPassword = 3, NoSuchUser = 4;
} // namespace login

namespace rights {
constexpr int Held = Ok, NoSuchUser = 1, NoGroup = 2, NotHeld = 3;
} // namespace rights

namespace passwordChange {
// ChangeUserPassword also answers the login codes 1 to 4 of verifying the old password.
constexpr int Changed = Ok, Same = 5, NotChanged = 6;
// The new password does not meet the store's policy (password.minlength); nothing changed.
constexpr int PolicyRefused = 7;
} // namespace passwordChange

namespace loginDialog {
constexpr int Verified = Ok, AttemptsUsed = 1, TimedOut = 2, Cancelled = 3;
} // namespace loginDialog

namespace passwordDialog {
constexpr int Changed = Ok, NotChanged = 1;
} // namespace passwordDialog

} // namespace vardex
