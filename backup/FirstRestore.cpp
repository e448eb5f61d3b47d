#include "backup/FirstRestore.h"

#include "backup/BackupGate.h"
#include "backup/BackupOps.h"
#include "backup/RestoreWorker.h"
#include "core/MainD.h"
#include "core/Operator.h"
#include "core/ServiceRun.h"
#include "platform/Errors.h"
#include "platform/Paths.h"

#include <QFile>
#include <QFileInfo>

namespace FirstRestore {

bool needed(const TMainDm &dm) {
    const ConnectionSettings &s = dm.Settings;
    return !s.DatabasePath.trimmed().isEmpty() && !TMainDm::hasServerPrefix(s.DatabasePath) &&
           QFileInfo(s.DatabasePath).isDir() && !QFileInfo::exists(s.fullDatabaseName());
}

bool restore(TMainDm &dm, Operator &op) {
    const ConnectionSettings &s = dm.Settings;
    const QString backupFile = s.backupFileName(), live = s.fullDatabaseName();
    if (!QFileInfo(backupFile).isFile())
        throw QkError(QStringLiteral("Brak pliku kopii %1: nie ma z czego odtworzyć bazy.").arg(backupFile));
    const auto lock = BackupOps::takeFolderLock(s.DatabaseFolder);
    const BackupGate::Inspection inspection = BackupGate::check(backupFile);
    if (!op.confirm(
            QStringLiteral("W folderze %1 nie ma bazy danych. Odtworzyć ją z kopii %2 z dnia %3?")
                .arg(s.DatabasePath, QFileInfo(backupFile).fileName(),
                     QFileInfo(backupFile).lastModified().toString(QStringLiteral("yyyy-MM-dd HH:mm")))))
        return false;
    const QString restoring = BackupOps::restoringName(s.DatabaseFolder);
    QFile::remove(restoring);
    struct Discard {
        QString file;
        bool keep = false;
        ~Discard() {
            if (!keep)
                QFile::remove(file);
        }
    } discard{restoring};
    op.clearMemo(QStringLiteral("BuMemo"));
    op.appendLine(QStringLiteral("BuMemo"), BackupGate::digestLine(inspection, backupFile));
    auto line = [&](const QString &text) {
        op.appendLine(QStringLiteral("BuMemo"), text);
        op.processEvents();
    };
    op.beginBusy();
    bool finished = false;
    if (s.ServiceProtocol == Service::Protocol::Local) {
        struct EndBusy {
            Operator &op;
            ~EndBusy() { op.endBusy(); }
        } endBusy{op};
        finished = RestoreWorker::restore(backupFile, restoring, line);
    } else {
        RestoreService &r = dm.IBRestore;
        struct Redirect { // the module's service keeps its configuration however this ends
            RestoreService &r;
            QStringList names = r.databaseNames;
            quint32 options = r.options;
            ~Redirect() {
                r.databaseNames = names;
                r.options = options;
            }
        } redirect{r};
        r.databaseNames = {restoring};
        r.options = Spb::ResCreate;
        ServiceRun run(r, op);
        r.attach();
        r.serviceStart();
        finished = readRestoreOutput(r, line);
    }
    if (!finished)
        throw QkError(
            QStringLiteral("Kopia %1 jest niekompletna: odtwarzanie nie doszło do końca.\rBaza nie powstała.")
                .arg(backupFile));
    // Never over a database that appeared meanwhile.
    if (QFileInfo::exists(live))
        throw QkError(
            QStringLiteral(
                "W czasie odtwarzania w folderze %1 pojawiła się baza %2: odtworzonej nie wstawiono.")
                .arg(s.DatabasePath, live));
    Paths::replaceFile(restoring, live);
    // durable: the lead's fsync of the file and its folder goes here (the engine does not sync a restored
    // database).
    discard.keep = true;
    dm.EmployeeDb.open();
    // The backup was taken under the lock flag: the restored books are open for work again.
    BackupOps::lockFlagUpdate(dm, op, QLatin1Char('N'));
    op.message(Operator::Box::Information, QStringLiteral("Odtwarzanie Bazy zakończono pomyślnie ..."));
    return true;
}

} // namespace FirstRestore
