#pragma once

#include <QDateTime>
#include <QString>

#include <functional>
#include <memory>

class BackupService;
class FolderLock;
class Operator;
class TMainDm;

// Backup and recovery on the data module: backup and restore under the database lock flag, archive
// copies, validation, the connection reset and de-archiving.
namespace BackupOps {

// Attaches the server-properties service, opens the connection if closed and asks for the server's
// database information; the answer is not used, a failure ends the operation before any change.
void servicePreCheck(TMainDm &dm);
// "TAK" in red or "NIE" in black in Label47.
void showLockFlag(Operator &op, bool locked);
// Sets Bila in the control row to 'T' or 'N' and commits at once; rolled back on failure.
void lockFlagUpdate(TMainDm &dm, Operator &op, QChar flag);

void backupDatabase(TMainDm &dm, Operator &op);
// Runs a backup (run attaches and starts the service and reads its output) with the service writing
// to partialBackupName of each backup file, which replaces the backup file, with its digest, only
// when run ends without error; a failed run leaves the previous backup file as it was. A note for
// the operator when a backup went in place without a digest, else empty.
QString runBackupService(BackupService &backup, const std::function<void()> &run);
QString partialBackupName(const QString &backupFile);
// Backup, restore, verification and de-archiving of one database folder exclude each other: the lock
// for one of them, or a QkError saying that another is running.
std::shared_ptr<FolderLock> takeFolderLock(const QString &databaseFolder);
// Holds the folder's lock across a sequence of this process's operations (backup, verification,
// archive copy, pruning): each takes it from here, and no other operation gets in between.
class HeldFolder {
public:
    explicit HeldFolder(const QString &databaseFolder);
    ~HeldFolder();
    HeldFolder(const HeldFolder &) = delete;
    HeldFolder &operator=(const HeldFolder &) = delete;
};
// Asks the operator first (the question names the backup file and when it was written); false when
// the answer was no, and nothing was changed. The restore builds restoringName beside the live
// database, which takes the live database's place only when the restore reached its end, and only
// while no one else is attached; the replaced database is kept under keptName. A backup that
// is cut, altered after it was written or no backup at all is refused before anything changes. Ends the program
// (through the operator) after a restore that reached its end; any failure leaves the live database
// as it was.
bool restoreDatabase(TMainDm &dm, Operator &op);
QString restoringName(const QString &databaseFolder);
// The replaced database of a restore at when: every restore keeps its own, none overwrites another's.
QString keptName(const QString &databaseFolder, const QDateTime &when);
// The replaced databases kept in the folder, oldest first.
QStringList keptCopies(const QString &databaseFolder);
// The question asked before a restore; written is invalid when the backup file is not there.
QString restoreQuestion(const QString &backupFile, const QDateTime &written);
void validateDatabase(TMainDm &dm, Operator &op);
void resetConnections(TMainDm &dm, Operator &op);
// Asks first when the backup file exists (arj would overwrite it); the folder stays locked until arj ends.
void startDearchiving(TMainDm &dm, Operator &op, const QString &archiveName);
// The question asked before de-archiving over an existing backup file; archived is invalid when the
// archive's date is not known.
QString dearchiveQuestion(const QString &backupFile, const QDateTime &written, const QString &archive,
                          const QDateTime &archived);

// Files the backup file into the archive copy of this hour and waits for the archiver (unattended
// runs must know); throws when the archiver fails. The archive's path.
QString archiveBackup(TMainDm &dm, Operator &op);
// Of the names in a folder, the dated archives to delete so that the keep newest remain: only names
// that are an archive stamp (eight digits) with the archive extension, oldest stamp first.
QStringList archivesToDelete(const QStringList &names, int keep);
// Deletes those in the database folder, each said to the operator; throws when one cannot be deleted.
void pruneArchives(TMainDm &dm, Operator &op, int keep);

// YYMMDDHH: the date, and the hour of the 24-hour clock.
QString archiveStamp(const QDateTime &when);

} // namespace BackupOps
