#include "backup/BackupGate.h"

#include "platform/Errors.h"
#include "platform/Supervisor.h"
#include "platform/WorkFolder.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace BackupGate {

bool Inspection::passes() const {
    return problem().isEmpty();
}

QString Inspection::problem() const {
    if (!readable)
        return readError;
    const bool otherSize = recorded.size >= 0 && recorded.size != walk.fileSize;
    if (!walk.whole) {
        if (digest != DigestState::Differs)
            return walk.stop;
        return walk.stop +
               QStringLiteral("; suma kontrolna SHA-256 pliku nie zgadza się z zapisaną w pliku %1 (kopia "
                              "została zmieniona lub uszkodzona po zapisaniu)")
                   .arg(digestName);
    }
    // A whole backup beside a digest that does not fit it: most often a backup brought from elsewhere
    // beside the digest of the one it replaced; a changed byte walks whole too, so it is refused all the
    // same.
    const QString acceptElsewhere =
        QStringLiteral("jeśli ta kopia pochodzi spoza programu (skopiowana, z innego "
                       "komputera), usuń plik %1, aby ją przyjąć")
            .arg(digestName);
    if (digest == DigestState::Differs && otherSize)
        return QStringLiteral("plik %1 opisuje inną kopię (zapisano w nim %2 bajtów, ta kopia ma %3); %4")
            .arg(digestName)
            .arg(recorded.size)
            .arg(walk.fileSize)
            .arg(acceptElsewhere);
    if (digest == DigestState::Differs)
        return QStringLiteral(
                   "suma kontrolna SHA-256 pliku nie zgadza się z zapisaną w pliku %1 (kopia została "
                   "zmieniona "
                   "lub uszkodzona po zapisaniu, albo plik %1 należy do innej kopii tej samej wielkości: %2)")
            .arg(digestName, acceptElsewhere);
    if (digest == DigestState::Unusable)
        return recorded.problem + QStringLiteral("; ") + acceptElsewhere;
    const auto control =
        std::find_if(walk.tables.begin(), walk.tables.end(),
                     [](const BackupFormat::Table &t) { return t.name == QLatin1String(kControlTable); });
    if (!walk.relations.contains(QLatin1String(kControlTable)) || control == walk.tables.end() ||
        control->records < 1)
        return QStringLiteral("to nie jest kopia bazy programu księgowego (brak tabeli kontrolnej %1 z "
                              "wierszem; kopia bazy %2)")
            .arg(QLatin1String(kControlTable), walk.sourceDatabase);
    return {};
}

namespace {

Inspection inspectOpen(QFile &f, const QString &backupFile) {
    Inspection i;
    i.digestName = QFileInfo(BackupDigest::fileName(backupFile)).fileName();
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
        Supervisor::Idle::ifDue(); // a year's backup takes seconds to read: the window keeps its turns
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

QString unreadable(const QFile &f) {
    return QStringLiteral("nie można odczytać pliku: %1").arg(f.errorString());
}

} // namespace

Inspection inspect(const QString &backupFile) {
    QFile f(backupFile);
    if (!f.open(QIODevice::ReadOnly)) {
        Inspection i;
        i.readable = false;
        i.readError = unreadable(f);
        return i;
    }
    return inspectOpen(f, backupFile);
}

Checked::Checked(Checked &&o) noexcept
    : m_file(std::move(o.m_file)), m_inspection(std::move(o.m_inspection)), m_fd(std::exchange(o.m_fd, -1)),
      m_identity(o.m_identity) {}

Checked::~Checked() {
    if (m_fd >= 0)
        ::close(m_fd);
}

Checked::Identity Checked::identityOf(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return {};
    auto ns = [](const timespec &t) { return qint64(t.tv_sec) * 1000000000 + t.tv_nsec; };
    return {quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size), ns(st.st_mtim), ns(st.st_ctim)};
}

void Checked::ensureUnchanged() const {
    const Identity held = identityOf(m_fd);
    const int now = ::open(QFile::encodeName(m_file).constData(), O_RDONLY | O_CLOEXEC);
    const Identity named = now >= 0 ? identityOf(now) : Identity{};
    if (now >= 0)
        ::close(now);
    if (named == m_identity && held == m_identity)
        return;
    throw QkError(QStringLiteral(
                      "Plik kopii %1 został zmieniony lub zastąpiony innym po sprawdzeniu (w trakcie pytania "
                      "o zgodę).\rNic nie zostało zmienione: uruchom odtwarzanie ponownie.")
                      .arg(m_file));
}

QString Checked::handOver(const WorkFolder &work) const {
    const QString to = work.file(QFileInfo(m_file).fileName());
    const QByteArray target = QFile::encodeName(to);
    auto refused = [&](const QString &why) {
        ::unlink(target.constData());
        // Said once the lock flag may be 'T' already: what stayed as it was is the database.
        return QkError(QStringLiteral("Nie można przekazać sprawdzonej kopii %1 do odtworzenia (%2).\r"
                                      "Baza nie została zmieniona.")
                           .arg(m_file, why));
    };
    const QString changed = QStringLiteral("plik został zmieniony po sprawdzeniu");
    // A link made from the descriptor names the file held whatever its name names now; it cannot be
    // made once the file has no name left (another renamed over it): then the bytes are copied.
    const QByteArray held = "/proc/self/fd/" + QByteArray::number(m_fd);
    if (::linkat(AT_FDCWD, held.constData(), AT_FDCWD, target.constData(), AT_SYMLINK_FOLLOW) == 0) {
        Identity now = identityOf(m_fd), before = m_identity;
        before.changed = now.changed; // the link itself changed it
        if (now != before)
            throw refused(changed);
        m_identity = now;
        return to;
    }
    struct stat st {};
    ::fstat(m_fd, &st);
    const mode_t mode = (st.st_mode & 0644) | 0600; // a server reads it as it read the backup
    const int out = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (out < 0)
        throw refused(QString::fromLocal8Bit(std::strerror(errno)));
    ::fchmod(out, mode);
    BackupDigest::Sha256 sha;
    std::vector<char> buf(1 << 20);
    off_t at = 0;
    int err = 0;
    for (;;) {
        const ssize_t n = ::pread(m_fd, buf.data(), buf.size(), at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            err = n < 0 ? errno : 0;
            break;
        }
        for (ssize_t done = 0; !err && done < n;) {
            const ssize_t w = ::write(out, buf.data() + done, size_t(n - done));
            if (w < 0 && errno != EINTR)
                err = errno;
            else if (w > 0)
                done += w;
        }
        if (err)
            break;
        sha.add(buf.data(), n);
        at += n;
        Supervisor::Idle::ifDue();
    }
    ::close(out);
    if (err)
        throw refused(QString::fromLocal8Bit(std::strerror(err)));
    // The copy is the engine's: its bytes are the ones checked, or it is not handed over.
    if (sha.hex() != m_inspection.actual)
        throw refused(changed);
    return to;
}

Checked hold(const QString &backupFile) {
    Checked c;
    c.m_file = backupFile;
    QFile f(backupFile);
    if (f.open(QIODevice::ReadOnly)) {
        c.m_fd = ::fcntl(f.handle(), F_DUPFD_CLOEXEC, 0);
        c.m_identity = Checked::identityOf(c.m_fd);
        c.m_inspection = inspectOpen(f, backupFile);
    } else {
        c.m_inspection.readable = false;
        c.m_inspection.readError = unreadable(f);
    }
    return c;
}

Checked check(const QString &backupFile) {
    Checked c = hold(backupFile);
    const QString problem = c.inspection().problem();
    if (!problem.isEmpty())
        throw QkError(
            QStringLiteral("Kopia %1 nie nadaje się do odtworzenia: %2.\rNic nie zostało zmienione.")
                .arg(backupFile, problem));
    return c;
}

QString digestLine(const Inspection &i, const QString &backupFile) {
    const QString digest = QFileInfo(BackupDigest::fileName(backupFile)).fileName();
    switch (i.digest) {
    case DigestState::Matches:
        return QStringLiteral("Suma kontrolna SHA-256 (%1): zgodna").arg(digest);
    case DigestState::Differs:
        return QStringLiteral("Suma kontrolna SHA-256 (%1): NIEZGODNA").arg(digest);
    case DigestState::Unusable:
        return QStringLiteral("Suma kontrolna SHA-256: %1").arg(i.recorded.problem);
    case DigestState::None:
        break;
    }
    return QStringLiteral(
               "Suma kontrolna SHA-256: brak pliku %1 (kopia spoza programu lub sprzed sum kontrolnych)")
        .arg(digest);
}

namespace {

// The server that wrote the format, and whether it is an older one than this.
QString formatOrigin(int format) {
    const QString server = BackupFormat::serverOf(format);
    if (BackupFormat::olderThanThisServer(format))
        return server +
               QStringLiteral(
                   "; kopia starszego serwera; po odtworzeniu baza ma strukturę Firebird 3 (ODS 12)");
    return server;
}

} // namespace

QStringList report(const Inspection &i, const QString &backupFile) {
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
    lines
        << (w.whole
                ? QStringLiteral("Struktura kopii: cała (rekord końcowy w bajcie %1)").arg(w.endRecordOffset)
                : QStringLiteral("Struktura kopii: NIEPEŁNA: %1").arg(w.stop));
    lines << digestLine(i, backupFile);
    return lines;
}

} // namespace BackupGate
