#pragma once
// The password cipher: a reversible, keyed, randomly salted text form of a password, kept in
// qx_user.userPwd. The form is fixed to the byte: stores already filled depend on it.
//
// Cipher text: upper-case hexadecimal pairs, no separators. The first pair is the seed, a byte
// drawn anew for every encipherment; then one pair per byte of the password. A running value
// starts as the seed; each password byte p gives a := ((a + p) mod 255) XOR keybyte, written as
// the next pair. Key bytes are used cyclically from the first one at every call; an empty key
// means the built-in key "Brass Lemon".
//
// Every password round-trips under every key except for two byte values the arithmetic folds:
// a byte 0xFF enciphered while the running value is 0xFF deciphers to 0x00, and a byte 0x00
// enciphered while it is anything else deciphers to 0xFF. The GB18030 form of a typed text
// never holds 0xFF, nor 0x00 unless the text holds a NUL character, so typed passwords
// round-trip.
#include <QByteArray>
#include <QString>

namespace vardex {

// Passwords are enciphered over their GB18030 bytes (identical to GBK for the GBK characters
// except the euro sign, which GBK as code page 936 writes as the single byte 0x80), so stores
// filled by clients running under the simplified-Chinese code page keep working.
//
// The two are inverse on every byte string: a byte that does not start a valid GB18030
// character becomes the lone surrogate U+DC00 + byte (always U+DC80..U+DCFF), and
// toCipherBytes turns such a surrogate back into its byte. So a deciphered password compares
// equal as text to a typed one only when their bytes are equal: a wrong key's garbage never
// matches a typed password through a replacement character. Other lone surrogates, which no
// encoding can carry, become '?'.
QByteArray toCipherBytes(const QString& text);
QString fromCipherBytes(const QByteArray& bytes);

// Byte-level forms. The seed (0 to 255; only its low byte is used) is given, which makes the
// output reproducible. An empty plain text gives the seed pair alone, which does not decipher:
// callers store an empty password as the empty text and never encipher it.
QString encipherBytes(const QByteArray& plain, const QByteArray& key, int seed);
// Raises ConvertError for a non-hex character where a pair is read, or a text of one or two
// characters; the empty text deciphers to no bytes. Lower-case digits are accepted; a lone
// digit left at the end is read as one digit when it stands at position 3, else ignored.
// The cipher text is read as the 8-bit text a store holds: a character outside ASCII takes
// two or more bytes there and always falls where a pair is read, so it raises ConvertError.
// Comparing decipherBytes(stored, key) with toCipherBytes(typed) is the exact byte check.
QByteArray decipherBytes(const QString& cipherText, const QByteArray& key);

// The seed a call draws: the runtime's generator re-seeded from the clock (millisecond
// resolution) at each call, so two encipherments in the same millisecond share a seed.
int drawSeed();

// Text forms over the GB18030 bytes of plainText and key. EncryptPassword cannot fail;
// DecryptPassword raises ConvertError as decipherBytes does.
QString EncryptPassword(const QString& plainText, const QString& key);
QString DecryptPassword(const QString& cipherText, const QString& key);

} // namespace vardex
