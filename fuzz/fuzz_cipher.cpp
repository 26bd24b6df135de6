// DecryptPassword on any text answers or raises ConvertError; and what EncryptPassword makes of
// a text deciphers to that text under the same key.
#include "library/cipher.h"
#include "platform/errors.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // First byte: key length; then the key, then the text.
    if (size == 0)
        return 0;
    const size_t keyLength = data[0] % 16 < size - 1 ? data[0] % 16 : size - 1;
    const QString key =
        QString::fromUtf8(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(keyLength));
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data + 1 + keyLength),
                                           static_cast<qsizetype>(size - 1 - keyLength));
    try {
        (void)vardex::DecryptPassword(text, key);
    } catch (const vardex::ConvertError&) {
    }
    // Every typed password round-trips; the documented exceptions are the empty text (stored as
    // empty, never enciphered) and a NUL character.
    if (!text.isEmpty() && text.size() <= 64 && !text.contains(QChar(0))) {
        const QString cipher = vardex::EncryptPassword(text, key);
        if (vardex::DecryptPassword(cipher, key) != text)
            std::abort();
    }
    return 0;
}
