#include "platform/Archiver.h"

#include <QProcess>

namespace {

bool startDetached(const Archiver::Launch &l)
{
    return QProcess::startDetached(l.program, l.arguments, l.workingDirectory);
}

std::function<bool(const Archiver::Launch &)> &launcher()
{
    static std::function<bool(const Archiver::Launch &)> f = startDetached;
    return f;
}

} // namespace

Archiver::Launch Archiver::command(const QString &parameters, const QString &workingDirectory)
{
#ifdef Q_OS_WIN
    return {QStringLiteral("cmd.exe"), {QStringLiteral("/c"), QStringLiteral("arj.exe ") + parameters}, workingDirectory};
#else
    return {QStringLiteral("arj"), parameters.split(QLatin1Char(' '), Qt::SkipEmptyParts), workingDirectory};
#endif
}

QString Archiver::archiveFileName(const QString &stamp)
{
#ifdef Q_OS_WIN
    return stamp + QStringLiteral(".ARJ");
#else
    return stamp + QStringLiteral(".arj"); // Debian's arj names its archives in lower case
#endif
}

bool Archiver::launch(const QString &parameters, const QString &workingDirectory)
{
    return launcher()(command(parameters, workingDirectory));
}

int Archiver::run(const QString &parameters, const QString &workingDirectory)
{
    const Launch l = command(parameters, workingDirectory);
    QProcess p;
    p.setWorkingDirectory(l.workingDirectory);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(l.program, l.arguments);
    if (!p.waitForStarted() || !p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit)
        return -1;
    return p.exitCode();
}

void Archiver::setLauncher(std::function<bool(const Launch &)> l)
{
    launcher() = l ? std::move(l) : startDetached;
}
