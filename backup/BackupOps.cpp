#include "backup/BackupOps.h"

#include "core/MainD.h"
#include "core/Operator.h"
#include "core/ServiceRun.h"
#include "db/Errors.h"
#include "platform/BackupDigest.h"
#include "platform/Clock.h"
#include "platform/FolderLock.h"
#include "platform/Paths.h"
#include "platform/WorkFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>

#include <algorithm>
#include <utility>

namespace BackupOps {

namespace {
constexpr Operator::Log kBuMemo = Operator::Log::Backup;
} // namespace

Lock takeFolderLock(const QString &databaseFolder, const Lock &held) {
    if (held)
        return held;
    auto lock = FolderLock::tryTake(databaseFolder);
    if (!lock)
        throw FolderBusy(
            QStringLiteral("Trwa inna operacja na kopii bazy w katalogu %1 (kopiowanie, odtwarzanie, "
                           "sprawdzanie kopii lub dearchiwizacja).\rNic nie zostało zmienione: spróbuj "
                           "ponownie po jej zakończeniu.")
                .arg(databaseFolder));
    // Under the lock no other run works here: a work folder left in it, or a half-restored database, is
    // a killed run's.
    WorkFolder::removeLeftovers(databaseFolder);
    QFile::remove(restoringName(databaseFolder));
    return lock;
}

QString partialBackupName(const QString &backupFile) {
    return backupFile + QStringLiteral(".part");
}

QString failedBackupName(const QString &databaseFolder, const QDateTime &when) {
    return databaseFolder +
           QStringLiteral("bazaqk-nieudana-%1.abk").arg(when.toString(QStringLiteral("yyyyMMdd-HHmmss")));
}

QStringList failedBackupsToDelete(const QStringList &names, int keep) {
    static const QRegularExpression failed(
        QStringLiteral("^bazaqk-nieudana-[0-9]{8}-[0-9]{6}(-[1-9][0-9]*)?\\.abk$"));
    QList<std::pair<QString, int>> found; // the stamp, the number within its second
    for (const QString &n : names)
        if (const QRegularExpressionMatch m = failed.match(n); m.hasMatch())
            found.append({n, m.captured(1).isEmpty() ? 1 : m.captured(1).mid(1).toInt()});
    std::sort(found.begin(), found.end(), [](const auto &a, const auto &b) {
        return std::pair(a.first.left(31), a.second) < std::pair(b.first.left(31), b.second);
    });
    QStringList doomed;
    for (qsizetype i = 0; i + keep < found.size(); ++i)
        doomed << found[i].first;
    return doomed;
}

void pruneFailedBackups(TMainDm &dm, Operator &op, int keep) {
    const QString folder = dm.Settings.DatabaseFolder;
    for (const QString &name : failedBackupsToDelete(QDir(folder).entryList(QDir::Files), keep)) {
        if (!QFile::remove(folder + name))
            throw FileError(QStringLiteral("Unable to delete %1").arg(folder + name));
        QFile::remove(BackupDigest::fileName(folder + name));
        op.message(Operator::Box::Information, QStringLiteral("Usunięto starą kopię nieudaną ") + name);
    }
}

NewBackup::NewBackup(QString written, QString backupFile, std::shared_ptr<WorkFolder> work)
    : m_work(std::move(work)), m_file(std::move(written)), m_backupFile(std::move(backupFile)) {}

NewBackup::NewBackup(NewBackup &&other) noexcept
    : m_work(std::move(other.m_work)), m_file(std::move(other.m_file)),
      m_backupFile(std::move(other.m_backupFile)), m_hex(std::move(other.m_hex)),
      m_kept(std::exchange(other.m_kept, true)) {}

NewBackup::~NewBackup() {
    if (!m_kept) {
        QFile::remove(m_file);
        QFile::remove(BackupDigest::fileName(m_file));
    }
}

void NewBackup::writeDigest() {
    if (!m_kept)
        m_hex = BackupDigest::write(m_file);
}

QString NewBackup::publish() {
    if (m_kept)
        return {};
    const QString note = BackupDigest::publish(m_file, m_backupFile, m_hex);
    QFile::remove(BackupDigest::fileName(m_file));
    m_kept = true;
    m_file = m_backupFile;
    return note;
}

QString NewBackup::setAside() {
    if (m_kept)
        return m_file;
    const QFileInfo backup(m_backupFile);
    const QString aside =
        Paths::firstFree(failedBackupName(backup.absolutePath() + QLatin1Char('/'), Clock::now()));
    Paths::replaceFile(m_file, aside, false);
    QFile::remove(BackupDigest::fileName(m_file));
    if (!m_hex.isEmpty())
        BackupDigest::write(aside, m_hex);
    m_kept = true;
    m_file = aside;
    return aside;
}

void servicePreCheck(TMainDm &dm) {
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

void lockFlagUpdate(TMainDm &dm, Operator &op, QChar flag, bool *committed) {
    dm.EmployeeTran.guarded([&] {
        Query &q = dm.IBQuery8;
        q.setSql(QStringLiteral("update FJ_BAZA set Bila = '%1' where LP =1").arg(flag));
        q.execute(Query::Duration::MayRunLong); // the accounting program updates this row too: it may wait
        q.close();
    });
    if (committed)
        *committed = true;
    op.showLockFlag(flag == QLatin1Char('T'));
    op.processEvents();
}

NewBackup backupDatabase(TMainDm &dm, Operator &op, const BackupOptions &options) {
    servicePreCheck(dm);
    const Lock lock = takeFolderLock(dm.Settings.DatabaseFolder, options.held);
    lockFlagUpdate(dm, op, QLatin1Char('T'));
    op.clearLog(kBuMemo);
    op.beginBusy();
    BackupService &backup = dm.IBBackup;
    const QString backupFile = backup.backupFiles.value(0, dm.Settings.backupFileName());
    // The engine opens its output by name, following links and keeping what is there: it writes only in
    // a folder made for it, where no one else may put a link (the server's user alone may add to it).
    const auto work = std::make_shared<WorkFolder>(QFileInfo(backupFile).absolutePath() + QLatin1Char('/'),
                                                   dm.Settings.ServiceProtocol == Service::Protocol::Local
                                                       ? WorkFolder::Access::OwnerOnly
                                                       : WorkFolder::Access::ServerWrites);
    const QString part = partialBackupName(backupFile);
    NewBackup written(work->file(QFileInfo(part).fileName()), backupFile, work);
    {
        // The service writes beside the backup file, which keeps the last good backup until the new
        // one is whole (and, when the caller verifies it, proven).
        const QStringList published = backup.backupFiles;
        const auto configured = qScopeGuard([&] { backup.backupFiles = published; });
        QFile::remove(part); // left beside the backup by a killed run of an earlier version, with its digest
        QFile::remove(BackupDigest::fileName(part));
        backup.backupFiles = {written.file()};
        ServiceRun run(backup, op);
        backup.attach();
        backup.serviceStart();
        copyOutput(backup, op, kBuMemo);
        if (options.putInPlace)
            if (const QString note = written.publish(); !note.isEmpty())
                op.appendLine(kBuMemo, note);
        op.message(Operator::Box::Information, QStringLiteral("Kopiowanie Bazy zakończono pomyślnie ..."));
    }
    lockFlagUpdate(dm, op, QLatin1Char('N'));
    return written;
}

void validateDatabase(TMainDm &dm, Operator &op) {
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

void resetConnections(TMainDm &dm, Operator &op) {
    const QString name = dm.Settings.fullDatabaseName();
    dm.EmployeeDb.setDatabaseName(name);
    Query &q3 = dm.IBQuery3;
    q3.close();
    q3.clearSql();
    for (const char *l : {"update FJ_BAZA", "set", "  ILE = 0", "where", " LP =1"})
        q3.addLine(QString::fromLatin1(l));
    // The rows the accounting program's sessions keep: a statement may wait for one that is still attached.
    q3.execute(Query::Duration::MayRunLong);
    dm.IBQuery2.close();
    dm.IBQuery2.open();
    dm.EmployeeDb.setDatabaseName(name);
    dm.IBQuery4.close();
    dm.IBQuery4.execute();
    for (const char *sql : {"update FJ_BAZA set ftech = 'N' where LP =1", "delete from FJ_FLOP",
                            "SET GENERATOR NUM_OPER TO 0", "DELETE FROM KOMUN_R"}) {
        dm.EmployeeDb.setDatabaseName(name);
        q3.setSql(QString::fromLatin1(sql));
        q3.execute(Query::Duration::MayRunLong);
    }
    const QString ile = dm.IBQuery2.fieldByName(QStringLiteral("ile")).asString();
    op.showConnectionCount(ile);
    lockFlagUpdate(dm, op, QLatin1Char('N'));
}

QString archiveStamp(const QDateTime &when) {
    return when.toString(QStringLiteral("yyMMddHH"));
}

} // namespace BackupOps
