#pragma once
// Files that hold secrets: one written for its owner's eyes only, and a check that one read is
// not open to others.
#include <QFile>
#include <QString>

namespace vardex {

// Opens path for writing as a file that only its owner can read or write, emptied: a new file is
// created with mode 0600; an existing one must be a regular file of the caller's own with a
// single name, and is set to 0600 before it is emptied. A symbolic link is never followed. On
// failure file stays closed and error says why.
bool openOwnerOnlyForWriting(QFile& file, const QString& path, QString& error);

// Whether an open file is a regular file that its group or others may read, write or run (a pipe
// or a terminal is no stored file and never counts).
bool openToOthers(const QFile& file);

} // namespace vardex
