#include "library/cipher.h"

#include "platform/errors.h"

#include <QDateTime>
#include <QStringDecoder>
#include <QStringEncoder>

namespace vardex {

namespace {

const char kBuiltInKey[] = "Brass Lemon";
const char kCodec[] = "GB18030";
const char kHexDigits[] = "0123456789ABCDEF";

// Bytes that could not be decoded travel inside a QString as lone low surrogates.
constexpr char16_t kEscapeBase = 0xDC00;

bool isEscape(char16_t c) {
    return c >= 0xDC80 && c <= 0xDCFF;
}

QStringEncoder makeEncoder() {
    QStringEncoder encoder(kCodec, QStringConverter::Flag::Stateless);
    if (!encoder.isValid())
        throw Error(QStringLiteral("This Qt build has no GB18030 converter; passwords cannot be enciphered"));
    return encoder;
}

QStringDecoder makeDecoder() {
    QStringDecoder decoder(kCodec, QStringConverter::Flag::Stateless);
    if (!decoder.isValid())
        throw Error(QStringLiteral("This Qt build has no GB18030 converter; passwords cannot be deciphered"));
    return decoder;
}

bool isAscii(const QByteArray& bytes) {
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// Length of the GB18030 character that the bytes at i would form by their shape alone: 1 for
// ASCII, 2 or 4 for a lead byte followed by fitting bytes, 0 when byte i starts no character.
int unitLength(const QByteArray& bytes, qsizetype i) {
    auto at = [&](qsizetype k) { return k < bytes.size() ? static_cast<unsigned char>(bytes[k]) : -1; };
    const int b0 = at(i);
    if (b0 < 0x80)
        return 1;
    if (b0 == 0x80 || b0 == 0xFF)
        return 0;
    const int b1 = at(i + 1);
    if ((b1 >= 0x40 && b1 <= 0x7E) || (b1 >= 0x80 && b1 <= 0xFE))
        return 2;
    const int b2 = at(i + 2), b3 = at(i + 3);
    if (b1 >= 0x30 && b1 <= 0x39 && b2 >= 0x81 && b2 <= 0xFE && b3 >= 0x30 && b3 <= 0x39)
        return 4;
    return 0;
}

// Hex value of one character of a cipher text, or -1.
int hexValue(QChar ch) {
    const char16_t c = ch.unicode();
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Reads `count` (1 or 2) digits at the 0-based index `from` as one number.
int readHex(const QString& text, qsizetype from, int count) {
    int value = 0;
    for (int k = 0; k < count; ++k) {
        const int digit = hexValue(text[from + k]);
        if (digit < 0)
            throw ConvertError(QStringLiteral("The stored password is not a valid cipher text: character %1 "
                                              "is not a hexadecimal digit")
                                   .arg(from + k + 1));
        value = value * 16 + digit;
    }
    return value;
}

QByteArray keyInUse(const QByteArray& key) {
    return key.isEmpty() ? QByteArray(kBuiltInKey) : key;
}

} // namespace

QByteArray toCipherBytes(const QString& text) {
    bool plain = true;
    for (QChar c : text) {
        if (c.unicode() >= 0x80) {
            plain = false;
            break;
        }
    }
    if (plain)
        return text.toLatin1();

    // Runs of ordinary characters go through the converter; escaped bytes and lone surrogates
    // are written here, so the converter never sees a surrogate it would drop or replace.
    QStringEncoder encoder = makeEncoder();
    QByteArray out;
    out.reserve(text.size() * 2);
    const qsizetype n = text.size();
    qsizetype runStart = 0;
    auto flush = [&](qsizetype end) {
        if (end > runStart)
            out += QByteArray(encoder.encode(QStringView(text).mid(runStart, end - runStart)));
    };
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < n && QChar::isLowSurrogate(text[i + 1].unicode())) {
            ++i; // a proper pair stays in the run
            continue;
        }
        if (!QChar::isSurrogate(c))
            continue;
        flush(i);
        out += isEscape(c) ? static_cast<char>(c - kEscapeBase) : '?';
        runStart = i + 1;
    }
    flush(n);
    return out;
}

QString fromCipherBytes(const QByteArray& bytes) {
    if (isAscii(bytes))
        return QString::fromLatin1(bytes);

    QStringDecoder decoder = makeDecoder();
    QStringEncoder encoder = makeEncoder();
    // The converter's error flag is not trusted (it outlives resetState() in the ICU-backed
    // converter); encoding the result back is the check: a replaced or dropped byte shows there.
    QString whole = decoder.decode(bytes);
    if (QByteArray(encoder.encode(whole)) == bytes)
        return whole;

    // Some bytes do not form characters: decode character by character and keep each one only
    // if it encodes back to exactly its bytes; otherwise escape its first byte and go on from the
    // next one. Stateless converters carry nothing from one call to the next.
    QString out;
    out.reserve(bytes.size());
    qsizetype i = 0;
    while (i < bytes.size()) {
        const int len = unitLength(bytes, i);
        if (len == 1) {
            out += QChar(static_cast<char16_t>(static_cast<unsigned char>(bytes[i])));
            ++i;
            continue;
        }
        if (len > 0) {
            const QByteArray unit = bytes.mid(i, len);
            const QString ch = decoder.decode(unit);
            if (QByteArray(encoder.encode(ch)) == unit) {
                out += ch;
                i += len;
                continue;
            }
        }
        out += QChar(static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(bytes[i])));
        ++i;
    }
    return out;
}

QString encipherBytes(const QByteArray& plain, const QByteArray& key, int seed) {
    const QByteArray k = keyInUse(key);
    const qsizetype keyLength = k.size();
    QString out;
    out.reserve(2 * plain.size() + 2);
    auto appendPair = [&](int value) {
        out += QLatin1Char(kHexDigits[value >> 4]);
        out += QLatin1Char(kHexDigits[value & 0x0F]);
    };
    int a = seed & 0xFF;
    appendPair(a);
    qsizetype j = 0;
    for (char byte : plain) {
        const int p = static_cast<unsigned char>(byte);
        a = (a + p) % 255;
        j = j < keyLength ? j + 1 : 1;
        a ^= static_cast<unsigned char>(k[j - 1]);
        appendPair(a);
    }
    return out;
}

QByteArray decipherBytes(const QString& cipherText, const QByteArray& key) {
    const qsizetype length = cipherText.size();
    if (length == 0)
        return QByteArray();
    // Positions below count characters of the 8-bit text the store holds. A character outside
    // ASCII would take two or more bytes there, the first of them never a digit and never the
    // single byte left over at the end, so it always stands where a pair is read.
    for (qsizetype i = 0; i < length; ++i) {
        if (cipherText[i].unicode() >= 0x80)
            throw ConvertError(QStringLiteral("The stored password is not a valid cipher text: character %1 "
                                              "is not a hexadecimal digit")
                                   .arg(i + 1));
    }
    if (length <= 2)
        throw ConvertError(QStringLiteral("The stored password is not a valid cipher text: %1 character(s) "
                                          "hold a seed but no password byte")
                               .arg(length));

    const QByteArray k = keyInUse(key);
    const qsizetype keyLength = k.size();
    QByteArray out;
    out.reserve(length / 2);

    int a = readHex(cipherText, 0, 2);
    qsizetype j = 0;
    qsizetype pos = 3; // 1-based, as the form is described
    do {
        const int b = readHex(cipherText, pos - 1, pos + 1 <= length ? 2 : 1);
        j = j < keyLength ? j + 1 : 1;
        const int x = b ^ static_cast<unsigned char>(k[j - 1]);
        const int p = a < x ? x - a : x - a + 255;
        out += static_cast<char>(p);
        a = b;
        pos += 2;
    } while (length > pos);
    return out;
}

int drawSeed() {
    // Re-seed from the millisecond clock, then one step of the classic linear congruential
    // generator; the top byte of the 32-bit state is the value 0 to 255.
    quint32 randSeed = static_cast<quint32>(QDateTime::currentMSecsSinceEpoch());
    randSeed = randSeed * 134775813u + 1u;
    return static_cast<int>((static_cast<quint64>(randSeed) * 256u) >> 32);
}

QString EncryptPassword(const QString& plainText, const QString& key) {
    return encipherBytes(toCipherBytes(plainText), toCipherBytes(key), drawSeed());
}

QString DecryptPassword(const QString& cipherText, const QString& key) {
    return fromCipherBytes(decipherBytes(cipherText, toCipherBytes(key)));
}

} // namespace vardex
