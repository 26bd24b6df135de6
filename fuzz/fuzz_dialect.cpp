// The T-SQL translation on any statement, for SQLite and PostgreSQL: text inside single quotes is
// never changed (the quoted literals come out the same and in the same order), and one statement
// never becomes two (no new semicolon outside quotes).
#include "platform/sqldialect.h"

#include <cstdint>
#include <cstdlib>

namespace {

struct Scan {
    QStringList literals;
    int separators = 0;
    bool balanced = true;
};

// Single-quoted literals ('' inside one is a quote); double-quoted names and comments (which the
// translation may drop: "CALL p(x -- c)" would lose its parenthesis) are skipped.
Scan scan(const QString& s) {
    Scan out;
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        if (c == QLatin1Char('\'')) {
            QString lit;
            qsizetype j = i + 1;
            bool closed = false;
            while (j < s.size()) {
                if (s[j] == QLatin1Char('\'')) {
                    if (j + 1 < s.size() && s[j + 1] == QLatin1Char('\'')) {
                        lit += QLatin1String("''");
                        j += 2;
                        continue;
                    }
                    closed = true;
                    break;
                }
                lit += s[j++];
            }
            if (!closed) {
                out.balanced = false;
                return out;
            }
            out.literals << lit;
            i = j;
        } else if (c == QLatin1Char('"')) {
            const qsizetype j = s.indexOf(QLatin1Char('"'), i + 1);
            if (j < 0) {
                out.balanced = false;
                return out;
            }
            i = j;
        } else if (c == QLatin1Char('-') && i + 1 < s.size() && s[i + 1] == QLatin1Char('-')) {
            const qsizetype j = s.indexOf(QLatin1Char('\n'), i);
            i = j < 0 ? s.size() : j;
        } else if (c == QLatin1Char('/') && i + 1 < s.size() && s[i + 1] == QLatin1Char('*')) {
            const qsizetype j = s.indexOf(QLatin1String("*/"), i + 2);
            if (j < 0) {
                out.balanced = false;
                return out;
            }
            i = j + 1;
        } else if (c == QLatin1Char(';')) {
            ++out.separators;
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString tsql = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const Scan in = scan(tsql);
    for (vardex::Dialect d :
         {vardex::Dialect::SQLite, vardex::Dialect::PostgreSQL, vardex::Dialect::SqlServer}) {
        const QString out = vardex::translateStatement(tsql, d);
        if (!in.balanced)
            continue;
        const Scan o = scan(out);
        if (!o.balanced || o.literals != in.literals || o.separators > in.separators)
            std::abort();
    }
    (void)vardex::trimBlanks(tsql);
    if (vardex::escapeQuotes(tsql).count(QLatin1Char('\'')) != 2 * tsql.count(QLatin1Char('\'')))
        std::abort();
    return 0;
}
