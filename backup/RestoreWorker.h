#pragma once

#include <QString>

#include <functional>

// The embedded engine's restore in a process of its own. A backup the engine chokes on (a crash in
// the engine is a crash of the process it runs in) then ends the worker, not the window or the
// command line, and the live database, its lock flag and the folder stay as they were.
namespace RestoreWorker {

inline constexpr const char *kFlag = "--qk-restore-worker";

// Called first thing in a program's main: runs the worker and returns its exit status when the
// arguments ask for it, -1 otherwise.
int runIfAsked(int argc, char **argv);

// Restores backupFile into the new database file target on the embedded engine, in a worker, each
// line of the engine's output handed to line as it arrives. True when the restore reached its end.
// Throws QkError when the engine reports an error or the worker dies; target is the caller's to remove.
bool restore(const QString &backupFile, const QString &target, const std::function<void(const QString &)> &line);

} // namespace RestoreWorker
