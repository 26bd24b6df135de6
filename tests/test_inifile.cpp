// The profile (INI) layer: reads and writes with the semantics of the Windows profile functions.
#include "platform/inifile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringConverter>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>

using namespace vardex::ini;

namespace {

class Ini : public ::testing::Test {
  protected:
    QByteArray contents() const {
        QFile f(file);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        return f.readAll();
    }
    void put(const QByteArray& bytes) const {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    QString str(const char* section, const char* key, const QString& def = "dflt",
                int size = DefaultBufferSize) const {
        return getPrivateProfileString(section, key, def, size, file);
    }
    int num(const char* key, int def = -7) const { return getPrivateProfileInt("s", key, def, file); }

    QTemporaryDir dir;
    QString file = dir.path() + "/cnsetting.ini";
};

} // namespace

TEST_F(Ini, ReadsWindowsFilesWithoutRegardToCaseQuotesOrBlanks) {
    put("; written by Windows\r\n"
        "[Other]\r\ncnstr=wrong section\r\n"
        "  [ SETTING ]  \r\n"
        "CNSTR =  Provider=SQLite;Data Source=C:\\a b.db  \r\n"
        "UserId=\"  sa  \"\r\n"
        "enPwd='x'\r\n"
        "empty=\r\n"
        "novalue\r\n"
        "cnstr=second occurrence loses\r\n"
        "[setting]\r\nuserPwd=second section loses\r\n");
    EXPECT_EQ(str("setting", "cnstr"), "Provider=SQLite;Data Source=C:\\a b.db");
    EXPECT_EQ(str("Setting", "userID"), "  sa  "); // quotes dropped, the blanks inside kept
    EXPECT_EQ(str("setting", "enpwd"), "x");
    EXPECT_EQ(str("setting", "empty"), "");       // present and empty: not the default
    EXPECT_EQ(str("setting", "novalue"), "dflt"); // a line without '=' holds no value
    EXPECT_EQ(str("setting", "userPwd"), "dflt"); // only the first section of a name counts
    EXPECT_EQ(str("missing", "cnstr"), "dflt");
    EXPECT_EQ(str("setting", "missing", "trailing   "), "trailing");
    EXPECT_EQ(str("Other", "cnstr"), "wrong section");
}

TEST_F(Ini, StringsAreCutToTheBuffer) {
    const QString longValue(1500, QChar(u'长'));
    ASSERT_TRUE(writePrivateProfileString("setting", "cnstr", longValue, file));
    EXPECT_EQ(str("setting", "cnstr").size(), 999);
    EXPECT_EQ(str("setting", "cnstr", "", 5), QString(4, QChar(u'长')));
    EXPECT_EQ(str("setting", "cnstr", "", 1), "");
    EXPECT_EQ(str("setting", "missing", "abcdef", 4), "abc"); // the default is cut too
}

TEST_F(Ini, IntegersTakeTheLeadingNumber) {
    put("[s]\nzero=0\none=1\nneg=-3\nhex=0x1F\nlead= 12abc\nword=abc\nempty=\nbig=4294967297\n");
    EXPECT_EQ(num("zero"), 0);
    EXPECT_EQ(num("one"), 1);
    EXPECT_EQ(num("neg"), -3);
    EXPECT_EQ(num("hex"), 31);
    EXPECT_EQ(num("lead"), 12);
    EXPECT_EQ(num("word"), 0);   // present but not a number
    EXPECT_EQ(num("empty"), -7); // empty: the default
    EXPECT_EQ(num("missing"), -7);
    EXPECT_EQ(num("big"), 1); // a 32-bit result
}

TEST_F(Ini, WritingCreatesAnOwnerOnlyFile) {
    ASSERT_FALSE(QFile::exists(file));
    EXPECT_EQ(str("setting", "cnstr"), "dflt"); // reading a missing file creates nothing
    ASSERT_FALSE(QFile::exists(file));
    ASSERT_TRUE(writePrivateProfileString("setting", "userPwd", "secret", file));
    namespace fs = std::filesystem;
    EXPECT_EQ(fs::status(file.toStdString()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(contents(), "[setting]\nuserPwd=secret\n");
    ASSERT_TRUE(writePrivateProfileString("setting", "tran", "", file));
    EXPECT_EQ(num("tran"), -7);
    EXPECT_EQ(getPrivateProfileInt("setting", "tran", 0, file), 0);

    // A file others could read (as a copy or an editor leaves it) is narrowed by the first
    // write that puts a password into it; its other lines stay.
    put("[setting]\ncnstr=Provider=SQLite\n");
    fs::permissions(file.toStdString(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                            fs::perms::others_read | fs::perms::others_write);
    ASSERT_TRUE(writePrivateProfileString("setting", "userPwd", "secret", file));
    EXPECT_EQ(fs::status(file.toStdString()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(contents(), "[setting]\ncnstr=Provider=SQLite\nuserPwd=secret\n");
}

TEST_F(Ini, WritingKeepsEveryOtherLineByteForByte) {
    const QByteArray before = "; comment line\r\n"
                              "[first]\r\n"
                              "a = 1\r\n"
                              "\r\n"
                              "[Setting]\r\n"
                              "CNSTR=old\r\n"
                              "other=keep me\r\n"
                              "\r\n"
                              "[last]\r\n"
                              "z=26";
    put(before);
    ASSERT_TRUE(writePrivateProfileString("setting", "cnstr", "  new value  ", file));
    ASSERT_TRUE(writePrivateProfileString("setting", "UpDown1", "2", file));
    ASSERT_TRUE(writePrivateProfileString("extra", "k", "v", file));
    EXPECT_EQ(contents(), QByteArray("; comment line\r\n"
                                     "[first]\r\n"
                                     "a = 1\r\n"
                                     "\r\n"
                                     "[Setting]\r\n"
                                     "CNSTR=  new value  \r\n" // written untrimmed, in the key's place
                                     "other=keep me\r\n"
                                     "UpDown1=2\r\n" // a new key ends its own section
                                     "\r\n"
                                     "[last]\r\n"
                                     "z=26\r\n"
                                     "[extra]\r\n"
                                     "k=v\r\n"));
    EXPECT_EQ(str("setting", "cnstr"), "new value");
    // A value cannot break into a second line of the file.
    ASSERT_TRUE(writePrivateProfileString("setting", "other", "a\r\nb", file));
    EXPECT_EQ(str("setting", "other"), "a  b");
    // A null value removes the key, a null key the whole section.
    ASSERT_TRUE(writePrivateProfileString("setting", "other", QString(), file));
    EXPECT_EQ(str("setting", "other"), "dflt");
    ASSERT_TRUE(writePrivateProfileString("first", QString(), QString(), file));
    EXPECT_EQ(str("first", "a"), "dflt");
    EXPECT_EQ(str("last", "z"), "26");
}

TEST_F(Ini, ChineseCodePageFilesAreReadAndWrittenBackInTheirEncoding) {
    QStringEncoder gbk("GBK");
    if (!gbk.isValid())
        GTEST_SKIP() << "no GBK converter in this Qt build";
    const QByteArray bytes = gbk.encode(QStringLiteral("[setting]\r\nuserID=管理员\r\nnote=中文说明\r\n"));
    put(bytes);
    EXPECT_EQ(str("setting", "userID"), QStringLiteral("管理员"));
    ASSERT_TRUE(writePrivateProfileString("setting", "userID", QStringLiteral("张三"), file));
    EXPECT_EQ(contents(),
              QByteArray(gbk.encode(QStringLiteral("[setting]\r\nuserID=张三\r\nnote=中文说明\r\n"))));
    // UTF-8 with a byte-order mark keeps its mark.
    put("\xEF\xBB\xBF[setting]\nuserID=\xE7\x8E\x8B\n");
    EXPECT_EQ(str("setting", "userID"), QStringLiteral("王"));
    ASSERT_TRUE(writePrivateProfileString("setting", "enPwd", "k", file));
    EXPECT_TRUE(contents().startsWith("\xEF\xBB\xBF[setting]\nuserID="));
}

TEST_F(Ini, AFileThatCannotBeReadGivesDefaultsAndIsNeverOverwritten) {
    // A folder where the file should be: it can be neither read nor replaced.
    ASSERT_TRUE(QDir().mkpath(file));
    EXPECT_EQ(str("setting", "cnstr"), "dflt");
    EXPECT_EQ(num("tran", 5), 5);
    EXPECT_FALSE(writePrivateProfileString("setting", "cnstr", "x", file));
    EXPECT_TRUE(QFileInfo(file).isDir());
    // A folder that does not exist cannot take a new file.
    EXPECT_FALSE(writePrivateProfileString("setting", "cnstr", "x", dir.path() + "/no/such/dir/a.ini"));
}
