// The password cipher: fixed vectors worked out by hand, the reading rules of stored texts,
// round trips, conversion errors and the GB18030 byte form of passwords and keys.
#include "library/cipher.h"
#include "platform/errors.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

#include <random>

using namespace vardex;

namespace {

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values)
        out += static_cast<char>(v);
    return out;
}

QString hex(const QByteArray& b) {
    return QString::fromLatin1(b.toHex().toUpper());
}

QByteArray randomBytes(std::mt19937& rng, int minLength, int maxLength) {
    std::uniform_int_distribution<int> len(minLength, maxLength), byte(0, 255);
    QByteArray out;
    for (int n = len(rng); n > 0; --n)
        out += static_cast<char>(byte(rng));
    return out;
}

int pairAt(const QString& cipher, int index) {
    return cipher.mid(2 * index, 2).toInt(nullptr, 16);
}

} // namespace

// Each vector was worked through step by step: a := ((a + p) mod 255) XOR key byte.
TEST(CipherVectors, OneByteKeyIsAppliedToEveryByte) {
    // a=00: 00+61=61^6B=0A; 0A+62=6C^6B=07; 07+63=6A^6B=01
    EXPECT_EQ(encipherBytes("abc", "k", 0x00), "000A0701");
    EXPECT_EQ(decipherBytes("000A0701", "k"), QByteArray("abc"));
}

TEST(CipherVectors, FourByteKeyCyclesBackToItsFirstByte) {
    // 密码! = C3 DC C2 EB 21, key 61 62 63 64, seed F0:
    // F0+C3=435-255=B4^61=D5; D5+DC=433-255=B2^62=D0; D0+C2=402-255=93^63=F0;
    // F0+EB=475-255=DC^64=B8; B8+21=D9^61 (first key byte again)=B8
    const QByteArray plain = toCipherBytes(QStringLiteral("密码!"));
    EXPECT_EQ(encipherBytes(plain, "abcd", 0xF0), "F0D5D0F0B8B8");
    EXPECT_EQ(decipherBytes("F0D5D0F0B8B8", "abcd"), plain);
}

TEST(CipherVectors, EmptyKeyIsTheBuiltInElevenByteKey) {
    // "Hello, World" under 42 72 61 73 73 20 4C 65 6D 6F 6E, seed 7F; the twelfth byte wraps to 42.
    const QString expected = "7F859864A360AC80B24FAE759B";
    EXPECT_EQ(encipherBytes("Hello, World", QByteArray(), 0x7F), expected);
    EXPECT_EQ(encipherBytes("Hello, World", "Brass Lemon", 0x7F), expected);
    EXPECT_EQ(decipherBytes(expected, QByteArray()), QByteArray("Hello, World"));
    EXPECT_EQ(decipherBytes(expected, "Brass Lemon"), QByteArray("Hello, World"));
    EXPECT_EQ(DecryptPassword(EncryptPassword("Hello, World", QString()), "Brass Lemon"), "Hello, World");
}

TEST(CipherVectors, KeyLongerThanThePasswordUsesOnlyItsFirstBytes) {
    EXPECT_EQ(encipherBytes("abc", "kqz-and-more", 0x00), encipherBytes("abc", "kqz", 0x00));
    // The cycle restarts at the first key byte on every call.
    EXPECT_EQ(encipherBytes("abc", "k", 0x00), "000A0701");
    EXPECT_EQ(encipherBytes("abc", "k", 0x00), "000A0701");
}

TEST(CipherVectors, ArithmeticFoldsTwoByteValues) {
    // FF with running value FF: FF+FF=510 mod 255=00^01=01; back: x=00, a=FF >= x gives 0.
    EXPECT_EQ(encipherBytes(bytes({0xFF}), bytes({0x01}), 0xFF), "FF01");
    EXPECT_EQ(decipherBytes("FF01", bytes({0x01})), bytes({0x00}));
    // 00 with running value 10: 10^01=11; back: x=10=a, so 10-10+255 gives FF.
    EXPECT_EQ(encipherBytes(bytes({0x00}), bytes({0x01}), 0x10), "1011");
    EXPECT_EQ(decipherBytes("1011", bytes({0x01})), bytes({0xFF}));
    // 00 with running value FF is the one 00 that comes back.
    EXPECT_EQ(decipherBytes(encipherBytes(bytes({0x00}), "k", 0xFF), "k"), bytes({0x00}));
}

TEST(CipherReading, StoredTextsAreReadAsTheLoopDescribes) {
    // Lower-case digits are read like upper-case ones.
    EXPECT_EQ(decipherBytes("000a0701", "k"), QByteArray("abc"));
    EXPECT_EQ(decipherBytes("7f859864a360ac80b24fae759b", QByteArray()), QByteArray("Hello, World"));
    // A lone digit at position 3 is one step: b=0A, x=0A^6B=61, a=00 < x gives 61.
    EXPECT_EQ(decipherBytes("00A", "k"), QByteArray("a"));
    EXPECT_EQ(decipherBytes("00a", "k"), QByteArray("a"));
    // A trailing lone digit anywhere else is not read, whatever it is.
    EXPECT_EQ(decipherBytes("000A0", "k"), QByteArray("a"));
    EXPECT_EQ(decipherBytes("000A0701F", "k"), QByteArray("abc"));
    EXPECT_EQ(decipherBytes("000A0701Z", "k"), QByteArray("abc"));
    EXPECT_EQ(decipherBytes("000A07010", "k"), QByteArray("abc"));
    // Even length: every complete pair.
    EXPECT_EQ(decipherBytes("000A", "k"), QByteArray("a"));
    EXPECT_EQ(decipherBytes("000A07", "k"), QByteArray("ab"));
    // Empty text, empty result.
    EXPECT_EQ(decipherBytes("", "k"), QByteArray());
    EXPECT_EQ(DecryptPassword("", "k"), QString());
}

TEST(CipherReading, ConversionErrors) {
    const char* bad[] = {
        "0",        "F",        "00",       "ff",   // a seed and nothing after it
        "G00A",     "0G0A",     " 00A",             // seed pair
        "00G",      "00 ",      "00G0",     "000G", // first pair, lone or whole
        "000A0G01", "000A07-1", "000A07+1",         // later pairs
        "000A 701", "0x0A07",
    };
    for (const char* text : bad) {
        EXPECT_THROW(decipherBytes(text, "k"), ConvertError) << text;
        EXPECT_THROW(DecryptPassword(text, "k"), ConvertError) << text;
    }
    // Outside ASCII a character takes two bytes in the stored 8-bit text, so it is always read.
    for (const QString& text : {QStringLiteral("00密"), QStringLiteral("000A密"), QStringLiteral("密0A"),
                                QStringLiteral("0é0A"), QStringLiteral("000Aé")})
        EXPECT_THROW(DecryptPassword(text, "k"), ConvertError) << text.toStdString();
    try {
        decipherBytes("000AXY", "k");
        FAIL() << "no error";
    } catch (const ConvertError& e) {
        EXPECT_TRUE(e.message().contains("character 5")) << e.message().toStdString();
    }
}

TEST(CipherShape, TwoUpperCaseDigitsPerByteAfterTheSeed) {
    static const QRegularExpression upperHex("^[0-9A-F]*$");
    std::mt19937 rng(7);
    for (int seed = 0; seed < 256; ++seed) {
        const QByteArray plain = randomBytes(rng, 1, 49);
        const QString cipher = encipherBytes(plain, randomBytes(rng, 0, 12), seed);
        ASSERT_EQ(cipher.size(), 2 * plain.size() + 2);
        ASSERT_TRUE(upperHex.match(cipher).hasMatch()) << cipher.toStdString();
        ASSERT_EQ(cipher.left(2), QString::asprintf("%02X", seed));
    }
    // The longest password the userPwd column holds.
    EXPECT_EQ(encipherBytes(QByteArray(49, 'x'), "k", 1).size(), 100);
    // Only the seed's low byte is used.
    EXPECT_EQ(encipherBytes("abc", "k", 0x100), encipherBytes("abc", "k", 0x00));
    // An empty plain text leaves the seed alone, which does not decipher: callers store "" instead.
    EXPECT_EQ(encipherBytes(QByteArray(), "k", 0x3C), "3C");
    EXPECT_THROW(decipherBytes("3C", "k"), ConvertError);

    // The drawn seed: 口令pw is six bytes.
    const QString cipher = EncryptPassword(QStringLiteral("口令pw"), QStringLiteral("钥匙"));
    EXPECT_EQ(cipher.size(), 2 * 6 + 2);
    EXPECT_TRUE(upperHex.match(cipher).hasMatch());
    const int seed = drawSeed();
    EXPECT_TRUE(seed >= 0 && seed <= 255) << seed;
}

// Every byte string comes back, except the two folded values, which are recognised from the
// cipher text itself: the running value before a step is the previous pair (the seed first).
TEST(CipherRoundTrip, RandomBytesAndKeys) {
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> seedDist(0, 255);
    int folded = 0;
    for (int i = 0; i < 5000; ++i) {
        const QByteArray plain = randomBytes(rng, 1, 49);
        const QByteArray key = randomBytes(rng, 0, 16);
        const int seed = seedDist(rng);
        const QString cipher = encipherBytes(plain, key, seed);
        const QByteArray back = decipherBytes(cipher, key);
        ASSERT_EQ(back.size(), plain.size());
        for (int k = 0; k < plain.size(); ++k) {
            const int p = static_cast<unsigned char>(plain[k]);
            const int running = pairAt(cipher, k);
            int expected = p;
            if (p == 0xFF && running == 0xFF)
                expected = 0x00;
            else if (p == 0x00 && running != 0xFF)
                expected = 0xFF;
            folded += expected != p;
            ASSERT_EQ(static_cast<unsigned char>(back[k]), expected)
                << "case " << i << " byte " << k << " cipher " << cipher.toStdString();
        }
    }
    EXPECT_GT(folded, 0); // the inputs did reach the folded values
}

TEST(CipherRoundTrip, DifferentKeyGivesOtherBytesWithoutError) {
    const QByteArray plain = "secret-password";
    const QString cipher = encipherBytes(plain, "abcd", 0x42);
    QByteArray wrong;
    ASSERT_NO_THROW(wrong = decipherBytes(cipher, "abce"));
    EXPECT_EQ(wrong.size(), plain.size());
    EXPECT_NE(wrong, plain);
    // Only the steps that used the changed fourth key byte differ.
    for (int k = 0; k < plain.size(); ++k) {
        if (k % 4 == 3)
            EXPECT_NE(wrong[k], plain[k]) << k;
        else
            EXPECT_EQ(wrong[k], plain[k]) << k;
    }
    EXPECT_NE(decipherBytes(cipher, QByteArray()), plain);
    EXPECT_NE(DecryptPassword(EncryptPassword("口令", "甲"), "乙"), QStringLiteral("口令"));
}

TEST(CipherCodepage, PasswordsAndKeysAreGb18030Bytes) {
    EXPECT_EQ(toCipherBytes(QStringLiteral("密码")), bytes({0xC3, 0xDC, 0xC2, 0xEB}));
    EXPECT_EQ(fromCipherBytes(bytes({0xC3, 0xDC, 0xC2, 0xEB})), QStringLiteral("密码"));
    EXPECT_EQ(toCipherBytes(QStringLiteral("Abc 123")), QByteArray("Abc 123"));
    // A character outside the BMP takes four bytes.
    EXPECT_EQ(hex(toCipherBytes(QString::fromUcs4(U"\U00010000"))), "90308130");
    // The key goes through the same bytes: 钥 = D4 BF, a two-byte key.
    EXPECT_EQ(toCipherBytes(QStringLiteral("钥")), bytes({0xD4, 0xBF}));
    EXPECT_EQ(decipherBytes(EncryptPassword("abc", QStringLiteral("钥")), bytes({0xD4, 0xBF})), "abc");

    const QStringList passwords = {QStringLiteral("密码"), QStringLiteral("管理员Admin_2024"),
                                   QStringLiteral("用户權限ñé"), QString::fromUcs4(U"口令\U00020BB7x")};
    for (const QString& pw : passwords) {
        for (const QString& key : {QString(), QStringLiteral("kmpq"), QStringLiteral("钥匙")}) {
            const QString cipher = EncryptPassword(pw, key);
            EXPECT_EQ(cipher.size(), 2 * toCipherBytes(pw).size() + 2);
            EXPECT_EQ(DecryptPassword(cipher, key), pw) << pw.toStdString();
        }
    }
}

// Whatever bytes a decipherment gives, the text form carries them back unchanged, and a text
// compares equal to a typed password only when their bytes are equal.
TEST(CipherCodepage, UndecodableBytesSurviveAndNeverMatchAReplacement) {
    const QString replacement(QChar(0xFFFD));
    for (const QByteArray& b : {bytes({0xFF}), bytes({0x80}), bytes({0x81}), bytes({0x81, 0x30, 0x81}),
                                bytes({0x84, 0x31, 0xA4, 0x38}), bytes({0xFE, 0x39, 0xFE, 0x39}),
                                bytes({'a', 0xC3, 0xDC, 0xFF, 'b'})}) {
        const QString text = fromCipherBytes(b);
        EXPECT_EQ(toCipherBytes(text), b) << hex(b).toStdString();
        EXPECT_FALSE(text.contains(replacement)) << hex(b).toStdString();
    }
    // Characters next to undecodable bytes stay characters.
    EXPECT_EQ(fromCipherBytes(bytes({'a', 0xC3, 0xDC, 0xFF, 'b'})),
              QStringLiteral("a密") + QChar(0xDCFF) + QStringLiteral("b"));
    EXPECT_EQ(fromCipherBytes(bytes({0xFF, 0x90, 0x30, 0x81, 0x30})),
              QString(QChar(0xDCFF)) + QString::fromUcs4(U"\U00010000"));
    // The real replacement character is an ordinary character with its own four bytes.
    EXPECT_EQ(hex(toCipherBytes(replacement)), "8431A437");
    EXPECT_EQ(fromCipherBytes(bytes({0x84, 0x31, 0xA4, 0x37})), replacement);

    // A decipherment that gives the byte FF (never part of a GB18030 character) does not equal a
    // typed replacement character, as it would under a lossy converter.
    const QString garbage = DecryptPassword(encipherBytes(bytes({0xFF}), "k", 3), "k");
    EXPECT_NE(garbage, replacement);
    EXPECT_EQ(toCipherBytes(garbage), bytes({0xFF}));

    std::mt19937 rng(5);
    for (int i = 0; i < 3000; ++i) {
        const QByteArray b = randomBytes(rng, 0, 24);
        ASSERT_EQ(toCipherBytes(fromCipherBytes(b)), b) << hex(b).toStdString();
    }
    // Lone surrogates that are not escaped bytes cannot be carried: they become '?'.
    EXPECT_EQ(toCipherBytes(QString(QChar(0xD800)) + "x"), QByteArray("?x"));
    EXPECT_EQ(toCipherBytes("y" + QString(QChar(0xDC10))), QByteArray("y?"));
}

TEST(CipherCodepage, RandomUnicodePasswordsRoundTrip) {
    // ASCII without NUL, common Han, the rest of the BMP (surrogates skipped), other planes.
    const std::pair<char32_t, char32_t> ranges[] = {
        {0x01, 0x7F}, {0x4E00, 0x9FA5}, {0x80, 0xD7FF}, {0xE000, 0xFFFF}, {0x10000, 0x10FFFF}};
    std::mt19937 rng(31);
    std::uniform_int_distribution<int> len(1, 16), pick(0, 4);
    for (int i = 0; i < 2000; ++i) {
        std::u32string s;
        for (int n = len(rng); n > 0; --n) {
            const auto& r = ranges[pick(rng)];
            s += std::uniform_int_distribution<char32_t>(r.first, r.second)(rng);
        }
        const QString pw = QString::fromStdU32String(s);
        const QString key = i % 3 ? QString() : QString::fromStdU32String(s.substr(0, 2));
        ASSERT_EQ(DecryptPassword(EncryptPassword(pw, key), key), pw) << i;
    }
}

// Random stored texts, well-formed or not: every one either deciphers or raises ConvertError.
TEST(CipherFuzz, RandomTextsReturnOrRaiseConvertError) {
    std::mt19937 rng(4242);
    const QString alphabet = QStringLiteral("0123456789ABCDEFabcdef0123456789ABCDEF xyzG-+$\t\n密é");
    std::uniform_int_distribution<int> len(0, 40), fromAlphabet(0, int(alphabet.size()) - 1),
        anyUnit(0, 0xFFFF), mode(0, 9);
    int returned = 0, raised = 0;
    for (int i = 0; i < 20000; ++i) {
        QString text;
        for (int n = len(rng); n > 0; --n)
            text += mode(rng) == 0 ? QChar(static_cast<char16_t>(anyUnit(rng))) : alphabet[fromAlphabet(rng)];
        const QString key = i % 2 ? QString() : text.left(3);
        try {
            const QString plain = DecryptPassword(text, key);
            EXPECT_LE(toCipherBytes(plain).size(), text.size() / 2);
            ++returned;
        } catch (const ConvertError&) {
            ++raised;
        }
    }
    EXPECT_GT(returned, 100);
    EXPECT_GT(raised, 100);
}
