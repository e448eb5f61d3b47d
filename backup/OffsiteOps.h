#pragma once

#include "backup/BackupOps.h"

#include "platform/Offsite.h"
#include "platform/Restic.h"

#include <QList>
#include <QString>

class Operator;
class TMainDm;

// Copies of the backup that leave the machine: every backup that passes the gate (digest and walk) is
// sent with its digest to the company's restic repository as one snapshot, fetched back only through
// the same gate, and the repository checked down to a restorable copy. Nothing here changes the
// local chain: a failure leaves bazaqk.abk, its digest and the archives as they were.
namespace OffsiteOps {

// The company's off-site settings, ready to use; a QkError in Polish when the section is missing or
// wrong, or the key file may not be used.
Offsite::Settings settings(const TMainDm &dm);
Restic::Repository repository(const Offsite::Settings &s);

// Whether the company's settings file has the section (whether a backup also goes off-site).
bool configured(const TMainDm &dm);

struct Copy {
    QString snapshot;        // restic's short id
    qint64 added = 0;        // bytes the copy added to the repository
    qint64 total = 0;        // bytes of the two files
    bool appendOnly = false; // the repository refused to delete: retention is its owner's
    // The retention was left to the run of all (forget, then prune, each needs the repository alone).
    bool retentionLeft = false;
};
// Sends bazaqk.abk and its digest, tagged with the company, as one snapshot dated as the backup; then, with
// retention, forgets the copies the retention no longer keeps and prunes what only they held. Both need
// the repository alone (restic's exclusive lock): a run of many companies, whose copies go at once under
// shared locks, leaves them to its end (forget per company, one prune per repository).
// Progress and the summary go to the backup log.
Copy copy(TMainDm &dm, Operator &op, const BackupOps::Lock &held = {}, bool retention = true);

// The company's retention alone: forgets its copies the retention no longer keeps, never made (the copy
// just sent, whatever the dates of the others); the number forgotten (0 also for an append-only
// repository, said). Their data stays until prune.
int forget(TMainDm &dm, Operator &op, const QString &made = {});
// restic's prune of the company's repository: the data only forgotten copies held goes (stale locks
// removed first; a live run's lock makes it fail, said).
void prune(TMainDm &dm, Operator &op);

// A name for the repository the settings name, the same for every company that shares it, which says
// nothing of its location or credentials.
QString repositoryKey(const Offsite::Settings &s);

// Creates the repository with a second key and says the recovery sheet line by line in the backup log. A key
// file that does not exist yet is made (random, the owner's alone).
void init(TMainDm &dm, Operator &op);

// The company's copies, newest first; each said as listLine in the backup log.
QList<Restic::Snapshot> list(TMainDm &dm, Operator &op);
// The same, saying nothing.
QList<Restic::Snapshot> copies(const TMainDm &dm);
// "2026-12-08 22:00  90.7 MB  /srv/qk/firma/bazaqk.adb  3c8edf0a"
QString listLine(const Restic::Snapshot &s);

// Brings one copy back as bazaqk.abk with its digest: asks before replacing the current backup (kept
// aside as bazaqk-przed-pobraniem-YYYYMMDD-HHMMSS.abk), fetches into a scratch folder, lets only a copy
// that passes the digest and the walk take the backup's place. which: a snapshot id (or its start), or
// "latest". False when the answer was no; nothing changed then, nor on any failure.
bool fetch(TMainDm &dm, Operator &op, const QString &which);

// restic's check of the repository (reading percent of its data, when given) and a fetch of the
// newest copy through the digest and the walk into a scratch folder; with restore, that copy then
// restored into a scratch database beside the live one and validated (BackupVerification, the one
// restore): only that proves the books come back. Each finding a line in the backup log; true when all
// passed.
bool check(TMainDm &dm, Operator &op, int readDataPercent, bool restore = false);

// The file names a copy holds, found among a snapshot's paths; empty when it has none such.
QString pathOf(const Restic::Snapshot &s, const QString &fileName);

} // namespace OffsiteOps
