#pragma once
// One field of a CSV line as the command-line program's --csv and the log window's export write
// it: quoted when it holds a comma, a quote or a line break, its quotes doubled.
#include <QString>

namespace vardex {

inline QString csvQuoted(const QString& s) {
    if (s.contains(QLatin1Char(',')) || s.contains(QLatin1Char('"')) || s.contains(QLatin1Char('\n')) ||
        s.contains(QLatin1Char('\r')))
        return QLatin1Char('"') + QString(s).replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
               QLatin1Char('"');
    return s;
}

} // namespace vardex
