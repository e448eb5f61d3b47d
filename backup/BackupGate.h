#pragma once

#include "backup/BackupFormat.h"
#include "platform/BackupDigest.h"

#include <QString>
#include <QStringList>

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

// inspect, and a QkError saying what is wrong and that nothing was changed when the backup may
// not be restored.
Inspection check(const QString &backupFile);

// One line on the digest for the memo and the terminal.
QString digestLine(const Inspection &i, const QString &backupFile);

// What the walk read, for the operator: the source database and date, the format, each table with
// its record count, whether the file is whole, and the digest's state.
QStringList report(const Inspection &i, const QString &backupFile);

} // namespace BackupGate
