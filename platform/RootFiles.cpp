#include "platform/RootFiles.h"

#include <QFile>

#include <cerrno>
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

QString refusedForWriting(const QString &file) {
    struct stat st {};
    if (::lstat(QFile::encodeName(file).constData(), &st) != 0)
        return {};
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("to dowiązanie symboliczne");
    return othersMayChange(st.st_uid, st.st_gid, st.st_mode);
}

} // namespace RootFiles
