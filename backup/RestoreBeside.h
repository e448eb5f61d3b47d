#pragma once

#include <QString>

#include <functional>
#include <memory>

class RestoreService;
class TMainDm;
class WorkFolder;
namespace BackupGate {
class Checked;
}

// The one way this program restores a backup: into a new database file beside the live one (never
// over it), on the embedded engine in a worker process, through a server on its restore service. The
// restore, the verification and the worker all go through it.
namespace RestoreBeside {

// A work folder for one restore in the database folder: the engine gets the checked backup there, and
// the embedded engine also writes its new database there (a server, running as another user, writes
// beside it in the database folder).
std::unique_ptr<WorkFolder> workFolder(const TMainDm &dm);
// Where the restore's new database named name is built: in work for the embedded engine, in the
// database folder for a server.
QString targetIn(const TMainDm &dm, const WorkFolder &work, const QString &name);

struct Request {
    const BackupGate::Checked &backup;
    const WorkFolder &work;
    QString target{};
    int heldLock = -1; // the folder lock, which a worker holds as long as it lives
    std::function<void(const QString &)> line{};
    std::function<void()> idle{}; // between lines of a worker that says nothing for a while
    // Through a server: the service to use (null: one of the request's own, set up by the data
    // module), and what to ask it while it is still attached once the restore has ended.
    RestoreService *service = nullptr;
    std::function<void(RestoreService &)> whenEnded{};
};

// True when the restore reached its end. The engine gets the backup only while its name still names
// the file that was checked, unchanged, and then reads that file under a name in the work folder. Throws what
// the engine, the server or the worker reports.
bool run(TMainDm &dm, const Request &request);

} // namespace RestoreBeside
