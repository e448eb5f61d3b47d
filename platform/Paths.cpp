#include "platform/Paths.h"

#include <QCoreApplication>
#include <QDir>

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
