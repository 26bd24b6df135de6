#include "platform/shellfolders.h"

#include <QDir>
#include <QStandardPaths>
#include <QStringList>

#ifdef Q_OS_WIN
#include <QSettings>
#include <QVariant>
#include <windows.h>
#endif

namespace vardex {

#ifdef Q_OS_WIN

namespace {
// The folder calls answer with the length written, or the size they would need when the
// buffer is too small; only the first case gives a name.
template <typename Call> QString fromFolderCall(Call call) {
    wchar_t buffer[MAX_PATH + 1];
    const UINT n = call(buffer, MAX_PATH + 1);
    return (n > 0 && n <= MAX_PATH) ? QString::fromWCharArray(buffer, static_cast<int>(n)) : QString();
}
} // namespace

QString windowsFolder() {
    return fromFolderCall([](wchar_t* b, UINT n) { return GetWindowsDirectoryW(b, n); });
}

QString systemFolder() {
    return fromFolderCall([](wchar_t* b, UINT n) { return GetSystemDirectoryW(b, n); });
}

QString tempFolder() {
    return fromFolderCall([](wchar_t* b, UINT n) { return static_cast<UINT>(GetTempPathW(n, b)); });
}

QString programFilesFolder() {
    // The drive root is the first three characters of "C:\Windows\".
    return (windowsFolder() + QLatin1Char('\\')).left(3) + QStringLiteral("Program Files");
}

std::optional<QString> shellFolder(const QString& valueName) {
    QSettings key(QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\"
                                 "Explorer\\Shell Folders"),
                  QSettings::NativeFormat);
    const QVariant value = key.value(valueName);
    if (!value.isValid())
        return QString();
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

#else

namespace {
QString withoutTrailingSlash(QString path) {
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}
} // namespace

QString windowsFolder() {
    // The first entry is the user's own data folder; the last is the system-wide one.
    const QStringList dirs = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    if (dirs.size() > 1)
        return withoutTrailingSlash(dirs.last());
    return QStringLiteral("/usr/share");
}

QString systemFolder() {
    return QStringLiteral("/usr/lib");
}

QString tempFolder() {
    const QString path = withoutTrailingSlash(QDir::tempPath());
    return path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
}

QString programFilesFolder() {
    return QStringLiteral("/opt");
}

std::optional<QString> shellFolder(const QString& valueName) {
    QStandardPaths::StandardLocation location;
    if (valueName.compare(QLatin1String("Desktop"), Qt::CaseInsensitive) == 0)
        location = QStandardPaths::DesktopLocation;
    else if (valueName.compare(QLatin1String("Personal"), Qt::CaseInsensitive) == 0)
        location = QStandardPaths::DocumentsLocation;
    else if (valueName.compare(QLatin1String("My Pictures"), Qt::CaseInsensitive) == 0)
        location = QStandardPaths::PicturesLocation;
    else if (valueName.compare(QLatin1String("AppData"), Qt::CaseInsensitive) == 0)
        location = QStandardPaths::GenericDataLocation;
    else
        return QString(); // like a registry value that is not there
    return withoutTrailingSlash(QStandardPaths::writableLocation(location));
}

#endif

} // namespace vardex
