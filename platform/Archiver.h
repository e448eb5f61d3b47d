#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class Supervisor;

// The outside ARJ archiver.
namespace Archiver {

struct Launch {
    QString program;
    QStringList arguments;
    QString workingDirectory;
    int heldLock = -1; // a lock's descriptor the process keeps (as its descriptor 3) until it ends
};

// "arj.exe" through the shell on Windows; elsewhere Debian's arj. Each argument stays one argument,
// blanks and all.
Launch command(const QStringList &arguments, const QString &workingDirectory);
// The file the archiver makes for an archive named stamp (it adds its own extension).
QString archiveFileName(const QString &stamp);
// The date and hour of a dated archive copy's name: a stamp this program makes (YYMMDDHH, a real date
// of 2000 to 2099 and an hour of the 24-hour clock), perhaps with "-N" (the Nth of its hour), with the
// archive extension (any case); invalid for any other name.
QDateTime archiveCopyTime(const QString &fileName);
bool isArchiveCopyName(const QString &fileName);
// The name to give arj for a new archive copy at stamp in folder: the stamp itself, or "stamp-2",
// "stamp-3" ... when that hour already has one. arj adds to an archive that exists (and replaces a
// member of the same name in it), so an archive is never named twice.
QString newArchiveName(const QString &folder, const QString &stamp);
// Orders dated archive names by time: by the stamp's date and hour, then by their number within it.
bool archiveCopyBefore(const QString &a, const QString &b);

// The names an ARJ archive holds, in order, folders joined with '/', read from its headers (arj itself
// matches names by case on this system: a differently cased name is said as such); empty when the file
// cannot be read as an ARJ archive.
QStringList memberNames(const QString &archiveFile);

// Called with the archiver's exit code once it has ended (-1: it was killed).
using Finished = std::function<void(int exitCode)>;

// Starts it without waiting; false when it could not be started. When finished is given, it is
// called from the event loop once the archiver has ended; the program may end before that, and the
// archiver then goes on alone.
bool launch(const QStringList &arguments, const QString &workingDirectory, Finished finished = {},
            int heldLock = -1);
// Runs it and waits for it (the command line's archive copy, where an unattended run must know);
// the archiver's exit code, or -1 when it could not be started or was killed.
int run(const QStringList &arguments, const QString &workingDirectory);

// Any program started the way the archiver is, under the one supervisor (platform/Supervisor): in its
// working directory, standard input and output from and to the null device, and nothing else of this
// process open in it but standard error (an archiver that inherited the embedded engine's database and
// lock files would hold the database after the program ended); a signal to this program reaches it.
// Runs it and waits, the ambient idle function (the window's events) called meanwhile; its exit code,
// or -1 when it could not be started or was killed.
int runLaunch(const Launch &launch);
// Starts it without waiting; finished is called from the event loop once it has ended. False when it
// could not be started. The program may end before it: it then goes on alone.
bool start(const Launch &launch, Finished finished);

// An archiver started now and waited for later, working meanwhile while the caller does something else
// (the verification of the very backup it files); under the one supervisor as runLaunch's, a signal to
// this program reaching it from the start. One that goes before it was waited for is stopped by its
// rule (a signal to this program already passed on is not asked again) and reaped.
class Running {
public:
    explicit Running(const Launch &launch);
    ~Running();
    Running(const Running &) = delete;
    Running &operator=(const Running &) = delete;
    bool started() const;
    // Waits for it, the ambient idle function called meanwhile; its exit code, or -1 when it could not be
    // started or was killed.
    int wait();

private:
#ifdef Q_OS_WIN
    Launch m_launch;
#else
    std::unique_ptr<Supervisor> m_child;
#endif
};

// Tests observe the launch instead of starting a process; an empty function restores the real start.
void setLauncher(std::function<bool(const Launch &, Finished)> launcher);

} // namespace Archiver
