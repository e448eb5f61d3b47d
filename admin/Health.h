#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

class TMainDm;

// The state of the database an administrator should hear of before it hurts: the age of the last
// backup, a lock flag left set, writes the disk may lose, room for a backup and a restore, garbage
// held back by a long transaction, the server. Read only; nothing is changed.
namespace Health {

enum class Level { Ok = 0, Warning = 1, Critical = 2, Unknown = 3 };

struct Finding {
    Level level = Level::Ok;
    QString check; // "kopia", "blokada", "zapis", "miejsce", "transakcje", "serwer", "poza"
    QString text;
};

struct Options {
    int backupAgeHours = 26; // warning beyond, critical beyond twice that
    qint64 gap = 100000;     // transactions between the oldest interesting or active and the next
};

// The company's copies off-site, as the repository's list of snapshots says (read only, no lock).
struct OffsiteFacts {
    QString repository;       // as shown (a password hidden)
    QString problem;          // why the copies cannot be judged or used, in Polish; empty when they were read
    bool unreachable = false; // the repository did not answer in time: the check could not run
    std::optional<QDateTime> newest; // the newest copy's backup time; none when there is no copy
    QString newestId;
    int copies = 0;
    int warnHours = 26;                 // warning beyond, critical beyond twice that
    std::optional<qint64> added, total; // what the newest copy added and held, when this machine made it
};

// What the checks read. A missing value was not read (the cheap checks leave the server alone).
struct Facts {
    QDateTime now;
    QString backupFile;
    std::optional<QDateTime> backupWritten;
    qint64 backupBytes = 0;
    QString backupDefect; // what the file's size says is wrong with it (cut), without reading it
    QString newestArchive;
    std::optional<QDateTime> archiveWritten;
    bool flagLocked = false;
    bool operationRunning = false; // a backup, restore, verification or de-archiving holds the folder
    bool forcedWrites = true, readOnly = false;
    std::optional<int> shutdownMode; // MON$SHUTDOWN_MODE: 0 online, 1 multi-user, 2 single-user, 3 full
    qint64 databaseBytes = 0;
    std::optional<qint64> freeBytes;
    qint64 oldestInteresting = 0, oldestActive = 0, next = 0;
    std::optional<QString> serverVersion; // through the services; not for the embedded engine
    std::optional<int> attachments;       // open now, other than this check's own
    std::optional<OffsiteFacts> offsite;  // when the company's settings send copies off-site
};

// The findings, one per check, in the order above.
QList<Finding> evaluate(const Facts &facts, const Options &options);
// The worse of two states: CRITICAL above UNKNOWN above WARNING above OK (what is known to be wrong is
// said first). The one ranking of states, for one database's findings and for an office's companies.
Level worse(Level a, Level b);
// The worst finding's state; OK for none.
Level worst(const QList<Finding> &findings);
// "OK", "WARNING", "CRITICAL", "UNKNOWN".
QString levelName(Level level);
// "WARNING zapis: ..." as a monitoring system reads it.
QString line(const Finding &finding);

// Reads the facts of the configured database, read-only. cheap: file dates, the control row and the
// header counters only, on the window's connection when it is open (what the window reads at each
// activation); flagLocked: the control row's lock flag when the caller has just read it. Throws when
// the database cannot be reached.
Facts gather(TMainDm &dm, bool cheap, std::optional<bool> flagLocked = std::nullopt, int timeoutSeconds = 10);

// The off-site copies of the configured company, when its settings send them (and not under a unit that
// was withheld the key): the repository's list of snapshots read within limitMs (nothing written, no
// lock, no cache). Never throws.
std::optional<OffsiteFacts> gatherOffsite(const TMainDm &dm, int limitMs);
// The same from the settings file's text as the data module read it, and the backup file: it needs nothing
// else of the data module, so the window reads it on a thread of its own.
std::optional<OffsiteFacts> gatherOffsite(const QByteArray &settingsText, const QString &settingsFile,
                                          const QString &backupFile, int limitMs);

} // namespace Health
