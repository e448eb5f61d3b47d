// Archive copies and de-archiving.
#include "backup/ArchiveCopy.h"
#include "backup/BackupGate.h"
#include "backup/BackupOps.h"
#include "core/MainD.h"
#include "core/Operator.h"
#include "db/Errors.h"
#include "platform/Archiver.h"
#include "platform/BackupDigest.h"
#include "platform/Clock.h"
#include "platform/FolderLock.h"
#include "platform/Paths.h"
#include "platform/WorkFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kArchiverMissing = QStringLiteral("Nie można uruchomić programu arj");
const QString kBackupName = QStringLiteral("bazaqk.abk");

bool regularFile(const QString &file) {
    const QFileInfo f(file);
    return f.isFile() && !f.isSymLink();
}

// What arj made is on disk before anything relies on it (older archives deleted, the program ended).
void syncArchive(const TMainDm &dm, const QString &name) {
    const QString file = dm.Settings.DatabaseFolder + Archiver::archiveFileName(name);
    Paths::syncFile(file);
    Paths::syncFolderOf(file);
}

// Runs arj and waits for it, its temporary archive (ARJTEMP.$00) in a folder of this run's own: arj
// otherwise makes it in the database folder, where a killed arj's leftover meets the next run's.
int runInOwnFolder(const TMainDm &dm, QStringList args) {
    const WorkFolder work(dm.Settings.DatabaseFolder, WorkFolder::Access::OwnerOnly);
    args.insert(1, QStringLiteral("-w") + work.path());
    return Archiver::run(args, dm.Settings.DatabasePath);
}

} // namespace

namespace ArchiveCopy {

QStringList arguments(const TMainDm &dm, const QString &archiveName) {
    const QString backup = dm.Settings.backupFileName();
    if (!regularFile(backup))
        throw QkError(
            QStringLiteral(
                "Plik kopii %1 nie jest zwykłym plikiem (może to dowiązanie): kopii archiwalnej nie "
                "utworzono.")
                .arg(backup));
    QStringList args{QStringLiteral("a"), archiveName, kBackupName};
    const QString digest = BackupDigest::fileName(backup);
    if (regularFile(digest))
        args << QFileInfo(digest).fileName();
    return args;
}

Said afterRestore(TMainDm &dm, const BackupOps::Lock &lock, bool wait) {
    const QString name =
        Archiver::newArchiveName(dm.Settings.DatabaseFolder, BackupOps::archiveStamp(Clock::now()));
    QStringList args;
    try {
        args = arguments(dm, name);
    } catch (const QkError &e) {
        return {Operator::Box::Error, e.message()};
    }
    const Said made{Operator::Box::Information, QStringLiteral("Powstał dodatkowy plik kopii o nazwie ") +
                                                    Archiver::archiveFileName(name)};
    if (!wait) // the archiver keeps the folder locked until it has filed the backup, after this program has
               // ended
        return Archiver::launch(args, dm.Settings.DatabasePath, {}, lock->descriptor())
                   ? made
                   : Said{Operator::Box::Error,
                          kArchiverMissing + QStringLiteral(": dodatkowy plik kopii nie powstał.")};
    const int rc = runInOwnFolder(dm, args);
    if (rc < 0)
        return {Operator::Box::Error,
                kArchiverMissing + QStringLiteral(": dodatkowy plik kopii nie powstał.")};
    if (rc != 0)
        return {Operator::Box::Error,
                QStringLiteral("Archiwizacja kopii nie powiodła się (arj: %1)").arg(rc)};
    syncArchive(dm, name);
    return made;
}

} // namespace ArchiveCopy

namespace BackupOps {

namespace {

// One de-archiving: only the backup and its digest, out of the archive into a folder of their own,
// checked there, and only then put in the backup file's place (the current backup kept aside).
class Dearchive {
public:
    // Nothing when the operator said no or the name was empty (said).
    static std::unique_ptr<Dearchive> prepare(TMainDm &dm, Operator &op, const QString &archiveName);
    ~Dearchive();
    QStringList arguments() const {
        // -p: the names match whole stored paths, so a same-named file in a folder of the archive (another
        // company's backup) is never the one taken.
        return {QStringLiteral("e"), QStringLiteral("-p"), QStringLiteral("-y"),
                m_archive,           kBackupName,          kBackupName + QStringLiteral(".sha256")};
    }
    const QString &folder() const { return m_scratch; }
    // After arj has ended with exitCode: what to tell the operator; the lock is let go.
    ArchiveCopy::Said finish(int exitCode);

private:
    Dearchive(TMainDm &dm, Lock lock, QString name);
    QString broughtBack(const BackupGate::Inspection &i);
    static void removeScratch(const QString &scratch);

    const TMainDm &m_dm;
    Lock m_lock;
    QString m_name, m_archive, m_scratch;
    QString m_aside; // where the current backup goes, as the question said
};

Dearchive::Dearchive(TMainDm &dm, Lock lock, QString name)
    : m_dm(dm), m_lock(std::move(lock)), m_name(std::move(name)),
      m_archive(QDir(dm.Settings.DatabasePath).absoluteFilePath(m_name)),
      m_scratch(dm.Settings.DatabaseFolder +
                QStringLiteral(".qk-dearchiwizacja-%1/").arg(QCoreApplication::applicationPid())) {}

Dearchive::~Dearchive() {
    removeScratch(m_scratch);
}

// Only what arj may have put there: a folder holding anything else is left alone, and a link planted
// under the folder's name is removed as a link (what it points to is never touched).
void Dearchive::removeScratch(const QString &scratch) {
    const QByteArray folder = QFile::encodeName(scratch.chopped(1));
    struct stat st {};
    if (::lstat(folder.constData(), &st) != 0)
        return;
    if (!S_ISDIR(st.st_mode)) {
        ::unlink(folder.constData());
        return;
    }
    QFile::remove(scratch + kBackupName);
    QFile::remove(scratch + kBackupName + QStringLiteral(".sha256"));
    ::rmdir(folder.constData());
}

std::unique_ptr<Dearchive> Dearchive::prepare(TMainDm &dm, Operator &op, const QString &archiveName) {
    const QString name = archiveName.trimmed();
    if (name.isEmpty()) {
        op.message(
            Operator::Box::Warning,
            QStringLiteral("Brak wybranego pliku do rozpakowania ...skorzystaj z przycisku   [Wybór pliku]"));
        return nullptr;
    }
    if (!QFileInfo(dm.Settings.DatabaseFolder).isDir())
        throw QkError(QStringLiteral("Brak katalogu bazy danych %1: nie ma dokąd rozpakować kopii.")
                          .arg(dm.Settings.DatabaseFolder));
    std::unique_ptr<Dearchive> d(new Dearchive(dm, takeFolderLock(dm.Settings.DatabaseFolder), name));
    const QFileInfo current(dm.Settings.backupFileName());
    if (current.exists()) {
        const QFileInfo archive(d->m_archive);
        d->m_aside = Paths::firstFree(replacedBackupName(dm.Settings.DatabaseFolder, Clock::now()));
        if (!op.confirm(dearchiveQuestion(current.filePath(), current.lastModified(), name,
                                          archive.exists() ? archive.lastModified() : QDateTime(),
                                          d->m_aside)))
            return nullptr;
    }
    // Under the lock no other de-archiving runs here: such a folder is a killed one's.
    for (const QString &left : QDir(dm.Settings.DatabaseFolder)
                                   .entryList({QStringLiteral(".qk-dearchiwizacja-*")},
                                              QDir::Dirs | QDir::Files | QDir::System | QDir::Hidden))
        removeScratch(dm.Settings.DatabaseFolder + left + QLatin1Char('/'));
    // A folder of its own, made now (never one that was there): what arj brings is nobody else's.
    if (::mkdir(QFile::encodeName(d->m_scratch.chopped(1)).constData(), 0700) != 0)
        throw FileError(QStringLiteral("Unable to create %1: %2")
                            .arg(d->m_scratch, QString::fromLocal8Bit(std::strerror(errno))));
    return d;
}

QString Dearchive::broughtBack(const BackupGate::Inspection &i) {
    const QString backupFile = m_dm.Settings.backupFileName();
    const QString digest = m_scratch + QFileInfo(BackupDigest::fileName(backupFile)).fileName();
    const QString aside =
        !QFileInfo::exists(backupFile) ? QString()
        : m_aside.isEmpty() ? Paths::firstFree(replacedBackupName(m_dm.Settings.DatabaseFolder, Clock::now()))
                            : Paths::firstFree(m_aside);
    BackupDigest::replace(m_scratch + kBackupName, regularFile(digest) ? digest : QString(), backupFile,
                          aside);
    QString said =
        QStringLiteral("\rRozpakowano %1: %2 bajtów, kopia bazy %3 wykonana %4, %5")
            .arg(kBackupName)
            .arg(i.walk.fileSize)
            .arg(i.walk.sourceDatabase, i.walk.backupDate.simplified(),
                 i.digest == BackupGate::DigestState::Matches ? QStringLiteral("suma kontrolna zgodna")
                                                              : QStringLiteral("bez sumy kontrolnej"));
    if (!aside.isEmpty())
        said += QStringLiteral(".\rPoprzednia kopia zachowana jako ") + aside;
    return said;
}

// Why arj brought no bazaqk.abk out of the archive: what it holds under another case or in a folder is
// named (arj takes only the top-level name in its exact case), else that it holds none.
QString missingBackup(const QString &archive) {
    const QString file =
        QFileInfo::exists(archive) ? archive : archive + QStringLiteral(".arj"); // as arj finds it
    for (const QString &member : Archiver::memberNames(file)) {
        if (member.compare(kBackupName, Qt::CaseInsensitive) == 0)
            return QStringLiteral(": archiwum zawiera %1 (inna wielkość liter), nie %2")
                .arg(member, kBackupName);
        if (member.section(QLatin1Char('/'), -1).compare(kBackupName, Qt::CaseInsensitive) == 0)
            return QStringLiteral(": archiwum zawiera %1 w podfolderze, nie %2").arg(member, kBackupName);
    }
    return QStringLiteral(": archiwum nie zawierało pliku %1").arg(kBackupName);
}

ArchiveCopy::Said Dearchive::finish(int exitCode) {
    const QString failed = QStringLiteral("Dearchiwizacja pliku %1 nie powiodła się").arg(m_name);
    const QString unchanged = QStringLiteral(".\rObecna kopia %1 pozostaje bez zmian.").arg(kBackupName);
    ArchiveCopy::Said said{Operator::Box::Error, failed + QStringLiteral(" (arj: kod %1)").arg(exitCode)};
    // arj's 1 is its warning that a file named to it was not in the archive.
    if ((exitCode == 0 || exitCode == 1) && !regularFile(m_scratch + kBackupName)) {
        said.text = failed + missingBackup(m_archive) + unchanged;
    } else if (exitCode == 0) {
        const BackupGate::Inspection i = BackupGate::inspect(m_scratch + kBackupName);
        if (const QString problem = i.problem(); !problem.isEmpty())
            said.text = failed + QStringLiteral(": rozpakowana kopia nie nadaje się do odtworzenia: ") +
                        problem + unchanged;
        else
            said = {Operator::Box::Information,
                    QStringLiteral("Dearchiwizacja pliku %1 zakończona pomyślnie ...").arg(m_name) +
                        broughtBack(i)};
    }
    removeScratch(m_scratch);
    m_lock.reset();
    return said;
}

} // namespace

QString replacedBackupName(const QString &databaseFolder, const QDateTime &when) {
    return databaseFolder + QStringLiteral("bazaqk-przed-dearchiwizacja-%1.abk")
                                .arg(when.toString(QStringLiteral("yyyyMMdd-HHmmss")));
}

QString dearchiveQuestion(const QString &backupFile, const QDateTime &written, const QString &archive,
                          const QDateTime &archived, const QString &aside) {
    const QString format = QStringLiteral("yyyy-MM-dd HH:mm");
    return QStringLiteral(
               "Plik kopii %1 z dnia %2 zostanie zastąpiony kopią z archiwum %3%4 (jeśli ta przejdzie "
               "sprawdzenie).\rObecny plik kopii zostanie zachowany jako %5. Kontynuować dearchiwizację?")
        .arg(QFileInfo(backupFile).fileName(), written.toString(format), archive,
             archived.isValid() ? QStringLiteral(" z dnia ") + archived.toString(format) : QString(), aside);
}

void startDearchiving(TMainDm &dm, Operator &op, const QString &archiveName) {
    std::shared_ptr<Dearchive> d = Dearchive::prepare(dm, op, archiveName);
    if (!d)
        return;
    // The window stays usable while arj works; the operator hears when it has ended and how. The
    // folder stays locked until then.
    const bool started = Archiver::launch(d->arguments(), d->folder(), [&op, d](int exitCode) mutable {
        const ArchiveCopy::Said said = d->finish(exitCode);
        d.reset();
        op.notice(said.kind, said.text);
    });
    if (!started)
        op.message(Operator::Box::Error,
                   kArchiverMissing + QStringLiteral(": dearchiwizacja nie rozpoczęła się."));
}

bool dearchive(TMainDm &dm, Operator &op, const QString &archiveName) {
    const std::unique_ptr<Dearchive> d = Dearchive::prepare(dm, op, archiveName);
    if (!d)
        return false;
    const int rc = Archiver::run(d->arguments(), d->folder());
    if (rc < 0)
        throw QkError(kArchiverMissing + QStringLiteral(": dearchiwizacja nie rozpoczęła się."));
    const ArchiveCopy::Said said = d->finish(rc);
    op.message(said.kind, said.text);
    return said.kind == Operator::Box::Information;
}

QString archiveBackup(TMainDm &dm, Operator &op, const Lock &held) {
    const Lock lock = takeFolderLock(dm.Settings.DatabaseFolder, held);
    const QString name = Archiver::newArchiveName(dm.Settings.DatabaseFolder, archiveStamp(Clock::now()));
    const int rc = runInOwnFolder(dm, ArchiveCopy::arguments(dm, name));
    if (rc != 0)
        throw QkError(QStringLiteral("Archiwizacja kopii nie powiodła się (arj: %1)").arg(rc));
    syncArchive(dm, name);
    op.message(Operator::Box::Information,
               QStringLiteral("Powstał dodatkowy plik kopii o nazwie ") + Archiver::archiveFileName(name));
    return dm.Settings.DatabaseFolder + Archiver::archiveFileName(name);
}

QStringList futureArchives(const QStringList &names, const QDateTime &now) {
    QStringList future;
    for (const QString &n : names)
        if (const QDateTime t = Archiver::archiveCopyTime(n); t.isValid() && now.isValid() && t > now)
            future << n;
    return future;
}

QStringList archivesToDelete(const QStringList &names, int keep, const QDateTime &now,
                             const QString &justMade) {
    const QStringList future = futureArchives(names, now);
    QStringList archives;
    bool made = false;
    for (const QString &n : names) {
        if (!Archiver::isArchiveCopyName(n) || future.contains(n))
            continue;
        if (!justMade.isEmpty() && n.compare(justMade, Qt::CaseInsensitive) == 0)
            made = true;
        else
            archives << n;
    }
    std::sort(archives.begin(), archives.end(), Archiver::archiveCopyBefore);
    const qsizetype kept = std::max(0, keep - (made ? 1 : 0));
    return archives.size() > kept ? archives.first(archives.size() - kept) : QStringList();
}

void pruneArchives(TMainDm &dm, Operator &op, int keep, const Lock &held, const QString &justMade) {
    const Lock lock = takeFolderLock(dm.Settings.DatabaseFolder, held);
    const QString folder = dm.Settings.DatabaseFolder;
    const QStringList names = QDir(folder).entryList(QDir::Files);
    const QDateTime now = Clock::now();
    for (const QString &name : futureArchives(names, now))
        op.message(
            Operator::Box::Warning,
            QStringLiteral("Kopia archiwalna %1 ma datę późniejszą niż teraz (%2): zegar komputera mógł "
                           "się kiedyś spieszyć albo nazwę nadano ręcznie. Nie jest ani liczona, ani "
                           "usuwana; sprawdź ją i usuń lub przemianuj ręcznie.")
                .arg(name, Archiver::archiveCopyTime(name).toString(QStringLiteral("yyyy-MM-dd HH:00"))));
    for (const QString &name : archivesToDelete(names, keep, now, justMade)) {
        if (!QFile::remove(folder + name))
            throw FileError(QStringLiteral("Unable to delete %1").arg(folder + name));
        op.message(Operator::Box::Information, QStringLiteral("Usunięto starą kopię archiwalną ") + name);
    }
}

} // namespace BackupOps
