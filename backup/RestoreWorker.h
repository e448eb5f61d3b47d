#pragma once

#include <QString>

#include <functional>

class RestoreService;

// The embedded engine's restore in a process of its own. A backup the engine chokes on (a crash in
// the engine is a crash of the process it runs in) then ends the worker, not the window or the
// command line, and the live database, its lock flag and the folder stay as they were.
namespace RestoreWorker {

inline constexpr const char *kFlag = "--qk-restore-worker";

// Called first thing in a program's main: runs the worker and returns its exit status when the
// arguments ask for it, -1 otherwise.
int runIfAsked(int argc, char **argv);

struct Job {
    QString backupFile;
    QString target;    // a new database file
    int heldLock = -1; // the folder lock's descriptor: the worker holds the lock as long as it lives
    std::function<void(const QString &)> line; // each line of the engine's output as it arrives
    std::function<void()> idle;                // called at least every tenth of a second while it works
    // Seconds the restore may take; 0: an hour and a second for every 256 KB of the backup.
    qint64 limitSeconds = 0;
};

// Restores the job's backup into its new database file on the embedded engine, in a worker. True
// when the restore reached its end. Throws QkError when the engine reports an error, the worker dies
// or runs past its limit; the worker is asked to stop (SIGINT: its engine aborts cleanly) and waited
// for however this ends, a signal to this program included. The target is the caller's to remove.
bool restore(const Job &job);

// The limit for a backup of size bytes when QK_RESTORE_LIMIT (seconds) does not name one.
qint64 limitFor(qint64 backupBytes);

// The one configuration of the create-only restore every restore of this program uses: a new file
// (never the server's replace, which drops the database before reading the backup), verbose output
// (it runs until the restore has ended and carries its failure).
void configureCreateOnly(RestoreService &restore, const QString &backupFile, const QString &target);

} // namespace RestoreWorker
