#include "platform/RootFiles.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString userName(uid_t uid) {
    const passwd *p = ::getpwuid(uid);
    return p ? QString::fromUtf8(p->pw_name) : QString::number(uid);
}

QString groupName(gid_t gid) {
    const group *g = ::getgrgid(gid);
    return g ? QString::fromUtf8(g->gr_name) : QString::number(gid);
}

} // namespace

namespace RootFiles {

bool privilegedRun() {
    // A process's user does not change: asked once (every connection's credentials ask it).
    static const bool privileged = [] {
        const uid_t me = ::geteuid();
        if (me == 0)
            return true;
        const passwd *unit = ::getpwnam(kUnitUser);
        return unit && unit->pw_uid == me;
    }();
    return privileged;
}

QString runningAs() {
    return userName(::geteuid());
}

QString othersMayChange(uid_t owner, gid_t group, mode_t mode, uid_t alsoOwner) {
    if (owner != 0 && owner != alsoOwner)
        return QStringLiteral("jego właścicielem jest %1").arg(userName(owner));
    if (mode & S_IWOTH)
        return QStringLiteral("każdy może go zmieniać");
    // A group-writable file of root's group is still others' when anyone but root is in that group.
    if (mode & S_IWGRP)
        return QStringLiteral("grupa %1 może go zmieniać").arg(groupName(group));
    return {};
}

std::optional<QByteArray> readRootsFile(const QString &file, QString &why, uid_t alsoOwner) {
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0 && errno == ENOENT)
        return QByteArray();
    if (fd < 0) {
        why = QStringLiteral("nie można go odczytać (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return std::nullopt;
    }
    struct stat st {};
    QByteArray bytes;
    if (::fstat(fd, &st) != 0) {
        why = QStringLiteral("nie można go sprawdzić");
    } else if (!S_ISREG(st.st_mode)) {
        why = QStringLiteral("to nie jest zwykły plik");
    } else {
        why = othersMayChange(st.st_uid, st.st_gid, st.st_mode, alsoOwner);
        if (why.isEmpty()) {
            QFile f;
            if (f.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
                bytes = f.readAll();
        }
    }
    ::close(fd);
    if (!why.isEmpty())
        return std::nullopt;
    return bytes;
}

QString othersMayReplace(const QString &path, uid_t alsoOwner) {
    char *resolved = ::realpath(QFile::encodeName(path).constData(), nullptr);
    QByteArray real = resolved ? QByteArray(resolved) : QByteArray();
    ::free(resolved);
    struct stat st {};
    if (!real.isEmpty()) {
        if (::stat(real.constData(), &st) != 0)
            return QStringLiteral("nie można sprawdzić pliku %1").arg(path);
        if (const QString why = othersMayChange(st.st_uid, st.st_gid, st.st_mode, alsoOwner); !why.isEmpty())
            return QStringLiteral("plik %1: %2").arg(QFile::decodeName(real), why);
    } else {
        // A file that is not there yet: the folder it would be made in.
        char *folder =
            ::realpath(QFile::encodeName(path.section(QLatin1Char('/'), 0, -2)).constData(), nullptr);
        real = folder ? QByteArray(folder) + "/-" : QByteArray();
        ::free(folder);
        if (real.isEmpty())
            return QStringLiteral("nie można sprawdzić folderu pliku %1").arg(path);
    }
    // Each folder above: one another may write lets them rename anything of root's there away.
    while (real.size() > 1) {
        const qsizetype slash = real.lastIndexOf('/');
        real = slash > 0 ? real.left(slash) : QByteArray("/");
        if (::stat(real.constData(), &st) != 0)
            return QStringLiteral("nie można sprawdzić folderu %1").arg(QFile::decodeName(real));
        QString why;
        if (st.st_uid != 0 && st.st_uid != alsoOwner)
            why = QStringLiteral("jego właścicielem jest %1").arg(userName(st.st_uid));
        else if ((st.st_mode & S_IWOTH) && !(st.st_mode & S_ISVTX))
            why = QStringLiteral("każdy może w nim podmieniać pliki");
        else if ((st.st_mode & S_IWGRP) && !(st.st_mode & S_ISVTX))
            why = QStringLiteral("grupa %1 może w nim podmieniać pliki").arg(groupName(st.st_gid));
        if (!why.isEmpty())
            return QStringLiteral("folder %1: %2").arg(QFile::decodeName(real), why);
    }
    return {};
}

QString refusedForWriting(const QString &file) {
    struct stat st {};
    if (::lstat(QFile::encodeName(file).constData(), &st) != 0)
        return {};
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("to dowiązanie symboliczne");
    return othersMayChange(st.st_uid, st.st_gid, st.st_mode);
}

} // namespace RootFiles
