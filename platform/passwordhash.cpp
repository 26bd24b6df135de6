#include "platform/passwordhash.h"
#include "platform/errors.h"

#include <QRegularExpression>

#include <crypt.h>

#include <cstring>
#include <memory>

namespace vardex {

namespace {

// The crypt library's answer for password under setting (a hash or a salt), or empty when it
// refuses. Its work area is large; each call takes its own, so threads never share one.
QByteArray cryptWith(const QString& password, const QByteArray& setting) {
    const QByteArray plain = password.toUtf8();
    auto data = std::make_unique<crypt_data>();
    std::memset(data.get(), 0, sizeof(crypt_data));
    const char* out = crypt_r(plain.constData(), setting.constData(), data.get());
    // A refusal is answered with a text starting with '*' (or null on older libraries).
    QByteArray result = out && out[0] != '*' ? QByteArray(out) : QByteArray();
    std::memset(data.get(), 0, sizeof(crypt_data));
    return result;
}

bool equalInConstantTime(const QByteArray& a, const QByteArray& b) {
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

} // namespace

bool isPasswordHash(const QString& stored) {
    static const QRegularExpression form(QStringLiteral("^\\$2[aby]\\$(1[0-5]|0[4-9])\\$[./A-Za-z0-9]{53}$"));
    return stored.size() == 60 && form.match(stored).hasMatch();
}

QString hashPassword(const QString& password, int cost) {
    if (cost < kMinHashCost || cost > kMaxHashCost)
        throw Error(QStringLiteral("The bcrypt cost %1 is outside %2 to %3.")
                        .arg(cost)
                        .arg(kMinHashCost)
                        .arg(kMaxHashCost));
    char salt[CRYPT_GENSALT_OUTPUT_SIZE];
    if (!crypt_gensalt_rn("$2a$", static_cast<unsigned long>(cost), nullptr, 0, salt, sizeof salt))
        throw Error(QStringLiteral("The system's crypt library cannot make a bcrypt salt."));
    const QByteArray hash = cryptWith(password, QByteArray(salt));
    if (hash.size() != 60)
        throw Error(QStringLiteral("The system's crypt library cannot make a bcrypt hash."));
    return QString::fromLatin1(hash);
}

bool verifyPasswordHash(const QString& password, const QString& stored) {
    if (!isPasswordHash(stored))
        return false;
    const QByteArray expected = stored.toLatin1();
    return equalInConstantTime(cryptWith(password, expected), expected);
}

void spendVerification(const QString& password, int cost) {
    // A salt made once by the crypt library; the hash part is no password's.
    const QString dummy = QStringLiteral("$2a$%1$.o3GVOIh3Zgp2Y5Vebcizu").arg(cost, 2, 10, QLatin1Char('0')) +
                          QString(31, QLatin1Char('.'));
    (void)verifyPasswordHash(password, dummy);
}

} // namespace vardex
