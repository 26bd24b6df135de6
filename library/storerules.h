#pragma once
// What a value of the store may be: the checks the administration verbs make of what they are
// given, the import makes of an export file and the store doctor makes of the rows. Each answers
// an empty text for a value that passes, else what is wrong with it (for a message that names the
// value's place before it).
#include "library/storeschema.h"

#include <QString>

namespace vardex::rules {

// The column limits, as the store's vocabulary sets them.
using schema::kIdLength;
using schema::kItemNameLength;
using schema::kPasswordLength;

// A name as the dialogs keep it: no leading or trailing blank, not empty, no control
// character, text that the store's 8-bit conversion keeps (no lone surrogate half), and no
// longer than its column.
QString nameProblem(const QString& value, int maxLength);
// A day as the dialogs write it: yyyy-MM-dd with leading zeros, and a real date.
QString dateProblem(const QString& value);
// The highest discount: a whole percentage.
QString discountProblem(int value);
// A stored password: the empty text, cipher text (upper-case hexadecimal pairs, the seed and at
// least one byte) that fits the column, or a bcrypt hash (platform/passwordhash.h).
QString cipherTextProblem(const QString& value);
// Whether a text holds no lone surrogate half (which would reach the store as '?').
bool isWholeText(const QString& value);

} // namespace vardex::rules
