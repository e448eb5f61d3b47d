#include "backup/BackupOps.h"

#include "core/MainD.h"
#include "core/Operator.h"
#include "core/ServiceRun.h"
#include "db/Errors.h"
#include "platform/Archiver.h"
#include "platform/Clock.h"
#include "platform/Paths.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>


namespace BackupOps {

namespace {

const QString kBuMemo = QStringLiteral("BuMemo");
const QString kArchiverMissing = QStringLiteral("Nie można uruchomić programu arj");

} // namespace

QString partialBackupName(const QString &backupFile)
{
    return backupFile + QStringLiteral(".part");
}

void runBackupService(BackupService &backup, const std::function<void()> &run)
{
    // The server deletes the output of a backup that fails part way: were that the backup file, the
    // last good backup would go with it. The service writes beside it, and the new file takes the
    // backup file's place only once the service has ended without error.
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
    for (qsizetype i = 0; i < partial.size(); ++i)
        Paths::replaceFile(partial[i], published[i]);
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
    lockFlagUpdate(dm, op, QLatin1Char('T'));
    op.clearMemo(kBuMemo);
    op.beginBusy();
    {
        ServiceRun run(dm.IBBackup, op);
        runBackupService(dm.IBBackup, [&] {
            dm.IBBackup.attach();
            dm.IBBackup.serviceStart();
            copyOutput(dm.IBBackup, op, kBuMemo);
        });
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

bool restoreDatabase(TMainDm &dm, Operator &op)
{
    // The live database is replaced and everything entered since the backup lost: ask first.
    const QString backupFile = dm.Settings.backupFileName();
    const QFileInfo backup(backupFile);
    if (!op.confirm(restoreQuestion(backupFile, backup.exists() ? backup.lastModified() : QDateTime())))
        return false;
    servicePreCheck(dm);
    lockFlagUpdate(dm, op, QLatin1Char('T'));
    dm.EmployeeDb.close(); // the restore replaces the very file the connection is attached to
    op.clearMemo(kBuMemo);
    op.beginBusy();
    try {
        ServiceRun run(dm.IBRestore, op);
        dm.IBRestore.attach();
        dm.IBRestore.serviceStart();
        copyOutput(dm.IBRestore, op, kBuMemo);
    } catch (...) {
        try {
            dm.EmployeeDb.open();
        } catch (...) {
            // The restore's own error is the one to show; the next activation reports the connection.
        }
        throw;
    }
    // Open again before the message, so that the activation after it reads the restored database.
    dm.EmployeeDb.open();
    op.message(Operator::Box::Information, QStringLiteral("Odtwarzanie Bazy zakończono pomyślnie ..."));
    lockFlagUpdate(dm, op, QLatin1Char('N'));

    const QString stamp = archiveStamp(Clock::now());
    const QString leaving = QStringLiteral("\r\r") + QStringLiteral("Uwaga .... nastąpi teraz automatyczne wyjście z programu ....");
    if (Archiver::launch({QStringLiteral("a"), stamp, QStringLiteral("bazaqk.abk")}, dm.Settings.DatabasePath))
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

void startDearchiving(TMainDm &dm, Operator &op, const QString &archiveName)
{
    const QString name = archiveName.trimmed();
    if (name.isEmpty()) {
        op.message(Operator::Box::Warning,
                   QStringLiteral("Brak wybranego pliku do rozpakowania ...skorzystaj z przycisku   [Wybór pliku]"));
        return;
    }
    // The window stays usable while arj works; the operator hears when it has ended and how.
    const bool started = Archiver::launch({QStringLiteral("e"), QStringLiteral("-y"), name}, dm.Settings.DatabasePath,
                                          [&op, name](int exitCode) {
                                              if (exitCode == 0)
                                                  op.message(Operator::Box::Information,
                                                             QStringLiteral("Dearchiwizacja pliku %1 zakończona pomyślnie ...").arg(name));
                                              else
                                                  op.message(Operator::Box::Error,
                                                             QStringLiteral("Dearchiwizacja pliku %1 nie powiodła się (arj: kod %2)")
                                                                 .arg(name)
                                                                 .arg(exitCode));
                                          });
    if (!started)
        op.message(Operator::Box::Error, kArchiverMissing + QStringLiteral(": dearchiwizacja nie rozpoczęła się."));
}

QString archiveBackup(TMainDm &dm, Operator &op)
{
    const QString stamp = archiveStamp(Clock::now());
    const int rc = Archiver::run({QStringLiteral("a"), stamp, QStringLiteral("bazaqk.abk")}, dm.Settings.DatabasePath);
    if (rc != 0)
        throw QkError(QStringLiteral("Archiwizacja kopii nie powiodła się (arj: %1)").arg(rc));
    op.message(Operator::Box::Information, QStringLiteral("Powstał dodatkowy plik kopii o nazwie ") + Archiver::archiveFileName(stamp));
    return dm.Settings.DatabaseFolder + Archiver::archiveFileName(stamp);
}

QStringList archivesToDelete(const QStringList &names, int keep)
{
    static const QRegularExpression stamped(QStringLiteral("^[0-9]{8}\\.arj$"), QRegularExpression::CaseInsensitiveOption);
    QStringList archives;
    for (const QString &n : names)
        if (stamped.match(n).hasMatch())
            archives << n;
    // yyMMddHH: the stamp's order is the order in time.
    std::sort(archives.begin(), archives.end(), [](const QString &a, const QString &b) { return a.left(8) < b.left(8); });
    return archives.size() > keep ? archives.first(archives.size() - keep) : QStringList();
}

void pruneArchives(TMainDm &dm, Operator &op, int keep)
{
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
