#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <memory>

class FolderLock;
class Operator;
class WorkFolder;
class TMainDm;
namespace BackupFormat {
struct Walk;
}

// Backup and recovery on the data module: backup and restore under the database lock flag, archive
// copies, validation, the connection reset and de-archiving.
namespace BackupOps {

// Attaches the server-properties service, opens the connection if closed and asks for the server's
// database information; the answer is not used, a failure ends the operation before any change.
void servicePreCheck(TMainDm &dm);
// Sets Bila in the control row to 'T' or 'N' and commits at once; rolled back on failure.
// committed (when given) is set once the flag is committed: the operator's next step may still throw
// (a signal) after that.
void lockFlagUpdate(TMainDm &dm, Operator &op, QChar flag, bool *committed = nullptr);

// Backup, restore, verification and de-archiving of one database folder exclude each other. An
// operation takes the folder's lock for itself, or uses the one held gives it: a sequence of this
// process's operations (backup, verification, archive copy, pruning) holds one lock throughout, and no
// other operation gets in between. A QkError saying that another is running when it is held elsewhere.
using Lock = std::shared_ptr<FolderLock>;
Lock takeFolderLock(const QString &databaseFolder, const Lock &held = {});

// A backup the server has just written beside the backup file, not yet in its place. It goes (the
// file is removed) unless it was put in place or set aside.
class NewBackup {
public:
    // work: the folder of this process's own that written is in, which goes with it.
    NewBackup(QString written, QString backupFile, std::shared_ptr<WorkFolder> work = {});
    NewBackup(NewBackup &&other) noexcept;
    ~NewBackup();
    NewBackup &operator=(NewBackup &&) = delete;
    // Where the backup is now.
    const QString &file() const { return m_file; }
    // Writes its digest beside it, so that a verification of it checks the digest too.
    void writeDigest();
    // Puts it in the backup file's place with its digest (the previous backup and its digest go).
    // A note for the operator when it went in place without a digest, else empty.
    QString publish();
    // Keeps it under a name that says it failed, beside the backup file, which stays as it was; the name.
    QString setAside();

private:
    std::shared_ptr<WorkFolder> m_work;
    QString m_file;
    QString m_backupFile;
    QByteArray m_hex; // its digest, once written
    bool m_kept = false;
};

struct BackupOptions {
    Lock held;
    // False: the backup is left beside the backup file for the caller to verify first, then publish or
    // set aside; the previous backup stays the backup file until then.
    bool putInPlace = true;
};
// The backup under the lock flag; the server writes beside the backup file (a failed backup deletes
// its output: were that the backup file, the last good backup would go with it), the embedded engine
// in a work folder of this process's own there (it follows a link planted under its output's name,
// with this process's rights).
NewBackup backupDatabase(TMainDm &dm, Operator &op, const BackupOptions &options = {});
QString partialBackupName(const QString &backupFile);
// Where a backup that failed its verification is kept: bazaqk-nieudana-YYYYMMDD-HHMMSS.abk.
QString failedBackupName(const QString &databaseFolder, const QDateTime &when);
// Of the names in a folder, the backups kept after a failed verification to delete so that the keep
// newest remain (with their digests), oldest first.
QStringList failedBackupsToDelete(const QStringList &names, int keep);
// Deletes those in the database folder, each said to the operator.
void pruneFailedBackups(TMainDm &dm, Operator &op, int keep);

struct RestoreOptions {
    Lock held;
    // The command line waits for the archive copy after the restore (its summary comes last); the window
    // ends at once and leaves the archiver to finish.
    bool waitForArchiver = false;
};
// Asks the operator first (the question names the backup file, when it was written and the database
// it was made of); false when the answer was no, and nothing was changed. The restore builds
// restoringName beside the live database, which takes the live database's place only when the restore
// reached its end, and only while no one else is attached; the replaced database is kept under a name
// of its own. A backup that is cut, altered after it was written, not the accounting program's or
// replaced after its check is refused before anything changes. Ends the program (through the operator)
// after a restore that reached its end; any failure leaves the live database as it was.
bool restoreDatabase(TMainDm &dm, Operator &op, const RestoreOptions &options = {});
QString restoringName(const QString &databaseFolder);
// The replaced database of a restore at when; a second in the same second gets "-2" and so on.
QString keptName(const QString &databaseFolder, const QDateTime &when);
// The replaced databases kept in the folder, oldest first.
QStringList keptCopies(const QString &databaseFolder);
// The question asked before a restore; written is invalid when the backup file is not there, walk
// (when given) names the database the backup was made of and its date.
QString restoreQuestion(const QString &backupFile, const QDateTime &written,
                        const BackupFormat::Walk *walk = nullptr);

void validateDatabase(TMainDm &dm, Operator &op);
void resetConnections(TMainDm &dm, Operator &op);

// De-archiving takes only the backup and its digest out of the archive, into a folder of its own, and
// puts them in place only when the backup passes its check; the backup it replaces is kept aside. The
// window's: arj runs while the window stays usable, the operator hears when it has ended and how; the
// folder stays locked until then.
void startDearchiving(TMainDm &dm, Operator &op, const QString &archiveName);
// The command line's: waits for arj; true when the backup was brought back.
bool dearchive(TMainDm &dm, Operator &op, const QString &archiveName);
// The question asked before de-archiving over an existing backup file; archived is invalid when the
// archive's date is not known; aside is where the current backup goes.
QString dearchiveQuestion(const QString &backupFile, const QDateTime &written, const QString &archive,
                          const QDateTime &archived, const QString &aside);
// Where de-archiving keeps the backup it replaces: bazaqk-przed-dearchiwizacja-YYYYMMDD-HHMMSS.abk.
QString replacedBackupName(const QString &databaseFolder, const QDateTime &when);

// Files the backup file into a new archive copy of this hour and waits for the archiver (unattended
// runs must know), the archive on disk before it returns; throws when the archiver fails. The archive's path.
QString archiveBackup(TMainDm &dm, Operator &op, const Lock &held = {});
// Of the names in a folder, the dated archives to delete so that the keep newest remain: only names
// that are this program's stamps (Archiver::archiveCopyTime), oldest first. justMade (the archive this
// run made) is one of those kept, never deleted; a stamp after now (when given: a clock that once ran
// ahead, or a name made by hand) is neither counted nor deleted.
QStringList archivesToDelete(const QStringList &names, int keep, const QDateTime &now = {},
                             const QString &justMade = {});
// Of the names, the dated archives whose stamp is after now.
QStringList futureArchives(const QStringList &names, const QDateTime &now);
// Deletes those in the database folder, each said to the operator, and says each archive dated in the
// future; throws when one cannot be deleted. justMade: the archive's file name this run made.
void pruneArchives(TMainDm &dm, Operator &op, int keep, const Lock &held = {}, const QString &justMade = {});

// YYMMDDHH: the date, and the hour of the 24-hour clock.
QString archiveStamp(const QDateTime &when);

} // namespace BackupOps
