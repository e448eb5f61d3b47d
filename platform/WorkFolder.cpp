#include "platform/WorkFolder.h"

#include "platform/Errors.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kPrefix = QStringLiteral(".qk-praca-");

// Every entry but subfolders, then the folder itself; a link is removed as a link, and a name that is
// not a folder (a link planted under a work folder's name) only as that name.
bool removeFolder(const QString &folder) {
    const QByteArray name = QFile::encodeName(folder.endsWith(QLatin1Char('/')) ? folder.chopped(1) : folder);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode))
        return ::unlink(name.constData()) == 0;
    const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (DIR *d = ::fdopendir(fd)) {
        while (const dirent *e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                ::unlinkat(fd, e->d_name, 0);
        ::closedir(d);
    } else {
        ::close(fd);
    }
    return ::rmdir(name.constData()) == 0;
}

} // namespace

WorkFolder::WorkFolder(const QString &parentFolder, Access access) {
    const mode_t mode = access == Access::OwnerOnly ? 0700 : 0711;
    for (int n = 1;; ++n) {
        const QString candidate =
            parentFolder + kPrefix + QStringLiteral("%1-%2").arg(QCoreApplication::applicationPid()).arg(n);
        const QByteArray name = QFile::encodeName(candidate);
        if (::mkdir(name.constData(), mode) == 0) {
            ::chmod(name.constData(), mode); // whatever the umask
            m_path = candidate + QLatin1Char('/');
            return;
        }
        if (errno != EEXIST || n >= 1000)
            throw FileError(QStringLiteral("Unable to create %1: %2")
                                .arg(candidate, QString::fromLocal8Bit(std::strerror(errno))));
    }
}

WorkFolder::~WorkFolder() {
    removeFolder(m_path);
}

bool WorkFolder::isWorkFolderName(const QString &name) {
    return name.startsWith(kPrefix);
}

QStringList WorkFolder::removeLeftovers(const QString &parentFolder) {
    QStringList removed;
    const QString mine = kPrefix + QString::number(QCoreApplication::applicationPid()) + QLatin1Char('-');
    for (const QString &name :
         QDir(parentFolder)
             .entryList({kPrefix + QLatin1Char('*')},
                        QDir::Dirs | QDir::Files | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot))
        if (!name.startsWith(mine) && removeFolder(parentFolder + name))
            removed << name;
    return removed;
}
