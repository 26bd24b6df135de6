#pragma once
#include <QString>

namespace vardex {

// The computer's name as the audit log records it: the host name, at most 255 bytes of the
// local 8-bit encoding, cut at a whole character. Empty when the name cannot be read.
QString computerName();

// Folder of the running executable, with a trailing '/'.
QString applicationFolder();

} // namespace vardex
