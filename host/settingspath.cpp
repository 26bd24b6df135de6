#include "host/settingspath.h"
#include "dialogs/language.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <unistd.h>

namespace vardex::host {

namespace {

bool writable(const QString& path) {
    return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
}

QString configHome() {
    // A relative XDG_CONFIG_HOME is invalid and ignored, as the XDG base-directory rules say.
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return xdg;
    return QDir::homePath() + QStringLiteral("/.config");
}

} // namespace

QString settingsFilePath(const QString& appPath) {
    const QString beside = appPath + QStringLiteral("cnsetting.ini");
    const bool besideUsable = QFileInfo::exists(beside) ? writable(beside) : writable(appPath);
    if (besideUsable)
        return beside;
    return QDir::cleanPath(configHome() + QStringLiteral("/vardex/cnsetting.ini"));
}

namespace {

QString findHelpFile(const QString& appPath, const QString& name) {
    const QString beside = appPath + name;
    if (QFileInfo::exists(beside))
        return beside;
    const QString installed = QDir::cleanPath(appPath + QStringLiteral("../share/doc/vardex/") + name);
    return QFileInfo::exists(installed) ? installed : beside;
}

} // namespace

QString helpFilePath(const QString& appPath) {
    // The English help text while English is chosen and it is there; else the Chinese one.
    if (gui::language() == QLatin1String("en")) {
        const QString english = findHelpFile(appPath, QStringLiteral("Readme.en.txt"));
        if (QFileInfo::exists(english))
            return english;
    }
    return findHelpFile(appPath, QStringLiteral("Readme.txt"));
}

bool prepareSettingsFolder(const QString& settingsFile) {
    const QString folder = QFileInfo(settingsFile).absolutePath();
    if (QFileInfo(folder).isDir())
        return true;
    // The settings hold a database password: the folder is the user's alone.
    if (!QDir().mkpath(folder))
        return false;
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return true;
}

} // namespace vardex::host
