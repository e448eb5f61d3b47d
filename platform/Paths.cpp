#include "platform/Paths.h"

#include "platform/Errors.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

QString Paths::separator()
{
#ifdef Q_OS_WIN
    return QStringLiteral("\\");
#else
    return QStringLiteral("/");
#endif
}

QString Paths::executableFolder()
{
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath()) + separator();
}

QString Paths::driveRoot(const QString &databaseFolder)
{
#ifdef Q_OS_WIN
    Q_UNUSED(databaseFolder);
    return QStringLiteral("C:\\");
#else
    return databaseFolder;
#endif
}

QString Paths::sqlLiteral(const QString &text)
{
    QString s = text;
    s.replace(QLatin1Char('\''), QStringLiteral("''"));
    return s;
}

QString Paths::settingsFolder()
{
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

void Paths::replaceFile(const QString &from, const QString &to)
{
    std::error_code ec;
    std::filesystem::rename(std::filesystem::path(from.toStdU16String()), std::filesystem::path(to.toStdU16String()), ec);
    if (ec)
        throw FileError(QStringLiteral("Unable to rename %1 to %2: %3").arg(from, to, QString::fromLocal8Bit(ec.message())));
}

void Paths::swapIn(const QString &replacement, const QString &file, const QString &kept)
{
    const QByteArray r = QFile::encodeName(replacement), f = QFile::encodeName(file), k = QFile::encodeName(kept);
    // The replaced file gets its kept name first, as a second link: at no moment is it only under
    // the replacement's name, where a clean-up would take it for a leftover. Then one rename puts
    // the replacement in its place; when that fails, the live name still holds it and the extra
    // link goes.
    if (::link(f.constData(), k.constData()) == 0) {
        if (::rename(r.constData(), f.constData()) == 0)
            return;
        const int err = errno;
        ::unlink(k.constData());
        throw FileError(QStringLiteral("Unable to rename %1 to %2: %3").arg(replacement, file, QString::fromLocal8Bit(std::strerror(err))));
    }
    // No hard links here: two renames, the first undone when the second fails. The replaced file is
    // under its kept name in between, never under the replacement's.
    if (::renameat2(AT_FDCWD, f.constData(), AT_FDCWD, k.constData(), RENAME_NOREPLACE) != 0)
        throw FileError(QStringLiteral("Unable to rename %1 to %2: %3").arg(file, kept, QString::fromLocal8Bit(std::strerror(errno))));
    try {
        replaceFile(replacement, file);
    } catch (...) {
        ::renameat2(AT_FDCWD, k.constData(), AT_FDCWD, f.constData(), RENAME_NOREPLACE);
        throw;
    }
}
