#include "platform/sqldialect.h"

#include "platform/sqllexer.h"

#include <QVector>

namespace vardex {

namespace {

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
    const QVector<SqlToken> toks = lexSql(tsql);
    const qsizetype first = nextSignificant(toks, 0);
    if (first < 0)
        return tsql;

    if (isWord(tsql, toks[first], "exec") || isWord(tsql, toks[first], "execute")) {
        const qsizetype nameTok = nextSignificant(toks, first + 1);
        if (nameTok < 0 || (toks[nameTok].kind != SqlToken::Word && !toks[nameTok].quoted()))
            return tsql;
        const QString name = tsql.mid(toks[nameTok].pos, toks[nameTok].len);
        const qsizetype argsStart = toks[nameTok].pos + toks[nameTok].len;
        // The arguments run to the end; a closing semicolon and trailing blanks are dropped.
        qsizetype argsEnd = tsql.size();
        for (qsizetype i = toks.size() - 1; i > nameTok; --i) {
            if (!toks[i].significant())
                continue;
            if (toks[i].kind == SqlToken::Other && tsql[toks[i].pos] == QLatin1Char(';')) {
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
    QVector<QPair<qsizetype, QString>> inserts;
    QVector<QPair<qsizetype, qsizetype>> quoteAliases; // pos, len

    if (isWord(tsql, toks[first], "insert")) {
        const qsizetype next = nextSignificant(toks, first + 1);
        if (next >= 0 && !isWord(tsql, toks[next], "into"))
            inserts.append({toks[first].pos + toks[first].len, QStringLiteral(" INTO")});
    } else if (isWord(tsql, toks[first], "delete")) {
        const qsizetype next = nextSignificant(toks, first + 1);
        if (next >= 0 && !isWord(tsql, toks[next], "from"))
            inserts.append({toks[first].pos + toks[first].len, QStringLiteral(" FROM")});
    }

    if (target == Dialect::PostgreSQL) {
        for (qsizetype i = 0; i < toks.size(); ++i) {
            if (!isWord(tsql, toks[i], "as"))
                continue;
            const qsizetype alias = nextSignificant(toks, i + 1);
            if (alias >= 0 && toks[alias].kind == SqlToken::Word &&
                needsQuotedAlias(QStringView(tsql).mid(toks[alias].pos, toks[alias].len)))
                quoteAliases.append({toks[alias].pos, toks[alias].len});
        }
    }

    // Apply edits back to front.
    struct Edit {
        qsizetype pos;
        qsizetype removeLen;
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
