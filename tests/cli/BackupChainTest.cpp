// The backup chain keeps its good copy in the ordinary situations that used to cost it: two runs in one
// second or hour, a verification, de-archiving, a foreign backup, an interruption, a power cut.
#include "backup/BackupGate.h"
#include "backup/BackupOps.h"
#include "cli/CliInProcess.h"
#include "common/CliRun.h"
#include "common/RecordingOperator.h"
#include "common/TestFiles.h"
#include "common/TestModule.h"
#include "platform/BackupDigest.h"
#include "platform/Clock.h"
#include "platform/Errors.h"
#include "platform/FolderLock.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>

using namespace TestCli;

namespace {

// The restore workers now running on the backup of folder.
QList<qint64> workersFor(const QString &folder) {
    QList<qint64> pids;
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        const QByteArray cmdline = TestFiles::read(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (cmdline.contains("--qk-restore-worker") && cmdline.contains(folder.toUtf8()))
            pids << pid.toLongLong();
    }
    return pids;
}

ino_t inode(const QString &file) {
    struct stat st {};
    return ::stat(QFile::encodeName(file).constData(), &st) == 0 ? st.st_ino : 0;
}

void run(const QString &program, const QStringList &args, const QString &dir = QString()) {
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(program, args);
    ASSERT_TRUE(p.waitForFinished(120000)) << program.toStdString();
    ASSERT_EQ(p.exitCode(), 0) << program.toStdString() << p.readAllStandardError().toStdString();
}

// An archive made by hand in a folder of its own, holding files of these names and contents.
QString handMadeArchive(const QList<QPair<QString, QByteArray>> &members) {
    const QString dir = TestDb::newFolder();
    QStringList args{QStringLiteral("a"), QStringLiteral("reczne")};
    for (const auto &[name, bytes] : members) {
        QDir().mkpath(QFileInfo(dir + name).path());
        TestFiles::write(dir + name, bytes);
        args << name;
    }
    run(QStringLiteral("arj"), args, dir);
    return dir + QStringLiteral("reczne.arj");
}

} // namespace

TEST(BackupChain, TwoRestoresAndTwoArchivesInOneSecondAreAllKept) {
    TestModule m;
    m.started();
    RecordingOperator op;
    BackupOps::backupDatabase(*m.dm, op);
    Clock::setOverride(QDateTime(QDate(2022, 4, 9), QTime(9, 5)));
    RecordingOperator first, second;
    ASSERT_TRUE(BackupOps::restoreDatabase(*m.dm, first, {{}, true}));
    const QByteArray archived = TestFiles::read(m.folder + "22040909.arj");
    ASSERT_TRUE(BackupOps::restoreDatabase(*m.dm, second, {{}, true}));
    Clock::setOverride(QDateTime());
    EXPECT_EQ(BackupOps::keptCopies(m.folder),
              QStringList({m.folder + "bazaqk-przed-odtworzeniem-20220409-090500.adb",
                           m.folder + "bazaqk-przed-odtworzeniem-20220409-090500-2.adb"}));
    EXPECT_EQ(TestFiles::read(m.folder + "22040909.arj"), archived); // never added to
    EXPECT_TRUE(QFileInfo(m.folder + "22040909-2.arj").isFile());
    EXPECT_TRUE(second.messages.last().text.startsWith(
        QStringLiteral("Powstał dodatkowy plik kopii o nazwie 22040909-2.arj\r")));
    // --keep counts the numbered ones, in the order they were made.
    EXPECT_EQ(BackupOps::archivesToDelete(
                  {"22040909-10.arj", "22040910.arj", "22040909-2.arj", "22040909.arj", "22040909-0.arj"}, 2),
              QStringList({"22040909.arj", "22040909-2.arj"}));
    m.dm->shutDown();
}

TEST(BackupChain, DearchivingTakesOnlyTheBackupAndChecksItFirst) {
    TestModule m;
    m.started();
    m.dm->shutDown();
    const QString ini = settingsFor(m.folder);
    ASSERT_EQ(cli({"backup"}, ini).exitCode, 0);
    const QByteArray backup = TestFiles::read(m.folder + "bazaqk.abk");
    const QByteArray digest = TestFiles::read(m.folder + "bazaqk.abk.sha256");
    ASSERT_EQ(cli({"backup"}, ini).exitCode, 0); // the current backup, newer than the archive's
    const QByteArray current = TestFiles::read(m.folder + "bazaqk.abk");
    const QByteArray live = TestFiles::read(m.folder + "bazaqk.adb");

    // A link planted where a killed de-archiving's folder would be: removed as a link, what it points to
    // kept.
    const QString elsewhere = TestDb::newFolder();
    TestFiles::write(elsewhere + "bazaqk.abk", "innej firmy");
    ASSERT_TRUE(QFile::link(elsewhere, m.folder + ".qk-dearchiwizacja-1"));
    // An archive that also holds a database, and another backup of the same name in a folder (arj's
    // "e" matches a name at any depth): the live database is never touched, only the top-level backup
    // taken.
    const QString archive = handMadeArchive({{"bazaqk.abk", backup},
                                             {"bazaqk.abk.sha256", digest},
                                             {"bazaqk.adb", "obca baza"},
                                             {"podfolder/bazaqk.abk", current}});
    const CliRun r = cli({"dearchive", archive, "--yes"}, ini);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("Rozpakowano bazaqk.abk: " + QString::number(backup.size()) + " bajtów"))
        << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("suma kontrolna zgodna")));
    EXPECT_EQ(TestFiles::read(m.folder + "bazaqk.adb"), live);
    EXPECT_EQ(TestFiles::read(m.folder + "bazaqk.abk"), backup);
    EXPECT_EQ(TestFiles::read(m.folder + "bazaqk.abk.sha256"), digest);
    const QStringList aside = QDir(m.folder).entryList({"bazaqk-przed-dearchiwizacja-*.abk"}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(TestFiles::read(m.folder + aside[0]), current);
    EXPECT_TRUE(BackupGate::inspect(m.folder + aside[0]).passes()); // with its own digest
    EXPECT_TRUE(
        summaryOf(r).startsWith(QStringLiteral("qkadmin-cli: summary command=dearchive result=ok exit=0 ")));
    EXPECT_EQ(TestFiles::read(elsewhere + "bazaqk.abk"), QByteArray("innej firmy"));
    EXPECT_FALSE(QFileInfo(m.folder + ".qk-dearchiwizacja-1").isSymLink());

    // A cut backup, an archive without one: refused, nothing changed, no folder of its own left.
    for (const QString &bad :
         {handMadeArchive({{"bazaqk.abk", backup.left(110000)}}), handMadeArchive({{"bazaqk.adb", live}})}) {
        const CliRun refused = cli({"dearchive", bad, "--yes"}, ini);
        EXPECT_EQ(refused.exitCode, 1) << refused.out.toStdString();
        EXPECT_TRUE(refused.err.contains(QStringLiteral("archiwum nie zawierało pliku bazaqk.abk")) ||
                    refused.err.contains(
                        QStringLiteral("rozpakowana kopia nie nadaje się do odtworzenia: kopia urywa się")))
            << refused.err.toStdString();
        EXPECT_EQ(TestFiles::read(m.folder + "bazaqk.abk"), backup);
        EXPECT_EQ(TestFiles::read(m.folder + "bazaqk.adb"), live);
    }
    // One under another case or only in a folder: said as what it is.
    for (const auto &[member, said] :
         {std::pair(QString("BAZAQK.ABK"), QString("archiwum zawiera BAZAQK.ABK (inna wielkość liter), nie "
                                                   "bazaqk.abk")),
          std::pair(QString("stara/bazaqk.abk"),
                    QString("archiwum zawiera stara/bazaqk.abk w podfolderze, nie bazaqk.abk"))}) {
        const CliRun refused = cli({"dearchive", handMadeArchive({{member, backup}}), "--yes"}, ini);
        EXPECT_EQ(refused.exitCode, 1);
        EXPECT_TRUE(refused.err.contains(said)) << refused.err.toStdString();
        EXPECT_EQ(TestFiles::read(m.folder + "bazaqk.abk"), backup);
    }
    EXPECT_EQ(QDir(m.folder).entryList({".qk-dearchiwizacja-*"}, QDir::Dirs | QDir::Hidden), QStringList());
    EXPECT_EQ(cli({"dearchive"}, ini).exitCode, 2);
}

TEST(BackupChain, AnotherDatabasesBackupIsRefusedOrNamed) {
    TestModule m;
    m.started();
    m.dm->shutDown();
    const QString ini = settingsFor(m.folder);
    m.exec("update FJ_BAZA set FIRMA = 'Firma 1' where LP = 1");
    const QString documents = m.value("select count(*) from FJ_DOK3");

    // A database of some other program: refused before the flag, the question or any file.
    const QString other = TestDb::newFolder();
    QProcess isql;
    isql.start(QStringLiteral("isql-fb"), {"-q", "-user", "SYSDBA", "-password", "quillstep"});
    isql.write(("create database 'localhost:" + other +
                "obca.fdb'; create table MAGAZYN (ID integer); insert into MAGAZYN "
                "values (1); commit; quit;\n")
                   .toUtf8());
    isql.closeWriteChannel();
    ASSERT_TRUE(isql.waitForFinished(60000));
    run(QStringLiteral("gbak"), {"-b", "-user", "SYSDBA", "-pas", "quillstep",
                                 "localhost:" + other + "obca.fdb", other + "obca.fbk"});
    ASSERT_TRUE(QFile::copy(other + "obca.fbk", m.folder + "bazaqk.abk"));
    const CliRun r = cli({"restore", "--yes"}, ini);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(
        "to nie jest kopia bazy programu księgowego (brak tabeli kontrolnej FJ_BAZA z wierszem; kopia "
        "bazy localhost:" +
        other + "obca.fdb)"))
        << r.err.toStdString();
    EXPECT_EQ(m.value("select FIRMA from FJ_BAZA where LP = 1"),
              QStringLiteral("Firma 1")); // the live database stands
    EXPECT_EQ(m.value("select count(*) from FJ_DOK3"), documents);
    EXPECT_TRUE(BackupOps::keptCopies(m.folder).isEmpty());
    EXPECT_EQ(m.value("select Bila from FJ_BAZA where LP = 1"), QStringLiteral("N"));

    // Another company's backup copied into this folder restores, and says whose it is.
    const QString firma2 = TestDb::createDatabase();
    ASSERT_EQ(cli({"backup"}, settingsFor(firma2)).exitCode, 0);
    QFile::remove(m.folder + "bazaqk.abk");
    ASSERT_TRUE(QFile::copy(firma2 + "bazaqk.abk", m.folder + "bazaqk.abk"));
    const CliRun named = cli({"restore", "--yes"}, ini);
    EXPECT_EQ(named.exitCode, 0) << named.err.toStdString();
    EXPECT_TRUE(named.out.contains("Uwaga: kopia pochodzi z bazy " + firma2 +
                                   "bazaqk.adb, odtwarzana jest baza " + m.folder + "bazaqk.adb"))
        << named.out.toStdString();
    // arj has ended before the summary, which stands alone on the last line.
    EXPECT_TRUE(named.out.endsWith('\n'));
    EXPECT_TRUE(summaryOf(named).startsWith(
        QStringLiteral("qkadmin-cli: summary command=restore result=ok exit=0 ")));
    EXPECT_FALSE(QDir(m.folder).entryList({"*.arj"}, QDir::Files).isEmpty());
}

TEST(BackupChain, TheDigestInEitherFormAndOneThatBelongsToAnotherBackup) {
    TestModule m;
    m.started();
    m.dm->shutDown();
    const QString ini = settingsFor(m.folder);
    ASSERT_EQ(cli({"backup"}, ini).exitCode, 0);
    const QString backup = m.folder + "bazaqk.abk";
    const QByteArray hex = BackupDigest::ofFile(backup);

    TestFiles::write(backup + ".sha256", hex + " *bazaqk.abk\n"); // sha256sum -b
    const CliRun binary = cli({"inspect-backup"}, ini);
    EXPECT_EQ(binary.exitCode, 0) << binary.out.toStdString();
    EXPECT_TRUE(binary.out.contains(QStringLiteral("Suma kontrolna SHA-256 (bazaqk.abk.sha256): zgodna")));

    // The previous night's digest beside a whole backup brought from elsewhere.
    TestFiles::write(backup + ".sha256", BackupDigest::text(QByteArray(64, 'a'), "bazaqk.abk", 4096));
    const CliRun other = cli({"restore", "--yes"}, ini);
    EXPECT_EQ(other.exitCode, 1);
    EXPECT_TRUE(other.err.contains(
        QStringLiteral("plik bazaqk.abk.sha256 opisuje inną kopię (zapisano w nim 4096 bajtów, ta "
                       "kopia ma %1); jeśli ta kopia pochodzi spoza programu (skopiowana, z innego "
                       "komputera), usuń plik bazaqk.abk.sha256, aby ją przyjąć")
            .arg(QFileInfo(backup).size())))
        << other.err.toStdString();
    // inspect-backup says why, last; the global option in its = form.
    const CliRun inspected = TestCli::inProcess({"--settings=" + ini, "inspect-backup"});
    EXPECT_EQ(inspected.exitCode, 1) << inspected.err.toStdString();
    EXPECT_TRUE(inspected.err.trimmed().section('\n', -1).contains(
        "nie nadaje się do odtworzenia: plik bazaqk.abk.sha256 opisuje inną kopię"))
        << inspected.err.toStdString();

    // The file checked is the file the engine would read: another under its name is refused.
    QFile::remove(backup + ".sha256");
    const BackupGate::Checked checked = BackupGate::check(backup);
    EXPECT_NO_THROW(checked.ensureUnchanged());
    const QByteArray bytes = TestFiles::read(backup);
    QFile::remove(backup);
    TestFiles::write(backup, bytes);
    EXPECT_THROW(checked.ensureUnchanged(), QkError);
}

TEST(BackupChain, EveryFileIsOnDiskBeforeItTakesItsPlace) {
    // strace shows each rename that puts a file in place: the file synced before it, its folder after.
    const QString folder = TestDb::createEmbeddedDatabase();
    const QString ini = settingsFor(folder, QStringLiteral("L"));
    auto traced = [&](const QStringList &args) {
        const QString log = TestDb::newFolder() + "strace.log";
        QProcess p;
        p.setStandardInputFile(QProcess::nullDevice());
        // A sanitized build's leak check cannot run under ptrace.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (env.contains(QStringLiteral("ASAN_OPTIONS")))
            env.insert(QStringLiteral("ASAN_OPTIONS"),
                       env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("strace"),
                QStringList{"-f", "-y", "-qq", "-e",
                            "trace=fsync,fdatasync,rename,renameat,renameat2,link,linkat", "-o", log,
                            QString::fromLocal8Bit(qgetenv("QK_CLI")), "--settings", ini} +
                    args);
        EXPECT_TRUE(p.waitForFinished(300000));
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        return QString::fromUtf8(TestFiles::read(log)).split('\n');
    };
    const QString dir = folder.chopped(1);
    // The index of the first line matching pattern from line from on; -1 when none does.
    auto find = [](const QStringList &lines, const QString &pattern, qsizetype from = 0) {
        const QRegularExpression re(pattern);
        for (qsizetype i = from; i < lines.size(); ++i)
            if (re.match(lines[i]).hasMatch())
                return i;
        return qsizetype(-1);
    };
    // from: in the folder, or (within) in a work folder of the run's own there.
    auto placed = [&](const QStringList &lines, const QString &from, const QString &to, bool within = false) {
        const QString source = QRegularExpression::escape(folder) +
                               (within ? QStringLiteral("\\.qk-praca-[0-9]+-[0-9]+/") : QString()) +
                               QRegularExpression::escape(from);
        const qsizetype rename =
            find(lines, "rename[a-z0-9]*\\(.*\"" + source + "\".*\"" + QRegularExpression::escape(to) + "\"");
        ASSERT_GE(rename, 0) << "no rename of " << from.toStdString();
        const qsizetype synced = find(lines, "f(data)?sync\\([0-9]+<" + source + ">\\)");
        EXPECT_GE(synced, 0) << from.toStdString() << " never synced";
        EXPECT_LT(synced, rename) << from.toStdString() << " synced after its rename";
        EXPECT_GT(find(lines, "fsync\\([0-9]+<" + QRegularExpression::escape(dir) + ">\\)", rename), rename)
            << "the folder not synced after " << to.toStdString();
    };
    const QStringList backup = traced({"backup"});
    // The embedded engine writes in a work folder of the run's own.
    placed(backup, "bazaqk.abk.part", folder + "bazaqk.abk", true);
    placed(backup, "bazaqk.abk.sha256.part", folder + "bazaqk.abk.sha256");
    const QStringList restore = traced({"restore", "--yes"});
    placed(restore, "bazaqk-odtwarzana.adb", folder + "bazaqk.adb", true);
}

TEST(SerialBackupChain, AnInterruptedRestoreLeavesNoWorkerNoScratchAndTheLockHeldWhileItLives) {
    const QString folder = TestDb::createEmbeddedDatabase();
    const QString ini = settingsFor(folder, QStringLiteral("L"));
    ASSERT_EQ(cli({"backup"}, ini).exitCode, 0);
    const ino_t live = inode(folder + "bazaqk.adb");
    auto restore = [&](QProcess &p, const QStringList &env) {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        for (const QString &kv : env)
            e.insert(kv.section('=', 0, 0), kv.section('=', 1));
        p.setProcessEnvironment(e);
        p.setStandardInputFile(QProcess::nullDevice());
        p.start(QString::fromLocal8Bit(qgetenv("QK_CLI")), {"--settings", ini, "restore", "--yes"});
        ASSERT_TRUE(p.waitForStarted());
    };
    auto nothingLeft = [&](QProcess &p) {
        EXPECT_EQ(p.exitCode(), 1);
        EXPECT_TRUE(workersFor(folder).isEmpty());
        EXPECT_FALSE(QFileInfo::exists(BackupOps::restoringName(folder)));
        EXPECT_FALSE(FolderLock::isHeld(folder));
        EXPECT_EQ(inode(folder + "bazaqk.adb"), live); // never replaced
        EXPECT_TRUE(BackupOps::keptCopies(folder).isEmpty());
        EXPECT_TRUE(
            QString::fromLocal8Bit(p.readAllStandardOutput())
                .trimmed()
                .split('\n')
                .last()
                .startsWith(QStringLiteral("qkadmin-cli: summary command=restore result=failed exit=1 ")));
    };

    // SIGINT while the worker works: forwarded to it and waited for; the lock is held while it lives.
    QProcess p;
    restore(p, {"QK_WORKER_SLOW=20"});
    QElapsedTimer t;
    t.start();
    while (workersFor(folder).isEmpty() && t.elapsed() < 30000)
        QThread::msleep(20);
    ASSERT_FALSE(workersFor(folder).isEmpty()) << "no worker started";
    ::kill(pid_t(p.processId()), SIGINT);
    while (!workersFor(folder).isEmpty() && t.elapsed() < 60000) {
        EXPECT_TRUE(FolderLock::isHeld(folder)) << "the worker lives, the folder is free";
        QThread::msleep(5);
    }
    ASSERT_TRUE(p.waitForFinished(60000));
    nothingLeft(p);

    // A worker past its time limit is stopped, and says so.
    QProcess slow;
    restore(slow, {"QK_WORKER_SLOW=30", "QK_RESTORE_LIMIT=1"});
    ASSERT_TRUE(slow.waitForFinished(60000));
    EXPECT_TRUE(
        QString::fromLocal8Bit(slow.readAllStandardError())
            .contains(QStringLiteral(
                "Odtwarzanie kopii nie zakończyło się w wyznaczonym czasie (1 s) i zostało przerwane.")));
    nothingLeft(slow);
}

namespace {

// A stand-in arj in a folder of its own: it starts the archive it was asked for (a cut one), notes its
// process id and sleeps, as a real arj filing a big backup would.
struct SlowArj {
    QString folder = TestDb::newFolder();
    QString pidFile = folder + "arj.pid";
    SlowArj() {
        // The cut archive is written before the process id is published: a test that kills the run once
        // arj has started finds it there.
        TestFiles::write(folder + "arj", ("#!/bin/sh\nprintf '\\140\\352' > \"$3.arj\"\necho $$ > '" +
                                          pidFile.toUtf8() + "'.new\nmv '" + pidFile.toUtf8() + "'.new '" +
                                          pidFile.toUtf8() + "'\nexec sleep 30\n"));
        ::chmod(QFile::encodeName(folder + "arj").constData(), 0755);
    }
    QString path() const { return folder.chopped(1) + ":" + qEnvironmentVariable("PATH"); }
    // Its process id once it runs, 0 when it has not started within half a minute.
    qint64 started() const {
        QElapsedTimer t;
        t.start();
        while (!QFileInfo::exists(pidFile) && t.elapsed() < 30000)
            QThread::msleep(10);
        return TestFiles::read(pidFile).trimmed().toLongLong();
    }
};

// Whether a process runs (a zombie nobody has reaped yet does not).
bool running(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray stat = f.readAll();
    return !stat.isEmpty() && stat.mid(stat.lastIndexOf(')') + 2, 1) != "Z";
}

// Whether it has ended within a moment (a signal's delivery and the end it brings).
bool endsAtOnce(qint64 pid) {
    QElapsedTimer t;
    t.start();
    while (running(pid) && t.elapsed() < 2000)
        QThread::msleep(10);
    return !running(pid);
}

// The command line started with PATH, its output into files (nobody reads a pipe while the test waits).
struct StartedCli {
    QProcess p;
    QString output = TestDb::newFolder();
    StartedCli(const QStringList &args, const QString &path) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PATH"), path);
        p.setProcessEnvironment(env);
        p.setStandardInputFile(QProcess::nullDevice());
        p.setStandardOutputFile(output + "out");
        p.setStandardErrorFile(output + "err");
        p.start(QString::fromLocal8Bit(qgetenv("QK_CLI")), args);
    }
    QString out() const { return QString::fromLocal8Bit(TestFiles::read(output + "out")); }
    QString err() const { return QString::fromLocal8Bit(TestFiles::read(output + "err")); }
};

} // namespace

TEST(BackupChain, ArjDiesWithAKilledRunAndTheNextRunTakesAFreshName) {
    const QString folder = TestDb::createDatabase();
    const QString ini = settingsFor(folder);
    SlowArj arj;
    StartedCli killed(QStringList{"--settings", ini, "backup", "--archive"}, arj.path());
    QProcess &p = killed.p;
    const qint64 pid = arj.started();
    ASSERT_GT(pid, 0) << killed.err().toStdString();
    ASSERT_TRUE(running(pid));
    ::kill(pid_t(p.processId()), SIGKILL);
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_TRUE(endsAtOnce(pid)) << "arj outlived the run that started it";
    const QStringList cut = QDir(folder).entryList({"*.arj"}, QDir::Files);
    ASSERT_EQ(cut.size(), 1);
    EXPECT_FALSE(QDir(folder).entryList({".qk-*"}, QDir::AllEntries | QDir::Hidden).isEmpty());

    // The next run: the killed one's work folder gone, its cut archive never added to.
    const CliRun next = cli({"backup", "--archive"}, ini);
    ASSERT_EQ(next.exitCode, 0) << next.err.toStdString();
    EXPECT_TRUE(QDir(folder).entryList({".qk-*"}, QDir::AllEntries | QDir::Hidden).isEmpty());
    QStringList archives = QDir(folder).entryList({"*.arj"}, QDir::Files);
    EXPECT_EQ(TestFiles::read(folder + cut.first()), QByteArray("\x60\xea"));
    archives.removeAll(cut.first());
    ASSERT_EQ(archives.size(), 1);
    run(QStringLiteral("arj"), {"t", archives.first()}, folder);
}

TEST(BackupChain, ASignalAfterTheSwapSaysTheRestoreCompletedAndWhatWasNotFinished) {
    TestModule m;
    m.started();
    const QString ini = settingsFor(m.folder);
    ASSERT_EQ(cli({"backup"}, ini).exitCode, 0);
    const QString backedUp = m.value("select FIRMA from FJ_BAZA where LP = 1");
    m.exec("update FJ_BAZA set FIRMA = 'Po kopii' where LP = 1");
    m.dm->shutDown();
    SlowArj arj;
    StartedCli restore(QStringList{"--settings", ini, "restore", "--yes"}, arj.path());
    QProcess &p = restore.p;
    const qint64 pid = arj.started(); // the restored database is in place before the archive copy
    ASSERT_GT(pid, 0) << restore.err().toStdString();
    ::kill(pid_t(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(60000));
    const QString out = restore.out(), err = restore.err();
    EXPECT_EQ(p.exitCode(), 4) << out.toStdString() << err.toStdString();
    EXPECT_TRUE(out.contains("Odtwarzanie Bazy zakończono: odtworzona baza jest na miejscu, poprzednia "
                             "zachowana w pliku " +
                             m.folder + "bazaqk-przed-odtworzeniem-"))
        << out.toStdString();
    EXPECT_TRUE(out.contains("Po sygnale SIGTERM nie dokończono:\n- dodatkowy plik kopii w archiwum"))
        << out.toStdString();
    EXPECT_FALSE(err.contains("przerwano sygnałem")) << err.toStdString();
    EXPECT_TRUE(summaryOf({0, out, err})
                    .startsWith("qkadmin-cli: summary command=restore result=unfinished "
                                "exit=4 "))
        << out.toStdString();
    EXPECT_TRUE(endsAtOnce(pid));
    EXPECT_EQ(m.value("select FIRMA from FJ_BAZA where LP = 1"), backedUp); // restored
    EXPECT_EQ(m.value("select Bila from FJ_BAZA where LP = 1"), QStringLiteral("N"));
    EXPECT_EQ(BackupOps::keptCopies(m.folder).size(), 1);
}

// A restore started while a backup runs: the backup's engine holds the database (the embedded engine
// of another process refuses it) and its run holds the folder; the restore says the latter.
TEST(BackupChain, ARestoreDuringABackupIsToldOfTheBackupNotRefusedByTheEngine) {
    TestModule m(TestDb::createEmbeddedDatabase(), QStringLiteral("L"));
    m.started();
    BackupOps::backupDatabase(*m.dm, *std::make_unique<RecordingOperator>());
    const auto busy = FolderLock::tryTake(m.folder); // as the backup's run holds it
    ASSERT_TRUE(busy);
    ASSERT_TRUE(m.dm->EmployeeDb.connected()); // as the backup's engine holds the database
    const CliRun r = cli({"restore", "--yes"}, settingsFor(m.folder, QStringLiteral("L")));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("Trwa inna operacja na kopii bazy w katalogu " + m.folder))
        << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("engine instance")) << r.err.toStdString();
    m.dm->shutDown();
}

// The engine's error, one line of the status vector per line: a restore into a folder with no room.
TEST(BackupChain, AnEngineErrorKeepsItsLineBreaks) {
    const QString folder = TestDb::createEmbeddedDatabase();
    ASSERT_EQ(cli({"backup"}, settingsFor(folder, QStringLiteral("L"))).exitCode, 0);
    const QString base = TestDb::newFolder(), small = base + QStringLiteral("maly/");
    QDir().mkpath(small);
    ::chmod(QFile::encodeName(base).constData(), 0755); // root's alone, as a privileged run needs
    ASSERT_EQ(QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=2m,mode=0755", "tmpfs", small}), 0);
    const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {"-l", small}); });
    for (const QString name : {"bazaqk.abk", "bazaqk.abk.sha256"})
        ASSERT_TRUE(QFile::copy(folder + name, small + name));
    const CliRun r = cli({"restore", "--yes"}, settingsFor(small, QStringLiteral("L")));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("\nError while trying to write to file\nNo space left on device\nExiting "
                               "before completion due to errors"))
        << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(small + "bazaqk.adb"));
}
