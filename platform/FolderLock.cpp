#include "platform/FolderLock.h"

#include "platform/Errors.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

QString FolderLock::fileName()
{
    return QStringLiteral("bazaqk.abk.lock");
}

std::shared_ptr<FolderLock> FolderLock::tryTake(const QString &folder)
{
    const QByteArray path = QFile::encodeName(folder + fileName());
    // Readable by everyone who may run an operation: a lock needs no write access once the file exists.
    int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    // No such folder: there is nothing in it to protect, and the operation fails on its own with the
    // message that says why (the database or the backup file is not there).
    if (fd < 0 && errno == ENOENT)
        return std::shared_ptr<FolderLock>(new FolderLock(-1));
    if (fd < 0)
        throw FileError(QStringLiteral("Unable to open %1: %2").arg(folder + fileName(), QString::fromLocal8Bit(std::strerror(errno))));
    // Each open is a lock of its own: a second operation of this same process is refused too.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::shared_ptr<FolderLock>(new FolderLock(fd));
}

FolderLock::~FolderLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // releases the lock
}
