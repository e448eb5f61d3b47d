#include "backup/FirstRestore.h"

#include "backup/BackupGate.h"
#include "backup/BackupOps.h"
#include "backup/RestoreBeside.h"
#include "core/MainD.h"
#include "core/Operator.h"
#include "platform/Errors.h"
#include "platform/FolderLock.h"
#include "platform/Paths.h"
#include "platform/Regional.h"
#include "platform/WorkFolder.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

namespace FirstRestore {

bool needed(const TMainDm &dm) {
    const ConnectionSettings &s = dm.Settings;
    return !s.DatabasePath.trimmed().isEmpty() && !TMainDm::hasServerPrefix(s.DatabasePath) &&
           QFileInfo(s.DatabasePath).isDir() && !QFileInfo::exists(s.fullDatabaseName());
}

bool restore(TMainDm &dm, Operator &op, const BackupOps::Lock &held) {
    const ConnectionSettings &s = dm.Settings;
    const QString backupFile = s.backupFileName(), live = s.fullDatabaseName();
    if (!QFileInfo(backupFile).isFile())
        throw QkError(QStringLiteral("Brak pliku kopii %1: nie ma z czego odtworzyć bazy.").arg(backupFile));
    const BackupOps::Lock lock = BackupOps::takeFolderLock(s.DatabaseFolder, held);
    const BackupGate::Checked checked = BackupGate::check(backupFile);
    if (!op.confirm(QStringLiteral("W folderze %1 nie ma bazy danych. Odtworzyć ją z kopii %2 z dnia %3?")
                        .arg(s.DatabasePath, QFileInfo(backupFile).fileName(),
                             Regional::dateTime(QFileInfo(backupFile).lastModified()))))
        return false;
    const std::unique_ptr<WorkFolder> work = RestoreBeside::workFolder(dm);
    const QString restoring =
        RestoreBeside::targetIn(dm, *work, QFileInfo(BackupOps::restoringName({})).fileName());
    QFile::remove(restoring);
    auto discard = qScopeGuard([&] { QFile::remove(restoring); });
    op.clearLog(Operator::Log::Backup);
    op.appendLine(Operator::Log::Backup, BackupGate::digestLine(checked.inspection(), backupFile));
    op.beginBusy();
    {
        const auto idle = qScopeGuard([&] { op.endBusy(); });
        const RestoreBeside::Request request{.backup = checked,
                                             .work = *work,
                                             .target = restoring,
                                             .heldLock = lock->descriptor(),
                                             .line =
                                                 [&](const QString &text) {
                                                     op.appendLine(Operator::Log::Backup, text);
                                                     op.processEvents();
                                                 },
                                             .idle = [&] { op.processEvents(); },
                                             .service = &dm.IBRestore};
        if (!RestoreBeside::run(dm, request))
            throw QkError(
                QStringLiteral(
                    "Kopia %1 jest niekompletna: odtwarzanie nie doszło do końca.\rBaza nie powstała.")
                    .arg(backupFile));
    }
    // Never over a database that appeared meanwhile; on disk before the workstations may open it.
    if (!Paths::placeNew(restoring, live))
        throw QkError(
            QStringLiteral(
                "W czasie odtwarzania w folderze %1 pojawiła się baza %2: odtworzonej nie wstawiono.")
                .arg(s.DatabasePath, live));
    discard.dismiss();
    dm.EmployeeDb.open();
    // The backup was taken under the lock flag: the restored books are open for work again.
    BackupOps::lockFlagUpdate(dm, op, QLatin1Char('N'));
    op.message(Operator::Box::Information, QStringLiteral("Odtwarzanie Bazy zakończono pomyślnie ..."));
    return true;
}

} // namespace FirstRestore
