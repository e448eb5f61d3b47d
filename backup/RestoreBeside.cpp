#include "backup/RestoreBeside.h"

#include "backup/BackupGate.h"
#include "backup/RestoreWorker.h"
#include "core/MainD.h"
#include "core/ServiceRun.h"
#include "db/Services.h"

#include <QScopeGuard>

#include <optional>

namespace RestoreBeside {

bool run(TMainDm &dm, const Request &request) {
    request.backup.ensureUnchanged();
    const QString backupFile = request.backup.file();
    if (dm.Settings.ServiceProtocol == Service::Protocol::Local) {
        const RestoreWorker::Job job{.backupFile = backupFile,
                                     .target = request.target,
                                     .heldLock = request.heldLock,
                                     .line = request.line ? request.line : [](const QString &) {},
                                     .idle = request.idle};
        return RestoreWorker::restore(job);
    }
    std::optional<RestoreService> own;
    if (!request.service) {
        own.emplace(QStringLiteral("RestoreBeside"));
        dm.PrepareService(*own);
    }
    RestoreService &r = request.service ? *request.service : *own;
    // The data module's service keeps its own configuration however this ends.
    const QStringList databases = r.databaseNames, backups = r.backupFiles;
    const quint32 options = r.options;
    const bool verbose = r.verbose;
    const auto configured = qScopeGuard([&] {
        r.databaseNames = databases;
        r.backupFiles = backups;
        r.options = options;
        r.verbose = verbose;
    });
    RestoreWorker::configureCreateOnly(r, backupFile, request.target);
    DetachOnExit detach(r);
    r.attach();
    r.serviceStart();
    const bool finished = readRestoreOutput(
        r, request.line ? request.line : [](const QString &) {});
    if (finished && request.whenEnded)
        request.whenEnded(r);
    return finished;
}

} // namespace RestoreBeside
