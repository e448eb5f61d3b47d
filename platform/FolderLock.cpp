#include "platform/FolderLock.h"

#include "platform/Errors.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

QString FolderLock::fileName() {
    return QStringLiteral("bazaqk.abk.lock");
}

std::shared_ptr<FolderLock> FolderLock::tryTake(const QString &folder) {
    const QString file = folder + fileName();
    const QByteArray path = QFile::encodeName(file);
    // Never through a link someone planted; the group's operators share the file, whoever made it
    // (the mode is set past the umask). One that cannot be written is still locked read-only.
    int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0660);
    if (fd >= 0) {
        struct stat st {};
        if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 0777) != 0660)
            ::fchmod(fd, 0660);
    } else if (errno == EACCES) {
        fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    }
    // No such folder: there is nothing in it to protect, and the operation fails on its own with the
    // message that says why (the database or the backup file is not there).
    if (fd < 0 && errno == ENOENT && !QFileInfo(folder).exists())
        return std::shared_ptr<FolderLock>(new FolderLock(-1));
    if (fd < 0)
        throw FileError(
            QStringLiteral("Nie można otworzyć pliku blokady %1: %2%3.\rNic nie zostało zmienione.")
                .arg(file, QString::fromLocal8Bit(std::strerror(errno)),
                     errno == ELOOP
                         ? QStringLiteral(" (to dowiązanie symboliczne, a nie plik)")
                         : QStringLiteral(" (operacja na kopii potrzebuje prawa zapisu w folderze bazy)")));
    // Each open is a lock of its own: a second operation of this same process is refused too.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK)
            return nullptr;
        throw FileError(QStringLiteral("Nie można zablokować pliku %1: %2.\rNic nie zostało zmienione.")
                            .arg(file, QString::fromLocal8Bit(std::strerror(err))));
    }
    return std::shared_ptr<FolderLock>(new FolderLock(fd));
}

bool FolderLock::isHeld(const QString &folder) {
    const int fd =
        ::open(QFile::encodeName(folder + fileName()).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd); // a lock taken to look is let go at once
    return held;
}

FolderLock::~FolderLock() {
    if (m_fd >= 0)
        ::close(m_fd); // releases the lock
}
