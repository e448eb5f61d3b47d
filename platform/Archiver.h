#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// The outside ARJ archiver, started without waiting; its result is not examined.
namespace Archiver {

struct Launch {
    QString program;
    QStringList arguments;
    QString workingDirectory;
};

// "arj.exe" through the shell on Windows; elsewhere Debian's arj, the parameter text split at blanks.
Launch command(const QString &parameters, const QString &workingDirectory);
// The file the archiver makes for an archive named stamp (it adds its own extension).
QString archiveFileName(const QString &stamp);
// Starts it; false when it could not be started (nobody acts on that).
bool launch(const QString &parameters, const QString &workingDirectory);

// Runs it and waits for it (the command line's archive copy, where an unattended run must know);
// the archiver's exit code, or -1 when it could not be started.
int run(const QString &parameters, const QString &workingDirectory);

// Tests observe the launch instead of starting a process; an empty function restores the real start.
void setLauncher(std::function<bool(const Launch &)> launcher);

} // namespace Archiver
