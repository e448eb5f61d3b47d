#include "backup/OffsiteOps.h"

#include "backup/BackupGate.h"
#include "backup/BackupOps.h"
#include "backup/BackupVerification.h"
#include "core/MainD.h"
#include "core/Operator.h"
#include "platform/BackupDigest.h"
#include "platform/Clock.h"
#include "platform/Errors.h"
#include "platform/FolderLock.h"
#include "platform/Paths.h"
#include "platform/Regional.h"
#include "platform/TarReader.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSaveFile>

#include <algorithm>
#include <functional>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace OffsiteOps {

namespace {

constexpr Operator::Log kBuMemo = Operator::Log::Backup;

QString megabytes(qint64 bytes) {
    return Regional::megabytes(bytes);
}

QString when(const QDateTime &t) {
    return t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

void say(Operator &op, const QString &line) {
    op.appendLine(kBuMemo, line);
    op.processEvents();
}

QStringList companyTags(const Offsite::Settings &s) {
    return {QLatin1String(Offsite::kProgramTag), Offsite::companyTag(s.company)};
}

Restic::Limits limits(const Offsite::Settings &s) {
    Restic::Limits l;
    l.stallSeconds = s.stallSeconds;
    return l;
}

// after: what it means for this operation, said before restic's own line.
[[noreturn]] void fail(const Restic::Result &r, const Offsite::Settings &s,
                       const QString &after = QString()) {
    QString text = Restic::problem(r, Offsite::shownLocation(s.repository), s.keyFile, s.recorded);
    const qsizetype own = text.indexOf(QLatin1String("\r(restic: "));
    text.insert(own < 0 ? text.size() : own, after);
    throw QkError(text);
}

// The key as restic reads it: random, in letters restic takes from a file (no line end inside).
QByteArray newKey() {
    QByteArray raw(32, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(raw.data()), raw.size() / 4);
    return raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

// Removes stale locks only: those of runs that were killed (restic checks that their process is gone
// or their lock has not been refreshed). A live run's lock stays.
void unlockStale(const Restic::Repository &repo, const Offsite::Settings &s, const QString &after = {}) {
    const Restic::Result r = Restic::run(repo, {QStringLiteral("unlock")}, {}, limits(s));
    if (!r.ok())
        fail(r, s, after);
}

// A repository in a local folder (a USB disk, a NAS mount) on a file system mounted read-only: said at
// once (restic itself retries its lock for most of a minute, then says it in English).
void writable(const Offsite::Settings &s) {
    QString path = s.repository;
    if (path.startsWith(QLatin1String("local:")))
        path = path.mid(6);
    struct statvfs fs {};
    if (!path.startsWith(QLatin1Char('/')) || ::statvfs(QFile::encodeName(path).constData(), &fs) != 0)
        return;
    if ((fs.f_flag & ST_RDONLY) || ::access(QFile::encodeName(path).constData(), W_OK) != 0) {
        Restic::Result r;
        r.started = true;
        r.exitCode = 1;
        r.errors << QStringLiteral("read-only file system");
        fail(r, s, QStringLiteral(" Nic nie zostało zmienione."));
    }
}

QList<Restic::Snapshot> companyCopies(const Restic::Repository &repo, const Offsite::Settings &s) {
    Restic::Result r;
    const auto list = Restic::snapshots(repo, companyTags(s), limits(s), &r);
    if (!list) {
        if (r.ok())
            throw QkError(QStringLiteral("restic podał listę kopii, której program nie umie odczytać."));
        fail(r, s);
    }
    // A snapshot with the company's tags but no backup with its digest (made with restic by hand) is
    // none of its copies.
    QList<Restic::Snapshot> own;
    for (const Restic::Snapshot &c : *list)
        if (Offsite::holdsBackup(c))
            own << c;
    return own;
}

const Restic::Snapshot &choose(const QList<Restic::Snapshot> &copies, const Offsite::Settings &s,
                               const QString &which) {
    if (copies.isEmpty())
        throw QkError(QStringLiteral("W repozytorium %1 nie ma kopii firmy %2.")
                          .arg(Offsite::shownLocation(s.repository), s.company));
    const QString w = which.trimmed();
    if (w.isEmpty() || w == QLatin1String("latest"))
        return copies.first();
    const QList<Restic::Snapshot>::const_iterator found = std::find_if(
        copies.begin(), copies.end(), [&](const Restic::Snapshot &c) { return c.id.startsWith(w); });
    if (w.size() < 4 || found == copies.end())
        throw QkError(
            QStringLiteral("W repozytorium nie ma kopii %1 firmy %2 (lista: qkadmin-cli offsite list).")
                .arg(w, s.company));
    return *found;
}

// A folder of one run's own beside the backup (the owner's alone, 0700), emptied first (a run that was
// killed leaves one), and removed with what is in it however the run ends. It is held open: the files are
// made in the folder that was made, not in whatever an operator of the group put under its name later (the
// database folder is theirs to rename in), and only that folder is emptied.
struct Scratch {
    QString folder;
    int fd = -1;
    explicit Scratch(const QString &path) : folder(path) {
        clear(QFile::encodeName(folder.chopped(1)));
        // A folder of this run's own: never one that was there (or a link someone planted in its place).
        const QByteArray name = QFile::encodeName(folder.chopped(1));
        if (::mkdir(name.constData(), 0700) != 0 ||
            (fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)) < 0)
            throw FileError(QStringLiteral("Unable to create %1: %2")
                                .arg(folder, QString::fromLocal8Bit(std::strerror(errno))));
    }
    ~Scratch() {
        for (const char *name : {"bazaqk.abk", "bazaqk.abk.sha256"})
            ::unlinkat(fd, name, 0);
        struct stat mine {
        }, there{};
        const QByteArray name = QFile::encodeName(folder.chopped(1));
        // The name still this folder: it goes (empty now); another in its place stays.
        if (::fstat(fd, &mine) == 0 && ::lstat(name.constData(), &there) == 0 &&
            mine.st_dev == there.st_dev && mine.st_ino == there.st_ino)
            ::rmdir(name.constData());
        ::close(fd);
    }
    // A file of the folder's, made new (never a link or a file someone placed there); readable as the
    // backup it becomes is (the server reads it), the folder keeping it to this run while it is fetched.
    int create(const char *name) const {
        return ::openat(fd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    }
    // What a killed run left under the name: a link goes as a link (what it points to is never emptied),
    // a folder of its files only if it is root's own.
    static void clear(const QByteArray &name) {
        struct stat st {};
        if (::lstat(name.constData(), &st) != 0)
            return;
        if (!S_ISDIR(st.st_mode)) {
            ::unlink(name.constData());
            return;
        }
        const int dir = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (dir >= 0) {
            for (const char *file : {"bazaqk.abk", "bazaqk.abk.sha256"})
                ::unlinkat(dir, file, 0);
            ::close(dir);
        }
        if (::rmdir(name.constData()) != 0) // something else in it: not ours to empty, moved out of the way
            ::rename(name.constData(),
                     (name + "-pozostawiony-" + QByteArray::number(::getpid())).constData());
    }
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;
};

// Brings the backup and its digest of the snapshot into folder in one read of the repository, whole or
// not at all: restic writes part of a file before it meets a damaged blob, so whatever it wrote goes when
// it fails.
void dump(const Restic::Repository &repo, const Offsite::Settings &s, const Restic::Snapshot &snap,
          const Scratch &scratch, const std::function<void(qint64 bytes)> &progress) {
    const QString &folder = scratch.folder;
    const QStringList wanted{QStringLiteral("bazaqk.abk"), QStringLiteral("bazaqk.abk.sha256")};
    QFile out;
    QStringList whole;
    qint64 expected = 0, written = 0;
    QString writeError;
    bool full = false;
    auto finish = [&] {
        if (out.isOpen()) {
            out.close();
            if (written == expected)
                whole << QFileInfo(out.fileName()).fileName();
        }
    };
    // The snapshot holds the two files under the folders of the machine that sent them: each is
    // known by its name.
    TarReader tar(
        [&](const QString &path, qint64 size) {
            finish();
            const QString name = QFileInfo(path).fileName();
            if (!wanted.contains(name) || whole.contains(name))
                return false;
            out.setFileName(folder + name);
            expected = size;
            written = 0;
            const int fd = scratch.create(QFile::encodeName(name).constData());
            if (fd < 0 ||
                !out.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
                writeError = QString::fromLocal8Bit(std::strerror(errno));
                if (fd >= 0)
                    ::close(fd);
                return false;
            }
            return true;
        },
        [&](const char *data, qint64 size) {
            if (out.write(data, size) != size) {
                full = errno == ENOSPC || errno == EDQUOT;
                writeError = out.errorString();
                return false;
            }
            written += size;
            progress(written);
            return true;
        });
    Restic::Handlers h;
    h.data = [&](const char *data, qint64 size) { return tar.feed(data, size); };
    const Restic::Result r =
        Restic::run(repo, {QStringLiteral("dump"), snap.id, QStringLiteral("/")}, h, limits(s));
    finish();
    auto discard = [&] {
        for (const QString &name : wanted)
            ::unlinkat(scratch.fd, QFile::encodeName(name).constData(), 0);
    };
    if (full) {
        discard();
        throw QkError(
            QStringLiteral("Brak miejsca na dysku w folderze %1: kopia %2 nie została pobrana. Zwolnij "
                           "miejsce (kopia ma %3). Nic nie zostało zmienione.")
                .arg(QFileInfo(folder.chopped(1)).path(), snap.shortId, megabytes(expected)));
    }
    if (!writeError.isEmpty()) {
        discard();
        throw FileError(QStringLiteral("Unable to write %1: %2").arg(out.fileName(), writeError));
    }
    // A stop this program asked for (the reader found no tar stream it can take) is no damage of the
    // repository's: what the reader found is said.
    if (r.stopped && !r.interrupted && !r.stalled) {
        discard();
        throw QkError(
            QStringLiteral("Kopii %1 nie odczytano z repozytorium: %2. Nic nie zostało zmienione.")
                .arg(snap.shortId, tar.error().isEmpty() ? QStringLiteral("odczyt przerwany") : tar.error()));
    }
    if (!r.ok()) {
        discard();
        if (r.exitCode > 0 && !Restic::unreachable(r) && !Restic::gone(r) && !r.errors.isEmpty() &&
            !r.errors.join(QLatin1Char(' ')).contains(QLatin1String("wrong password")))
            throw QkError(
                QStringLiteral("Kopii %1 z dnia %2 nie można odczytać z repozytorium (uszkodzone dane w "
                               "repozytorium: %3). Nic nie zostało zmienione.")
                    .arg(snap.shortId, when(Offsite::backupTime(snap)), r.errors.last()));
        fail(r, s, QStringLiteral(" Nic nie zostało zmienione."));
    }
    if (!tar.complete() || whole.size() != wanted.size()) {
        discard();
        throw QkError(
            QStringLiteral("Kopia %1 nie zawiera całego pliku bazaqk.abk z jego sumą kontrolną%2. Nic nie "
                           "zostało zmienione.")
                .arg(snap.shortId, tar.error().isEmpty()
                                       ? QString()
                                       : QStringLiteral(" (") + tar.error() + QLatin1Char(')')));
    }
}

// Fetches both files of a copy into scratch and reads them through the gate; the inspection, or a
// QkError saying why the copy may not be used.
BackupGate::Inspection fetchChecked(const Restic::Repository &repo, const Offsite::Settings &s,
                                    const Restic::Snapshot &snap, const Scratch &scratch, Operator &op) {
    const QString abk = pathOf(snap, QStringLiteral("bazaqk.abk")),
                  digest = pathOf(snap, QStringLiteral("bazaqk.abk.sha256"));
    if (abk.isEmpty() || digest.isEmpty())
        throw QkError(
            QStringLiteral(
                "Kopia %1 nie zawiera pliku bazaqk.abk z jego sumą kontrolną: to nie jest kopia tego "
                "programu. Nic nie zostało zmienione.")
                .arg(snap.shortId));
    const QString file = scratch.folder + QStringLiteral("bazaqk.abk");
    say(op, QStringLiteral("Pobieranie kopii %1 z dnia %2 ...")
                .arg(snap.shortId, when(Offsite::backupTime(snap))));
    bool ok = false;
    const qint64 size = snap.tag(QStringLiteral("rozmiar")).toLongLong(&ok);
    // Room for the backup its copy recorded, before a byte is fetched (and the digest, and a margin).
    struct statvfs room {};
    if (ok && size > 0 && ::fstatvfs(scratch.fd, &room) == 0 &&
        qint64(room.f_bavail) * qint64(room.f_frsize) < size + (1 << 20))
        throw QkError(
            QStringLiteral("Za mało miejsca na dysku w folderze %1 na pobranie kopii %2: kopia ma %3, "
                           "wolne jest %4. Zwolnij miejsce. Nic nie zostało zmienione.")
                .arg(QFileInfo(scratch.folder.chopped(1)).path(), snap.shortId, megabytes(size),
                     megabytes(qint64(room.f_bavail) * qint64(room.f_frsize))));
    int shownTenth = 0;
    dump(repo, s, snap, scratch, [&](qint64 bytes) {
        const int tenth = ok && size > 0 ? int(bytes * 10 / size) : 0;
        if (tenth > shownTenth && tenth < 10) {
            shownTenth = tenth;
            say(op, QStringLiteral("  %1% (%2 z %3)").arg(tenth * 10).arg(megabytes(bytes), megabytes(size)));
        }
    });
    const BackupGate::Inspection i = BackupGate::inspect(file);
    QString problem = i.problem();
    if (problem.isEmpty() && i.digest != BackupGate::DigestState::Matches)
        problem = QStringLiteral("brak zgodnej sumy kontrolnej");
    if (!problem.isEmpty())
        throw QkError(
            QStringLiteral("Kopia %1 z dnia %2 z repozytorium nie nadaje się do odtworzenia: %3.\rNic nie "
                           "zostało zmienione.")
                .arg(snap.shortId, when(Offsite::backupTime(snap)), problem));
    qint64 records = 0;
    for (const BackupFormat::Table &t : i.walk.tables)
        records += t.records;
    say(op, QStringLiteral(
                "Kopia %1: %2 bajtów, suma kontrolna SHA-256 zgodna, struktura cała (tabel z danymi %3, "
                "rekordów %4, baza źródłowa %5)")
                .arg(snap.shortId)
                .arg(i.walk.fileSize)
                .arg(i.walk.tables.size())
                .arg(records)
                .arg(i.walk.sourceDatabase));
    return i;
}

// Forgets the copies the retention no longer keeps and prunes what only they held. Only the company's
// copies count (a snapshot with its tags but no backup is never one), dated as they were made; the copy
// just made (made) is never forgotten, whatever the dates of the others. An append-only repository
// refuses the deletion: said once, and left to the repository's owner.
bool applyRetention(const Restic::Repository &repo, const Offsite::Settings &s, Operator &op,
                    const QString &made, bool prune, int &forgotten) {
    const QStringList keep = *Offsite::retentionOptions(s.retention);
    if (keep.isEmpty())
        return false;
    const QList<Restic::Snapshot> own = companyCopies(repo, s);
    const QDateTime now = Clock::now();
    for (const Restic::Snapshot &c : own)
        if (now.secsTo(c.time) >= 60)
            say(op,
                QStringLiteral("Kopia poza siedzibą %1 ma datę z przyszłości (%2): zegar komputera, który ją "
                               "wysłał, szedł naprzód. Sprawdź zegar; kopia jest liczona według tej daty.")
                    .arg(c.shortId, when(c.time)));
    QStringList forget;
    for (const QString &id : Offsite::forgotten(own, keep))
        if (made.isEmpty() || !id.startsWith(made))
            forget << id;
    if (forget.isEmpty())
        return false;
    unlockStale(repo, s,
                QStringLiteral(" Nowa kopia poza siedzibą jest zapisana; nie usunięto starych kopii."));
    bool refused = false;
    Restic::Handlers h;
    // restic retries a refused deletion for most of a minute before it gives up: the first refusal is enough.
    h.error = [&](const QString &line) {
        if (line.contains(QLatin1String("403")) ||
            line.contains(QLatin1String("permission denied"), Qt::CaseInsensitive) ||
            line.contains(QLatin1String("append-only"), Qt::CaseInsensitive)) {
            refused = refused || line.startsWith(QLatin1String("Remove("));
            return !refused;
        }
        return true;
    };
    // By id: restic's own policy would count every snapshot with the tags, and date them as they say.
    const Restic::Result r = Restic::run(repo, QStringList{QStringLiteral("forget")} + forget, h, limits(s));
    if (refused) {
        say(op, QStringLiteral(
                    "Repozytorium %1 przyjmuje tylko dopisywanie (odmówiło usunięcia kopii): stare kopie "
                    "pozostają, ich usuwanie (zachowaj=%2) należy do właściciela serwera.")
                    .arg(Offsite::shownLocation(s.repository), s.retention));
        return true;
    }
    if (!r.ok())
        fail(r, s, QStringLiteral(" Nowa kopia poza siedzibą jest zapisana; nie usunięto starych kopii."));
    forgotten = int(forget.size());
    if (!prune) {
        say(op, QStringLiteral(
                    "Kopie poza siedzibą, których nie obejmuje zachowaj=%1, usunięto z listy (%2); ich "
                    "dane usunie porządkowanie repozytorium (offsite prune).")
                    .arg(s.retention)
                    .arg(forget.size()));
        return false;
    }
    say(op, QStringLiteral("Usuwanie kopii poza siedzibą, których nie obejmuje zachowaj=%1 ...")
                .arg(s.retention));
    const Restic::Result p = Restic::run(repo, {QStringLiteral("prune")}, {}, limits(s));
    if (!p.ok())
        fail(p, s,
             QStringLiteral(" Nowa kopia poza siedzibą jest zapisana; stare kopie usunięto z listy, ale ich "
                            "danych nie."));
    return false;
}

} // namespace

bool configured(const TMainDm &dm) {
    return Offsite::fromText(dm.settingsText(), dm.settingsFile()).configured;
}

Offsite::Settings settings(const TMainDm &dm) {
    const Offsite::Settings s = Offsite::fromText(dm.settingsText(), dm.settingsFile());
    if (!s.configured)
        throw QkError(
            QStringLiteral(
                "Kopie poza siedzibą nie są ustawione: plik %1 nie ma sekcji [Zewnetrzna] z kluczem "
                "repozytorium= (oraz klucz=, zachowaj=, ostrzegaj=).")
                .arg(dm.settingsFile()));
    if (!s.problem.isEmpty())
        throw QkError(QStringLiteral("Ustawienia kopii poza siedzibą: %1.").arg(s.problem));
    Offsite::Settings known = s;
    known.recorded = Offsite::readRecord(dm.Settings.backupFileName()).has_value();
    return known;
}

Restic::Repository repository(const Offsite::Settings &s) {
    return {s.repository, s.keyFile, s.keyHint, s.options, Offsite::cacheFolder()};
}

QString pathOf(const Restic::Snapshot &s, const QString &fileName) {
    for (const QString &p : s.paths)
        if (QFileInfo(p).fileName() == fileName)
            return p;
    return {};
}

QString listLine(const Restic::Snapshot &s) {
    bool ok = false;
    const qint64 size = s.tag(QStringLiteral("rozmiar")).toLongLong(&ok);
    QString source = s.tag(QStringLiteral("baza"));
    if (source.isEmpty() && !pathOf(s, QStringLiteral("bazaqk.abk")).isEmpty())
        source = QFileInfo(pathOf(s, QStringLiteral("bazaqk.abk"))).path() + QStringLiteral("/bazaqk.adb");
    return QStringLiteral("%1  %2  %3  %4")
        .arg(when(Offsite::backupTime(s)),
             ok ? megabytes(size).rightJustified(9) : QStringLiteral("        -"), source, s.shortId);
}

namespace {

// Only a backup that restores leaves, and only with the digest that proves it on the way back: what the
// gate found, or a QkError that says why it stays.
BackupGate::Inspection checkedForCopy(const QString &backupFile) {
    if (!QFileInfo(backupFile).isFile())
        throw QkError(
            QStringLiteral("Brak pliku kopii %1: nie ma czego wysłać poza siedzibę.").arg(backupFile));
    const BackupGate::Inspection gate = BackupGate::inspect(backupFile);
    QString problem = gate.problem();
    if (problem.isEmpty() && gate.digest != BackupGate::DigestState::Matches)
        problem =
            QStringLiteral(
                "brak pliku sumy kontrolnej %1 (kopia spoza programu): wykonaj kopię bazy tym programem")
                .arg(gate.digestName);
    if (!problem.isEmpty())
        throw QkError(
            QStringLiteral("Kopia %1 nie zostanie wysłana poza siedzibę: %2.").arg(backupFile, problem));
    return gate;
}

// restic's backup messages: its summary kept, its progress said every tenth.
Restic::Handlers copyProgress(Operator &op, QJsonObject &summary, int &shownTenth) {
    Restic::Handlers h;
    h.json = [&op, &summary, &shownTenth](const QJsonObject &m) {
        const QString type = m.value(QLatin1String("message_type")).toString();
        if (type == QLatin1String("summary")) {
            summary = m;
        } else if (type == QLatin1String("status")) {
            const int tenth = int(m.value(QLatin1String("percent_done")).toDouble() * 10);
            if (tenth > shownTenth && tenth < 10) {
                shownTenth = tenth;
                say(op, QStringLiteral("  %1% (%2 z %3)")
                            .arg(tenth * 10)
                            .arg(megabytes(qint64(m.value(QLatin1String("bytes_done")).toDouble())),
                                 megabytes(qint64(m.value(QLatin1String("total_bytes")).toDouble()))));
            }
        }
    };
    return h;
}

// A local repository is its folder with the config restic wrote at init. Without it restic would make
// the repository's folders itself and write packs nobody can read (a disk not mounted: onto the mount
// point), so nothing runs there.
QString missingConfig(const Offsite::Settings &s) {
    const QString folder = Offsite::localFolder(s.repository);
    if (folder.isEmpty() || QFileInfo(folder + QStringLiteral("/config")).isFile())
        return {};
    const QString shown = Offsite::shownLocation(s.repository);
    return s.recorded
               ? QStringLiteral("Repozytorium %1 nie jest tam, gdzie było (brak jego pliku config), choć "
                                "kopie były do niego wysyłane: czy dysk jest podłączony?")
                     .arg(shown)
               : QStringLiteral("Pod adresem %1 nie ma repozytorium kopii (brak pliku config; załóż je "
                                "poleceniem qkadmin-cli offsite init).")
                     .arg(shown);
}

// What restic re-created in a local repository's place when the repository went away during the run
// (its data, index, snapshots and locks folders, no config, no keys): files of this run only, then the
// folders left empty. A folder that holds anything else stays.
void removeRemnants(const QString &folder, const QDateTime &since) {
    if (folder.isEmpty() || QFileInfo::exists(folder + QStringLiteral("/config")))
        return;
    for (const char *sub : {"data", "index", "snapshots", "locks", "keys"}) {
        const QString root = folder + QLatin1Char('/') + QLatin1String(sub);
        if (QFileInfo(root).isSymLink())
            continue;
        QDirIterator files(root, QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QFileInfo f(files.next());
            if (f.lastModified() >= since.addSecs(-1))
                QFile::remove(f.filePath());
        }
        QDirIterator dirs(root, QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks,
                          QDirIterator::Subdirectories);
        QStringList found;
        while (dirs.hasNext())
            found << dirs.next();
        std::sort(found.begin(), found.end(), std::greater<>()); // the deepest first
        for (const QString &d : found)
            QDir().rmdir(d);
        QDir().rmdir(root);
    }
    QDir().rmdir(folder);
}

} // namespace

Copy copy(TMainDm &dm, Operator &op, const BackupOps::Lock &held, bool retention) {
    const Offsite::Settings s = settings(dm);
    if (const QString problem = Offsite::keyFileProblem(s.keyFile); !problem.isEmpty())
        throw QkError(QStringLiteral("Kopia poza siedzibą nie została wysłana: %1.").arg(problem));
    const QString backupFile = dm.Settings.backupFileName();
    const auto lock = BackupOps::takeFolderLock(dm.Settings.DatabaseFolder, held);
    const BackupGate::Inspection gate = checkedForCopy(backupFile);
    const QFileInfo backup(backupFile);

    const Restic::Repository repo = repository(s);
    // Nothing of restic's runs before the repository is known to be there: restic would make its folders
    // on an empty mount point.
    const QString untouched = QStringLiteral(" Kopia lokalna %1 jest nienaruszona.").arg(backupFile);
    if (const QString missing = missingConfig(s); !missing.isEmpty())
        throw QkError(
            QStringLiteral("Kopia poza siedzibą nie została wysłana: %1%2").arg(missing, untouched));
    writable(s);
    // A run killed mid-way (a prune the unit's stop timeout ended) leaves its lock: gone before the copy.
    unlockStale(repo, s);
    QString source = gate.walk.sourceDatabase;
    source.replace(QLatin1Char(','), QLatin1Char('_'));
    // The copy is dated when it is made (retention counts by that); the backup's own time goes with it.
    const QStringList tags =
        companyTags(s) + QStringList{QStringLiteral("rozmiar=%1").arg(backup.size()),
                                     QStringLiteral("baza=") + source,
                                     QLatin1String(Offsite::kBackupTimeTag) + QLatin1Char('=') +
                                         backup.lastModified().toUTC().toString(Qt::ISODate)};
    if (Clock::now().secsTo(backup.lastModified()) >= 60)
        say(op,
            QStringLiteral("Plik kopii %1 ma datę z przyszłości (%2): zegar komputera szedł naprzód, gdy ją "
                           "wykonano. Sprawdź zegar.")
                .arg(backupFile, when(backup.lastModified())));
    say(op, QStringLiteral("Wysyłanie kopii %1 z dnia %2 (%3) do repozytorium %4 ...")
                .arg(backupFile, when(backup.lastModified()), megabytes(backup.size()),
                     Offsite::shownLocation(s.repository)));
    const QDateTime started = QDateTime::currentDateTime();
    QJsonObject summary;
    int shownTenth = 0;
    const Restic::Handlers h = copyProgress(op, summary, shownTenth);
    QStringList args{QStringLiteral("backup"), QStringLiteral("--json"), QStringLiteral("--tag"),
                     tags.join(QLatin1Char(','))};
    args << backup.absoluteFilePath() << QFileInfo(BackupDigest::fileName(backupFile)).absoluteFilePath();
    const Restic::Result r = Restic::run(repo, args, h, limits(s));
    // The repository gone during the run: what restic made in its place goes, and no copy is said.
    const QString wentAway = QStringLiteral(
        "Kopia poza siedzibą nie została zapisana: repozytorium %1 zniknęło w czasie wysyłania (czy dysk "
        "jest podłączony, serwer włączony?).");
    if (!missingConfig(s).isEmpty()) {
        removeRemnants(Offsite::localFolder(s.repository), started);
        throw QkError(wentAway.arg(Offsite::shownLocation(s.repository)) + untouched);
    }
    if (!r.ok())
        fail(r, s, untouched);
    // restic ends well also when one of the files named was not there: both must be in the snapshot.
    Copy c;
    c.snapshot = summary.value(QLatin1String("snapshot_id")).toString();
    const int files = summary.value(QLatin1String("files_new")).toInt() +
                      summary.value(QLatin1String("files_changed")).toInt() +
                      summary.value(QLatin1String("files_unmodified")).toInt();
    if (c.snapshot.isEmpty() || files != 2)
        throw QkError(
            QStringLiteral(
                "restic nie zapisał obu plików (bazaqk.abk i jego sumy kontrolnej; zapisano plików: %1): "
                "kopii poza siedzibą nie ma.%2")
                .arg(files)
                .arg(untouched));
    // restic can print a summary whose snapshot no usable repository holds: the copy is the snapshot the
    // repository the settings name lists.
    Restic::Result listed;
    const auto found = Restic::snapshots(repo, companyTags(s), limits(s), &listed);
    const QString shown = Offsite::shownLocation(s.repository);
    if (!found) {
        removeRemnants(Offsite::localFolder(s.repository), started);
        throw QkError(
            QStringLiteral("Kopia poza siedzibą nie jest potwierdzona: po wysłaniu nie można odczytać "
                           "listy kopii repozytorium %1, więc nie wiadomo, czy migawka %2 w nim jest. "
                           "Nie zapisano jej jako wysłanej. %3")
                .arg(shown, c.snapshot, Restic::problem(listed, shown, s.keyFile, s.recorded)) +
            untouched);
    }
    if (std::none_of(found->begin(), found->end(), [&](const Restic::Snapshot &snap) {
            return snap.id.startsWith(c.snapshot) || snap.shortId == c.snapshot;
        })) {
        removeRemnants(Offsite::localFolder(s.repository), started);
        throw QkError(wentAway.arg(shown) + QStringLiteral(" Migawki %1 w nim nie ma.").arg(c.snapshot) +
                      untouched);
    }
    c.added = qint64(summary.value(QLatin1String("data_added")).toDouble());
    c.total = qint64(summary.value(QLatin1String("total_bytes_processed")).toDouble());
    say(op, QStringLiteral(
                "Kopia poza siedzibą zapisana: migawka %1, dodano do repozytorium %2 (pliki kopii: %3)")
                .arg(c.snapshot, megabytes(c.added), megabytes(c.total)));
    try {
        Offsite::writeRecord(backupFile, {c.snapshot, backup.lastModified(), c.added, c.total});
    } catch (const FileError &e) {
        say(op, e.message()); // monitoring then reads the repository alone
    }
    if (!retention) {
        c.retentionLeft = !Offsite::retentionOptions(s.retention)->isEmpty();
        if (c.retentionLeft)
            say(op, QStringLiteral(
                        "Stare kopie poza siedzibą (zachowaj=%1) zostaną usunięte po kopiach wszystkich "
                        "firm.")
                        .arg(s.retention));
        return c;
    }
    int forgotten = 0;
    c.appendOnly = applyRetention(repo, s, op, c.snapshot, true, forgotten);
    return c;
}

int forget(TMainDm &dm, Operator &op, const QString &made) {
    const Offsite::Settings s = settings(dm);
    if (const QString problem = Offsite::keyFileProblem(s.keyFile); !problem.isEmpty())
        throw QkError(QStringLiteral("Nie można usunąć starych kopii poza siedzibą: %1.").arg(problem));
    if (const QString missing = missingConfig(s); !missing.isEmpty())
        throw QkError(QStringLiteral("Nie można usunąć starych kopii poza siedzibą: %1").arg(missing));
    const Restic::Repository repo = repository(s);
    writable(s);
    int forgotten = 0;
    applyRetention(repo, s, op, made, false, forgotten);
    if (forgotten == 0)
        say(op, QStringLiteral("Kopie poza siedzibą firmy %1: nic do usunięcia (zachowaj=%2).")
                    .arg(s.company, s.retention));
    return forgotten;
}

void prune(TMainDm &dm, Operator &op) {
    const Offsite::Settings s = settings(dm);
    if (const QString problem = Offsite::keyFileProblem(s.keyFile); !problem.isEmpty())
        throw QkError(QStringLiteral("Nie można uporządkować repozytorium: %1.").arg(problem));
    if (const QString missing = missingConfig(s); !missing.isEmpty())
        throw QkError(QStringLiteral("Nie można uporządkować repozytorium: %1").arg(missing));
    const Restic::Repository repo = repository(s);
    writable(s);
    unlockStale(repo, s);
    say(op, QStringLiteral("Porządkowanie repozytorium %1: usuwanie danych kopii usuniętych z listy ...")
                .arg(Offsite::shownLocation(s.repository)));
    const Restic::Result p = Restic::run(repo, {QStringLiteral("prune")}, {}, limits(s));
    if (!p.ok())
        fail(p, s,
             QStringLiteral(" Kopie w repozytorium są nienaruszone; dane usuniętych z listy pozostają."));
    say(op, QStringLiteral("Repozytorium %1 uporządkowane.").arg(Offsite::shownLocation(s.repository)));
}

QString repositoryKey(const Offsite::Settings &s) {
    return QString::fromLatin1(
        QCryptographicHash::hash(s.repository.toUtf8(), QCryptographicHash::Sha256).toHex().left(16));
}

namespace {

// A new key file for the owner alone, on disk, unless one is there; true when it was made.
bool makeKeyFile(const QString &keyFile) {
    const QFileInfo key(keyFile);
    if (!key.exists() && !key.isSymLink()) {
        const int fd = ::open(QFile::encodeName(keyFile).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        const QByteArray k = newKey();
        if (fd < 0 || ::write(fd, k.constData(), size_t(k.size())) != k.size() || ::fsync(fd) != 0) {
            const QString why = QString::fromLocal8Bit(std::strerror(errno));
            if (fd >= 0) {
                ::close(fd);
                QFile::remove(keyFile);
            }
            throw FileError(QStringLiteral("Nie można utworzyć pliku klucza %1: %2").arg(keyFile, why));
        }
        ::close(fd);
        return true;
    }
    return false;
}

// What the office keeps in its safe: the repository, its keys, what to keep where, how to rebuild.
QStringList recoverySheet(const Offsite::Settings &s, const QString &id, bool made,
                          const QByteArray &second) {
    return {
        QStringLiteral("======== KARTA ODTWORZENIOWA: kopie poza siedzibą firmy %1 ========").arg(s.company),
        QStringLiteral("Założono: %1").arg(Clock::now().toString(QStringLiteral("yyyy-MM-dd HH:mm"))),
        QStringLiteral("Repozytorium: %1").arg(s.repository),
        QStringLiteral("Identyfikator repozytorium: %1").arg(id.isEmpty() ? QStringLiteral("-") : id),
        QStringLiteral("Klucz główny: w pliku %1%2 na komputerze z bazą")
            .arg(s.keyFile, made ? QStringLiteral(" (utworzony teraz)") : QString()),
        QStringLiteral("Klucz zapasowy: %1").arg(QString::fromLatin1(second)),
        QStringLiteral("Co przechowywać gdzie:"),
        QStringLiteral("  - tę kartę: w sejfie biura, poza komputerem z bazą i poza repozytorium;"),
        QStringLiteral(
            "  - klucz zapasowy otwiera każdą kopię: nie zapisuj go na komputerze z bazą ani obok kopii;"),
        QStringLiteral("  - bez klucza kopie są nie do odczytania: utrata obu kluczy to utrata ksiąg."),
        QStringLiteral(
            "Odtworzenie na nowym komputerze: zainstaluj pakiet qkadmin; zapisz klucz zapasowy w pliku "
            "(chmod 600); w pliku ustawień wpisz [Ogolne] sciezka=NOWY_FOLDER oraz [Zewnetrzna] "
            "repozytorium=%1 i klucz=PLIK_KLUCZA; potem:")
            .arg(s.repository),
        QStringLiteral("  qkadmin-cli --settings PLIK_USTAWIEN offsite fetch latest --yes"),
        QStringLiteral("  qkadmin-cli --settings PLIK_USTAWIEN restore --yes"),
        QStringLiteral("====================================================================="),
    };
}

} // namespace

void init(TMainDm &dm, Operator &op) {
    const Offsite::Settings s = settings(dm);
    if (s.keyFile.isEmpty())
        throw QkError(
            QStringLiteral("Ustawienia kopii poza siedzibą: brak klucz= (plik klucza repozytorium) w sekcji "
                           "[Zewnetrzna] pliku %1.")
                .arg(dm.settingsFile()));
    // A repository is made where nothing is: a folder holding files is someone's (another repository, a
    // disk mounted over by mistake), and restic would mix its own among them.
    if (const QString folder = Offsite::localFolder(s.repository);
        !folder.isEmpty() &&
        !QDir(folder)
             .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)
             .isEmpty())
        throw QkError(QStringLiteral("W folderze %1 są już pliki: repozytorium kopii zakłada się w folderze "
                                     "pustym albo nowym. Nic nie zostało zmienione.")
                          .arg(folder));
    const bool made = makeKeyFile(s.keyFile);
    if (const QString problem = Offsite::keyFileProblem(s.keyFile); !problem.isEmpty())
        throw QkError(QStringLiteral("Repozytorium nie zostało założone: %1.").arg(problem));
    const Restic::Repository repo = repository(s);
    const Restic::Result r = Restic::run(repo, {QStringLiteral("init")}, {}, limits(s));
    if (!r.ok()) {
        if (made)
            QFile::remove(s.keyFile); // a key that opens nothing would only mislead
        fail(r, s);
    }
    QString id = QString::fromUtf8(r.output)
                     .section(QLatin1String("created restic repository "), 1)
                     .section(QLatin1Char(' '), 0, 0);
    // Which key the key file holds, so that restic tries it first, not after the sheet's key.
    const Restic::Result keys = Restic::run(
        repo, {QStringLiteral("key"), QStringLiteral("list"), QStringLiteral("--json")}, {}, limits(s));
    for (const QJsonValue &k : QJsonDocument::fromJson(keys.output).array())
        if (k.toObject().value(QLatin1String("current")).toBool()) {
            QFile old(s.keyHintFile);
            const QByteArray before =
                old.open(QIODevice::ReadOnly) && old.size() < 65536 ? old.readAll() : QByteArray();
            QSaveFile hint(s.keyHintFile);
            const QByteArray text = Offsite::withKeyHint(before, s.repository,
                                                         k.toObject().value(QLatin1String("id")).toString());
            if (!hint.open(QIODevice::WriteOnly) || hint.write(text) != text.size() ||
                !Paths::commitWhole(hint))
                say(op, QStringLiteral("Nie można zapisać pliku %1 (%2): restic sprawdzi kolejno oba klucze.")
                            .arg(s.keyHintFile, hint.errorString()));
        }
    const QByteArray second = newKey();
    const Restic::Result k = Restic::run(repo,
                                         {QStringLiteral("key"), QStringLiteral("add"),
                                          QStringLiteral("--new-password-file"), QStringLiteral("/dev/fd/4")},
                                         {}, limits(s), second);
    if (!k.ok())
        fail(k, s,
             QStringLiteral(
                 " Repozytorium założono z jednym kluczem (z pliku %1); dodaj zapasowy: restic key add.")
                 .arg(s.keyFile));
    for (const QString &line : recoverySheet(s, id, made, second))
        say(op, line);
}

QList<Restic::Snapshot> copies(const TMainDm &dm) {
    const Offsite::Settings s = settings(dm);
    if (const QString problem = Offsite::keyFileProblem(s.keyFile); !problem.isEmpty())
        throw QkError(QStringLiteral("Nie można odczytać kopii poza siedzibą: %1.").arg(problem));
    const Restic::Repository repo = repository(s);
    unlockStale(repo, s);
    return companyCopies(repo, s);
}

QList<Restic::Snapshot> list(TMainDm &dm, Operator &op) {
    const Offsite::Settings s = settings(dm);
    const QList<Restic::Snapshot> copies = OffsiteOps::copies(dm);
    if (copies.isEmpty())
        say(op, QStringLiteral("W repozytorium %1 nie ma kopii firmy %2.")
                    .arg(Offsite::shownLocation(s.repository), s.company));
    for (const Restic::Snapshot &c : copies)
        say(op, listLine(c));
    return copies;
}

bool fetch(TMainDm &dm, Operator &op, const QString &which) {
    const Offsite::Settings s = settings(dm);
    if (const QString problem = Offsite::keyFileProblem(s.keyFile); !problem.isEmpty())
        throw QkError(QStringLiteral("Nie można pobrać kopii: %1.").arg(problem));
    const ConnectionSettings &cs = dm.Settings;
    if (!QFileInfo(cs.DatabasePath).isDir())
        throw QkError(
            QStringLiteral(
                "Folder bazy danych %1 nie istnieje (plik %2, sekcja [Ogolne], klucz sciezka): utwórz go "
                "przed pobraniem kopii.")
                .arg(cs.DatabasePath, dm.settingsFile()));
    const Restic::Repository repo = repository(s);
    writable(s);
    unlockStale(repo, s);
    const QList<Restic::Snapshot> copies = companyCopies(repo, s);
    const Restic::Snapshot snap = choose(copies, s, which);
    const auto lock = BackupOps::takeFolderLock(cs.DatabaseFolder);
    const QString backupFile = cs.backupFileName();
    const QFileInfo current(backupFile);
    // Read once: after the fetch the name holds the fetched backup, whether or not one was kept.
    const bool replacing = current.exists();
    const QString kept = Paths::firstFree(cs.DatabaseFolder +
                                          QStringLiteral("bazaqk-przed-pobraniem-%1.abk")
                                              .arg(Clock::now().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    if (replacing &&
        !op.confirm(
            QStringLiteral(
                "Plik kopii %1 z dnia %2 zostanie zastąpiony kopią z repozytorium z dnia %3 (migawka %4); "
                "obecny zostanie zachowany jako %5.\rKontynuować pobieranie?")
                .arg(current.fileName(), when(current.lastModified()), when(Offsite::backupTime(snap)),
                     snap.shortId, QFileInfo(kept).fileName())))
        return false;
    Scratch scratch(cs.DatabaseFolder + QStringLiteral("bazaqk-pobierana/"));
    fetchChecked(repo, s, snap, scratch, op);
    const QString fetched = scratch.folder + QStringLiteral("bazaqk.abk");
    {
        // The fetched backup is as old as the one it copies: its date is the backup's, not the fetch's.
        QFile f(fetched);
        if (f.open(QIODevice::ReadWrite))
            f.setFileTime(Offsite::backupTime(snap), QFileDevice::FileModificationTime);
    }
    // The backup and its digest never disagree, and both are on disk before they replace anything: the
    // current pair is kept aside under a name of its own, then the fetched backup and its digest go in.
    BackupDigest::replace(fetched, BackupDigest::fileName(fetched), backupFile, replacing ? kept : QString());
    QFile::remove(Offsite::recordFileName(backupFile));
    if (replacing)
        say(op, QStringLiteral("Poprzedni plik kopii zachowany jako %1").arg(kept));
    say(op, QStringLiteral("Plik kopii %1 to teraz kopia z dnia %2 (migawka %3).")
                .arg(backupFile, when(Offsite::backupTime(snap)), snap.shortId));
    op.message(Operator::Box::Information,
               QStringLiteral("Pobieranie kopii z repozytorium zakończono pomyślnie ..."));
    return true;
}

bool check(TMainDm &dm, Operator &op, int readDataPercent, bool restore) {
    const Offsite::Settings s = settings(dm);
    if (const QString problem = Offsite::keyFileProblem(s.keyFile); !problem.isEmpty())
        throw QkError(QStringLiteral("Nie można sprawdzić repozytorium: %1.").arg(problem));
    const Restic::Repository repo = repository(s);
    unlockStale(repo, s);
    QStringList args{QStringLiteral("check")};
    if (readDataPercent >= 100)
        args << QStringLiteral("--read-data");
    else if (readDataPercent > 0)
        args << QStringLiteral("--read-data-subset") << QStringLiteral("%1%").arg(readDataPercent);
    say(op, QStringLiteral("Sprawdzanie repozytorium %1%2 ...")
                .arg(Offsite::shownLocation(s.repository),
                     readDataPercent > 0
                         ? QStringLiteral(" (odczyt %1% danych)").arg(std::min(readDataPercent, 100))
                         : QString()));
    const Restic::Result r = Restic::run(repo, args, {}, limits(s));
    bool ok = r.ok();
    if (r.started && !r.stalled && !r.interrupted && (r.exitCode == 0 || r.exitCode == 1)) {
        for (const QString &line : QString::fromUtf8(r.output).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            say(op, QStringLiteral("  ") + line);
        for (const QString &line : r.errors)
            say(op, QStringLiteral("  ") + line);
    }
    if (ok)
        say(op, QStringLiteral("Repozytorium: OK (restic check nie znalazł błędów)"));
    else {
        // restic's check ends with 1 both for damage it found and for a repository it could not check.
        const QString errors = r.errors.join(QLatin1Char(' '));
        const bool found = r.started && r.exitCode == 1 && !Restic::unreachable(r) && !Restic::gone(r) &&
                           !r.interrupted && !errors.contains(QLatin1String("wrong password")) &&
                           !errors.contains(QLatin1String("already locked"));
        say(op,
            QStringLiteral("Repozytorium: BŁĄD: ") +
                (found ? QStringLiteral("restic check znalazł błędy w repozytorium (uszkodzone dane)")
                       : Restic::problem(r, Offsite::shownLocation(s.repository), s.keyFile, s.recorded)));
    }
    if (!ok && (Restic::unreachable(r) || Restic::gone(r) || r.interrupted))
        return false;
    try {
        const QList<Restic::Snapshot> copies = companyCopies(repo, s);
        const Restic::Snapshot &newest = choose(copies, s, QStringLiteral("latest"));
        const QString base = QFileInfo(dm.Settings.DatabasePath).isDir()
                                 ? dm.Settings.DatabaseFolder
                                 : QDir::tempPath() + QLatin1Char('/');
        Scratch scratch(base + QStringLiteral("bazaqk-sprawdzana-%1/").arg(::getpid()));
        fetchChecked(repo, s, newest, scratch, op);
        if (!restore) {
            say(op, QStringLiteral("Najnowsza kopia (%1 z dnia %2): OK, da się odtworzyć")
                        .arg(newest.shortId, when(Offsite::backupTime(newest))));
        } else {
            if (!QFileInfo(dm.Settings.DatabasePath).isDir())
                throw QkError(
                    QStringLiteral("nie ma folderu bazy %1, obok którego można ją odtworzyć na próbę")
                        .arg(dm.Settings.DatabasePath));
            // The server reads the copy by its name: the folder may be passed, not listed nor written.
            ::fchmod(scratch.fd, 0711);
            if (!BackupVerification::verify(dm, op, scratch.folder + QStringLiteral("bazaqk.abk")))
                throw QkError(QStringLiteral("kopia %1 z dnia %2 nie odtwarza się do bazy próbnej (powyżej)")
                                  .arg(newest.shortId, when(Offsite::backupTime(newest))));
            say(op,
                QStringLiteral("Najnowsza kopia (%1 z dnia %2): OK, odtworzona do bazy próbnej i sprawdzona")
                    .arg(newest.shortId, when(Offsite::backupTime(newest))));
        }
    } catch (const QkError &e) {
        say(op, QStringLiteral("Najnowsza kopia: BŁĄD: ") +
                    QString(e.message()).replace(QLatin1Char('\r'), QLatin1Char(' ')));
        ok = false;
    }
    return ok;
}

} // namespace OffsiteOps
