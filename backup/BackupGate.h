#pragma once

#include "backup/BackupFormat.h"
#include "platform/BackupDigest.h"

#include <QString>
#include <QStringList>

class WorkFolder;

// What stands between a backup file and the engine: its digest (when it has one) and a walk of the
// whole file, both from one read, before anything changes.
namespace BackupGate {

enum class DigestState { Matches, Differs, None, Unusable };

struct Inspection {
    BackupFormat::Walk walk;
    DigestState digest = DigestState::None;
    BackupDigest::Recorded recorded;
    QByteArray actual; // the file's SHA-256, hex
    bool readable = true;
    QString readError;
    QString digestName; // bazaqk.abk.sha256
    bool passes() const;
    // Why the file may not reach the engine, in Polish; empty when it may.
    QString problem() const;
};

// Reads backupFile once; changes nothing.
Inspection inspect(const QString &backupFile);

// A backup that passed, held open from its check until the engine reads it: a copy, a share or the
// accounting program's own backup may put another file under the name while the question waits.
class Checked {
public:
    Checked(Checked &&) noexcept;
    ~Checked();
    const Inspection &inspection() const { return m_inspection; }
    const QString &file() const { return m_file; }
    // A QkError saying that nothing was changed when the name no longer names the file that was
    // checked, or that file has been written since.
    void ensureUnchanged() const;
    // The checked bytes under a name in work that nobody else can change, for the engine: a second link
    // of the very file that was read and is held open, or, where it cannot be linked, a copy read from
    // it whose digest must be the one checked. The engine never opens the backup by its own name, which
    // another file may have been renamed over since. A QkError saying nothing was changed otherwise.
    QString handOver(const WorkFolder &work) const;

private:
    friend Checked hold(const QString &backupFile);
    Checked() = default;
    struct Identity {
        quint64 device = 0, inode = 0;
        qint64 size = -1, modified = 0, changed = 0; // nanoseconds
        bool operator==(const Identity &) const = default;
    };
    static Identity identityOf(int fd);
    QString m_file;
    Inspection m_inspection;
    int m_fd = -1;
    // A link to the file changes its status-change time, and only that: handOver takes the new one.
    mutable Identity m_identity;
};

// Reads backupFile once and holds it, whatever the reading found.
Checked hold(const QString &backupFile);
// hold, and a QkError saying what is wrong and that nothing was changed when the backup may not be
// restored.
Checked check(const QString &backupFile);

// The accounting program's control table: a backup without its row is not this program's database.
inline constexpr const char *kControlTable = "FJ_BAZA";

// One line on the digest for the memo and the terminal.
QString digestLine(const Inspection &i, const QString &backupFile);

// What the walk read, for the operator: the source database and date, the format, each table with
// its record count, whether the file is whole, and the digest's state.
QStringList report(const Inspection &i, const QString &backupFile);

} // namespace BackupGate
