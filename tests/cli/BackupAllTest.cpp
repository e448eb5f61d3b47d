// backup --all: the nightly run of a bureau's companies, each in a process of its own.
#include "admin/HealthMetrics.h"
#include "backup/BackupOps.h"
#include "cli/BackupAllCommand.h"
#include "cli/ManyCompanies.h"
#include "common/CliRun.h"
#include "common/TestFiles.h"
#include "common/TestModule.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace {

using TestCli::childrenOf;
using TestCli::cli;
using TestCli::CliRun;
using TestCli::settingsFor;
using TestCli::silentCompany;
using TestCli::SilentServer;
using TestCli::summaryOf;

// The company's row of the table: name, result, seconds, bytes, snapshot.
QRegularExpression row(const QString &company, const QString &rest) {
    return QRegularExpression("\n" + company + " +" + rest + "\n");
}

// What a company's folder holds: its database, backups, digests, archives, work folders, parts.
QStringList folderFiles(const QString &folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

} // namespace

TEST(BackupAll, ABrokenCompanyAndABusyOneNeverStopTheOthers) {
    const QString companies = TestDb::newFolder(), metrics = TestDb::newFolder();
    const QString server = TestDb::createDatabase(), embedded = TestDb::createEmbeddedDatabase(),
                  busy = TestDb::createEmbeddedDatabase(), broken = TestDb::newFolder(); // no database in it
    ASSERT_TRUE(QFile::copy(settingsFor(server, "T"), companies + "firma1.ini"));
    ASSERT_TRUE(QFile::copy(settingsFor(embedded, "L"), companies + "firma2.ini"));
    ASSERT_TRUE(QFile::copy(settingsFor(broken, "T"), companies + "zepsuta.ini"));
    ASSERT_TRUE(QFile::copy(settingsFor(busy, "L"), companies + "zajeta.ini"));
    // Last night's run of this company is still going: it holds the folder, and its embedded engine the
    // database.
    TestModule previous(busy, "L");
    previous.started();
    const BackupOps::Lock held = BackupOps::takeFolderLock(busy);
    const QStringList busyBefore = folderFiles(busy);

    QElapsedTimer t;
    t.start();
    const CliRun all = cli(
        {"backup", "--all", companies, "--verify", "--jobs", "2", "--timeout", "120", "--metrics", metrics});
    EXPECT_LT(t.elapsed(), 110000) << "a company was waited for";
    EXPECT_EQ(all.exitCode, 1) << all.out.toStdString() << all.err.toStdString();
    for (const QString &folder : {server, embedded}) {
        const QString backup = folder + "bazaqk.abk";
        ASSERT_TRUE(QFileInfo::exists(backup)) << all.out.toStdString();
        EXPECT_EQ(
            cli({"verify-backup", backup}, settingsFor(folder, folder == embedded ? "L" : "T")).exitCode, 0);
    }
    for (const auto &[name, folder] :
         {std::pair<QString, QString>{"firma1", server}, std::pair<QString, QString>{"firma2", embedded}}) {
        const qint64 bytes = QFileInfo(folder + "bazaqk.abk").size();
        EXPECT_TRUE(all.out.contains(row(name, QString("wykonana +[0-9.]+ +%1 +-").arg(bytes))))
            << all.out.toStdString();
        // Its block says its own verification passed.
        const QString block = all.out.section("== " + name + " (", 1).section("\n== ", 0, 0);
        EXPECT_TRUE(block.contains(QStringLiteral("Sprawdzenie bazy próbnej: OK"))) << block.toStdString();
        // Its metrics written whole as it finished, as the textfile collector reads them.
        const QHash<QString, double> m =
            HealthMetrics::parse(TestFiles::read(metrics + "qkadmin-" + name + ".prom"));
        EXPECT_EQ(m.value("qkadmin_backup_bytes{company=\"" + name + "\"}", -1), double(bytes));
    }
    EXPECT_TRUE(all.out.contains(row("zepsuta", "błąd +[0-9.]+ +- +-"))) << all.out.toStdString();
    EXPECT_TRUE(all.out.contains(row("zajeta", "zajęta +[0-9.]+ +- +-"))) << all.out.toStdString();
    const QString busyBlock = all.out.section("== zajeta (", 1).section("\n== ", 0, 0);
    EXPECT_TRUE(busyBlock.contains(QStringLiteral("Trwa inna operacja na kopii bazy w katalogu ") + busy))
        << busyBlock.toStdString();
    EXPECT_TRUE(all.out.contains(QStringLiteral("\nKopie firm: 2 z 4 wykonane; błąd: 1; zajęte: 1.\n")))
        << all.out.toStdString();
    EXPECT_EQ(folderFiles(busy), busyBefore); // nothing of it touched
    EXPECT_TRUE(summaryOf(all).startsWith("qkadmin-cli: summary command=backup result=failed exit=1 "))
        << summaryOf(all).toStdString();
    // Nothing found to back up is no success either.
    EXPECT_EQ(cli({"backup", "--all", TestDb::newFolder()}).exitCode, 1);
}

TEST(BackupAll, ASignalStopsEveryCompanyAndLeavesItsPreviousBackup) {
    TestDb::Spec spec;
    spec.scale.documentsPerMonth = 2000; // a backup of a few seconds: the signal comes in the middle
    const QString companies = TestDb::newFolder();
    QStringList folders;
    QList<QByteArray> previous;
    QList<QStringList> before;
    for (const char *name : {"firma1", "firma2"}) {
        const QString folder = TestDb::createDatabase(spec);
        const QString ini = companies + name + ".ini";
        ASSERT_TRUE(QFile::copy(settingsFor(folder, "T"), ini));
        ASSERT_EQ(cli({"backup"}, ini).exitCode, 0);
        folders << folder;
        previous << TestFiles::read(folder + "bazaqk.abk");
        before << folderFiles(folder);
    }
    // Its turn never comes (begun, it would fail: its folder holds no database).
    ASSERT_TRUE(QFile::copy(settingsFor(TestDb::newFolder(), "T"), companies + "firma3.ini"));
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(QString::fromLocal8Bit(qgetenv("QK_CLI")), {"backup", "--all", companies, "--jobs", "2"});
    ASSERT_TRUE(p.waitForStarted());
    QList<qint64> running;
    for (int i = 0; i < 200 && running.size() < 2; ++i) {
        QThread::msleep(20);
        running = childrenOf(p.processId());
    }
    ASSERT_EQ(running.size(), 2);
    for (const qint64 pid : running)
        ASSERT_TRUE(TestFiles::waitForSignalHandlers(pid)); // both at work
    QElapsedTimer stopping;
    stopping.start();
    ::kill(pid_t(p.processId()), SIGTERM);
    const bool ended = p.waitForFinished(90000);
    // They stopped when asked, within their own few seconds, not at the grace's kill.
    EXPECT_LT(stopping.elapsed(), 20000);
    for (const qint64 pid : running)
        if (::kill(pid_t(pid), 0) == 0) {
            ADD_FAILURE() << "company's run " << pid << " left running";
            ::kill(pid_t(pid), SIGKILL);
        }
    ASSERT_TRUE(ended);
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 1);
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    EXPECT_TRUE(out.contains(row("firma1", "przerwana +[0-9.]+ +- +-"))) << out.toStdString();
    EXPECT_TRUE(out.contains(row("firma2", "przerwana +[0-9.]+ +- +-"))) << out.toStdString();
    EXPECT_TRUE(out.contains(row("firma3", "nie wykonana +- +- +-"))) << out.toStdString(); // never begun
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(TestFiles::read(folders[i] + "bazaqk.abk"), previous[i]) << i;
        EXPECT_EQ(folderFiles(folders[i]), before[i]) << i; // no part, no work folder left
    }
}

TEST(BackupAll, ACompanyPastItsLimitIsStoppedAndSaidSo) {
    const SilentServer silent;
    ASSERT_NE(silent.port, 0);
    const QString companies = TestDb::newFolder();
    silentCompany(companies, silent.port);
    QElapsedTimer t;
    t.start();
    const CliRun all = cli({"backup", "--all", companies, "--timeout", "2"});
    EXPECT_LT(t.elapsed(), 15000); // asked to stop, it stopped: no minute's grace ran out
    EXPECT_EQ(all.exitCode, 1) << all.out.toStdString();
    EXPECT_TRUE(all.out.contains(row("cicha", "przekroczony czas +[0-9.]+ +- +-"))) << all.out.toStdString();
    EXPECT_TRUE(all.out.contains(QStringLiteral("Kopie firm: 0 z 1 wykonane; przekroczony czas: 1.")));
}

TEST(BackupAll, TheOptionsOfAllGoWithItAndEachCompanyGetsTheChainsOwn) {
    EXPECT_EQ(cli({"backup", "--jobs", "2"}).exitCode, 2);
    EXPECT_EQ(cli({"backup", "--all", "--jobs", "0"}).exitCode, 2);
    EXPECT_EQ(cli({"backup", "--all", "--jobs", QString::number(BackupAll::kMostJobs + 1)}).exitCode, 2);
    EXPECT_EQ(cli({"backup", "--all", "--keep", "3"}).exitCode, 2); // --keep still goes with --archive
    const CliRun help = cli({"backup", "--help"});
    EXPECT_TRUE(help.out.contains(QString("here %1)").arg(BackupAll::defaultJobs())))
        << help.out.toStdString();
    EXPECT_EQ(BackupAll::childArguments("/etc/qkadmin/a.ini", {true, true, true, 14, false}),
              QStringList({"--settings", "/etc/qkadmin/a.ini", "backup", "--one-of-all", "--verify",
                           "--archive", "--keep", "14", "--offsite"}));
}
