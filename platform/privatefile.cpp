#include "platform/privatefile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vardex {

namespace {

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

bool openOwnerOnlyForWriting(QFile& file, const QString& path, QString& error) {
    const QByteArray native = QFile::encodeName(path);
    constexpr int kFlags = O_WRONLY | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::open(native.constData(), kFlags | O_CREAT | O_EXCL, 0600);
    if (fd < 0 && errno == EEXIST) {
        // Opened before it is emptied: a link to another file, or a file of another user, is
        // refused untouched.
        fd = ::open(native.constData(), kFlags | O_NONBLOCK);
        struct stat st {};
        if (fd >= 0 && ::fstat(fd, &st) != 0) {
            error = systemError();
            ::close(fd);
            return false;
        }
        if (fd >= 0 && (!S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != ::geteuid())) {
            ::close(fd);
            error = !S_ISREG(st.st_mode) ? QStringLiteral("not a regular file")
                    : st.st_nlink != 1   ? QStringLiteral("the file has more than one name")
                                         : QStringLiteral("the file belongs to another user");
            return false;
        }
        if (fd >= 0 && (::fchmod(fd, 0600) != 0 || ::ftruncate(fd, 0) != 0)) {
            error = systemError();
            ::close(fd);
            return false;
        }
    }
    if (fd < 0) {
        error = errno == ELOOP ? QStringLiteral("it is a symbolic link") : systemError();
        return false;
    }
    if (!file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        error = file.errorString();
        ::close(fd);
        return false;
    }
    return true;
}

bool openToOthers(const QFile& file) {
    struct stat st {};
    if (!file.isOpen() || ::fstat(file.handle(), &st) != 0)
        return false;
    return S_ISREG(st.st_mode) && (st.st_mode & (S_IRWXG | S_IRWXO)) != 0;
}

} // namespace vardex
