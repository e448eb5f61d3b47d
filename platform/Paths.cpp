#include "platform/Paths.h"

#include "platform/Errors.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>

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
    const QByteArray r = QFile::encodeName(replacement), f = QFile::encodeName(file);
    if (::renameat2(AT_FDCWD, r.constData(), AT_FDCWD, f.constData(), RENAME_EXCHANGE) == 0) {
        replaceFile(replacement, kept); // the replacement's name now holds the replaced file
        return;
    }
    replaceFile(file, kept);
    try {
        replaceFile(replacement, file);
    } catch (...) {
        replaceFile(kept, file);
        throw;
    }
}
