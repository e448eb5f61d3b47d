#pragma once

#include "backup/BackupOps.h"

class Operator;
class TMainDm;

// A restore on a machine that has no database yet (a new computer after a disaster, with the backup
// fetched from off-site): there is no live database to lock, to ask about or to keep, so the restored
// database is built beside its place and renamed into it once the restore reached its end.
namespace FirstRestore {

// Whether the configured folder holds no database file (a plain path on this machine).
bool needed(const TMainDm &dm);

// Asks first; false when the answer was no. The backup passes the gate before anything is written;
// any failure leaves no database behind. held: the folder's lock when the caller took it already.
bool restore(TMainDm &dm, Operator &op, const BackupOps::Lock &held = {});

} // namespace FirstRestore
