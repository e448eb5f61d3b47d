#include "backup/BackupOps.h"

#include "core/MainD.h"
#include "core/Operator.h"
#include "core/ServiceRun.h"
#include "platform/BackupDigest.h"
#include "backup/BackupGate.h"
#include "backup/RestoreWorker.h"
#include "db/DatabaseInfo.h"
#include "db/Errors.h"
#include "platform/Archiver.h"
#include "platform/Clock.h"
#include "platform/FolderLock.h"
#include "platform/Paths.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>
#include <optional>


namespace BackupOps {

namespace {

const QString kBuMemo = QStringLiteral("BuMemo");
const QString kArchiverMissing = QStringLiteral("Nie można uruchomić programu arj");

QString inUseMessage(const QString &database, int attachments)
{
    return QStringLiteral("Baza %1 jest używana: otwartych połączeń innych programów lub stanowisk: %2.\r"
                          "Odtwarzanie przerwane, nic nie zostało zmienione. Zamknij program księgowy na "
                          "wszystkich stanowiskach i spróbuj ponownie.")
        .arg(database)
        .arg(attachments);
}

// The file path of a database name as the server reports it or as the settings give it ("host:path").
QString filePathOf(const QString &name)
{
    const QFileInfo f(TMainDm::hasServerPrefix(name) ? name.mid(name.indexOf(QLatin1Char(':')) + 1) : name);
    return f.exists() ? f.canonicalFilePath() : f.absoluteFilePath();
}

// The archive copy holds the backup and, when it has one, its digest: each checked to be a regular
// file right now, since arj follows a link and would file whatever it points to. A QkError when the
// backup is not one.
QStringList archiveArguments(const TMainDm &dm, const QString &stamp)
{
    const QFileInfo backup(dm.Settings.backupFileName());
    if (backup.isSymLink() || !backup.isFile())
        throw QkError(QStringLiteral("Plik kopii %1 nie jest zwykłym plikiem (może to dowiązanie): kopii archiwalnej nie "
                                     "utworzono.")
                          .arg(backup.filePath()));
    QStringList args{QStringLiteral("a"), stamp, QStringLiteral("bazaqk.abk")};
    const QFileInfo digest(BackupDigest::fileName(backup.filePath()));
    if (digest.isFile() && !digest.isSymLink())
        args << digest.fileName();
    return args;
}

// What is wrong with the backup de-archiving brought, or why it brought none; empty when it is whole.
QString dearchivedProblem(const QString &backupFile, int exitCode)
{
    if (exitCode != 0)
        return QStringLiteral("arj: kod %1").arg(exitCode);
    if (!QFileInfo(backupFile).isFile())
        return QStringLiteral("archiwum nie zawierało pliku %1").arg(QFileInfo(backupFile).fileName());
    const QString problem = BackupGate::inspect(backupFile).problem();
    return problem.isEmpty() ? QString()
                             : QStringLiteral("rozpakowana kopia %1 nie nadaje się do odtworzenia: %2").arg(backupFile, problem);
}

} // namespace

namespace {
struct Held {
    QString folder;
    std::shared_ptr<FolderLock> lock;
};
std::optional<Held> g_held; // the sequence in progress, if any (one thread runs the operations)
} // namespace

HeldFolder::HeldFolder(const QString &databaseFolder)
{
    g_held = Held{databaseFolder, takeFolderLock(databaseFolder)};
}

HeldFolder::~HeldFolder()
{
    g_held.reset();
}

std::shared_ptr<FolderLock> takeFolderLock(const QString &databaseFolder)
{
    if (g_held && g_held->folder == databaseFolder)
        return g_held->lock;
    auto lock = FolderLock::tryTake(databaseFolder);
    if (!lock)
        throw QkError(QStringLiteral("Trwa inna operacja na kopii bazy w katalogu %1 (kopiowanie, odtwarzanie, "
                                     "sprawdzanie kopii lub dearchiwizacja).\rNic nie zostało zmienione: spróbuj "
                                     "ponownie po jej zakończeniu.")
                          .arg(databaseFolder));
    return lock;
}

QString restoringName(const QString &databaseFolder)
{
    return databaseFolder + QStringLiteral("bazaqk-odtwarzana.adb");
}

QString keptName(const QString &databaseFolder, const QDateTime &when)
{
    return databaseFolder + QStringLiteral("bazaqk-przed-odtworzeniem-%1.adb").arg(when.toString(QStringLiteral("yyyyMMdd-HHmmss")));
}

QStringList keptCopies(const QString &databaseFolder)
{
    QStringList names = QDir(databaseFolder).entryList({QStringLiteral("bazaqk-przed-odtworzeniem-*.adb")}, QDir::Files, QDir::Name);
    for (QString &n : names)
        n.prepend(databaseFolder);
    return names;
}

QString partialBackupName(const QString &backupFile)
{
    return backupFile + QStringLiteral(".part");
}

QString runBackupService(BackupService &backup, const std::function<void()> &run)
{
    // The server deletes the output of a backup that fails part way: were that the backup file, the
    // last good backup would go with it. The service writes beside it, and the new file takes the
    // backup file's place, with its digest, only once the service has ended without error.
    const QStringList published = backup.backupFiles;
    QStringList partial;
    for (const QString &f : published)
        partial << partialBackupName(f);
    for (const QString &f : partial)
        QFile::remove(f); // a leftover of a run that was killed
    backup.backupFiles = partial;
    try {
        run();
    } catch (...) {
        backup.backupFiles = published;
        for (const QString &f : partial)
            QFile::remove(f);
        throw;
    }
    backup.backupFiles = published;
    QString notes;
    for (qsizetype i = 0; i < partial.size(); ++i) {
        const QString note = BackupDigest::publish(partial[i], published[i]);
        if (!note.isEmpty())
            notes += (notes.isEmpty() ? QString() : QStringLiteral("\r")) + note;
    }
    return notes;
}

void servicePreCheck(TMainDm &dm)
{
    PropertiesService &p = dm.IBProperties;
    try {
        p.attach();
        dm.EmployeeDb.open();
        p.fetchDatabaseInfo();
    } catch (...) {
        try {
            p.detach();
        } catch (...) {
        }
        throw;
    }
    p.detach();
}

void showLockFlag(Operator &op, bool locked)
{
    if (locked)
        op.setLabel(QStringLiteral("Label47"), QStringLiteral("TAK"), Operator::Tone::Red);
    else
        op.setLabel(QStringLiteral("Label47"), QStringLiteral("NIE"), Operator::Tone::Black);
}

void lockFlagUpdate(TMainDm &dm, Operator &op, QChar flag)
{
    dm.EmployeeTran.guarded([&] {
        Query &q = dm.IBQuery8;
        q.setSql(QStringLiteral("update FJ_BAZA set Bila = '%1' where LP =1").arg(flag));
        q.execute();
        q.close();
    });
    showLockFlag(op, flag == QLatin1Char('T'));
    op.processEvents();
}

void backupDatabase(TMainDm &dm, Operator &op)
{
    servicePreCheck(dm);
    const auto lock = takeFolderLock(dm.Settings.DatabaseFolder);
    lockFlagUpdate(dm, op, QLatin1Char('T'));
    op.clearMemo(kBuMemo);
    op.beginBusy();
    {
        ServiceRun run(dm.IBBackup, op);
        const QString note = runBackupService(dm.IBBackup, [&] {
            dm.IBBackup.attach();
            dm.IBBackup.serviceStart();
            copyOutput(dm.IBBackup, op, kBuMemo);
        });
        if (!note.isEmpty())
            op.appendLine(kBuMemo, note);
        op.message(Operator::Box::Information, QStringLiteral("Kopiowanie Bazy zakończono pomyślnie ..."));
    }
    lockFlagUpdate(dm, op, QLatin1Char('N'));
}

QString restoreQuestion(const QString &backupFile, const QDateTime &written)
{
    const QString name = QFileInfo(backupFile).fileName();
    if (!written.isValid())
        return QStringLiteral("Odtworzyć bazę z kopii %1? Zmiany wprowadzone po jej utworzeniu zostaną utracone.").arg(name);
    return QStringLiteral("Odtworzyć bazę z kopii %1 z dnia %2? Zmiany wprowadzone po tej chwili zostaną utracone.")
        .arg(name, written.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
}

namespace {

// The new database is built beside the live one: there must be room for both.
void checkRoom(const ConnectionSettings &settings, const QString &live)
{
    const qint64 liveSize = QFileInfo(live).size();
    const qint64 room = QStorageInfo(settings.DatabasePath).bytesAvailable();
    if (room >= 0 && room < liveSize)
        throw QkError(QStringLiteral("Za mało miejsca w katalogu %1: wolne %2 MB, baza zajmuje %3 MB.\r"
                                     "Odtwarzanie buduje nową bazę obok obecnej; nic nie zostało zmienione.")
                          .arg(settings.DatabasePath)
                          .arg(room / (1024 * 1024))
                          .arg((liveSize + 1024 * 1024 - 1) / (1024 * 1024)));
}

// Restores the backup into the new file restoring, its output in the memo; true when the restore
// reached its end. On the embedded engine it runs in a worker process: an engine that dies there
// takes only the worker with it. Through a server, throws when someone has attached to the live
// database since the check (asked on the restore's own service while it is attached).
bool restoreBeside(TMainDm &dm, Operator &op, const QString &backupFile, const QString &restoring, const QString &live)
{
    auto line = [&](const QString &text) {
        op.appendLine(kBuMemo, text);
        op.processEvents();
    };
    if (dm.Settings.ServiceProtocol == Service::Protocol::Local) {
        struct EndBusy {
            Operator &op;
            ~EndBusy() { op.endBusy(); }
        } endBusy{op};
        return RestoreWorker::restore(backupFile, restoring, line);
    }
    RestoreService &r = dm.IBRestore;
    struct Redirect { // the module's service keeps its configuration however this ends
        RestoreService &r;
        QStringList names = r.databaseNames;
        quint32 options = r.options;
        ~Redirect()
        {
            r.databaseNames = names;
            r.options = options;
        }
    } redirect{r};
    r.databaseNames = {restoring};
    r.options = Spb::ResCreate;
    ServiceRun run(r, op);
    r.attach();
    r.serviceStart();
    const bool finished = readRestoreOutput(r, line);
    if (finished) {
        const Spb::ServerDbInfo inUse = r.fetchDatabaseInfo();
        const QString livePath = filePathOf(live);
        for (const QString &name : inUse.names)
            if (filePathOf(name) == livePath)
                throw QkError(inUseMessage(live, std::max(1, inUse.attachments)));
    }
    return finished;
}

} // namespace

bool restoreDatabase(TMainDm &dm, Operator &op)
{
    const ConnectionSettings &settings = dm.Settings;
    const QString backupFile = settings.backupFileName();
    const QFileInfo backup(backupFile);
    if (!backup.isFile())
        throw QkError(QStringLiteral("Brak pliku kopii %1: nie ma z czego odtworzyć bazy.").arg(backupFile));
    const auto lock = takeFolderLock(settings.DatabaseFolder);
    // Before anything changes, the backup must be whole and what was written: the engine commits
    // what it has read of a cut backup, and a cut inside an external table's columns crashes it.
    const BackupGate::Inspection inspection = BackupGate::check(backupFile);
    // The live database is replaced and everything entered since the backup lost: ask first.
    if (!op.confirm(restoreQuestion(backupFile, backup.lastModified())))
        return false;

    const QString live = settings.fullDatabaseName();
    const QString restoring = restoringName(settings.DatabaseFolder);
    checkRoom(settings, live);
    servicePreCheck(dm);
    if (const int others = DatabaseInfo(&dm.EmployeeDb).otherAttachments())
        throw QkError(inUseMessage(live, others));
    lockFlagUpdate(dm, op, QLatin1Char('T'));
    dm.EmployeeDb.close(); // the restored file takes the place of the one the connection is attached to
    op.clearMemo(kBuMemo);
    op.appendLine(kBuMemo, BackupGate::digestLine(inspection, backupFile));
    op.beginBusy();
    QString kept;
    {
        ReopenOnExit reopen(dm.EmployeeDb);
        // The server's replace drops the live database before it has read a byte of the backup: the
        // restore writes a new file (create, never replace), which takes the live database's place
        // only when it is whole. The new file goes unless it was put in place; a leftover under its
        // name is a restore that was killed, never a replaced database (that is always under a
        // kept name).
        QFile::remove(restoring);
        struct Discard {
            QString file;
            bool keep = false;
            ~Discard()
            {
                if (!keep)
                    QFile::remove(file);
            }
        } discard{restoring};
        if (!restoreBeside(dm, op, backupFile, restoring, live))
            throw QkError(QStringLiteral("Kopia %1 jest niekompletna: odtwarzanie nie doszło do końca.\r"
                                         "Baza nie została zmieniona.")
                              .arg(backupFile));
        kept = keptName(settings.DatabaseFolder, Clock::now());
        Paths::swapIn(restoring, live, kept);
        discard.keep = true;
        op.appendLine(kBuMemo, QStringLiteral("Poprzednia baza zachowana w pliku ") + kept);
        op.appendLine(kBuMemo, QString());
    }
    // Open again before the message, so that the activation after it reads the restored database.
    dm.EmployeeDb.open();
    op.message(Operator::Box::Information, QStringLiteral("Odtwarzanie Bazy zakończono pomyślnie ...") +
                                              QStringLiteral("\r\rPoprzednia baza zachowana w pliku ") + kept);
    lockFlagUpdate(dm, op, QLatin1Char('N'));

    const QString stamp = archiveStamp(Clock::now());
    const QString leaving = QStringLiteral("\r\r") + QStringLiteral("Uwaga .... nastąpi teraz automatyczne wyjście z programu ....");
    QStringList archived;
    QString refused;
    try {
        archived = archiveArguments(dm, stamp);
    } catch (const QkError &e) {
        refused = e.message();
    }
    if (!refused.isEmpty())
        op.message(Operator::Box::Error, refused + leaving);
    // The archiver keeps the folder locked until it has filed the backup, after this program has ended.
    else if (Archiver::launch(archived, dm.Settings.DatabasePath, {}, lock->descriptor()))
        op.message(Operator::Box::Information,
                   QStringLiteral("Powstał dodatkowy plik kopii o nazwie ") + Archiver::archiveFileName(stamp) + leaving);
    else
        op.message(Operator::Box::Error, kArchiverMissing + QStringLiteral(": dodatkowy plik kopii nie powstał.") + leaving);
    op.endProgram();
    return true;
}

void validateDatabase(TMainDm &dm, Operator &op)
{
    servicePreCheck(dm);
    dm.EmployeeDb.close(); // the server validates only without other attachments
    ReopenOnExit reopen(dm.EmployeeDb);
    ValidationService &v = dm.IBValidate;
    ServiceRun run(v, op);
    v.attach();
    op.beginBusy();
    v.serviceStart();
    v.waitWhileRunning(10);
    reopen.reopen(); // before the message, whose activation reads the control row
    op.message(Operator::Box::Information, QStringLiteral("Sprawdzenie Bazy nie wykazuje błędów"));
}

void resetConnections(TMainDm &dm, Operator &op)
{
    const QString name = dm.Settings.fullDatabaseName();
    dm.EmployeeDb.setDatabaseName(name);
    Query &q3 = dm.IBQuery3;
    q3.close();
    q3.clearSql();
    for (const char *l : {"update FJ_BAZA", "set", "  ILE = 0", "where", " LP =1"})
        q3.addLine(QString::fromLatin1(l));
    q3.execute();
    dm.IBQuery2.close();
    dm.IBQuery2.open();
    dm.EmployeeDb.setDatabaseName(name);
    dm.IBQuery4.close();
    dm.IBQuery4.execute();
    for (const char *sql : {"update FJ_BAZA set ftech = 'N' where LP =1", "delete from FJ_FLOP",
                            "SET GENERATOR NUM_OPER TO 0", "DELETE FROM KOMUN_R"}) {
        dm.EmployeeDb.setDatabaseName(name);
        q3.setSql(QString::fromLatin1(sql));
        q3.execute();
    }
    const QString ile = dm.IBQuery2.fieldByName(QStringLiteral("ile")).asString();
    op.setLabel(QStringLiteral("Label10"), ile);
    op.setLabel(QStringLiteral("Label26"), ile);
    lockFlagUpdate(dm, op, QLatin1Char('N'));
}

QString dearchiveQuestion(const QString &backupFile, const QDateTime &written, const QString &archive,
                          const QDateTime &archived)
{
    const QString format = QStringLiteral("yyyy-MM-dd HH:mm");
    return QStringLiteral("Plik kopii %1 z dnia %2 zostanie zastąpiony kopią z archiwum %3%4.\r"
                          "Jeśli to najnowsza kopia, nie będzie jej nigdzie indziej. Kontynuować dearchiwizację?")
        .arg(QFileInfo(backupFile).fileName(), written.toString(format), archive,
             archived.isValid() ? QStringLiteral(" z dnia ") + archived.toString(format) : QString());
}

void startDearchiving(TMainDm &dm, Operator &op, const QString &archiveName)
{
    const QString name = archiveName.trimmed();
    if (name.isEmpty()) {
        op.message(Operator::Box::Warning,
                   QStringLiteral("Brak wybranego pliku do rozpakowania ...skorzystaj z przycisku   [Wybór pliku]"));
        return;
    }
    auto lock = takeFolderLock(dm.Settings.DatabaseFolder);
    // arj overwrites the backup file without asking, and it may be the newest backup there is.
    const QFileInfo current(dm.Settings.backupFileName());
    if (current.exists()) {
        const QFileInfo archive(QDir(dm.Settings.DatabasePath).absoluteFilePath(name));
        if (!op.confirm(dearchiveQuestion(current.filePath(), current.lastModified(), name,
                                          archive.exists() ? archive.lastModified() : QDateTime())))
            return;
    }
    // The backup's digest goes with it: the archive brings its own, or the backup arrives without one.
    const QString backupFile = dm.Settings.backupFileName();
    QFile::remove(BackupDigest::fileName(backupFile));
    // The window stays usable while arj works; the operator hears when it has ended and how. The
    // folder stays locked until then, and the backup it brought is checked before it is said to be there.
    const bool started = Archiver::launch({QStringLiteral("e"), QStringLiteral("-y"), name}, dm.Settings.DatabasePath,
                                          [&op, name, lock, backupFile](int exitCode) mutable {
                                              const QString problem = dearchivedProblem(backupFile, exitCode);
                                              lock.reset();
                                              if (problem.isEmpty())
                                                  op.notice(Operator::Box::Information,
                                                            QStringLiteral("Dearchiwizacja pliku %1 zakończona pomyślnie ...").arg(name));
                                              else if (exitCode != 0)
                                                  op.notice(Operator::Box::Error,
                                                            QStringLiteral("Dearchiwizacja pliku %1 nie powiodła się (%2)").arg(name, problem));
                                              else
                                                  op.notice(Operator::Box::Error,
                                                            QStringLiteral("Dearchiwizacja pliku %1 nie powiodła się: %2").arg(name, problem));
                                          });
    if (!started)
        op.message(Operator::Box::Error, kArchiverMissing + QStringLiteral(": dearchiwizacja nie rozpoczęła się."));
}

QString archiveBackup(TMainDm &dm, Operator &op)
{
    const auto lock = takeFolderLock(dm.Settings.DatabaseFolder);
    const QString stamp = archiveStamp(Clock::now());
    const int rc = Archiver::run(archiveArguments(dm, stamp), dm.Settings.DatabasePath);
    if (rc != 0)
        throw QkError(QStringLiteral("Archiwizacja kopii nie powiodła się (arj: %1)").arg(rc));
    op.message(Operator::Box::Information, QStringLiteral("Powstał dodatkowy plik kopii o nazwie ") + Archiver::archiveFileName(stamp));
    return dm.Settings.DatabaseFolder + Archiver::archiveFileName(stamp);
}

QStringList archivesToDelete(const QStringList &names, int keep)
{
    QStringList archives;
    for (const QString &n : names)
        if (Archiver::isArchiveCopyName(n))
            archives << n;
    // yyMMddHH: the stamp's order is the order in time.
    std::sort(archives.begin(), archives.end(), [](const QString &a, const QString &b) { return a.left(8) < b.left(8); });
    return archives.size() > keep ? archives.first(archives.size() - keep) : QStringList();
}

void pruneArchives(TMainDm &dm, Operator &op, int keep)
{
    const auto lock = takeFolderLock(dm.Settings.DatabaseFolder);
    const QString folder = dm.Settings.DatabaseFolder;
    for (const QString &name : archivesToDelete(QDir(folder).entryList(QDir::Files), keep)) {
        if (!QFile::remove(folder + name))
            throw FileError(QStringLiteral("Unable to delete %1").arg(folder + name));
        op.message(Operator::Box::Information, QStringLiteral("Usunięto starą kopię archiwalną ") + name);
    }
}

QString archiveStamp(const QDateTime &when)
{
    return when.toString(QStringLiteral("yyMMddHH"));
}

} // namespace BackupOps
