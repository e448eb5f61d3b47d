#include "admin/Health.h"

#include "core/MainD.h"
#include "core/ServiceRun.h"
#include "db/Database.h"
#include "db/DatabaseInfo.h"
#include "db/Query.h"
#include "db/Services.h"
#include "db/Transaction.h"
#include "platform/Archiver.h"
#include "platform/BackupDigest.h"
#include "platform/FolderLock.h"
#include "platform/Offsite.h"
#include "platform/Regional.h"
#include "platform/Restic.h"

#include <QElapsedTimer>

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>

namespace Health {

namespace {

QString when(const QDateTime &t) {
    return t.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

// A time a minute or more ahead of the clock is never an age: a clock that ran ahead (or one set back)
// dated it.
bool future(const QDateTime &t, const QDateTime &now) {
    return now.secsTo(t) >= 60;
}

QString hoursAgo(const QDateTime &t, const QDateTime &now) {
    if (future(t, now))
        return QStringLiteral("data z przyszłości: za %1 h")
            .arg(Regional::decimal(double(now.secsTo(t)) / 3600.0));
    return Regional::hoursAgo(std::max<qint64>(0, t.secsTo(now)));
}

QString futureFound() {
    return QStringLiteral(": data późniejsza niż teraz (zegar komputera szedł naprzód albo został cofnięty); "
                          "sprawdź zegar i wykonaj nową kopię");
}

QString megabytes(qint64 bytes) {
    return Regional::megabytes(bytes);
}

// A backup is written in whole blocks, and its digest records its size: a file of another size was
// cut (or grew) after it was written. Cheap: the sizes only.
Finding backupAge(const Facts &f, const Options &o) {
    const QString archive =
        f.archiveWritten
            ? QStringLiteral("; najnowsze archiwum %1 z %2").arg(f.newestArchive, when(*f.archiveWritten))
            : QStringLiteral("; brak archiwów");
    if (!f.backupWritten)
        return {
            Level::Critical, QStringLiteral("kopia"),
            QStringLiteral("brak pliku kopii %1%2: baza nie ma kopii zapasowej").arg(f.backupFile, archive)};
    const qint64 hours = f.backupWritten->secsTo(f.now) / 3600;
    const QString found =
        QStringLiteral("ostatnia kopia %1 z %2 (%3)%4")
            .arg(f.backupFile, when(*f.backupWritten), hoursAgo(*f.backupWritten, f.now), archive);
    if (!f.backupDefect.isEmpty())
        return {Level::Critical, QStringLiteral("kopia"), found + QStringLiteral(": ") + f.backupDefect};
    if (future(*f.backupWritten, f.now))
        return {Level::Warning, QStringLiteral("kopia"), found + futureFound()};
    if (hours >= 2 * qint64(o.backupAgeHours))
        return {Level::Critical, QStringLiteral("kopia"),
                found + QStringLiteral(": starsza niż %1 h").arg(2 * o.backupAgeHours)};
    if (hours >= o.backupAgeHours)
        return {Level::Warning, QStringLiteral("kopia"),
                found + QStringLiteral(": starsza niż %1 h").arg(o.backupAgeHours)};
    return {Level::Ok, QStringLiteral("kopia"), found};
}

Finding lockFlag(const Facts &f) {
    if (!f.flagLocked)
        return {Level::Ok, QStringLiteral("blokada"), QStringLiteral("blokada bazy zdjęta (Bila = 'N')")};
    if (f.operationRunning)
        return {Level::Ok, QStringLiteral("blokada"),
                QStringLiteral("blokada bazy założona przez trwające kopiowanie lub odtwarzanie")};
    return {Level::Critical, QStringLiteral("blokada"),
            QStringLiteral(
                "blokada bazy pozostała założona (Bila = 'T'), choć żadne kopiowanie ani odtwarzanie nie "
                "trwa: program księgowy nie pracuje; zdejmie ją udane kopiowanie lub \"Zeruj Połączenia\"")};
}

Finding writes(const Facts &f) {
    QStringList problems;
    if (!f.forcedWrites)
        problems << QStringLiteral(
            "zapis buforowany (forced writes wyłączone): po zaniku zasilania baza może "
            "zostać uszkodzona");
    if (f.readOnly)
        problems << QStringLiteral("baza tylko do odczytu: program księgowy nie zapisze w niej nic");
    if (f.shutdownMode && *f.shutdownMode != 0)
        problems << QStringLiteral("baza zamknięta (shutdown, tryb %1): stanowiska nie mogą się łączyć")
                        .arg(*f.shutdownMode);
    if (problems.isEmpty())
        return {Level::Ok, QStringLiteral("zapis"),
                QStringLiteral("zapis wymuszony (forced writes), odczyt i zapis")};
    return {Level::Warning, QStringLiteral("zapis"), problems.join(QStringLiteral("; "))};
}

Finding room(const Facts &f) {
    if (!f.freeBytes)
        return {Level::Unknown, QStringLiteral("miejsce"),
                QStringLiteral("nie można odczytać wolnego miejsca")};
    const QString found =
        QStringLiteral("wolne %1, baza %2").arg(megabytes(*f.freeBytes), megabytes(f.databaseBytes));
    if (*f.freeBytes < f.databaseBytes)
        return {Level::Critical, QStringLiteral("miejsce"),
                found + QStringLiteral(": mniej niż rozmiar bazy, kopia ani odtwarzanie się nie zmieszczą")};
    if (*f.freeBytes < 2 * f.databaseBytes)
        return {Level::Warning, QStringLiteral("miejsce"),
                found +
                    QStringLiteral(": mniej niż dwa rozmiary bazy (kopia i odtwarzanie potrzebują miejsca)")};
    return {Level::Ok, QStringLiteral("miejsce"), found};
}

Finding transactions(const Facts &f, const Options &o) {
    const qint64 gapInteresting = f.next - f.oldestInteresting, gapActive = f.next - f.oldestActive;
    const QString found =
        QStringLiteral("najstarsza istotna (OIT) %1, najstarsza aktywna (OAT) %2, następna %3")
            .arg(f.oldestInteresting)
            .arg(f.oldestActive)
            .arg(f.next);
    if (std::max(gapInteresting, gapActive) > o.gap)
        return {Level::Warning, QStringLiteral("transakcje"),
                found + QStringLiteral(
                            ": różnica %1 ponad %2; stare wersje rekordów się gromadzą i zapytania "
                            "zwalniają. Pomoże zakończenie długiej transakcji (np. program pozostawiony "
                            "na stanowisku) lub sweep bazy")
                            .arg(std::max(gapInteresting, gapActive))
                            .arg(o.gap)};
    return {Level::Ok, QStringLiteral("transakcje"), found};
}

Finding server(const Facts &f) {
    QString found = f.serverVersion ? QStringLiteral("serwer %1").arg(*f.serverVersion)
                                    : QStringLiteral("silnik wbudowany (bez serwera)");
    if (f.attachments)
        found += QStringLiteral("; otwartych połączeń z bazą: %1").arg(*f.attachments);
    return {Level::Ok, QStringLiteral("serwer"), found};
}

Finding offsite(const Facts &f) {
    const OffsiteFacts &o = *f.offsite;
    const QString poza = QStringLiteral("poza");
    if (o.unreachable)
        return {Level::Unknown, poza, o.problem};
    if (!o.problem.isEmpty())
        return {Level::Critical, poza, o.problem};
    if (!o.newest)
        return {
            Level::Critical, poza,
            QStringLiteral("w repozytorium %1 nie ma żadnej kopii tej firmy: książki mają kopie tylko na tym "
                           "komputerze")
                .arg(o.repository)};
    QString found = QStringLiteral("najnowsza kopia poza siedzibą %1 z %2 (%3) w repozytorium %4, kopii: %5")
                        .arg(o.newestId, when(*o.newest), hoursAgo(*o.newest, f.now), o.repository)
                        .arg(o.copies);
    if (o.added)
        found += QStringLiteral("; ostatnio dodano %1").arg(megabytes(*o.added));
    if (future(*o.newest, f.now))
        return {Level::Warning, poza, found + futureFound()};
    const qint64 hours = o.newest->secsTo(f.now) / 3600;
    if (hours >= 2 * qint64(o.warnHours))
        return {Level::Critical, poza, found + QStringLiteral(": starsza niż %1 h").arg(2 * o.warnHours)};
    if (hours >= o.warnHours)
        return {Level::Warning, poza, found + QStringLiteral(": starsza niż %1 h").arg(o.warnHours)};
    return {Level::Ok, poza, found};
}

} // namespace

QList<Finding> evaluate(const Facts &facts, const Options &options) {
    QList<Finding> findings{backupAge(facts, options),    lockFlag(facts), writes(facts), room(facts),
                            transactions(facts, options), server(facts)};
    if (facts.offsite)
        findings << offsite(facts);
    return findings;
}

std::optional<OffsiteFacts> gatherOffsite(const TMainDm &dm, int limitMs) {
    return gatherOffsite(dm.settingsText(), dm.settingsFile(), dm.Settings.backupFileName(), limitMs);
}

std::optional<OffsiteFacts> gatherOffsite(const QByteArray &settingsText, const QString &settingsFile,
                                          const QString &backupFile, int limitMs) {
    const Offsite::Settings s = Offsite::fromText(settingsText, settingsFile);
    if (!s.configured || Offsite::keyWithheld())
        return std::nullopt;
    OffsiteFacts o;
    o.repository = Offsite::shownLocation(s.repository);
    o.warnHours = s.warnHours;
    o.problem = s.problem.isEmpty() ? Offsite::keyFileProblem(s.keyFile) : s.problem;
    if (!o.problem.isEmpty())
        return o;
    Restic::Limits limits;
    limits.stallSeconds = 0;
    limits.totalMs = std::max(500, limitMs);
    Restic::Result r;
    // Health writes nothing, restic's cache on this machine included.
    const auto copies =
        Restic::snapshots({s.repository, s.keyFile, s.keyHint, s.options, QString(), true},
                          {QLatin1String(Offsite::kProgramTag), Offsite::companyTag(s.company)}, limits, &r);
    if (!copies) {
        o.unreachable = r.stalled || r.interrupted || Restic::unreachable(r);
        o.problem = o.unreachable ? QStringLiteral("repozytorium %1 nie odpowiedziało w ciągu %2 s")
                                        .arg(o.repository)
                                        .arg(limits.totalMs / 1000.0, 0, 'f', 1)
                                  : Restic::problem(r, o.repository, s.keyFile,
                                                    Offsite::readRecord(backupFile).has_value());
        o.problem.replace(QLatin1Char('\r'), QLatin1Char(' '));
        return o;
    }
    QList<Restic::Snapshot> own;
    for (const Restic::Snapshot &c : *copies)
        if (Offsite::holdsBackup(c))
            own << c;
    o.copies = int(own.size());
    if (!own.isEmpty()) {
        o.newest = Offsite::backupTime(own.first());
        o.newestId = own.first().shortId;
        const auto record = Offsite::readRecord(backupFile);
        if (record && record->snapshot == o.newestId) {
            o.added = record->added;
            o.total = record->total;
        }
    }
    return o;
}

Level worse(Level a, Level b) {
    auto rank = [](Level l) { return l == Level::Critical ? 3 : l == Level::Unknown ? 2 : int(l); };
    return rank(b) > rank(a) ? b : a;
}

Level worst(const QList<Finding> &findings) {
    Level w = Level::Ok;
    for (const Finding &f : findings)
        w = worse(w, f.level);
    return w;
}

QString levelName(Level level) {
    switch (level) {
    case Level::Ok:
        return QStringLiteral("OK");
    case Level::Warning:
        return QStringLiteral("WARNING");
    case Level::Critical:
        return QStringLiteral("CRITICAL");
    case Level::Unknown:
        break;
    }
    return QStringLiteral("UNKNOWN");
}

QString line(const Finding &finding) {
    return levelName(finding.level) + QLatin1Char(' ') + finding.check + QStringLiteral(": ") + finding.text;
}

Facts gather(TMainDm &dm, bool cheap, std::optional<bool> flagLocked, int timeoutSeconds) {
    QElapsedTimer clock;
    clock.start();
    const ConnectionSettings &s = dm.Settings;
    Facts f;
    f.now = QDateTime::currentDateTime();
    f.backupFile = s.backupFileName();
    const QFileInfo backup(f.backupFile);
    if (backup.isFile()) {
        f.backupWritten = backup.lastModified();
        f.backupBytes = backup.size();
        f.backupDefect = BackupDigest::sizeDefect(f.backupFile, backup.size());
    }
    for (const QFileInfo &a : QDir(s.DatabasePath).entryInfoList(QDir::Files, QDir::Time)) // newest first
        if (Archiver::isArchiveCopyName(a.fileName())) {
            f.newestArchive = a.fileName();
            f.archiveWritten = a.lastModified();
            break;
        }
    f.databaseBytes = QFileInfo(s.fullDatabaseName()).size();
    const QStorageInfo storage(s.DatabasePath);
    if (storage.isValid() && storage.bytesAvailable() >= 0)
        f.freeBytes = storage.bytesAvailable();

    // The window's connection when it is open, else a connection of this check's own.
    Database own;
    const bool reuse = cheap && dm.EmployeeDb.connected();
    Database &db = reuse ? dm.EmployeeDb : own;
    if (!reuse) {
        dm.prepareConnection(own, s.fullDatabaseName());
        own.open();
    }
    {
        const DatabaseInfo::Header h = DatabaseInfo(&db).header();
        f.oldestInteresting = h.oldestInteresting;
        f.oldestActive = h.oldestActive;
        f.next = h.next;
        f.forcedWrites = h.forcedWrites;
        f.readOnly = h.readOnly;
        if (f.databaseBytes == 0)
            f.databaseBytes = h.pageSize * h.pages;
    }
    if (flagLocked) {
        f.flagLocked = *flagLocked; // the caller has just read it
    } else {
        // Read only, in a transaction of its own (the window's shared one is not touched).
        Transaction tr(&db);
        Query q(QStringLiteral("HealthQuery"), &db, &tr);
        q.setSql(QStringLiteral("select Bila from FJ_BAZA where LP =1"));
        q.open();
        f.flagLocked = !q.eof() && q.field(0).asString().startsWith(QLatin1Char('T'));
        if (!cheap) {
            q.setSql(QStringLiteral("select MON$SHUTDOWN_MODE from MON$DATABASE"));
            q.open();
            f.shutdownMode = q.field(0).asInteger();
        }
        q.close();
        tr.rollback();
    }
    if (!cheap)
        f.attachments = DatabaseInfo(&db).otherAttachments();
    if (!reuse)
        own.close();
    // Whether a backup operation holds the folder matters only with the flag set (and is asked only
    // then, so that a check never stands in a starting backup's way).
    if (f.flagLocked) {
        try {
            f.operationRunning = FolderLock::isHeld(s.DatabaseFolder);
        } catch (...) {
            f.operationRunning = false;
        }
    }
    if (!cheap && s.ServiceProtocol != Service::Protocol::Local) {
        PropertiesService p(QStringLiteral("HealthProperties"));
        dm.PrepareService(p);
        DetachOnExit detach(p);
        p.attach();
        f.serverVersion = p.fetchVersionInfo().serverVersion;
    }
    // What is left of the check's time, less a moment to say what was found.
    if (!cheap)
        f.offsite = gatherOffsite(dm, int(qint64(timeoutSeconds) * 1000 - clock.elapsed() - 1500));
    return f;
}

} // namespace Health
