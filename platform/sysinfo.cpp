#include "platform/sysinfo.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSysInfo>

namespace vardex {

QString computerName() {
    QString name = QSysInfo::machineHostName();
    // Cut to 255 bytes without splitting a character.
    while (name.toLocal8Bit().size() > 255)
        name.chop(1);
    return name;
}

QString applicationFolder() {
    QString dir;
    if (QCoreApplication::instance())
        dir = QCoreApplication::applicationDirPath();
    else
        dir =
            QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(QLatin1Char('/'), 0, -2);
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

} // namespace vardex
