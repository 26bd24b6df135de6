#pragma once
// The library writes its statements in T-SQL, word for word. This step rewrites the few T-SQL
// forms in use for the other database kinds:
//   Exec proc 'a',1        -> SQLite: INSERT INTO proc VALUES ('a',1)   PostgreSQL: CALL proc('a',1)
//   Insert t (...)         -> INSERT INTO t (...)
//   DELETE t ...           -> DELETE FROM t ...
//   ... AS 权限ID           -> PostgreSQL: AS "权限ID" (an alias keeps its letters and case)
// It works on tokens and never changes text inside quotes or comments.
#include "platform/connstr.h"
#include <QString>

namespace vardex {

QString translateStatement(const QString& tsql, Dialect target);

// The value as an SQL literal: between single quotes, every single quote in it doubled, so it
// stays one literal. Every text value that the system places in a statement goes through here.
QString sqlLiteral(const QString& value);
// The doubling alone, for text that a statement already holds between quotes.
QString escapeQuotes(const QString& value);

// Trims as the classic runtime does: removes leading and trailing characters up to and
// including the blank (control characters, tabs, line ends, blanks).
QString trimBlanks(const QString& text);

} // namespace vardex
