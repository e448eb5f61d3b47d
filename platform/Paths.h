#pragma once

#include <QString>

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
// between); throws FileError when it cannot.
void replaceFile(const QString &from, const QString &to);
// Puts replacement in the place of file and file under the new name kept, so that the replaced file is
// never only under the replacement's name: a second link and one rename where the file system has
// hard links (the name file then always names a whole database), else two renames, undoing the first
// when the second fails. Never overwrites kept. Throws FileError when it cannot.
void swapIn(const QString &replacement, const QString &file, const QString &kept);

} // namespace Paths
