#pragma once
// Private profile (INI) files with the semantics of the Windows profile functions the host's
// settings were designed around:
//
//   - section and key names are matched without regard to case; the first match wins;
//   - a value is read with its surrounding blanks removed, and one pair of matching single or
//     double quotes around it is dropped;
//   - a string read goes into a buffer of a given size: a longer value comes back cut to
//     size - 1 characters; a missing key (or a line without '=') gives the default;
//   - an integer read takes the leading number of the value (decimal, or hexadecimal after
//     "0x"), 0 when there is none, and the default when the key is missing or its value empty;
//   - a write replaces the key's value in place, adds the key at the end of its section, or adds
//     the section at the end of the file; every other line (other keys, sections, comments)
//     stays byte for byte; every file written (a new one, or one that others could read
//     before) is left readable and writable by its owner only.
//
// Files written by Windows are read as they are: CR LF or LF line ends, UTF-8 (with or without
// a byte-order mark), UTF-16 with a byte-order mark, or else the Chinese 8-bit code page (GBK).
// A write keeps the file's encoding and line ends. A file that cannot be read reads as empty.
#include <QString>

namespace vardex::ini {

// The buffer the host's reads pass, in characters.
constexpr int DefaultBufferSize = 1000;

QString getPrivateProfileString(const QString& section, const QString& key, const QString& defaultValue,
                                int bufferSize, const QString& fileName);

int getPrivateProfileInt(const QString& section, const QString& key, int defaultValue,
                         const QString& fileName);

// Writes key=value into section. A null value removes the key; a null key removes the whole
// section. Returns false when the file cannot be written (nothing is changed then).
bool writePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& fileName);

} // namespace vardex::ini
