#include "backup/BackupVerification.h"

#include "backup/BackupGate.h"
#include "backup/BackupOps.h"
#include "backup/RestoreBeside.h"
#include "core/MainD.h"
#include "core/Operator.h"
#include "core/ServiceRun.h"
#include "platform/Clock.h"
#include "platform/Errors.h"
#include "platform/FolderLock.h"
#include "platform/WorkFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>

namespace BackupVerification {

namespace {

// The scratch database goes however the verification ends; its connection and services first.
class ScratchCleanUp {
public:
    ScratchCleanUp(Database &db, const QString &file) : m_db(db), m_file(file) {}
    ~ScratchCleanUp() { removed(); }
    bool removed() {
        if (m_done)
            return m_ok;
        m_done = true;
        try {
            m_db.close();
        } catch (...) {
        }
        m_ok = !QFileInfo::exists(m_file) || QFile::remove(m_file);
        return m_ok;
    }

private:
    Database &m_db;
    QString m_file;
    bool m_done = false;
    bool m_ok = false;
};

} // namespace

qint64 roomNeeded(const TMainDm &dm, qint64 backupBytes) {
    return std::max(QFileInfo(dm.Settings.fullDatabaseName()).size(), 2 * backupBytes);
}

QString scratchName(const QString &databaseFolder, const QString &stamp, qint64 pid) {
    return databaseFolder + QStringLiteral("qkverify-%1-%2.adb").arg(stamp).arg(pid);
}

namespace {

// One verification, in its steps: the backup checked, restored into the scratch database, the scratch
// database validated and read. Each says its line; false when it failed (said too).
class Verification {
public:
    Verification(TMainDm &dm, Operator &op, const QString &backupFile)
        : m_dm(dm), m_op(op), m_backupFile(backupFile) {}
    // Under the folder lock: leftovers of a killed verification go, and the backup file is said.
    void start();
    bool restore(const BackupGate::Checked &checked, const BackupOps::Lock &lock, const WorkFolder &work,
                 const QString &scratch);
    bool validate(const QString &scratch);
    bool read(Database &db, Transaction &tr);
    void line(const QString &text) {
        m_op.appendLine(Operator::Log::Backup, text);
        m_op.processEvents();
    }
    bool failed(const QString &what, const std::exception &e) {
        line(QStringLiteral("BŁĄD: %1: %2").arg(what, QString::fromUtf8(e.what())));
        return false;
    }

private:
    TMainDm &m_dm;
    Operator &m_op;
    const QString m_backupFile;
};

// Under the lock no other verification runs here: a scratch database in the folder is a killed one's.
void Verification::start() {
    const QString folder = m_dm.Settings.DatabaseFolder;
    for (const QString &left : QDir(folder).entryList({QStringLiteral("qkverify-*.adb")},
                                                      QDir::Files | QDir::System | QDir::Hidden))
        if (QFile::remove(folder + left))
            line(QStringLiteral("Usunięto bazę próbną przerwanego sprawdzania: %1").arg(left));
    const QFileInfo backup(m_backupFile);
    line(QStringLiteral("Plik kopii: %1, %2 bajtów, z dnia %3")
             .arg(m_backupFile)
             .arg(backup.size())
             .arg(backup.lastModified().toString(QStringLiteral("yyyy-MM-dd HH:mm"))));
}

bool Verification::restore(const BackupGate::Checked &checked, const BackupOps::Lock &lock,
                           const WorkFolder &work, const QString &scratch) {
    try {
        const RestoreBeside::Request request{.backup = checked,
                                             .work = work,
                                             .target = scratch,
                                             .heldLock = lock->descriptor(),
                                             .idle = [this] { m_op.processEvents(); }};
        if (!RestoreBeside::run(m_dm, request)) {
            line(QStringLiteral(
                "BŁĄD: odtworzenie z kopii: kopia niekompletna (odtwarzanie nie doszło do końca)"));
            return false;
        }
        line(QStringLiteral("Odtworzenie do bazy próbnej %1: OK").arg(QFileInfo(scratch).fileName()));
        return true;
    } catch (const std::exception &e) {
        return failed(QStringLiteral("odtworzenie z kopii"), e);
    }
}

bool Verification::validate(const QString &scratch) {
    try {
        ValidationService validate(QStringLiteral("VerifyValidate"));
        m_dm.PrepareService(validate);
        validate.databaseName = scratch;
        validate.validateDb = true;
        validate.validateFull = true;
        DetachOnExit detach(validate);
        validate.attach();
        validate.serviceStart();
        validate.waitWhileRunning(10);
        line(QStringLiteral("Sprawdzenie bazy próbnej: OK"));
        return true;
    } catch (const std::exception &e) {
        return failed(QStringLiteral("sprawdzenie bazy próbnej"), e);
    }
}

// The control row, and the rows of each monthly document table the backup has.
bool Verification::read(Database &db, Transaction &tr) {
    try {
        Query q(QStringLiteral("VerifyQuery"), &db, &tr);
        q.setSql(QStringLiteral("select count(*) from FJ_BAZA where LP = 1"));
        q.open();
        const bool controlRow = q.field(0).asInteger() == 1;
        q.close();
        if (!controlRow) {
            line(QStringLiteral("BŁĄD: brak wiersza kontrolnego FJ_BAZA (LP = 1)"));
            return false;
        }
        line(QStringLiteral("Wiersz kontrolny FJ_BAZA (LP = 1): OK"));
        QStringList tables;
        q.setSql(QStringLiteral("select trim(RDB$RELATION_NAME) from RDB$RELATIONS where RDB$RELATION_NAME "
                                "starting with 'FJ_DOK'"));
        for (q.open(); !q.eof(); q.next())
            tables << q.field(0).asString();
        q.close();
        for (int m = 1; m <= 12; ++m) {
            const QString table = QStringLiteral("FJ_DOK%1").arg(m);
            if (!tables.contains(table))
                continue;
            q.setSql(QStringLiteral("select count(*) from ") + table);
            q.open(Query::Duration::MayRunLong); // a whole month's table
            line(QStringLiteral("%1: %2 wierszy").arg(table).arg(q.field(0).asString()));
            q.close();
        }
        tr.commit();
        return true;
    } catch (const std::exception &e) {
        return failed(QStringLiteral("odczyt bazy próbnej"), e);
    }
}

} // namespace

bool verify(TMainDm &dm, Operator &op, const QString &backupFile, const BackupOps::Lock &held) {
    Verification v(dm, op, backupFile);
    if (!QFileInfo(backupFile).isFile()) {
        v.line(QStringLiteral("BŁĄD: brak pliku kopii %1").arg(backupFile));
        return false;
    }
    const BackupOps::Lock lock =
        BackupOps::takeFolderLock(dm.Settings.DatabaseFolder, held); // no backup replaces it meanwhile
    v.start();
    // A cut or altered backup never reaches the engine, which may crash on it; the engine reads the file
    // checked.
    const BackupGate::Checked checked = BackupGate::hold(backupFile);
    const BackupGate::Inspection &inspection = checked.inspection();
    v.line(BackupGate::digestLine(inspection, backupFile));
    if (!inspection.passes()) {
        v.line(QStringLiteral("BŁĄD: kopia nie nadaje się do odtworzenia: %1").arg(inspection.problem()));
        return false;
    }
    v.line(QStringLiteral("Struktura kopii: cała (%1 tabel z danymi)").arg(inspection.walk.tables.size()));

    // Room for the scratch database first: a verification that runs out of it proves nothing about the
    // backup, and must not say the backup is bad.
    const qint64 needed = roomNeeded(dm, inspection.walk.fileSize);
    const qint64 room = QStorageInfo(dm.Settings.DatabaseFolder).bytesAvailable();
    if (room >= 0 && room < needed)
        throw QkError(
            QStringLiteral("Sprawdzenie kopii %1 nie rozpoczęło się: za mało miejsca w katalogu %2 na bazę "
                           "próbną (wolne %3 MB, potrzeba około %4 MB).\rTo nie jest błąd kopii.")
                .arg(backupFile, dm.Settings.DatabaseFolder)
                .arg(room / (1024 * 1024))
                .arg((needed + 1024 * 1024 - 1) / (1024 * 1024)));
    std::unique_ptr<WorkFolder> work;
    try {
        work = RestoreBeside::workFolder(dm);
    } catch (const std::exception &e) {
        return v.failed(QStringLiteral("folder roboczy"), e);
    }
    const QString scratch = RestoreBeside::targetIn(
        dm, *work,
        QFileInfo(scratchName({}, Clock::now().toString(QStringLiteral("yyyyMMddHHmmss")),
                              QCoreApplication::applicationPid()))
            .fileName());
    Database db;
    Transaction tr(&db);
    db.defaultTransaction = &tr;
    dm.prepareConnection(db, scratch);
    ScratchCleanUp cleanUp(db, scratch);
    if (!v.restore(checked, lock, *work, scratch) || !v.validate(scratch) || !v.read(db, tr))
        return false;
    if (!cleanUp.removed()) {
        v.line(QStringLiteral("BŁĄD: nie można usunąć bazy próbnej %1").arg(scratch));
        return false;
    }
    v.line(QStringLiteral("Baza próbna usunięta"));
    return true;
}

} // namespace BackupVerification
