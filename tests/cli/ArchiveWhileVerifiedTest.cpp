// backup --verify --archive: arj files the new backup while it is verified, and its archive is kept only
// when the verification passes.
#include "backup/BackupGate.h"
#include "common/CliRun.h"
#include "common/TestFiles.h"
#include "common/TestModule.h"
#include "platform/FolderLock.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sys/stat.h>

using namespace TestCli;

namespace {

// A stand-in arj first in PATH: it records its process id (whole once the file is there), runs body (a shell
// text; $D is its folder), then becomes the real arj with the same arguments.
class StandInArj {
public:
    explicit StandInArj(const QString &body) : m_dir(TestDb::newFolder()) {
        const QString real = QStandardPaths::findExecutable(QStringLiteral("arj"));
        EXPECT_FALSE(real.isEmpty()) << "no arj";
        TestFiles::write(m_dir + "arj", QStringLiteral("#!/bin/sh\nD=%1\necho $$ >\"$D/pid.new\"\nmv "
                                                       "\"$D/pid.new\" \"$D/pid\"\n%2\nexec %3 \"$@\"\n")
                                            .arg(m_dir.chopped(1), body, real)
                                            .toUtf8());
        QFile::setPermissions(m_dir + "arj", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const QString &dir() const { return m_dir; }
    bool started() const { return QFileInfo::exists(m_dir + "pid"); }
    // Whether the process it was still lives (it has been reaped once it is gone from /proc).
    bool alive() const {
        const QByteArray pid = TestFiles::read(m_dir + "pid").trimmed();
        return started() && QFileInfo::exists(QStringLiteral("/proc/%1").arg(QString::fromLatin1(pid)));
    }

private:
    QString m_dir;
};

// The command line with arj's stand-in first in PATH and env added; its standard output goes to
// out, which the stand-in may read while the run goes on.
struct ChainRun {
    QProcess p;
    QString out;
    void start(const QString &ini, const StandInArj &arj, const QStringList &env = {}) {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("PATH"), arj.dir() + ":" + e.value(QStringLiteral("PATH")));
        for (const QString &kv : env)
            e.insert(kv.section('=', 0, 0), kv.section('=', 1));
        p.setProcessEnvironment(e);
        p.setStandardInputFile(QProcess::nullDevice());
        out = arj.dir() + "out";
        p.setStandardOutputFile(out);
        p.start(QString::fromLocal8Bit(qgetenv("QK_CLI")),
                {"--settings", ini, "backup", "--verify", "--archive", "--keep", "5"});
        ASSERT_TRUE(p.waitForStarted());
    }
    CliRun finish() {
        if (!p.waitForFinished(300000))
            return {};
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(TestFiles::read(out)), QString::fromLocal8Bit(p.readAllStandardError())};
    }
};

QStringList archives(const QString &folder) {
    return QDir(folder).entryList({"*.arj", "*.ARJ"}, QDir::Files);
}

QStringList leftovers(const QString &folder) {
    return QDir(folder).entryList({".qk-praca-*", "ARJTEMP*", "qkverify-*"}, QDir::AllEntries | QDir::Hidden);
}

ino_t inode(const QString &file) {
    struct stat st {};
    return ::stat(QFile::encodeName(file).constData(), &st) == 0 ? st.st_ino : 0;
}

// What an archive holds, extracted with arj into a folder of its own.
QString extracted(const QString &archive) {
    const QString dir = TestDb::newFolder();
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(QStringLiteral("arj"), {"e", "-y", archive});
    EXPECT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardOutput().toStdString();
    return dir;
}

} // namespace

TEST(ArchiveWhileVerified, ArjStartsBeforeTheVerificationEndsAndFilesTheVerifiedBytes) {
    for (const QString &protocol : {QStringLiteral("L"), QStringLiteral("T")}) {
        SCOPED_TRACE(protocol.toStdString());
        const QString folder = protocol == "L" ? TestDb::createEmbeddedDatabase() : TestDb::createDatabase();
        const QString ini = settingsFor(folder, protocol);
        // What the command line had said when arj started; and a link planted under the dated name the
        // archive is meant to take (arj's second argument), which it passes over.
        const StandInArj arj(
            QStringLiteral(
                "cp \"$D/out\" \"$D/at-start\"\nln -s /nonexistent \"%1$2.arj\"\necho \"$2\" >\"$D/name\"")
                .arg(folder));
        ChainRun run;
        run.start(ini, arj);
        const CliRun r = run.finish();
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
        const QString atStart = QString::fromUtf8(TestFiles::read(arj.dir() + "at-start"));
        EXPECT_TRUE(atStart.contains(QStringLiteral("Kopiowanie Bazy zakończono pomyślnie ...")))
            << atStart.toStdString();
        // Run one after the other, the verification would have ended before arj started.
        EXPECT_FALSE(atStart.contains(QStringLiteral("Baza próbna usunięta"))) << atStart.toStdString();
        EXPECT_TRUE(r.out.contains(QStringLiteral("Baza próbna usunięta")));

        const QString planted =
            folder + QString::fromUtf8(TestFiles::read(arj.dir() + "name").trimmed()) + ".arj";
        EXPECT_TRUE(QFileInfo(planted).isSymLink());
        const QStringList made = archives(folder);
        ASSERT_EQ(made.size(), 1);
        EXPECT_EQ(folder + made[0], planted.chopped(4) + "-2.arj");
        EXPECT_TRUE(r.out.contains(QStringLiteral("Powstał dodatkowy plik kopii o nazwie ") + made[0]));
        // The archive holds the backup and the digest that were verified and put in place.
        const QString inside = extracted(folder + made[0]);
        EXPECT_EQ(QDir(inside).entryList(QDir::Files), QStringList({"bazaqk.abk", "bazaqk.abk.sha256"}));
        EXPECT_EQ(TestFiles::read(inside + "bazaqk.abk"), TestFiles::read(folder + "bazaqk.abk"));
        EXPECT_EQ(TestFiles::read(inside + "bazaqk.abk.sha256"),
                  TestFiles::read(folder + "bazaqk.abk.sha256"));
        EXPECT_EQ(BackupGate::inspect(inside + "bazaqk.abk").digest, BackupGate::DigestState::Matches);
        EXPECT_EQ(leftovers(folder), QStringList());
        QFile::remove(planted);
    }
}

// A verification that fails stops arj (not waited for) and leaves no new archive; the one before stays.
TEST(ArchiveWhileVerified, AFailedVerificationStopsArjAndLeavesNoNewArchive) {
    TestModule m;
    m.started();
    m.dm->shutDown();
    const QString ini = settingsFor(m.folder);
    ASSERT_EQ(cli({"backup", "--archive"}, ini).exitCode, 0);
    const QStringList before = archives(m.folder);
    ASSERT_EQ(before.size(), 1);
    const QByteArray previousArchive = TestFiles::read(m.folder + before[0]);
    const QByteArray previousBackup = TestFiles::read(m.folder + "bazaqk.abk");
    m.exec("delete from FJ_BAZA"); // a backup the server writes, but without its control row

    // arj works for a minute unless it is stopped (SIGINT, the supervisor's request, ends it).
    const StandInArj arj(QStringLiteral("sleep 60 & s=$!\ntrap 'kill $s; exit 130' INT\nwait $s"));
    QElapsedTimer t;
    t.start();
    ChainRun run;
    run.start(ini, arj);
    const CliRun r = run.finish();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_LT(t.elapsed(), 45000) << "arj was waited for";
    EXPECT_TRUE(r.err.contains(QStringLiteral("; kopii archiwalnej nie utworzono."))) << r.err.toStdString();
    // On a loaded machine the verification may fail before the stand-in's shell has run its first line;
    // stopped then, it never says it started. Either way nothing of it is left.
    EXPECT_FALSE(arj.alive());
    EXPECT_EQ(archives(m.folder), before);
    EXPECT_EQ(TestFiles::read(m.folder + before[0]), previousArchive);
    EXPECT_EQ(TestFiles::read(m.folder + "bazaqk.abk"), previousBackup);
    EXPECT_EQ(leftovers(m.folder), QStringList());
}

// arj fails while the verification passes: the backup is in place, the archive's failure said.
TEST(ArchiveWhileVerified, ArjFailingLeavesTheVerifiedBackupInPlaceAndSaysSo) {
    const QString folder = TestDb::createEmbeddedDatabase();
    const QString ini = settingsFor(folder, QStringLiteral("L"));
    ASSERT_EQ(cli({"backup"}, ini).exitCode, 0);
    const ino_t previous = inode(folder + "bazaqk.abk");
    const StandInArj arj(QStringLiteral("exit 1"));
    ChainRun run;
    run.start(ini, arj);
    const CliRun r = run.finish();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.contains(QStringLiteral("Baza próbna usunięta")));
    EXPECT_TRUE(r.err.contains(QStringLiteral("Archiwizacja kopii nie powiodła się (arj: 1)")))
        << r.err.toStdString();
    EXPECT_TRUE(summaryOf(r).contains(QStringLiteral(" result=failed exit=1 ")))
        << summaryOf(r).toStdString();
    EXPECT_NE(inode(folder + "bazaqk.abk"), previous); // the new one
    const BackupGate::Inspection now = BackupGate::inspect(folder + "bazaqk.abk");
    EXPECT_TRUE(now.passes());
    EXPECT_EQ(now.digest, BackupGate::DigestState::Matches);
    EXPECT_EQ(archives(folder), QStringList());
    EXPECT_EQ(QDir(folder).entryList({"bazaqk-nieudana-*"}, QDir::Files), QStringList());
    EXPECT_EQ(leftovers(folder), QStringList());
}

// A signal while the worker verifies and arj files: both are stopped by their rule and waited for,
// nothing new is left in place, the previous backup stays.
TEST(ArchiveWhileVerified, ASignalDuringBothStopsBothAndKeepsThePreviousBackup) {
    const QString folder = TestDb::createEmbeddedDatabase();
    const QString ini = settingsFor(folder, QStringLiteral("L"));
    ASSERT_EQ(cli({"backup"}, ini).exitCode, 0);
    const QByteArray previous = TestFiles::read(folder + "bazaqk.abk");
    const StandInArj arj(QStringLiteral("sleep 60 & s=$!\ntrap 'kill $s; exit 130' INT\nwait $s"));
    ChainRun run;
    // The worker says nothing for 20 s before its engine starts: the signal comes before that.
    run.start(ini, arj, {"QK_WORKER_SLOW=20"});
    auto worker = [&] {
        for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs))
            if (const QByteArray c = TestFiles::read("/proc/" + pid + "/cmdline");
                c.contains("--qk-restore-worker") && c.contains(folder.toUtf8()))
                return true;
        return false;
    };
    QElapsedTimer t;
    t.start();
    while (!(arj.started() && worker()) && t.elapsed() < 60000)
        QThread::msleep(20);
    ASSERT_TRUE(arj.started() && worker()) << "never both at once";
    ::kill(pid_t(run.p.processId()), SIGTERM);
    const CliRun r = run.finish();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_LT(t.elapsed(), 45000);
    EXPECT_FALSE(arj.alive());
    EXPECT_FALSE(worker());
    EXPECT_FALSE(FolderLock::isHeld(folder));
    EXPECT_TRUE(summaryOf(r).contains(QStringLiteral(" result=failed exit=1 ")))
        << summaryOf(r).toStdString();
    EXPECT_EQ(TestFiles::read(folder + "bazaqk.abk"), previous);
    // The verification was stopped, not failed: the new backup is not called a bad one.
    EXPECT_TRUE(r.err.contains(QStringLiteral("Sprawdzenie kopii przerwane: poprzednia kopia ") + folder +
                               "bazaqk.abk pozostaje bez zmian, nowa (niesprawdzona) usunięta; kopii "
                               "archiwalnej nie utworzono."))
        << r.err.toStdString();
    EXPECT_EQ(QDir(folder).entryList({"bazaqk-nieudana-*"}, QDir::Files), QStringList());
    EXPECT_EQ(archives(folder), QStringList());
    EXPECT_EQ(leftovers(folder), QStringList());
}

// Where the new backup cannot be linked (a server's file, as an operator: here every link() fails by
// injection), arj files a copy, which the verification proves against the digest.
TEST(ArchiveWhileVerified, ABackupThatCannotBeLinkedIsCopiedAndStillTheVerifiedOne) {
    TestModule m;
    m.started();
    m.dm->shutDown();
    const QString log = TestDb::newFolder() + "strace.log";
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (env.contains(
            QStringLiteral("ASAN_OPTIONS"))) // a sanitized build's leak check cannot run under ptrace
        env.insert(QStringLiteral("ASAN_OPTIONS"),
                   env.value(QStringLiteral("ASAN_OPTIONS")) + ":detect_leaks=0");
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("strace"), {"-f", "-qq", "-e", "trace=link", "-e", "inject=link:error=EPERM", "-o",
                                       log, QString::fromLocal8Bit(qgetenv("QK_CLI")), "--settings",
                                       settingsFor(m.folder), "backup", "--verify", "--archive"});
    ASSERT_TRUE(p.waitForFinished(300000));
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    ASSERT_EQ(p.exitCode(), 0) << out.toStdString() << p.readAllStandardError().toStdString();
    EXPECT_TRUE(TestFiles::read(log).contains("bazaqk.abk\") = -1 EPERM"))
        << TestFiles::read(log).toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("Suma kontrolna SHA-256 (bazaqk.abk.sha256): zgodna")));
    const QStringList made = archives(m.folder);
    ASSERT_EQ(made.size(), 1);
    const QString inside = extracted(m.folder + made[0]);
    EXPECT_EQ(TestFiles::read(inside + "bazaqk.abk"), TestFiles::read(m.folder + "bazaqk.abk"));
    EXPECT_EQ(TestFiles::read(inside + "bazaqk.abk.sha256"), TestFiles::read(m.folder + "bazaqk.abk.sha256"));
    EXPECT_EQ(leftovers(m.folder), QStringList());
}

// With room for the scratch database but not for the archive beside it, arj starts only once the
// verification has ended (and says so); the chain still ends with both.
TEST(ArchiveWhileVerified, WithoutRoomForBothArjWaitsForTheVerification) {
    const QString made = TestDb::createEmbeddedDatabase();
    ASSERT_EQ(cli({"backup"}, settingsFor(made, QStringLiteral("L"))).exitCode, 0);
    const qint64 database = QFileInfo(made + "bazaqk.adb").size(),
                 backup = QFileInfo(made + "bazaqk.abk").size();
    const qint64 verification = std::max(database, 2 * backup);
    // Once the new backup is written: the verification's room and half the archive's (the few small
    // files beside them take less than that).
    const qint64 size = database + backup + verification + backup / 2;
    const QString base = TestDb::newFolder(), folder = base + "maly/";
    QDir().mkpath(folder);
    // An embedded database run by root sits in folders only root may write (the program refuses others).
    QFile(base).setPermissions(QFile(made).permissions());
    ASSERT_EQ(
        QProcess::execute("mount", {"-t", "tmpfs", "-o",
                                    QStringLiteral("size=%1k,mode=0755").arg(size / 1024), "tmpfs", folder}),
        0);
    const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {"-l", folder}); });
    ASSERT_TRUE(QFile::copy(made + "bazaqk.adb", folder + "bazaqk.adb"));
    const StandInArj arj(QStringLiteral("cp \"$D/out\" \"$D/at-start\""));
    ChainRun run;
    run.start(settingsFor(folder, QStringLiteral("L")), arj);
    const CliRun r = run.finish();
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString() << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("kopia archiwalna powstanie po sprawdzeniu kopii.")));
    EXPECT_TRUE(TestFiles::read(arj.dir() + "at-start").contains("Baza próbna usunięta"));
    EXPECT_EQ(archives(folder).size(), 1);
    EXPECT_EQ(leftovers(folder), QStringList());
}
