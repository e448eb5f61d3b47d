#pragma once

#include "backup/BackupOps.h"
#include "core/Operator.h"

#include <QString>
#include <QStringList>

// The dated archive copies the backup operations make with arj.
namespace ArchiveCopy {

struct Said {
    Operator::Box kind;
    QString text;
};

// arj's parameters for a new archive name holding the backup and, when it has one, its digest: each
// checked to be a regular file right now, since arj follows a link and would file whatever it points
// to. A QkError when the backup is not one.
QStringList arguments(const TMainDm &dm, const QString &archiveName);

// The archive copy after a restore, of the backup just restored from: waited for (and on disk) when
// wait, else left to finish after the program has ended, keeping the folder locked meanwhile. What
// to tell the operator.
Said afterRestore(TMainDm &dm, const BackupOps::Lock &lock, bool wait);

} // namespace ArchiveCopy
