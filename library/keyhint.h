#pragma once

#include <QString>

namespace vardex {

class LibrarySession;

// Stored passwords made by the host with its key box unchanged are enciphered under "KMPQ", while
// a client that passes no key gets the library's "kmpq": such a user's right password answers 3.
// After a login on the open session answered 3, this is the other of the two default keys when
// one of the user's stored cipher texts deciphers under it to exactly the password typed (and the
// session runs under one of the two); empty otherwise, and on a secured store (no cipher text).
QString otherDefaultKeyFor(const LibrarySession& s, const QString& userId, const QString& password);
// The same on the process's session (the command-line tool's).
QString otherDefaultKeyFor(const QString& userId, const QString& password);

} // namespace vardex
