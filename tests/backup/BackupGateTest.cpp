// A damaged backup never reaches the engine: cut, altered or foreign files are refused before the lock
// flag, a service or a file changes; backups made elsewhere without a digest still restore.
#include "backup/BackupGate.h"
#include "backup/BackupOps.h"
#include "backup/BackupVerification.h"
#include "common/RecordedLaunches.h"
#include "common/RecordingOperator.h"
#include "common/TestFiles.h"
#include "common/TestModule.h"
#include "platform/BackupDigest.h"
#include "platform/Errors.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace {

QString documents(TMainDm &dm) {
    Query &q = dm.IBQuery1;
    q.close();
    q.setSql(
        QStringLiteral("select count(*) || ' ' || (select Bila from FJ_BAZA where LP = 1) from FJ_DOK3"));
    q.open();
    const QString v = q.field(0).asString().trimmed();
    q.close();
    dm.EmployeeTran.commit();
    return v;
}

// The restore is refused with the reason, and nothing changed: no flag set, no new file, the
// documents and the flag as they were.
void expectRefused(TestModule &m, const QString &reason, const QString &before) {
    RecordingOperator op;
    const QStringList kept = BackupOps::keptCopies(m.folder);
    try {
        BackupOps::restoreDatabase(*m.dm, op);
        ADD_FAILURE() << "restored";
    } catch (const QkError &e) {
        EXPECT_TRUE(e.message().contains(reason)) << e.message().toStdString();
        EXPECT_TRUE(e.message().endsWith(QStringLiteral("Nic nie zostało zmienione.")))
            << e.message().toStdString();
    }
    EXPECT_TRUE(op.nothingShown());
    EXPECT_TRUE(op.questions.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(BackupOps::restoringName(m.folder)));
    EXPECT_EQ(BackupOps::keptCopies(m.folder), kept);
    EXPECT_EQ(documents(*m.dm), before);
}

int firebirdPid() {
    QProcess p;
    p.start(QStringLiteral("pidof"), {QStringLiteral("firebird")});
    p.waitForFinished();
    return QString::fromLatin1(p.readAllStandardOutput()).trimmed().split(' ').value(0).toInt();
}

// A second process that renames other over file at once after the count-th event of mask on file
// (inotify: 0x10 a close of a reading, 0x1 a read).
class Renamer {
public:
    Renamer(const QString &file, const QString &other, int mask, int count) {
        const QString script = TestDb::newFolder() + QStringLiteral("renamer.py");
        TestFiles::write(script, R"(import ctypes, os, struct, sys
libc = ctypes.CDLL(None, use_errno=True)
fd = libc.inotify_init()
libc.inotify_add_watch(fd, sys.argv[1].encode(), int(sys.argv[4]))
print("ready", flush=True)
seen = 0
while seen < int(sys.argv[3]):
    buf = os.read(fd, 4096)
    at = 0
    while at < len(buf):
        wd, mask, cookie, n = struct.unpack_from("iIII", buf, at)
        at += 16 + n
        seen += 1 if mask & int(sys.argv[4]) else 0
os.rename(sys.argv[2], sys.argv[1])
print("renamed", flush=True)
)");
        m_p.start(QStringLiteral("python3"),
                  {script, file, other, QString::number(count), QString::number(mask)});
        m_p.waitForReadyRead(10000);
        m_ready = m_p.readLine().trimmed() == "ready";
    }
    ~Renamer() {
        m_p.kill();
        m_p.waitForFinished();
    }
    bool ready() const { return m_ready; }
    bool renamed() {
        m_p.waitForFinished(10000);
        return m_p.readAll().trimmed() == "renamed";
    }

private:
    QProcess m_p;
    bool m_ready = false;
};

} // namespace

// Another company's backup renamed over the checked one right after the last check of its name: the
// engine restores (and the verification proves) the checked bytes all the same.
TEST(BackupGate, ABackupRenamedOverTheCheckedOneIsNeverTheOneRestored) {
    TestModule other(TestDb::createEmbeddedDatabase(), QStringLiteral("L"));
    other.started();
    other.dm->IBQuery1.setSql(QStringLiteral("delete from FJ_DOK3"));
    other.dm->IBQuery1.execute();
    other.dm->EmployeeTran.commit();
    RecordingOperator op;
    BackupOps::backupDatabase(*other.dm, op);
    const QString foreign = TestDb::newFolder() + QStringLiteral("obca.abk");
    const QByteArray foreignBytes = TestFiles::read(other.dm->Settings.backupFileName());
    TestFiles::write(foreign, foreignBytes);
    other.dm->shutDown();

    TestModule m(TestDb::createEmbeddedDatabase(), QStringLiteral("L"));
    m.started();
    BackupOps::backupDatabase(*m.dm, op);
    const QString before = documents(*m.dm);
    ASSERT_NE(before.section(' ', 0, 0), QStringLiteral("0"));
    const QString backup = m.dm->Settings.backupFileName();
    const QByteArray checked = TestFiles::read(backup);
    {
        // Its name is looked at last before the lock flag: the other file comes in just after.
        Renamer renamer(backup, foreign, 0x10, 1);
        ASSERT_TRUE(renamer.ready());
        RecordingOperator restoring;
        EXPECT_TRUE(BackupOps::restoreDatabase(*m.dm, restoring));
        EXPECT_TRUE(renamer.renamed());
    }
    EXPECT_NE(TestFiles::read(backup), checked); // the other one is under the name now
    EXPECT_EQ(documents(*m.dm), before.section(' ', 0, 0) + QStringLiteral(" N"));

    // The verification: the other file comes in while the gate reads; the bytes read are the ones proven.
    TestFiles::write(backup, checked);
    TestFiles::write(foreign, foreignBytes);
    Renamer renamer(backup, foreign, 0x1, 1);
    ASSERT_TRUE(renamer.ready());
    RecordingOperator verifying;
    EXPECT_TRUE(BackupVerification::verify(*m.dm, verifying, backup));
    EXPECT_TRUE(renamer.renamed());
    EXPECT_TRUE(verifying.log(Operator::Log::Backup)
                    .contains(QStringLiteral("FJ_DOK3: %1 wierszy").arg(before.section(' ', 0, 0))))
        << verifying.log(Operator::Log::Backup).join('\n').toStdString();
}

// Links planted where the embedded engine's output would go (the old name beside the backup, a work
// folder's name made in advance): none is followed, the file they point to stays as it was.
TEST(BackupGate, TheEmbeddedEngineWritesNothingThroughAPlantedLink) {
    TestModule m(TestDb::createEmbeddedDatabase(), QStringLiteral("L"));
    m.started();
    const QString victim = TestDb::newFolder() + QStringLiteral("ofiara");
    TestFiles::write(victim, "nie do nadpisania");
    ASSERT_TRUE(QFile::link(victim, m.folder + QStringLiteral("bazaqk.abk.part")));
    const QString early =
        m.folder + QStringLiteral(".qk-praca-%1-1/").arg(QCoreApplication::applicationPid());
    ASSERT_TRUE(QDir().mkpath(early));
    ASSERT_TRUE(QFile::link(victim, early + QStringLiteral("bazaqk.abk.part")));
    ASSERT_TRUE(QFile::link(victim, early + QStringLiteral("bazaqk-odtwarzana.adb")));
    RecordingOperator op;
    BackupOps::backupDatabase(*m.dm, op);
    EXPECT_TRUE(BackupGate::inspect(m.dm->Settings.backupFileName()).passes());
    EXPECT_TRUE(BackupOps::restoreDatabase(*m.dm, op));
    EXPECT_EQ(TestFiles::read(victim), QByteArray("nie do nadpisania"));
    EXPECT_TRUE(QFileInfo(early + QStringLiteral("bazaqk.abk.part")).isSymLink()); // another's: left alone
}

// The server (another user) writes its backup only in a folder made for it that no one else may enter:
// a link planted under the old name beside the backup, to a file the server may write, is not followed,
// and what the server wrote is put in place as before.
TEST(BackupGate, TheServerWritesNothingThroughAPlantedLink) {
    TestModule m;
    m.started();
    const QString victim = TestDb::newFolder() + QStringLiteral("ofiara");
    TestFiles::write(victim, "nie do nadpisania");
    ASSERT_EQ(QProcess::execute(QStringLiteral("chown"), {QStringLiteral("firebird"), victim}), 0);
    ASSERT_TRUE(QFile::link(victim, m.folder + QStringLiteral("bazaqk.abk.part")));
    RecordingOperator op;
    BackupOps::backupDatabase(*m.dm, op);
    EXPECT_TRUE(BackupGate::inspect(m.dm->Settings.backupFileName()).passes());
    EXPECT_EQ(TestFiles::read(victim), QByteArray("nie do nadpisania"));
    EXPECT_EQ(QDir(m.folder).entryList({QStringLiteral(".qk-praca-*")}, QDir::AllEntries | QDir::Hidden),
              QStringList());
}

TEST(BackupGate, CutsAndChangedBytesNeverReachTheEngine) {
    TestModule m(TestDb::createEmbeddedDatabase(), QStringLiteral("L"));
    m.started();
    RecordingOperator op;
    BackupOps::backupDatabase(*m.dm, op);
    const QString backup = m.dm->Settings.backupFileName(), digest = BackupDigest::fileName(backup);
    QProcess sha;
    sha.setWorkingDirectory(m.folder);
    sha.start(QStringLiteral("sha256sum"), {QStringLiteral("-c"), QStringLiteral("bazaqk.abk.sha256")});
    ASSERT_TRUE(sha.waitForFinished());
    EXPECT_EQ(sha.exitCode(), 0) << sha.readAll().toStdString(); // an operator can check it by hand
    const QByteArray whole = TestFiles::read(backup), digestText = TestFiles::read(digest);
    const QString before = documents(*m.dm);

    // Without a digest the walk alone refuses every cut, densest over the external tables' columns
    // (where the engine crashes).
    QFile::remove(digest);
    int cuts = 0;
    for (qsizetype cut = 0; cut < whole.size() - 512;
         cut += (cut > 100000 && cut < 150000) ? 700 : 3001, ++cuts) {
        TestFiles::write(backup, whole.left(cut));
        expectRefused(
            m, cut == 0 ? QStringLiteral("kopia urywa się w nagłówku") : QStringLiteral("kopia urywa się"),
            before);
    }
    EXPECT_GT(cuts, 120);
    TestFiles::write(backup, whole.left(110000));
    expectRefused(m, QStringLiteral("kopia urywa się w kolumnach tabeli TA_EXD2"), before);
    TestFiles::write(backup, "to nie jest kopia");
    expectRefused(m, QStringLiteral("to nie jest kopia bazy"), before);

    // With its digest, one changed byte in the data is refused, by the verification too.
    QByteArray changed = whole;
    changed[whole.size() * 3 / 4] = char(changed[whole.size() * 3 / 4] ^ 0x20);
    TestFiles::write(backup, changed);
    TestFiles::write(digest, digestText);
    expectRefused(
        m, QStringLiteral("suma kontrolna SHA-256 pliku nie zgadza się z zapisaną w pliku bazaqk.abk.sha256"),
        before);
    RecordingOperator verifying;
    EXPECT_FALSE(BackupVerification::verify(*m.dm, verifying, backup));
    EXPECT_TRUE(verifying.log(Operator::Log::Backup).join('\n').contains(QStringLiteral("NIEZGODNA")));

    // The file as written restores.
    TestFiles::write(backup, whole);
    RecordedLaunches launches;
    RecordingOperator restoring;
    EXPECT_TRUE(BackupOps::restoreDatabase(*m.dm, restoring));
    EXPECT_TRUE(restoring.log(Operator::Log::Backup).value(0).contains(QStringLiteral("zgodna")));
}

TEST(BackupGate, ServerBackupsWithoutADigestRestoreAndEveryRestoreKeepsItsOwnCopy) {
    TestModule m;
    m.started();
    const QString before = documents(*m.dm);
    const QString backup = m.dm->Settings.backupFileName();
    RecordedLaunches launches;
    int restores = 0;
    for (const QStringList &options : {QStringList{}, QStringList{QStringLiteral("-nt")}}) {
        const QString made = m.folder + QStringLiteral("gbak.fbk");
        QFile::remove(made);
        QProcess gbak;
        gbak.start(QStringLiteral("gbak"),
                   QStringList{QStringLiteral("-b")} + options +
                       QStringList{QStringLiteral("-user"), QStringLiteral("SYSDBA"), QStringLiteral("-pas"),
                                   QStringLiteral("quillstep"),
                                   QStringLiteral("localhost:") + m.folder + "bazaqk.adb", made});
        ASSERT_TRUE(gbak.waitForFinished(120000));
        ASSERT_EQ(gbak.exitCode(), 0) << gbak.readAllStandardError().toStdString();
        QFile::remove(backup);
        QFile::remove(BackupDigest::fileName(backup));
        ASSERT_TRUE(QFile::rename(made, backup));
        RecordingOperator op;
        EXPECT_TRUE(BackupOps::restoreDatabase(*m.dm, op)) << options.join(' ').toStdString();
        ++restores;
        EXPECT_TRUE(
            op.log(Operator::Log::Backup).value(0).contains(QStringLiteral("brak pliku bazaqk.abk.sha256")));
        EXPECT_EQ(documents(*m.dm), before);
        // No restore overwrites the copy an earlier one kept, within the same second too.
        EXPECT_EQ(BackupOps::keptCopies(m.folder).size(), restores);
    }

    // A cut that crashes the server when it reaches it: refused, the server still the same process.
    const int pid = firebirdPid();
    ASSERT_GT(pid, 0);
    TestFiles::write(backup, TestFiles::read(backup).left(110000));
    expectRefused(m, QStringLiteral("w kolumnach tabeli TA_EXD2"), before);
    EXPECT_EQ(firebirdPid(), pid);
}

// A backup file made a link to a file the operator may not read, between the backup and its archive
// copy: arj is not given it.
TEST(ArchiveCopy, ABackupThatIsALinkIsNotFiled) {
    TestModule m;
    m.started();
    RecordingOperator op;
    BackupOps::backupDatabase(*m.dm, op);
    const QString secret = TestDb::newFolder() + "shadow";
    TestFiles::write(secret, "root:tajne:19000:0:99999:7:::\n");
    const QString backup = m.dm->Settings.backupFileName();
    QFile::remove(backup);
    ASSERT_TRUE(QFile::link(secret, backup));
    EXPECT_THROW(BackupOps::archiveBackup(*m.dm, op), QkError);
    EXPECT_TRUE(QDir(m.folder).entryList({"*.arj"}).isEmpty());
}

// The embedded engine dying in a restore (its worker ended by SIGSEGV, as a crash would end it):
// the program goes on, the live database as it was, no file left.
TEST(SerialRestoreWorker, AnEngineThatDiesTakesOnlyTheWorker) {
    TestModule m(TestDb::createEmbeddedDatabase(), QStringLiteral("L"));
    m.started();
    RecordingOperator op;
    BackupOps::backupDatabase(*m.dm, op);
    const QString before = documents(*m.dm);
    RecordingOperator dying;
    // A worker that dies as a crashing engine would; killed in the middle of its work it could leave the
    // engine's shared lock files held for the server on this machine.
    qputenv("QK_WORKER_DIES", QByteArray::number(SIGSEGV));
    try {
        BackupOps::restoreDatabase(*m.dm, dying);
        ADD_FAILURE() << "restored";
    } catch (const QkError &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("Silnik bazy danych przerwał pracę")))
            << e.message().toStdString();
        EXPECT_TRUE(e.message().contains(QStringLiteral("Baza nie została zmieniona")))
            << e.message().toStdString();
    }
    qunsetenv("QK_WORKER_DIES");
    EXPECT_EQ(dying.endCalls, 0);
    EXPECT_FALSE(QFileInfo::exists(BackupOps::restoringName(m.folder)));
    EXPECT_TRUE(BackupOps::keptCopies(m.folder).isEmpty());
    EXPECT_TRUE(m.dm->EmployeeDb.connected());
    // The documents are all there; the flag stays 'T' as after any failed restore.
    EXPECT_EQ(documents(*m.dm), before.section(' ', 0, 0) + QStringLiteral(" T"));
}
