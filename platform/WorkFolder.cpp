#include "platform/WorkFolder.h"

#include "platform/Errors.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

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

// The kernel's access list layout for its extended attributes (POSIX draft ACLs, version 2): a header,
// then entries sorted by tag and, within the named ones, by id.
enum AclTag : quint16 {
    UserObj = 0x01,
    User = 0x02,
    GroupObj = 0x04,
    Group = 0x08,
    Mask = 0x10,
    Other = 0x20
};
constexpr quint32 kUndefinedId = 0xFFFFFFFFu;
struct AclEntry {
    quint16 tag, perm;
    quint32 id = kUndefinedId;
};

QByteArray aclBytes(std::vector<AclEntry> entries) {
    std::sort(entries.begin(), entries.end(), [](const AclEntry &a, const AclEntry &b) {
        return std::pair(a.tag, a.id) < std::pair(b.tag, b.id);
    });
    QByteArray out;
    auto put = [&out](quint64 value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.append(char((value >> (8 * i)) & 0xFF));
    };
    put(2, 4);
    for (const AclEntry &e : entries) {
        put(e.tag, 2);
        put(e.perm, 2);
        put(e.id, 4);
    }
    return out;
}

// Lets the server's user, and no one else, add files to the folder. The files it adds this process may
// read and write, and so may their owning group and the database folder's group; others may read them,
// as they could the server's files beside the database (its umask is 022), and so may the server a copy
// of one made with its mode.
void grantServer(const QByteArray &folder, gid_t parentGroup) {
    const passwd *server = ::getpwnam(WorkFolder::kServerUser);
    if (!server)
        throw FileError(QStringLiteral("Brak użytkownika serwera %1: serwer nie może zapisać pliku w %2")
                            .arg(QLatin1String(WorkFolder::kServerUser), QFile::decodeName(folder)));
    const uid_t serverUid = server->pw_uid;
    const uid_t me = ::geteuid();
    if (serverUid == me)
        return; // the server runs as this process's user: the owner's bits are its
    const std::vector<AclEntry> access{
        {UserObj, 7}, {User, 7, serverUid}, {GroupObj, 0}, {Mask, 7}, {Other, 0}};
    const std::vector<AclEntry> inherited{{UserObj, 6}, {User, 6, me}, {GroupObj, 6}, {Group, 6, parentGroup},
                                          {Mask, 6},    {Other, 4}};
    const QByteArray a = aclBytes(access), d = aclBytes(inherited);
    if (::setxattr(folder.constData(), "system.posix_acl_access", a.constData(), size_t(a.size()), 0) != 0 ||
        ::setxattr(folder.constData(), "system.posix_acl_default", d.constData(), size_t(d.size()), 0) != 0)
        throw FileError(QStringLiteral("Nie można dać serwerowi (%1) folderu roboczego %2 tylko dla niego "
                                       "(lista dostępu: %3)")
                            .arg(QLatin1String(WorkFolder::kServerUser), QFile::decodeName(folder),
                                 QString::fromLocal8Bit(std::strerror(errno))));
}

} // namespace

WorkFolder::WorkFolder(const QString &parentFolder, Access access) {
    const mode_t mode = access == Access::ServerEnters ? 0711 : 0700;
    for (int n = 1;; ++n) {
        const QString candidate =
            parentFolder + kPrefix + QStringLiteral("%1-%2").arg(QCoreApplication::applicationPid()).arg(n);
        const QByteArray name = QFile::encodeName(candidate);
        if (::mkdir(name.constData(), mode) == 0) {
            ::chmod(name.constData(), mode); // whatever the umask
            m_path = candidate + QLatin1Char('/');
            if (access == Access::ServerWrites) {
                try {
                    struct stat parent {};
                    const gid_t group = ::stat(QFile::encodeName(parentFolder).constData(), &parent) == 0
                                            ? parent.st_gid
                                            : ::getegid();
                    grantServer(name, group);
                } catch (...) {
                    removeFolder(m_path);
                    throw;
                }
            }
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
