#include "platform/Paths.h"

#include "platform/Errors.h"
#include "platform/Supervisor.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

QString Paths::separator() {
#ifdef Q_OS_WIN
    return QStringLiteral("\\");
#else
    return QStringLiteral("/");
#endif
}

QString Paths::executableFolder() {
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath()) + separator();
}

QString Paths::driveRoot(const QString &databaseFolder) {
#ifdef Q_OS_WIN
    Q_UNUSED(databaseFolder);
    return QStringLiteral("C:\\");
#else
    return databaseFolder;
#endif
}

QString Paths::sqlLiteral(const QString &text) {
    QString s = text;
    s.replace(QLatin1Char('\''), QStringLiteral("''"));
    return s;
}

QString Paths::settingsFolder() {
    QFile pointer(executableFolder() + QStringLiteral("settings-folder"));
    if (pointer.open(QIODevice::ReadOnly)) {
        QString folder = QString::fromUtf8(pointer.readLine()).trimmed();
        if (!folder.isEmpty()) {
            if (!folder.endsWith(separator()))
                folder += separator();
            return folder;
        }
    }
    return executableFolder();
}

namespace {

// The system's reason in Polish for the failures an operator meets; the system's own words otherwise.
QString reason(int err) {
    switch (err) {
    case ENOSPC:
        return QStringLiteral("brak miejsca na dysku");
    case EACCES:
    case EPERM:
        return QStringLiteral("brak uprawnień");
    case ENOENT:
        return QStringLiteral("plik lub folder nie istnieje");
    case EROFS:
        return QStringLiteral("dysk tylko do odczytu");
    case EXDEV:
        return QStringLiteral("pliki na różnych dyskach");
    case EIO:
        return QStringLiteral("błąd odczytu lub zapisu dysku");
    case EDQUOT:
        return QStringLiteral("przekroczony przydział miejsca");
    default:
        return QString::fromLocal8Bit(std::strerror(err));
    }
}

FileError syncError(const QString &what, int err) {
    return FileError(QStringLiteral("Nie można zapisać %1 na dysku: %2").arg(what, reason(err)));
}

FileError renameError(const QString &from, const QString &to, int err) {
    return FileError(QStringLiteral("Nie można zmienić nazwy pliku %1 na %2: %3").arg(from, to, reason(err)));
}

QString folderOf(const QString &file) {
    const qsizetype slash = file.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QStringLiteral(".") : slash == 0 ? QStringLiteral("/") : file.left(slash);
}

} // namespace

void Paths::syncFile(const QString &file) {
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        throw syncError(file, errno);
    // A restored year's database is not on the disk yet: its sync may take seconds.
    int rc = 0, err = 0;
    Supervisor::Idle::whileBlocked([&] {
        rc = ::fsync(fd);
        err = errno;
    });
    ::close(fd);
    if (rc != 0)
        throw syncError(file, err);
}

void Paths::syncFolder(const QString &folder) {
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        throw syncError(folder, errno);
    const int rc = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    // Some file systems (a network share) cannot sync a folder: the rename is theirs to keep.
    if (rc != 0 && err != EINVAL && err != ENOTSUP)
        throw syncError(folder, err);
}

void Paths::syncFolderOf(const QString &file) {
    syncFolder(folderOf(file));
}

QString Paths::numbered(const QString &name, int n) {
    if (n <= 1)
        return name;
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const qsizetype at = dot > slash + 1 ? dot : name.size();
    return name.left(at) + QStringLiteral("-%1").arg(n) + name.mid(at);
}

QString Paths::firstFree(const QString &name) {
    for (int n = 1;; ++n) {
        const QString candidate = numbered(name, n);
        const qsizetype dot = candidate.lastIndexOf(QLatin1Char('.'));
        const QString stem = dot > candidate.lastIndexOf(QLatin1Char('/')) ? candidate.left(dot) : candidate;
        const QString ext = dot > candidate.lastIndexOf(QLatin1Char('/')) ? candidate.mid(dot) : QString();
        if (!QFileInfo::exists(candidate) && !QFileInfo::exists(stem + ext.toLower()) &&
            !QFileInfo::exists(stem + ext.toUpper()))
            return candidate;
    }
}

void Paths::replaceFile(const QString &from, const QString &to, bool syncFirst) {
    if (syncFirst)
        syncFile(from);
    std::error_code ec;
    std::filesystem::rename(std::filesystem::path(from.toStdU16String()),
                            std::filesystem::path(to.toStdU16String()), ec);
    if (ec)
        throw renameError(from, to, ec.value());
    syncFolderOf(to);
}

bool Paths::placeNew(const QString &from, const QString &to) {
    syncFile(from);
    if (::renameat2(AT_FDCWD, QFile::encodeName(from).constData(), AT_FDCWD,
                    QFile::encodeName(to).constData(), RENAME_NOREPLACE) != 0) {
        if (errno == EEXIST)
            return false;
        throw renameError(from, to, errno);
    }
    syncFolderOf(to);
    return true;
}

QString Paths::swapIn(const QString &replacement, const QString &file, const QString &kept) {
    syncFile(replacement); // the engine that wrote it never did
    const QByteArray r = QFile::encodeName(replacement), f = QFile::encodeName(file);
    // The replaced file gets its kept name first, as a second link: at no moment is it only under
    // the replacement's name, where a clean-up would take it for a leftover. Then one rename puts
    // the replacement in its place; when that fails, the live name still holds it and the extra
    // link goes. A kept name someone made meanwhile (two restores in one second) is passed over.
    for (int n = 1;; ++n) {
        const QString name = numbered(kept, n);
        const QByteArray k = QFile::encodeName(name);
        if (::link(f.constData(), k.constData()) == 0) {
            if (::rename(r.constData(), f.constData()) == 0) {
                syncFolderOf(file);
                return name;
            }
            const int err = errno;
            ::unlink(k.constData());
            throw renameError(replacement, file, err);
        }
        if (errno == EEXIST)
            continue;
        // No hard links here: two renames, the first undone when the second fails. The replaced file is
        // under its kept name in between, never under the replacement's.
        if (::renameat2(AT_FDCWD, f.constData(), AT_FDCWD, k.constData(), RENAME_NOREPLACE) != 0) {
            if (errno == EEXIST)
                continue;
            throw renameError(file, name, errno);
        }
        try {
            replaceFile(replacement, file);
        } catch (...) {
            ::renameat2(AT_FDCWD, k.constData(), AT_FDCWD, f.constData(), RENAME_NOREPLACE);
            throw;
        }
        return name;
    }
}

bool Paths::commitWhole(QSaveFile &file) {
    if (!file.isOpen())
        return false;
    if (!file.flush() || file.error() != QFileDevice::NoError || ::fsync(file.handle()) != 0) {
        file.cancelWriting();
        file.commit(); // discards the temporary file; the previous one stays
        return false;
    }
    return file.commit();
}
