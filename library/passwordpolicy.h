#pragma once
// The password policy a store keeps in its own settings table (vardex_settings) and the lockout
// counts it keeps per user ID (vardex_lockout). A store without the table, or without a row,
// reads as the defaults: cipher text, no lockout, no least length, so every store and every
// older desktop goes on working until the operator turns the policy on.
#include "platform/adodb.h"

#include <QMap>
#include <QString>

namespace vardex {

struct PasswordPolicy {
    bool bcrypt = false;        // password.hash: new passwords are stored as bcrypt hashes
    int cost = 10;              // password.cost: the bcrypt work factor
    int lockoutFailures = 0;    // lockout.failures: consecutive wrong passwords that lock; 0 off
    int lockoutMinutes = 15;    // lockout.minutes: how long a lock lasts after the last failure
    int minLength = 0;          // password.minlength: least characters of a new password; 0 none
    bool auditFailures = false; // audit.failures: every refused login writes an audit row
    bool lockoutOn() const { return lockoutFailures > 0; }
};

// bcrypt reads the first 72 bytes of a password only: two passwords that share them would be one.
constexpr int kBcryptLongestBytes = 72;
// Whether a new password is longer than the policy's hash can tell apart: under bcrypt, more
// than 72 bytes of UTF-8.
bool tooLongToHash(const PasswordPolicy& p, const QString& password);
// Whether a new password meets the policy: at least minLength characters (Unicode code points;
// the empty password has none), and not too long to hash.
bool meetsPolicy(const PasswordPolicy& p, const QString& password);
// The form a new password is stored in under the policy: empty stays empty, else a bcrypt hash,
// or cipher text under cipherKey.
QString storedPassword(const PasswordPolicy& p, const QString& password, const QString& cipherKey);

namespace policy {

constexpr char kSettingsTable[] = "vardex_settings";
constexpr char kLockoutTable[] = "vardex_lockout";

// The settings with their default values, in the order `policy show` lists them.
struct Setting {
    const char* name;
    const char* defaultValue;
};
inline constexpr Setting kSettings[] = {
    {"password.hash", "cipher"}, {"password.cost", "10"},     {"lockout.failures", "0"},
    {"lockout.minutes", "15"},   {"password.minlength", "0"}, {"audit.failures", "off"},
};

// What is wrong with value for the setting name (an unknown name, or a value out of its range),
// or empty when it may be stored.
QString valueProblem(const QString& name, const QString& value);

// The stored rows of the settings table, name to value; empty when the store has no table.
QMap<QString, QString> storedSettings(AdoConnection& cn);
// Every setting's value: the stored one, else its default.
QMap<QString, QString> effectiveSettings(AdoConnection& cn);
// The policy of the store. Raises Error naming the setting when a stored value is out of range:
// a store whose policy cannot be read is never taken for one without a policy.
PasswordPolicy readPolicy(AdoConnection& cn);

// Whether the lockout table holds a lock in force for userId, on the database's clock.
bool isLocked(AdoConnection& cn, const PasswordPolicy& p, const QString& userId);
// Counts one attempt at userId's password before it is verified, in one race-free statement
// that commits on its own outside a transaction: returns the count now held (1 to the limit; the
// attempt that reaches the limit is the last one verified), or 0, counting nothing, while a lock
// is in force. A wrong password leaves its attempt counted; a right one clears the count.
int countAttempt(AdoConnection& cn, const PasswordPolicy& p, const QString& userId);
// Forgets the user's failures (a successful login, an unlock).
void clearFailures(AdoConnection& cn, const QString& userId);

} // namespace policy

} // namespace vardex
