#pragma once
// The one reader of SQL text in the system: it cuts a statement into blanks, comments, words,
// quoted names, quoted texts and single other characters, and never looks inside quotes or
// comments. The dialect rewrite, the grid query's select list and the statement masking of
// traces all read statements through it.
#include <QString>
#include <QStringView>
#include <QVector>

namespace vardex {

struct SqlToken {
    enum Kind {
        Space,   // blanks and line ends
        Comment, // -- to the end of the line, or /* ... */
        Word,    // a name, keyword or number; a dot continues it (schema.table)
        Name,    // a quoted name: "..." or [...] (or `...` when asked for)
        Text,    // a quoted text '...'
        Dollar,  // PostgreSQL's $$ ... $$ body (when asked for)
        Other,   // one character of anything else
    };
    Kind kind;
    qsizetype pos;
    qsizetype len;

    bool significant() const { return kind != Space && kind != Comment; }
    bool quoted() const { return kind == Name || kind == Text || kind == Dollar; }
    qsizetype end() const { return pos + len; }
};

struct SqlLexOptions {
    bool dollarQuotes = true;   // $$ opens a body that runs to the next $$
    bool backtickNames = false; // `...` is a quoted name
    bool unicodeWords = true;   // every character beyond ASCII is part of a word (else letters only)
};

// The tokens of the text, in order, covering it whole. An unclosed quote or comment runs to the
// end; a doubled closing quote stands for the character itself.
QVector<SqlToken> lexSql(QStringView text, SqlLexOptions options = SqlLexOptions());

// The token's text.
inline QStringView tokenText(QStringView text, const SqlToken& t) {
    return text.mid(t.pos, t.len);
}
// Whether the token is the given word (ASCII, any case).
bool isWord(QStringView text, const SqlToken& t, const char* word);
// Whether the token is the one character c.
bool isChar(QStringView text, const SqlToken& t, char c);
// The index of the first significant token at or after from; -1 when none.
qsizetype nextSignificant(const QVector<SqlToken>& tokens, qsizetype from);

// A statement with the value of every userPwd it sets, compares or inserts shown as '***' (an
// empty value stays '', which tells nothing): `userPwd = '...'` and the userPwd column of an
// insert's values lists. Quoted text is never taken for a column name.
QString maskPasswords(const QString& statement);

} // namespace vardex
