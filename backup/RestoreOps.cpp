// The restore: prepare, restore beside, swap, finish.
#include "backup/ArchiveCopy.h"
#include "backup/BackupGate.h"
#include "backup/BackupOps.h"
#include "backup/RestoreBeside.h"
#include "core/MainD.h"
#include "core/Operator.h"
#include "core/ServiceRun.h"
#include "db/DatabaseInfo.h"
#include "db/Errors.h"
#include "platform/Clock.h"
#include "platform/FolderLock.h"
#include "platform/Paths.h"
#include "platform/Regional.h"
#include "platform/Signals.h"
#include "platform/WorkFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QStorageInfo>

#include <algorithm>
#include <functional>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace BackupOps {

namespace {

constexpr Operator::Log kBuMemo = Operator::Log::Backup;

QString inUseMessage(const QString &database, int attachments) {
    return QStringLiteral("Baza %1 jest używana: otwartych połączeń innych programów lub stanowisk: %2.\r"
                          "Odtwarzanie przerwane, nic nie zostało zmienione. Zamknij program księgowy na "
                          "wszystkich stanowiskach i spróbuj ponownie.")
        .arg(database)
        .arg(attachments);
}

// The file path of a database name as the server reports it or as the settings give it ("host:path").
QString filePathOf(const QString &name) {
    const QFileInfo f(TMainDm::hasServerPrefix(name) ? name.mid(name.indexOf(QLatin1Char(':')) + 1) : name);
    return f.exists() ? f.canonicalFilePath() : f.absoluteFilePath();
}

// The new database is built beside the live one: there must be room for both.
void checkRoom(const ConnectionSettings &settings, const QString &live) {
    const qint64 liveSize = QFileInfo(live).size();
    const qint64 room = QStorageInfo(settings.DatabasePath).bytesAvailable();
    if (room >= 0 && room < liveSize)
        throw QkError(
            QStringLiteral("Za mało miejsca w katalogu %1: wolne %2, baza zajmuje %3.\r"
                           "Odtwarzanie buduje nową bazę obok obecnej; nic nie zostało zmienione.")
                .arg(settings.DatabasePath, Regional::megabytes(room), Regional::megabytes(liveSize)));
}

// The restored file succeeds the live one: it gets its owner, group and mode (the engine made it as
// this run's user, 0660), so the operators' group still opens it and a privileged run still finds it
// no one else's. A run that may not give a file away leaves it as the engine made it.
void takeOverRights(const QString &restored, const QString &live) {
    struct stat st {};
    const QByteArray r = QFile::encodeName(restored);
    if (::stat(QFile::encodeName(live).constData(), &st) != 0)
        return;
    (void)::chown(r.constData(), st.st_uid, st.st_gid);
    (void)::chmod(r.constData(), st.st_mode & 07777); // after chown, which may clear bits
}

class Restore {
public:
    Restore(TMainDm &dm, Operator &op, const RestoreOptions &options)
        : m_dm(dm), m_op(op), m_options(options), m_backupFile(dm.Settings.backupFileName()),
          m_live(dm.Settings.fullDatabaseName()), m_work(RestoreBeside::workFolder(dm)),
          m_restoring(RestoreBeside::targetIn(dm, *m_work, QFileInfo(restoringName({})).fileName())) {}
    // The file, the lock, the gate, the question, the room, the attachments, the flag: false when the
    // operator said no, and nothing changed.
    bool prepare();
    // The new database beside the live one, whole, or an error.
    void restoreBeside();
    // The new database in the live one's place, the replaced one kept.
    void swap();
    // The connection, the message, the flag, the archive copy, the end of the program.
    void finish();
    const QString &restoring() const { return m_restoring; }

private:
    void noteSource(const BackupFormat::Walk &walk);

    TMainDm &m_dm;
    Operator &m_op;
    const RestoreOptions m_options;
    const QString m_backupFile, m_live;
    const std::unique_ptr<WorkFolder> m_work;
    const QString m_restoring;
    QString m_kept;
    Lock m_lock;
    std::optional<BackupGate::Checked> m_checked;
};

bool Restore::prepare() {
    if (!QFileInfo(m_backupFile).isFile())
        throw QkError(
            QStringLiteral("Brak pliku kopii %1: nie ma z czego odtworzyć bazy.").arg(m_backupFile));
    m_lock = takeFolderLock(m_dm.Settings.DatabaseFolder, m_options.held);
    // Before anything changes, the backup must be whole, what was written and this program's: the
    // engine commits what it has read of a cut backup, and a cut inside an external table's columns
    // crashes it. The file stays held: what the engine reads is what was checked.
    m_checked.emplace(BackupGate::check(m_backupFile));
    const BackupFormat::Walk &walk = m_checked->inspection().walk;
    // The live database is replaced and everything entered since the backup lost: ask first.
    if (!m_op.confirm(restoreQuestion(m_backupFile, QFileInfo(m_backupFile).lastModified(), &walk)))
        return false;
    checkRoom(m_dm.Settings, m_live);
    servicePreCheck(m_dm);
    if (const int others = DatabaseInfo(&m_dm.EmployeeDb).otherAttachments())
        throw QkError(inUseMessage(m_live, others));
    m_checked->ensureUnchanged();
    lockFlagUpdate(m_dm, m_op, QLatin1Char('T'));
    m_dm.EmployeeDb.close(); // the restored file takes the place of the one the connection is attached to
    m_op.clearLog(kBuMemo);
    m_op.appendLine(kBuMemo, BackupGate::digestLine(m_checked->inspection(), m_backupFile));
    noteSource(walk);
    m_op.beginBusy();
    return true;
}

// A backup of another database (another company's, copied into this folder) is said before the engine starts.
void Restore::noteSource(const BackupFormat::Walk &walk) {
    if (!walk.sourceDatabase.isEmpty() && filePathOf(walk.sourceDatabase) != filePathOf(m_live))
        m_op.appendLine(kBuMemo, QStringLiteral("Uwaga: kopia pochodzi z bazy %1, odtwarzana jest baza %2")
                                     .arg(walk.sourceDatabase, m_live));
}

void Restore::restoreBeside() {
    const auto idle = qScopeGuard([this] { m_op.endBusy(); });
    // A leftover under the new file's name is a restore that was killed, never a replaced database
    // (that is always under a kept name).
    QFile::remove(m_restoring);
    const RestoreBeside::Request request{
        *m_checked, *m_work, m_restoring, m_lock->descriptor(),
        [this](const QString &text) {
            m_op.appendLine(kBuMemo, text);
            m_op.processEvents();
        },
        [this] { m_op.processEvents(); }, &m_dm.IBRestore,
        // Nobody may have attached to the live database since the check: asked on the restore's own
        // service while it is attached (through a server; the embedded engine sees only its own).
        [this](RestoreService &r) {
            const Spb::ServerDbInfo inUse = r.fetchDatabaseInfo();
            const QString livePath = filePathOf(m_live);
            for (const QString &name : inUse.names)
                if (filePathOf(name) == livePath)
                    throw QkError(inUseMessage(m_live, std::max(1, inUse.attachments)));
        }};
    if (!RestoreBeside::run(m_dm, request))
        throw QkError(QStringLiteral("Kopia %1 jest niekompletna: odtwarzanie nie doszło do końca.\r"
                                     "Baza nie została zmieniona.")
                          .arg(m_backupFile));
}

void Restore::swap() {
    takeOverRights(m_restoring, m_live);
    m_kept = Paths::swapIn(m_restoring, m_live, keptName(m_dm.Settings.DatabaseFolder, Clock::now()));
    m_op.appendLine(kBuMemo, QStringLiteral("Poprzednia baza zachowana w pliku ") + m_kept);
    m_op.appendLine(kBuMemo, QString());
}

// From here the restore has completed: the restored database is in place. A signal (the operator seam
// then throws at its next step) or a failure in what follows never turns that into a failed restore:
// the lock flag is still put back, the archive copy is not started after a signal, and the run says
// what was not finished.
void Restore::finish() {
    QStringList notDone;
    auto step = [&](const QString &what, const std::function<void()> &f) {
        try {
            f();
        } catch (const std::exception &e) {
            notDone << what + QStringLiteral(" (") +
                           QString::fromUtf8(e.what()).section(QLatin1Char('\r'), 0, 0) + QLatin1Char(')');
        }
    };
    const int format = m_checked->inspection().walk.format;
    const QString upgraded =
        BackupFormat::olderThanThisServer(format)
            ? QStringLiteral(
                  "\r\rKopia pochodziła ze starszego serwera (%1): baza ma teraz strukturę dyskową serwera "
                  "Firebird 3. Jeśli program księgowy wymaga nowszej wersji bazy, wykonaj kolejne kroki na "
                  "zakładce \"Nowe wersje\".")
                  .arg(BackupFormat::serverOf(format))
            : QString();
    // Open again before the message, so that the activation after it reads the restored database; after
    // a signal too, as the lock flag is put back on it (the client library works until the program ends).
    step(QStringLiteral("połączenie z odtworzoną bazą"), [&] { m_dm.EmployeeDb.open(); });
    m_op.message(Operator::Box::Information, QStringLiteral("Odtwarzanie Bazy zakończono pomyślnie ...") +
                                                 QStringLiteral("\r\rPoprzednia baza zachowana w pliku ") +
                                                 m_kept + upgraded);
    // The flag is put back after a signal too; it stays 'T' only when that fails (the connection reset
    // puts it back then).
    bool unlocked = false;
    try {
        lockFlagUpdate(m_dm, m_op, QLatin1Char('N'), &unlocked);
    } catch (const std::exception &e) {
        if (!unlocked)
            notDone << QStringLiteral("zdjęcie blokady bazy: flaga blokady została 'T' (zdejmie ją \"Zeruj "
                                      "Połączenia\", qkadmin-cli reset-connections): ") +
                           QString::fromUtf8(e.what()).section(QLatin1Char('\r'), 0, 0);
    }
    if (!Signals::received()) {
        const ArchiveCopy::Said said = ArchiveCopy::afterRestore(m_dm, m_lock, m_options.waitForArchiver);
        if (!Signals::received())
            m_op.message(said.kind,
                         said.text + QStringLiteral("\r\r") +
                             QStringLiteral("Uwaga .... nastąpi teraz automatyczne wyjście z programu ...."));
        else if (said.kind != Operator::Box::Information) // arj was stopped with the run
            notDone << QStringLiteral("dodatkowy plik kopii w archiwum: nie powstał (arj przerwany)");
    } else {
        notDone << QStringLiteral("dodatkowy plik kopii w archiwum: nie powstał");
    }
    if (const int sig = Signals::received())
        m_op.message(
            Operator::Box::Warning,
            QStringLiteral("Odtwarzanie Bazy zakończono: odtworzona baza jest na miejscu, poprzednia "
                           "zachowana w pliku %1.\rPo sygnale %2 nie dokończono:\r- %3")
                .arg(m_kept, QLatin1String(Signals::name(sig)),
                     notDone.isEmpty() ? QStringLiteral("(nic)") : notDone.join(QStringLiteral("\r- "))));
    else if (!notDone.isEmpty())
        m_op.message(Operator::Box::Error,
                     QStringLiteral("Odtwarzanie Bazy zakończono, ale nie dokończono:\r- ") +
                         notDone.join(QStringLiteral("\r- ")));
    m_op.endProgram();
}

} // namespace

QString restoringName(const QString &databaseFolder) {
    return databaseFolder + QStringLiteral("bazaqk-odtwarzana.adb");
}

QString keptName(const QString &databaseFolder, const QDateTime &when) {
    return databaseFolder + QStringLiteral("bazaqk-przed-odtworzeniem-%1.adb")
                                .arg(when.toString(QStringLiteral("yyyyMMdd-HHmmss")));
}

QStringList keptCopies(const QString &databaseFolder) {
    QStringList names =
        QDir(databaseFolder).entryList({QStringLiteral("bazaqk-przed-odtworzeniem-*.adb")}, QDir::Files);
    // By the stamp, then by the number a second restore within the same second got.
    auto key = [](const QString &n) {
        const QString stem = n.chopped(4); // .adb
        const qsizetype second = stem.lastIndexOf(QLatin1Char('-'));
        const bool numbered = stem.size() - second < 6; // "-2", not "-HHMMSS"
        return std::pair(numbered ? stem.left(second) : stem, numbered ? stem.mid(second + 1).toInt() : 1);
    };
    std::sort(names.begin(), names.end(),
              [&](const QString &a, const QString &b) { return key(a) < key(b); });
    for (QString &n : names)
        n.prepend(databaseFolder);
    return names;
}

QString restoreQuestion(const QString &backupFile, const QDateTime &written, const BackupFormat::Walk *walk) {
    const QString name = QFileInfo(backupFile).fileName();
    QString question =
        !written.isValid()
            ? QStringLiteral(
                  "Odtworzyć bazę z kopii %1? Zmiany wprowadzone po jej utworzeniu zostaną utracone.")
                  .arg(name)
            : QStringLiteral(
                  "Odtworzyć bazę z kopii %1 z dnia %2? Zmiany wprowadzone po tej chwili zostaną utracone.")
                  .arg(name, Regional::dateTime(written));
    if (walk && !walk->sourceDatabase.isEmpty())
        question += QStringLiteral("\rKopia bazy %1, wykonana %2.")
                        .arg(walk->sourceDatabase, Regional::engineDate(walk->backupDate));
    if (walk && BackupFormat::olderThanThisServer(walk->format))
        question += QStringLiteral(
                        "\rKopia pochodzi ze starszego serwera (%1, format %2): odtworzona baza będzie miała "
                        "strukturę serwera Firebird 3.")
                        .arg(BackupFormat::serverOf(walk->format))
                        .arg(walk->format);
    return question;
}

bool restoreDatabase(TMainDm &dm, Operator &op, const RestoreOptions &options) {
    Restore restore(dm, op, options);
    if (!restore.prepare())
        return false;
    {
        ReopenOnExit reopen(dm.EmployeeDb);
        // The new file goes unless it was put in place.
        auto discard = qScopeGuard([&] { QFile::remove(restore.restoring()); });
        restore.restoreBeside();
        restore.swap();
        discard.dismiss();
    }
    restore.finish();
    return true;
}

} // namespace BackupOps
