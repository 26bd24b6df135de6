#include "platform/sqllexer.h"

#include <algorithm>

namespace vardex {

namespace {

bool isWordChar(QChar c, bool unicodeWords) {
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('@') || c == QLatin1Char('#') ||
           c == QLatin1Char('$') || (unicodeWords && c.unicode() > 0x7F);
}

// The index after the quote that closes the one at i; a doubled closing quote is the character.
qsizetype closingQuote(QStringView s, qsizetype i, QChar close) {
    const qsizetype n = s.size();
    for (++i; i < n; ++i) {
        if (s[i] != close)
            continue;
        if (i + 1 < n && s[i + 1] == close) {
            ++i;
            continue;
        }
        return i + 1;
    }
    return n;
}

} // namespace

QVector<SqlToken> lexSql(QStringView s, SqlLexOptions options) {
    QVector<SqlToken> out;
    const qsizetype n = s.size();
    qsizetype i = 0;
    while (i < n) {
        const qsizetype start = i;
        const QChar c = s[i];
        SqlToken::Kind kind = SqlToken::Other;
        if (c.isSpace()) {
            while (i < n && s[i].isSpace())
                ++i;
            kind = SqlToken::Space;
        } else if (c == QLatin1Char('-') && i + 1 < n && s[i + 1] == QLatin1Char('-')) {
            while (i < n && s[i] != QLatin1Char('\n'))
                ++i;
            kind = SqlToken::Comment;
        } else if (c == QLatin1Char('/') && i + 1 < n && s[i + 1] == QLatin1Char('*')) {
            const qsizetype close = s.indexOf(QLatin1String("*/"), i + 2);
            i = close < 0 ? n : close + 2;
            kind = SqlToken::Comment;
        } else if (options.dollarQuotes && c == QLatin1Char('$') && i + 1 < n &&
                   s[i + 1] == QLatin1Char('$')) {
            const qsizetype close = s.indexOf(QLatin1String("$$"), i + 2);
            i = close < 0 ? n : close + 2;
            kind = SqlToken::Dollar;
        } else if (c == QLatin1Char('\'')) {
            i = closingQuote(s, i, c);
            kind = SqlToken::Text;
        } else if (c == QLatin1Char('"') || c == QLatin1Char('[') ||
                   (options.backtickNames && c == QLatin1Char('`'))) {
            i = closingQuote(s, i, c == QLatin1Char('[') ? QLatin1Char(']') : c);
            kind = SqlToken::Name;
        } else if (isWordChar(c, options.unicodeWords)) {
            while (i < n && (isWordChar(s[i], options.unicodeWords) || s[i] == QLatin1Char('.')))
                ++i;
            kind = SqlToken::Word;
        } else {
            ++i;
        }
        out.append({kind, start, i - start});
    }
    return out;
}

bool isWord(QStringView text, const SqlToken& t, const char* word) {
    return t.kind == SqlToken::Word &&
           tokenText(text, t).compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
}

bool isChar(QStringView text, const SqlToken& t, char c) {
    return t.kind == SqlToken::Other && text[t.pos] == QLatin1Char(c);
}

qsizetype nextSignificant(const QVector<SqlToken>& tokens, qsizetype from) {
    for (qsizetype i = qMax<qsizetype>(0, from); i < tokens.size(); ++i)
        if (tokens[i].significant())
            return i;
    return -1;
}

namespace {

// A significant piece of a statement as the masking reads it: a word (a name, keyword or
// number; quoted names unquoted, a dotted name by its last part, in lower case), a quoted text,
// or one other character.
struct Piece {
    enum Kind { Word, Text, Other } kind;
    qsizetype begin, end;
    QString word;
};

QVector<Piece> pieces(const QString& s) {
    // Trace texts may come from any kind of database: backquoted names are names, and a $$ is
    // no body (the texts inside one are read, and masked, as any other).
    SqlLexOptions options;
    options.dollarQuotes = false;
    options.backtickNames = true;
    options.unicodeWords = false;
    QVector<Piece> out;
    for (const SqlToken& t : lexSql(s, options)) {
        switch (t.kind) {
        case SqlToken::Space:
        case SqlToken::Comment:
            break;
        case SqlToken::Text:
        case SqlToken::Dollar:
            out.append({Piece::Text, t.pos, t.end(), QString()});
            break;
        case SqlToken::Name:
            out.append(
                {Piece::Word, t.pos, t.end(), s.mid(t.pos + 1, qMax<qsizetype>(0, t.len - 2)).toLower()});
            break;
        case SqlToken::Word: {
            const QString w = s.mid(t.pos, t.len).toLower();
            out.append({Piece::Word, t.pos, t.end(), w.mid(w.lastIndexOf(QLatin1Char('.')) + 1)});
            break;
        }
        case SqlToken::Other:
            out.append({Piece::Other, t.pos, t.end(), QString(s[t.pos])});
            break;
        }
    }
    return out;
}

bool isChar(const QVector<Piece>& t, qsizetype k, char c) {
    return k < t.size() && t[k].kind == Piece::Other && t[k].word == QLatin1Char(c);
}

// The quoted text that starts at k ('...' or N'...'), or -1.
qsizetype literalAt(const QVector<Piece>& t, qsizetype k) {
    if (k < t.size() && t[k].kind == Piece::Text)
        return k;
    if (k + 1 < t.size() && t[k].kind == Piece::Word && t[k].word == u"n" && t[k + 1].kind == Piece::Text &&
        t[k].end == t[k + 1].begin)
        return k + 1;
    return -1;
}

// The index after the parenthesis that closes the one at k, or -1; the commas at depth one are
// added to commas.
qsizetype closeParen(const QVector<Piece>& t, qsizetype k, QVector<qsizetype>* commas = nullptr) {
    int depth = 0;
    for (qsizetype i = k; i < t.size(); ++i) {
        if (isChar(t, i, '('))
            ++depth;
        else if (isChar(t, i, ')') && --depth == 0)
            return i + 1;
        else if (commas && depth == 1 && isChar(t, i, ','))
            commas->append(i);
    }
    return -1;
}

} // namespace

QString maskPasswords(const QString& statement) {
    const QString column = QStringLiteral("userpwd");
    const QVector<Piece> t = pieces(statement);
    QVector<qsizetype> masked; // indexes of the texts to mask
    for (qsizetype k = 0; k < t.size(); ++k) {
        if (t[k].kind == Piece::Word && t[k].word == column && isChar(t, k + 1, '=') &&
            literalAt(t, k + 2) >= 0)
            masked.append(literalAt(t, k + 2));
        if (!isChar(t, k, '('))
            continue;
        // A column list followed by VALUES: the userPwd value of every row after it.
        QVector<qsizetype> commas;
        const qsizetype after = closeParen(t, k, &commas);
        if (after < 0 || after >= t.size() || t[after].kind != Piece::Word || t[after].word != u"values")
            continue;
        int at = -1, index = 0;
        for (qsizetype i = k + 1; i + 1 < after; ++i) {
            if (isChar(t, i, ','))
                ++index;
            else if (t[i].kind == Piece::Word && t[i].word == column)
                at = index;
        }
        if (at < 0)
            continue;
        for (qsizetype row = after + 1; isChar(t, row, '(');) {
            QVector<qsizetype> cells;
            const qsizetype end = closeParen(t, row, &cells);
            if (end < 0)
                break;
            cells.prepend(row);
            cells.append(end - 1);
            if (at + 1 < cells.size()) {
                const qsizetype value = literalAt(t, cells[at] + 1);
                if (value >= 0 && value + 1 == cells[at + 1])
                    masked.append(value);
            }
            row = isChar(t, end, ',') ? end + 1 : end;
            if (!isChar(t, row, '('))
                break;
        }
    }
    std::sort(masked.begin(), masked.end());
    masked.erase(std::unique(masked.begin(), masked.end()), masked.end());
    QString out;
    qsizetype from = 0;
    for (const qsizetype k : masked) {
        const Piece& x = t[k];
        out += QStringView(statement).mid(from, x.begin - from);
        out += x.end - x.begin <= 2 ? statement.mid(x.begin, x.end - x.begin) : QStringLiteral("'***'");
        from = x.end;
    }
    out += QStringView(statement).mid(from);
    return out;
}

} // namespace vardex
