#include "platform/sqldialect.h"

#include <QVector>

namespace vardex {

namespace {

enum class Tok { Space, Comment, Word, Quoted, Other };

struct Token {
    Tok kind;
    int pos;
    int len;
};

bool isWordChar(QChar c) {
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('@') || c == QLatin1Char('#') ||
           c == QLatin1Char('$') || c.unicode() > 0x7F;
}

QVector<Token> tokenize(const QString& s) {
    QVector<Token> out;
    const int n = s.size();
    int i = 0;
    while (i < n) {
        const int start = i;
        const QChar c = s[i];
        if (c.isSpace()) {
            while (i < n && s[i].isSpace())
                ++i;
            out.append({Tok::Space, start, i - start});
        } else if (c == QLatin1Char('-') && i + 1 < n && s[i + 1] == QLatin1Char('-')) {
            while (i < n && s[i] != QLatin1Char('\n'))
                ++i;
            out.append({Tok::Comment, start, i - start});
        } else if (c == QLatin1Char('/') && i + 1 < n && s[i + 1] == QLatin1Char('*')) {
            i += 2;
            while (i < n && !(s[i] == QLatin1Char('*') && i + 1 < n && s[i + 1] == QLatin1Char('/')))
                ++i;
            i = qMin(n, i + 2);
            out.append({Tok::Comment, start, i - start});
        } else if (c == QLatin1Char('$') && i + 1 < n && s[i + 1] == QLatin1Char('$')) {
            // A dollar-quoted body (PostgreSQL): opaque up to the closing $$.
            const int close = s.indexOf(QLatin1String("$$"), i + 2);
            i = close < 0 ? n : close + 2;
            out.append({Tok::Quoted, start, i - start});
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('[')) {
            // Quoted text or a quoted name; a doubled closing quote stands for one.
            const QChar close = c == QLatin1Char('[') ? QLatin1Char(']') : c;
            ++i;
            while (i < n) {
                if (s[i] == close) {
                    if (i + 1 < n && s[i + 1] == close) {
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                ++i;
            }
            out.append({Tok::Quoted, start, i - start});
        } else if (isWordChar(c)) {
            while (i < n && (isWordChar(s[i]) || s[i] == QLatin1Char('.')))
                ++i;
            out.append({Tok::Word, start, i - start});
        } else {
            ++i;
            out.append({Tok::Other, start, 1});
        }
    }
    return out;
}

bool significant(const Token& t) {
    return t.kind != Tok::Space && t.kind != Tok::Comment;
}

int nextSignificant(const QVector<Token>& toks, int from) {
    for (int i = from; i < toks.size(); ++i)
        if (significant(toks[i]))
            return i;
    return -1;
}

bool wordIs(const QString& s, const Token& t, const char* word) {
    return t.kind == Tok::Word &&
           QStringView(s).mid(t.pos, t.len).compare(QLatin1String(word), Qt::CaseInsensitive) == 0;
}

// PostgreSQL folds unquoted names to lower case: an alias such as 权限ID would come back as
// 权限id. Only aliases with characters beyond ASCII are quoted; those are never keywords or
// type names (CAST(x AS INT), CREATE TABLE t AS SELECT stay as they are).
bool needsQuotedAlias(QStringView name) {
    for (QChar c : name)
        if (c.unicode() > 0x7F)
            return true;
    return false;
}

} // namespace

// Most statements need no rewriting: a SELECT or UPDATE of ASCII text. They are recognised
// without tokenizing, since every right check and login sends several of them.
static bool needsNoRewrite(const QString& tsql) {
    int i = 0;
    const int n = tsql.size();
    while (i < n && tsql[i].isSpace())
        ++i;
    const int start = i;
    while (i < n && tsql[i].isLetter() && tsql[i].unicode() < 0x80)
        ++i;
    if (i == start)
        return false; // starts with a comment or something unusual: take the long way
    const QStringView first = QStringView(tsql).mid(start, i - start);
    for (const char* w : {"exec", "execute", "insert", "delete"})
        if (first.compare(QLatin1String(w), Qt::CaseInsensitive) == 0)
            return false;
    for (QChar c : tsql)
        if (c.unicode() > 0x7F)
            return false; // may hold an alias to quote
    return true;
}

QString translateStatement(const QString& tsql, Dialect target) {
    if (target == Dialect::SqlServer || needsNoRewrite(tsql))
        return tsql;
    const QVector<Token> toks = tokenize(tsql);
    const int first = nextSignificant(toks, 0);
    if (first < 0)
        return tsql;

    if (wordIs(tsql, toks[first], "exec") || wordIs(tsql, toks[first], "execute")) {
        const int nameTok = nextSignificant(toks, first + 1);
        if (nameTok < 0 || (toks[nameTok].kind != Tok::Word && toks[nameTok].kind != Tok::Quoted))
            return tsql;
        const QString name = tsql.mid(toks[nameTok].pos, toks[nameTok].len);
        const int argsStart = toks[nameTok].pos + toks[nameTok].len;
        // The arguments run to the end; a closing semicolon and trailing blanks are dropped.
        int argsEnd = tsql.size();
        for (int i = toks.size() - 1; i > nameTok; --i) {
            if (!significant(toks[i]))
                continue;
            if (toks[i].kind == Tok::Other && tsql[toks[i].pos] == QLatin1Char(';')) {
                argsEnd = toks[i].pos;
                continue;
            }
            argsEnd = toks[i].pos + toks[i].len;
            break;
        }
        QString args = argsEnd > argsStart ? tsql.mid(argsStart, argsEnd - argsStart).trimmed() : QString();
        const QString head = tsql.left(toks[first].pos);
        if (target == Dialect::PostgreSQL)
            return head + QStringLiteral("CALL ") + name + QLatin1Char('(') + args + QLatin1Char(')');
        if (args.isEmpty())
            return head + QStringLiteral("INSERT INTO ") + name + QStringLiteral(" DEFAULT VALUES");
        return head + QStringLiteral("INSERT INTO ") + name + QStringLiteral(" VALUES (") + args +
               QLatin1Char(')');
    }

    QString out = tsql;
    // Insertions are made from the back so earlier positions stay valid.
    QVector<QPair<int, QString>> inserts;
    QVector<QPair<int, int>> quoteAliases; // pos, len

    if (wordIs(tsql, toks[first], "insert")) {
        const int next = nextSignificant(toks, first + 1);
        if (next >= 0 && !wordIs(tsql, toks[next], "into"))
            inserts.append({toks[first].pos + toks[first].len, QStringLiteral(" INTO")});
    } else if (wordIs(tsql, toks[first], "delete")) {
        const int next = nextSignificant(toks, first + 1);
        if (next >= 0 && !wordIs(tsql, toks[next], "from"))
            inserts.append({toks[first].pos + toks[first].len, QStringLiteral(" FROM")});
    }

    if (target == Dialect::PostgreSQL) {
        for (int i = 0; i < toks.size(); ++i) {
            if (!wordIs(tsql, toks[i], "as"))
                continue;
            const int alias = nextSignificant(toks, i + 1);
            if (alias >= 0 && toks[alias].kind == Tok::Word &&
                needsQuotedAlias(QStringView(tsql).mid(toks[alias].pos, toks[alias].len)))
                quoteAliases.append({toks[alias].pos, toks[alias].len});
        }
    }

    // Apply edits back to front.
    struct Edit {
        int pos;
        int removeLen;
        QString text;
    };
    QVector<Edit> edits;
    for (const auto& ins : inserts)
        edits.append({ins.first, 0, ins.second});
    for (const auto& qa : quoteAliases)
        edits.append(
            {qa.first, qa.second, QLatin1Char('"') + tsql.mid(qa.first, qa.second) + QLatin1Char('"')});
    std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.pos > b.pos; });
    for (const auto& e : edits)
        out.replace(e.pos, e.removeLen, e.text);
    return out;
}

QString escapeQuotes(const QString& value) {
    QString v = value;
    v.replace(QLatin1Char('\''), QLatin1String("''"));
    return v;
}

QString sqlLiteral(const QString& value) {
    return QLatin1Char('\'') + escapeQuotes(value) + QLatin1Char('\'');
}

QString trimBlanks(const QString& text) {
    int b = 0;
    int e = text.size();
    while (b < e && text[b].unicode() <= 0x20)
        ++b;
    while (e > b && text[e - 1].unicode() <= 0x20)
        --e;
    return text.mid(b, e - b);
}

} // namespace vardex
