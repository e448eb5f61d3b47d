#pragma once

#include <QString>

class QSaveFile;

// Where the operating system puts things: the path separator, the executable's folder and the
// place that stands in for the root of drive C:.
namespace Paths {

// "\" on Windows, "/" elsewhere.
QString separator();
// The folder of the running executable, ending with the separator.
QString executableFolder();
// The root of drive C: for the exchange files: "C:\" on Windows; elsewhere the database folder,
// which already holds the database, its backup file and the exchange files.
QString driveRoot(const QString &databaseFolder);
// Text placed inside an SQL string literal: single quotes doubled.
QString sqlLiteral(const QString &text);
// The folder of setup.ini, jn.ini and paczki/, ending with the separator: the one named by the first
// line of the file "settings-folder" in the executable's folder (an installed program keeps them
// where its operators may write), else the executable's folder.
QString settingsFolder();
// Puts the file from in the place of the file to in one step (the old one is never missing in
// between), durably: from is on disk before the rename (unless the caller cannot read it and its writer
// synced it: syncFirst false) and the rename is on disk after it. Throws FileError when it cannot.
void replaceFile(const QString &from, const QString &to, bool syncFirst = true);
// Puts the new file from under the name to, which nothing may hold yet, durably (from synced first, the
// folder after); false when something appeared under to meanwhile. Throws FileError otherwise.
bool placeNew(const QString &from, const QString &to);
// Puts replacement in the place of file and file under a name of its own, so that the replaced file is
// never only under the replacement's name: a second link and one rename where the file system has
// hard links (the name file then always names a whole database), else two renames, undoing the first
// when the second fails. The kept name is the first of numbered(kept, 1), numbered(kept, 2), ... that
// does not exist (never an overwrite, whoever made the name meanwhile); the name used. The replacement
// is on disk before it takes the place, the folder after. Throws FileError when it cannot.
QString swapIn(const QString &replacement, const QString &file, const QString &kept);

// name itself for n 1, else "-n" before its extension: "x-20261209-154344.adb", "x-20261209-154344-2.adb".
QString numbered(const QString &name, int n);
// The first of numbered(name, 1), numbered(name, 2), ... that names nothing yet (in any letter case
// of its extension: an archive copied from Windows has its own).
QString firstFree(const QString &name);

// Ends a save only when every byte written reached the disk: flushed, its error checked, synced, then
// committed (Qt 6.4's commit() puts a file in place after its buffered write failed on a full disk). On
// any failure the save is cancelled, the previous file stays, and false is returned (errorString()
// says why).
bool commitWhole(QSaveFile &file);

// Forces what was written to file onto the disk, whoever wrote it (the server, the engine, arj):
// through a descriptor of its own, since a file's dirty pages are synced whoever has it open.
// Throws FileError when it cannot.
void syncFile(const QString &file);
// Forces a folder's entries onto the disk: a rename, a new or a removed name in it.
void syncFolder(const QString &folder);
void syncFolderOf(const QString &file);

} // namespace Paths
