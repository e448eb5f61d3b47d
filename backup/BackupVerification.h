#pragma once

#include "backup/BackupOps.h"

#include <QString>

// Proves that a backup file restores: a backup that was never restored is a hope, not a backup.
namespace BackupVerification {

// Restores backupFile through the restore service into a scratch database beside the live one (never
// over it, never touching the lock flag), validates the scratch database, reads its control row and
// counts the rows of the monthly document tables it has, then removes it, also when a step fails.
// Each check is one line of memo; true only when every check succeeded. Throws QkError ("za mało
// miejsca", not a failed check) when the folder has no room for the scratch database.
// held: the folder lock of the sequence this verification is part of.
bool verify(TMainDm &dm, Operator &op, const QString &backupFile, const BackupOps::Lock &held = {});

// The room a verification of a backup of backupBytes needs in the database folder for its scratch database.
qint64 roomNeeded(const TMainDm &dm, qint64 backupBytes);

// The scratch database's name for a verification started at stamp by process pid.
QString scratchName(const QString &databaseFolder, const QString &stamp, qint64 pid);

} // namespace BackupVerification
