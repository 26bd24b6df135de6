// Where an installed host keeps its settings: run as a user who cannot write the program's
// folder (as root the program first becomes nobody, since root writes every folder), the
// settings go to $XDG_CONFIG_HOME/vardex and come back at the next start; when no place can be
// written, closing says so.
#include "host/mainExe.h"
#include "host/settingspath.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

using namespace vardex;
using namespace vardex::test;
using vardex::host::TForm1;

namespace {

class SettingsLocation : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (::geteuid() != 0)
            return;
        const passwd* nobody = ::getpwnam("nobody");
        ASSERT_NE(nobody, nullptr);
        ASSERT_EQ(::setgroups(0, nullptr), 0);
        ASSERT_EQ(::setgid(nobody->pw_gid), 0);
        ASSERT_EQ(::setuid(nobody->pw_uid), 0);
    }
    void SetUp() override {
        ASSERT_NE(::geteuid(), 0u) << "root writes every folder";
        appPath = root.path() + QStringLiteral("/bin/");
        configHome = root.path() + QStringLiteral("/config");
        ASSERT_TRUE(QDir().mkpath(appPath));
        QFile::setPermissions(appPath, QFileDevice::ReadOwner | QFileDevice::ExeOwner); // as /usr/bin
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome));
    }
    void TearDown() override {
        QFile::setPermissions(appPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QFile::setPermissions(configHome, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    QTemporaryDir root;
    QString appPath;
    QString configHome;
};

TEST_F(SettingsLocation, AReadOnlyProgramFolderKeepsTheSettingsInTheUsersConfigAcrossARestart) {
    const QString expected = configHome + QStringLiteral("/vardex/cnsetting.ini");
    EXPECT_EQ(host::settingsFilePath(appPath), expected);
    {
        TForm1 w(appPath);
        w.show();
        QTest::keyClick(w.Edit1, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(w.Edit1, QStringLiteral("o'brien \\ admin"));
        w.close();
    }
    EXPECT_FALSE(QFileInfo::exists(appPath + QStringLiteral("cnsetting.ini")));
    ASSERT_TRUE(QFileInfo::exists(expected));
    // The file holds a database password: its folder and the file are the user's alone.
    EXPECT_EQ(QFileInfo(configHome + QStringLiteral("/vardex")).permissions() & 0x0077, 0);
    EXPECT_EQ(QFileInfo(expected).permissions() & 0x0077, 0);

    TForm1 again(appPath);
    EXPECT_EQ(again.Edit1->text(), QStringLiteral("o'brien \\ admin"));
}

TEST_F(SettingsLocation, AWritableProgramFolderStillKeepsThemBesideTheProgram) {
    QFile::setPermissions(appPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(host::settingsFilePath(appPath), appPath + QStringLiteral("cnsetting.ini"));
    // An existing file beside a read-only folder is used as long as it can be written.
    QFile f(appPath + QStringLiteral("cnsetting.ini"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    QFile::setPermissions(appPath, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(host::settingsFilePath(appPath), appPath + QStringLiteral("cnsetting.ini"));
}

TEST_F(SettingsLocation, ASaveThatFailsIsSaidNotLost) {
    ASSERT_TRUE(QDir().mkpath(configHome));
    QFile::setPermissions(configHome, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    TForm1 w(appPath);
    w.show();
    MessageRecorder boxes;
    w.close();
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_TRUE(boxes.boxes[0].text.contains(configHome + QStringLiteral("/vardex/cnsetting.ini")))
        << boxes.boxes[0].text.toStdString();
}

} // namespace
