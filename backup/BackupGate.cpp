#include "backup/BackupGate.h"

#include "platform/Errors.h"

#include <QFile>
#include <QFileInfo>

namespace BackupGate {

bool Inspection::passes() const
{
    return problem().isEmpty();
}

QString Inspection::problem() const
{
    if (!readable)
        return readError;
    const QString differs = QStringLiteral("suma kontrolna SHA-256 pliku nie zgadza się z zapisaną w pliku %1 (kopia "
                                           "została zmieniona lub uszkodzona po zapisaniu)")
                                .arg(digestName);
    if (!walk.whole)
        return digest == DigestState::Differs ? walk.stop + QStringLiteral("; ") + differs : walk.stop;
    if (digest == DigestState::Differs)
        return differs;
    if (digest == DigestState::Unusable)
        return recorded.problem;
    return {};
}

Inspection inspect(const QString &backupFile)
{
    Inspection i;
    i.digestName = QFileInfo(BackupDigest::fileName(backupFile)).fileName();
    QFile f(backupFile);
    if (!f.open(QIODevice::ReadOnly)) {
        i.readable = false;
        i.readError = QStringLiteral("nie można odczytać pliku: %1").arg(f.errorString());
        return i;
    }
    i.recorded = BackupDigest::read(backupFile);
    BackupDigest::Sha256 sha;
    bool failed = false;
    i.walk = BackupFormat::walk([&](char *buf, qint64 size) -> qint64 {
        const qint64 n = f.read(buf, size);
        if (n < 0) {
            failed = true;
            return -1;
        }
        sha.add(buf, n);
        return n;
    });
    if (failed) {
        i.readable = false;
        i.readError = QStringLiteral("błąd odczytu pliku: %1").arg(f.errorString());
        return i;
    }
    // The walk read every byte, also after a stop, so the digest covers the whole file.
    i.actual = sha.hex();
    if (!i.recorded.present)
        i.digest = DigestState::None;
    else if (!i.recorded.problem.isEmpty())
        i.digest = DigestState::Unusable;
    else
        i.digest = i.recorded.hex == i.actual ? DigestState::Matches : DigestState::Differs;
    return i;
}

Inspection check(const QString &backupFile)
{
    Inspection i = inspect(backupFile);
    const QString problem = i.problem();
    if (!problem.isEmpty())
        throw QkError(QStringLiteral("Kopia %1 nie nadaje się do odtworzenia: %2.\rNic nie zostało zmienione.")
                          .arg(backupFile, problem));
    return i;
}

QString digestLine(const Inspection &i, const QString &backupFile)
{
    const QString digest = QFileInfo(BackupDigest::fileName(backupFile)).fileName();
    switch (i.digest) {
    case DigestState::Matches: return QStringLiteral("Suma kontrolna SHA-256 (%1): zgodna").arg(digest);
    case DigestState::Differs: return QStringLiteral("Suma kontrolna SHA-256 (%1): NIEZGODNA").arg(digest);
    case DigestState::Unusable: return QStringLiteral("Suma kontrolna SHA-256: %1").arg(i.recorded.problem);
    case DigestState::None:
        break;
    }
    return QStringLiteral("Suma kontrolna SHA-256: brak pliku %1 (kopia spoza programu lub sprzed sum kontrolnych)")
        .arg(digest);
}

namespace {

// The server that wrote the format, and whether it is an older one than this.
QString formatOrigin(int format)
{
    const QString server = BackupFormat::serverOf(format);
    if (BackupFormat::olderThanThisServer(format))
        return server +
               QStringLiteral(
                   "; kopia starszego serwera; po odtworzeniu baza ma strukturę Firebird 3 (ODS 12)");
    return server;
}

} // namespace

QStringList report(const Inspection &i, const QString &backupFile)
{
    auto yesNo = [](bool b) { return b ? QStringLiteral("tak") : QStringLiteral("nie"); };
    QStringList lines{QStringLiteral("Plik kopii: %1, %2 bajtów").arg(backupFile).arg(i.walk.fileSize)};
    if (!i.readable)
        return lines << QStringLiteral("BŁĄD: ") + i.readError;
    const BackupFormat::Walk &w = i.walk;
    lines
        << QStringLiteral("Baza źródłowa: %1").arg(w.sourceDatabase)
        << QStringLiteral("Data kopii: %1").arg(w.backupDate)
        << QStringLiteral(
               "Format: %1 (%2), przenośna (XDR): %3, kompresja: %4, blok: %5 bajtów, strona bazy: %6 bajtów")
               .arg(w.format)
               .arg(formatOrigin(w.format), yesNo(w.transportable), yesNo(w.compressed))
               .arg(w.blockSize)
               .arg(w.pageSize);
    qint64 records = 0;
    for (const BackupFormat::Table &t : w.tables)
        records += t.records;
    lines << QStringLiteral("Tabele i widoki: %1").arg(w.relations.size())
          << QStringLiteral("Tabele z danymi: %1, rekordów razem: %2").arg(w.tables.size()).arg(records);
    for (const BackupFormat::Table &t : w.tables)
        lines << QStringLiteral("  %1: %2").arg(t.name).arg(t.records);
    lines << (w.whole ? QStringLiteral("Struktura kopii: cała (rekord końcowy w bajcie %1)").arg(w.endRecordOffset)
                      : QStringLiteral("Struktura kopii: NIEPEŁNA: %1").arg(w.stop));
    lines << digestLine(i, backupFile);
    return lines;
}

} // namespace BackupGate
