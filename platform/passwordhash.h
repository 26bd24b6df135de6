#pragma once
// One-way password hashes: bcrypt in the Modular Crypt Format ("$2a$NN$" + 22 salt characters +
// 31 hash characters, 60 in all), made and checked by the system's crypt library. Only "$2a$" is
// written: it is the form every copy of a store can verify, PostgreSQL's pgcrypto crypt()
// included, which does not know "$2b$". Passwords are hashed over their UTF-8 bytes.
#include <QString>

namespace vardex {

// The work factors a store's policy may ask for.
constexpr int kMinHashCost = 10;
constexpr int kMaxHashCost = 15;

// Whether a stored password is a hash rather than cipher text: "$2a$", "$2b$" or "$2y$", a cost
// of 04 to 15 and 53 characters of the bcrypt alphabet.
bool isPasswordHash(const QString& stored);

// A new hash of password with a fresh random salt at the given cost (kMinHashCost to
// kMaxHashCost). Raises Error when the crypt library cannot make one.
QString hashPassword(const QString& password, int cost);

// Whether password hashes to stored (a hash as isPasswordHash reads it), compared in constant
// time. A stored text that is no hash never verifies.
bool verifyPasswordHash(const QString& password, const QString& stored);

// Spends the time of one verification at the given cost on a fixed hash that no password
// matches, so that an unknown user ID answers no faster than a wrong password.
void spendVerification(const QString& password, int cost);

} // namespace vardex
