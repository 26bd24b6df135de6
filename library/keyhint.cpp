#include "library/keyhint.h"

#include "library/cipher.h"
#include "library/dmain.h"
#include "library/storeschema.h"
#include "platform/errors.h"
#include "platform/passwordhash.h"
#include "platform/sqldialect.h"

namespace vardex {

QString otherDefaultKeyFor(const LibrarySession& s, const QString& userId, const QString& password) {
    if (!s.hasData() || s.data().Secured)
        return QString();
    const QString key = s.values().CipherKey;
    const QString other = key == QLatin1String("kmpq")   ? QStringLiteral("KMPQ")
                          : key == QLatin1String("KMPQ") ? QStringLiteral("kmpq")
                                                         : QString();
    if (other.isEmpty() || password.isEmpty())
        return QString();
    try {
        const auto rows =
            s.data()
                .ADOcn
                .run(QStringLiteral("select userPwd from qx_user where userID = %1 and zuid > %2")
                         .arg(schema::sqlLiteral(userId))
                         .arg(schema::kMemberBase),
                     true)
                .rows;
        const QByteArray typed = toCipherBytes(password);
        for (const auto& row : rows) {
            const QString stored = row.value(0).toString();
            if (!stored.isEmpty() && !isPasswordHash(stored) &&
                decipherBytes(stored, toCipherBytes(other)) == typed)
                return other;
        }
    } catch (const Error&) {
        // A hint only: whatever keeps it from being given leaves the answer as it was.
    }
    return QString();
}

QString otherDefaultKeyFor(const QString& userId, const QString& password) {
    return otherDefaultKeyFor(processSession(), userId, password);
}

} // namespace vardex
