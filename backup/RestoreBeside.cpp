#include "backup/RestoreBeside.h"

#include "backup/BackupGate.h"
#include "backup/RestoreWorker.h"
#include "core/MainD.h"
#include "core/ServiceRun.h"
#include "db/Services.h"
#include "platform/WorkFolder.h"

#include <QScopeGuard>

#include <optional>

namespace RestoreBeside {

std::unique_ptr<WorkFolder> workFolder(const TMainDm &dm) {
    return std::make_unique<WorkFolder>(dm.Settings.DatabaseFolder,
                                        dm.Settings.ServiceProtocol == Service::Protocol::Local
                                            ? WorkFolder::Access::OwnerOnly
                                            : WorkFolder::Access::ServerEnters);
}

QString targetIn(const TMainDm &dm, const WorkFolder &work, const QString &name) {
    return dm.Settings.ServiceProtocol == Service::Protocol::Local ? work.file(name)
                                                                   : dm.Settings.DatabaseFolder + name;
}

bool run(TMainDm &dm, const Request &request) {
    const QString backupFile = request.backup.handOver(request.work);
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
