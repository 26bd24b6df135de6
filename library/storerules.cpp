#include "library/storerules.h"
#include "platform/passwordhash.h"
#include "platform/sqldialect.h"

#include <QDate>

namespace vardex::rules {

bool isWholeText(const QString& value) {
    return QStringView(value).isValidUtf16();
}

QString nameProblem(const QString& value, int maxLength) {
    if (trimBlanks(value) != value)
        return QStringLiteral("has leading or trailing blanks");
    if (value.isEmpty())
        return QStringLiteral("is empty");
    for (const QChar c : value)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return QStringLiteral("holds a control character");
    if (!isWholeText(value))
        return QStringLiteral("holds a lone surrogate, which is no character");
    if (value.size() > maxLength)
        return QStringLiteral("\"%1\" is longer than %2 characters").arg(value).arg(maxLength);
    return QString();
}

QString dateProblem(const QString& value) {
    const QDate d = QDate::fromString(value, QStringLiteral("yyyy-MM-dd"));
    if (!d.isValid() || d.toString(QStringLiteral("yyyy-MM-dd")) != value)
        return QStringLiteral("\"%1\" is no date of the form yyyy-mm-dd").arg(value);
    return QString();
}

QString discountProblem(int value) {
    if (value < 0 || value > 100)
        return QStringLiteral("%1 is not a whole number from 0 to 100").arg(value);
    return QString();
}

QString cipherTextProblem(const QString& value) {
    if (value.isEmpty() || isPasswordHash(value))
        return QString();
    bool hex = true;
    for (const QChar c : value)
        hex = hex && ((c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
                      (c >= QLatin1Char('A') && c <= QLatin1Char('F')));
    if (!hex || value.size() % 2 != 0 || value.size() < 4 || value.size() > kPasswordLength)
        return QStringLiteral("is no cipher text (upper-case hexadecimal pairs, a seed and at most 49 "
                              "bytes), no bcrypt hash, and not empty for no password");
    return QString();
}

} // namespace vardex::rules
