// The command-line companion as a scheduler runs it: its effects, output and exit codes.
#include "admin/AdminOps.h"
#include "admin/HealthMetrics.h"
#include "backup/BackupOps.h"
#include "backup/BackupVerification.h"
#include "cli/CliInProcess.h"
#include "cli/ManyCompanies.h"
#include "common/CliRun.h"
#include "common/RecordingOperator.h"
#include "common/TestFiles.h"
#include "common/TestModule.h"
#include "db/Database.h"
#include "db/Query.h"
#include "db/Transaction.h"
#include "exchange/ExchangeOps.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using TestCli::bareCli;
using TestCli::childrenOf;
using TestCli::cli;
using TestCli::CliRun;
using TestCli::settingsFor;
using TestCli::silentCompany;
using TestCli::SilentServer;
using TestCli::summaryOf;

QStringList scratchFiles(const QString &folder) {
    return QDir(folder).entryList({"qkverify-*"}, QDir::Files);
}

// Backs up, verifies the good backup, then a truncated one, a file that is no backup and a missing one.
void verifyBackups(const QString &folder, const QString &protocol) {
    const QString ini = settingsFor(folder, protocol);
    const CliRun backup = cli({"backup", "--verify"}, ini);
    ASSERT_EQ(backup.exitCode, 0) << backup.out.toStdString() << backup.err.toStdString();
    EXPECT_TRUE(backup.out.contains(QStringLiteral("Sprawdzenie bazy próbnej: OK\n")));
    const QByteArray live = TestFiles::read(folder + "bazaqk.adb");

    const CliRun good = cli({"verify-backup"}, ini);
    ASSERT_EQ(good.exitCode, 0) << good.out.toStdString() << good.err.toStdString();
    const QStringList lines = good.out.trimmed().split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 8);
    EXPECT_TRUE(lines[0].startsWith("Plik kopii: " + folder + "bazaqk.abk, "));
    EXPECT_EQ(lines[1], QStringLiteral("Suma kontrolna SHA-256 (bazaqk.abk.sha256): zgodna"));
    EXPECT_TRUE(lines[2].startsWith(QStringLiteral("Struktura kopii: cała")));
    EXPECT_TRUE(lines[3].startsWith(QStringLiteral("Odtworzenie do bazy próbnej qkverify-")));
    EXPECT_EQ(lines[4], QStringLiteral("Sprawdzenie bazy próbnej: OK"));
    EXPECT_EQ(lines[5], QStringLiteral("Wiersz kontrolny FJ_BAZA (LP = 1): OK"));
    EXPECT_TRUE(lines.contains(
        QStringLiteral("FJ_DOK3: %1 wierszy").arg(TestDb::Spec::smallScale().documentsPerMonth)));
    EXPECT_EQ(lines[lines.size() - 2], QStringLiteral("Baza próbna usunięta"));
    EXPECT_TRUE(summaryOf(good).startsWith(
        QStringLiteral("qkadmin-cli: summary command=verify-backup result=ok exit=0 ")));
    EXPECT_EQ(scratchFiles(folder), QStringList());

    const QByteArray whole = TestFiles::read(folder + "bazaqk.abk");
    TestFiles::write(folder + "obciety.abk", whole.left(whole.size() / 3));
    TestFiles::write(folder + "tekst.abk", "to nie jest kopia");
    for (const QString &bad : {folder + "obciety.abk", folder + "tekst.abk", folder + "brak.abk"}) {
        const CliRun r = cli({"verify-backup", bad}, ini);
        EXPECT_EQ(r.exitCode, 1) << bad.toStdString() << r.out.toStdString();
        EXPECT_TRUE(r.out.contains(QStringLiteral("BŁĄD: "))) << r.out.toStdString();
        EXPECT_TRUE(summaryOf(r).contains(QStringLiteral(" result=failed exit=1 ")));
        EXPECT_EQ(scratchFiles(folder), QStringList()) << bad.toStdString();
    }
    EXPECT_EQ(TestFiles::read(folder + "bazaqk.adb"), live); // the live database untouched
}

// The server's own tool on the database of folder (embedded for L); its output and errors.
QString isql(const QString &folder, const QString &protocol, const QByteArray &script,
             const QStringList &options = {}) {
    QProcess isql;
    const QString db =
        (protocol == QLatin1String("L") ? QString() : QStringLiteral("localhost:")) + folder + "bazaqk.adb";
    isql.start(QStringLiteral("isql-fb"),
               QStringList{"-q", "-user", "SYSDBA", "-password", "quillstep"} + options + QStringList{db});
    isql.write(script);
    isql.closeWriteChannel();
    isql.waitForFinished(60000);
    return QString::fromLocal8Bit(isql.readAllStandardOutput() + isql.readAllStandardError());
}

// The documents of March in the database of folder, read by the server's own tool (embedded for L).
QString marchDocuments(const QString &folder, const QString &protocol) {
    return isql(folder, protocol, "set list on; select count(*) as N from FJ_DOK3;\n").simplified();
}

// A restore from a backup that is not whole fails and leaves every document; a whole one keeps the
// replaced database beside the restored one.
void restoreFromBadBackups(const QString &folder, const QString &protocol) {
    const QString ini = settingsFor(folder, protocol);
    ASSERT_EQ(cli({"backup"}, ini).exitCode, 0);
    const QString documents = marchDocuments(folder, protocol);
    ASSERT_TRUE(documents.startsWith(QStringLiteral("N "))) << documents.toStdString();
    ASSERT_NE(documents, QStringLiteral("N 0"));

    const QByteArray whole = TestFiles::read(folder + "bazaqk.abk");
    // A third of the backup ends the server's restore quietly; only its missing closing line tells.
    const QPair<QByteArray, QString> broken[] = {{whole.left(whole.size() / 3), "kopia urywa się"},
                                                 {"to nie jest kopia", "to nie jest kopia bazy"}};
    for (const auto &[bytes, said] : broken) {
        TestFiles::write(folder + "bazaqk.abk", bytes);
        const CliRun r = cli({"restore", "--yes"}, ini);
        EXPECT_EQ(r.exitCode, 1) << r.out.toStdString();
        EXPECT_TRUE(r.err.contains(said)) << r.err.toStdString();
        EXPECT_TRUE(summaryOf(r).contains(QStringLiteral(" result=failed exit=1 ")));
        EXPECT_EQ(marchDocuments(folder, protocol), documents) << bytes.size();
        EXPECT_FALSE(QFileInfo::exists(BackupOps::restoringName(folder)));
        EXPECT_TRUE(BackupOps::keptCopies(folder).isEmpty());
    }

    TestFiles::write(folder + "bazaqk.abk", whole);
    const CliRun good = cli({"restore", "--yes"}, ini);
    EXPECT_EQ(good.exitCode, 0) << good.err.toStdString();
    ASSERT_EQ(BackupOps::keptCopies(folder).size(), 1);
    EXPECT_TRUE(good.out.contains("Poprzednia baza zachowana w pliku " + BackupOps::keptCopies(folder)[0]));
    EXPECT_EQ(marchDocuments(folder, protocol), documents);
}

} // namespace

TEST(UnattendedRestore, ABackupThatIsNotWholeNeverCostsTheLiveDatabaseOnTheServer) {
    TestModule m;
    m.started();
    m.dm->shutDown();
    restoreFromBadBackups(m.folder, QStringLiteral("T"));
}

TEST(UnattendedRestore, ABackupThatIsNotWholeNeverCostsTheLiveDatabaseEmbedded) {
    restoreFromBadBackups(TestDb::createEmbeddedDatabase(), QStringLiteral("L"));
}

TEST(UnattendedBackup, VerificationOnTheServer) {
    TestModule m;
    m.started();
    m.dm->shutDown();
    verifyBackups(m.folder, QStringLiteral("T"));
    EXPECT_EQ(m.value("select Bila from FJ_BAZA where LP = 1"), QStringLiteral("N"));
}

TEST(UnattendedBackup, VerificationEmbedded) {
    verifyBackups(TestDb::createEmbeddedDatabase(), QStringLiteral("L"));
}

// A database folder with too little room for the scratch database: the verification says so before it
// starts, and does not call the backup bad.
TEST(UnattendedBackup, AVerificationWithoutRoomSaysSoAndBlamesNoBackup) {
    const QString small = TestDb::newFolder() + QStringLiteral("maly/");
    QDir().mkpath(small);
    ASSERT_EQ(QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", small}), 0);
    const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {"-l", small}); });
    TestModule m;
    m.started();
    RecordingOperator op;
    BackupOps::backupDatabase(*m.dm, op);
    m.dm->shutDown();
    const CliRun r = cli({"verify-backup", m.folder + "bazaqk.abk"}, settingsFor(small));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("za mało miejsca"))) << r.err.toStdString();
    EXPECT_FALSE(r.out.contains(QStringLiteral("BŁĄD: odtworzenie"))) << r.out.toStdString();
}

TEST(UnattendedBackup, KeepDeletesOnlyTheOldestStampedArchives) {
    EXPECT_EQ(BackupOps::archivesToDelete({"26120902.arj", "bazaqk.abk", "26120901.arj", "25010101.ARJ",
                                           "2612090.arj", "261209011.arj", "26120903.arj.bak", "x6120901.arj",
                                           "26120904.arj"},
                                          2),
              QStringList({"25010101.ARJ", "26120901.arj"}));
    EXPECT_EQ(BackupOps::archivesToDelete({"26120901.arj", "26120902.arj"}, 2), QStringList());
    EXPECT_EQ(BackupOps::archivesToDelete({"26120901.arj", "26120902.arj"}, 5), QStringList());
    // Only real dates and hours are stamps; the archive just made is kept whatever the others are called,
    // and one dated after now (a clock that ran ahead) is neither counted nor deleted.
    const QStringList odd{"99999999.arj", "26121006.arj", "26121006-2.arj", "12345678.arj",
                          "20241231.arj", "27010100.arj", "26123124.arj",   "26021901.arj"};
    const QDateTime now(QDate(2026, 12, 10), QTime(6, 30));
    EXPECT_EQ(BackupOps::archivesToDelete(odd, 1, now, "26121006-2.arj"),
              QStringList({"26021901.arj", "26121006.arj"}));
    EXPECT_EQ(BackupOps::archivesToDelete(odd, 2, now, "26121006-2.arj"), QStringList({"26021901.arj"}));
    EXPECT_EQ(BackupOps::futureArchives(odd, now), QStringList({"27010100.arj"}));
    // The backups a failed verification kept are held within the same bounds.
    EXPECT_EQ(BackupOps::failedBackupsToDelete(
                  {"bazaqk-nieudana-20261210-061500-2.abk", "bazaqk.abk",
                   "bazaqk-nieudana-20261209-061500.abk", "bazaqk-nieudana-20261210-061500.abk",
                   "bazaqk-nieudana-20261210-061500.abk.sha256", "bazaqk-nieudana-x.abk"},
                  2),
              QStringList({"bazaqk-nieudana-20261209-061500.abk"}));

    TestModule m;
    m.started();
    m.dm->shutDown();
    const QString ini = settingsFor(m.folder);
    const QStringList others{"notatki.arj", "1001010.arj", "100101011.arj", "10010101.txt",
                             "kopia 10010101.arj"};
    for (const QString &f : QStringList{"10010101.arj", "10010102.arj", "10010103.arj"} + others)
        TestFiles::write(m.folder + f, "x");
    const CliRun r = cli({"backup", "--archive", "--keep", "2"}, ini);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList stamped = QDir(m.folder).entryList({"????????.arj"}, QDir::Files);
    ASSERT_EQ(stamped.size(), 2);
    EXPECT_EQ(stamped[0], QStringLiteral("10010103.arj"));
    EXPECT_TRUE(r.out.contains(QStringLiteral("Usunięto starą kopię archiwalną 10010101.arj")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("Usunięto starą kopię archiwalną 10010102.arj")));
    for (const QString &f : others)
        EXPECT_TRUE(QFileInfo::exists(m.folder + f)) << f.toStdString();
    EXPECT_TRUE(QFileInfo::exists(m.folder + "bazaqk.abk"));
    // The summary names the backup and the archive it produced, with their size.
    const QString summary = summaryOf(r);
    EXPECT_TRUE(
        summary.startsWith(QStringLiteral("qkadmin-cli: summary command=backup result=ok exit=0 seconds=")));
    const qint64 bytes = QFileInfo(m.folder + "bazaqk.abk").size() + QFileInfo(m.folder + stamped[1]).size();
    EXPECT_TRUE(summary.endsWith(QStringLiteral(" files=2 bytes=%1").arg(bytes))) << summary.toStdString();

    const CliRun keepAlone = TestCli::inProcess({"backup", "--keep", "2"}, ini);
    EXPECT_EQ(keepAlone.exitCode, 2);
    EXPECT_TRUE(keepAlone.err.contains(QStringLiteral("--keep goes with --archive")));
    EXPECT_EQ(TestCli::inProcess({"backup", "--archive", "--keep", "0"}, ini).exitCode, 2);
    EXPECT_EQ(TestCli::inProcess({"verify-backup", "a.abk", "b.abk"}, ini).exitCode, 2);
    EXPECT_EQ(QDir(m.folder).entryList({"????????.arj"}, QDir::Files).size(),
              2); // usage errors change nothing
}

TEST(UnattendedBackup, AFailedVerificationKeepsThePreviousBackupAndMakesNoArchive) {
    TestModule m;
    m.started();
    m.dm->shutDown();
    const QString ini = settingsFor(m.folder);
    ASSERT_EQ(cli({"backup"}, ini).exitCode, 0);
    const QByteArray good = TestFiles::read(m.folder + "bazaqk.abk");
    const QByteArray digest = TestFiles::read(m.folder + "bazaqk.abk.sha256");
    TestDb::exec(m.folder, "delete from FJ_BAZA"); // a backup the server writes, but without its control row
    const CliRun r = cli({"backup", "--verify", "--archive"}, ini);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("Kopia nie przeszła sprawdzenia: poprzednia kopia " + m.folder +
                               "bazaqk.abk pozostaje bez "
                               "zmian, nowa zachowana jako " +
                               m.folder + "bazaqk-nieudana-"))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("; kopii archiwalnej nie utworzono.")));
    EXPECT_EQ(TestFiles::read(m.folder + "bazaqk.abk"), good);
    EXPECT_EQ(TestFiles::read(m.folder + "bazaqk.abk.sha256"), digest);
    EXPECT_EQ(QDir(m.folder).entryList({"bazaqk-nieudana-*.abk"}, QDir::Files).size(), 1);
    EXPECT_EQ(QDir(m.folder).entryList({"*.arj", "*.part"}, QDir::Files), QStringList());
}

namespace {} // namespace

TEST(Cli, UsageErrorsExitTwo) {
    using TestCli::inProcess;
    EXPECT_EQ(inProcess({}).exitCode, 2);
    const CliRun unknown = inProcess({"frob"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_TRUE(unknown.err.contains(QStringLiteral("unknown command frob")));
    for (const QString &bare : {QStringLiteral("--settings"), QStringLiteral("--settings=")}) {
        const CliRun noFile = inProcess({bare});
        EXPECT_EQ(noFile.exitCode, 2);
        EXPECT_TRUE(noFile.err.contains(QStringLiteral("--settings needs a settings file")))
            << noFile.err.toStdString();
    }
    const CliRun month = inProcess({"export", "--month", "13"});
    EXPECT_EQ(month.exitCode, 2);
    EXPECT_TRUE(month.err.contains(QStringLiteral("--month takes a month from 1 to 12")));
    EXPECT_EQ(inProcess({"import"}).exitCode, 2);
    EXPECT_EQ(inProcess({"backup", "--month", "3"}).exitCode, 2);
    EXPECT_EQ(inProcess({"stats", "extra"}).exitCode, 2);
    EXPECT_EQ(inProcess({"health", "--gap", "0"}).exitCode, 3); // UNKNOWN to monitoring
    const CliRun help = inProcess({"import", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains(QStringLiteral("--clear")));
    const CliRun all = inProcess({"--help"});
    EXPECT_EQ(all.exitCode, 0);
    for (const auto &c : Cli::commands()) // every command is listed with its summary
        EXPECT_TRUE(all.out.contains(QStringLiteral("  %1").arg(QLatin1String(c->name())))) << c->name();
}

TEST(Cli, MissingDatabaseFailsWithTheErrorOnStandardError) {
    const QString ini = settingsFor(TestDb::newFolder() + QStringLiteral("brak/"));
    const CliRun r = cli({"backup"}, ini);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(r.err.trimmed().isEmpty());
    EXPECT_FALSE(r.out.contains(QStringLiteral("zakończono pomyślnie")));
}

TEST(Cli, FirstRunSaysWhatToSetInPolish) {
    // No setup.ini: it is made with empty keys, and the message names it and the key.
    const QString settings = TestDb::newFolder();
    const CliRun none = cli({"backup"}, settings + "setup.ini");
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_TRUE(none.err.contains("Nie wskazano folderu bazy danych (plik " + settings +
                                  "setup.ini, sekcja [Ogolne], klucz sciezka)"))
        << none.err.toStdString();
    EXPECT_FALSE(none.err.contains(QStringLiteral("for file \"/bazaqk.adb\"")));
    // A folder without the database.
    const QString empty = TestDb::newFolder();
    const CliRun missing = cli({"backup"}, settingsFor(empty));
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(
        missing.err.contains("W folderze " + empty.left(empty.size() - 1) + " nie ma bazy danych bazaqk.adb"))
        << missing.err.toStdString();
}

TEST(Cli, TheServersOwnPasswordFromTheEnvironment) {
    TestModule m;
    m.started();
    m.dm->shutDown();
    const QString ini = settingsFor(m.folder);
    auto withEnvironment = [&](const QString &user, const QString &password) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ISC_USER", user);
        env.insert("ISC_PASSWORD", password);
        p.setProcessEnvironment(env);
        p.setStandardInputFile(QProcess::nullDevice());
        p.start(QString::fromLocal8Bit(qgetenv("QK_CLI")), {"--settings", ini, "backup"});
        p.waitForFinished(120000);
        return CliRun{p.exitCode(), QString::fromLocal8Bit(p.readAllStandardOutput()),
                      QString::fromLocal8Bit(p.readAllStandardError())};
    };
    const CliRun wrong = withEnvironment("SYSDBA", "nie-to-haslo");
    EXPECT_EQ(wrong.exitCode, 1);
    // Said first in Polish, whom and where the password is given, then the server's own text.
    EXPECT_TRUE(
        wrong.err.contains(QStringLiteral("Serwer bazy danych odrzucił logowanie użytkownika SYSDBA")))
        << wrong.err.toStdString();
    EXPECT_TRUE(wrong.err.contains(QStringLiteral("ISC_USER i ISC_PASSWORD")) &&
                wrong.err.contains("/etc/qkadmin/credentials"));
    EXPECT_TRUE(wrong.err.contains(QStringLiteral("Your user name and password are not defined")))
        << wrong.err.toStdString();
    const CliRun right = withEnvironment("sysdba", "quillstep");
    EXPECT_EQ(right.exitCode, 0) << right.err.toStdString();
}

TEST(Cli, AServerThatRefusesExternalFilesIsToldWhatToSet) {
    // The embedded engine under a Firebird root of its own that allows no external file.
    const QString folder = TestDb::createEmbeddedDatabase();
    const QString root = TestDb::newFolder() + "firebird";
    ASSERT_EQ(QProcess::execute("bash", {QString::fromLocal8Bit(qgetenv("QK_SCRIPTS")) + "/firebird-root.sh",
                                         root, "None"}),
              0);
    const QString ini = settingsFor(folder, "L");
    ASSERT_EQ(cli({"export", "--month", "3"}, ini).exitCode, 0);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("FIREBIRD", root);
    p.setProcessEnvironment(env);
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(QString::fromLocal8Bit(qgetenv("QK_CLI")), {"--settings", ini, "import", "--month", "3"});
    ASSERT_TRUE(p.waitForFinished(120000));
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_TRUE(err.contains("ExternalFileAccess = Restrict " + folder.left(folder.size() - 1) + "\n"))
        << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("i uruchomić serwer ponownie"))) << err.toStdString();
}

TEST(SerialSignals, ALongCommandLineRunEndsAsAFailure) {
    // The run waits on a row another connection holds (a workstation in the middle of its work).
    TestModule m;
    m.started();
    m.dm->shutDown();
    Database other;
    TestDb::connect(other, m.folder);
    Transaction tr(&other);
    Query hold(QStringLiteral("hold"), &other, &tr);
    tr.start();
    hold.setSql(QStringLiteral("update FJ_BAZA set ILE = ILE where LP = 1"));
    hold.execute();

    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(QString::fromLocal8Bit(qgetenv("QK_CLI")),
            {"--settings", settingsFor(m.folder), "reset-connections"});
    ASSERT_TRUE(p.waitForStarted());
    // It waits once its statement is active on the server, behind the row the other connection holds.
    QElapsedTimer waiting;
    waiting.start();
    while (
        TestDb::scalar(m.folder,
                       "select count(*) from MON$STATEMENTS where MON$STATE = 1 and MON$SQL_TEXT containing "
                       "'ILE = 0'")
                .trimmed() == QLatin1String("0") &&
        waiting.elapsed() < 60000)
        QThread::msleep(20);
    ASSERT_TRUE(TestFiles::waitForSignalHandlers(p.processId()));
    ASSERT_EQ(p.state(), QProcess::Running) << "the run did not wait";
    QElapsedTimer t;
    t.start();
    ::kill(pid_t(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(5000)) << "still running 5 s after SIGTERM";
    EXPECT_LT(t.elapsed(), 5000);
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 1);
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    EXPECT_TRUE(out.trimmed().split('\n').last().startsWith(
        QStringLiteral("qkadmin-cli: summary command=reset-connections result=failed exit=1 ")))
        << out.toStdString();
    EXPECT_TRUE(QString::fromLocal8Bit(p.readAllStandardError()).contains(QStringLiteral("SIGTERM")));
    tr.rollback();
    other.close();
}

// A signal as soon as the run can take one (its handler is there from the first line of main, before the
// client library is loaded): the run ends in order, with its summary, never by the default death (143).
TEST(Cli, ASignalAtTheStartEndsTheRunWithItsSummary) {
    TestModule m;
    m.started();
    m.dm->shutDown();
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(QString::fromLocal8Bit(qgetenv("QK_CLI")), {"--settings", settingsFor(m.folder), "backup"});
    ASSERT_TRUE(p.waitForStarted());
    ASSERT_TRUE(TestFiles::waitForSignalHandlers(p.processId()));
    ::kill(pid_t(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_TRUE(QString::fromLocal8Bit(p.readAllStandardOutput())
                    .contains(QStringLiteral("qkadmin-cli: summary command=backup result=failed exit=1 ")));
    EXPECT_TRUE(QString::fromLocal8Bit(p.readAllStandardError()).contains(QStringLiteral("SIGTERM")));
}

TEST(Cli, NightlyBackupWithArchiveCopy) {
    TestModule m;
    m.started();
    const QString ini = settingsFor(m.folder);
    m.dm->shutDown();
    const CliRun r = cli({"backup", "--archive"}, ini);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("gbak:    writing data for table FJ_BAZA\n")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("Kopiowanie Bazy zakończono pomyślnie ...\n")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("Powstał dodatkowy plik kopii o nazwie ")));
    EXPECT_TRUE(QFileInfo(m.folder + "bazaqk.abk").size() > 0);
    const QStringList archives = QDir(m.folder).entryList({"*.arj"}, QDir::Files);
    ASSERT_EQ(archives.size(), 1);
    EXPECT_TRUE(r.out.contains(archives.first()));
    // arj's temporary archive was in a folder of the run's own, gone with it.
    EXPECT_EQ(QDir(m.folder).entryList({"ARJTEMP*", ".qk-praca-*"}, QDir::AllEntries | QDir::Hidden),
              QStringList());
    EXPECT_EQ(m.value("select Bila from FJ_BAZA where LP = 1"), QStringLiteral("N"));

    // Restore: refused without --yes when nobody can answer, done with it.
    m.exec("update FJ_BAZA set FIRMA = 'po kopii' where LP = 1");
    const CliRun refused = cli({"restore"}, ini);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(m.value("select FIRMA from FJ_BAZA where LP = 1"), QStringLiteral("po kopii"));
    const CliRun restored = cli({"restore", "--yes"}, ini);
    ASSERT_EQ(restored.exitCode, 0) << restored.err.toStdString();
    EXPECT_NE(m.value("select FIRMA from FJ_BAZA where LP = 1"), QStringLiteral("po kopii"));
    EXPECT_EQ(m.value("select Bila from FJ_BAZA where LP = 1"), QStringLiteral("N"));

    // Without arj the restore is done, but the missing archive copy is an error, not a success.
    const CliRun noArj = cli({"restore", "--yes"}, ini, TestDb::newFolder());
    EXPECT_EQ(noArj.exitCode, 1);
    EXPECT_TRUE(noArj.out.contains(QStringLiteral("Odtwarzanie Bazy zakończono pomyślnie ...")));
    EXPECT_TRUE(noArj.err.contains(
        QStringLiteral("Nie można uruchomić programu arj: dodatkowy plik kopii nie powstał.")))
        << noArj.err.toStdString();
    EXPECT_FALSE(noArj.out.contains(QStringLiteral("Powstał dodatkowy plik kopii")));
    const CliRun noArjBackup = cli({"backup", "--archive"}, ini, TestDb::newFolder());
    EXPECT_EQ(noArjBackup.exitCode, 1);
}

TEST(Cli, MonthlyExportEqualsTheWindowsAndImportsElsewhere) {
    TestModule a;
    a.started();
    const CliRun r = cli({"export", "--month", "3"}, settingsFor(a.folder));
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("tworzenie pliku ") + a.folder + "EX03D.TXT"));
    QHash<QString, QByteArray> files;
    for (const QString &f : ExchangeOps::monthlyFiles(a.folder, 3))
        files[f] = TestFiles::read(f);
    RecordingOperator op;
    ExchangeOps::exportMonth(*a.dm, op, 3, "2026"); // the same operation, from the window's side
    for (const QString &f : ExchangeOps::monthlyFiles(a.folder, 3))
        EXPECT_EQ(TestFiles::read(f), files[f]) << f.toStdString();
    a.dm->shutDown();

    TestDb::Spec other;
    other.scale.seed = 11;
    TestModule b(TestDb::createDatabase(other));
    b.started();
    b.dm->shutDown();
    const QString iniB = settingsFor(b.folder);
    QFile::remove(b.folder + "EX03D.TXT");
    QFile::remove(b.folder + "EX03Z.TXT");
    EXPECT_EQ(cli({"check-input", "--month", "3"}, iniB).exitCode, 1);
    const CliRun missing = cli({"import", "--month", "3"}, iniB);
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.out.contains(QStringLiteral("UWAGA ... brak pliku z danymi o Dokumentach :\n\n")));
    QFile::copy(a.folder + "EX03D.TXT", b.folder + "EX03D.TXT");
    QFile::copy(a.folder + "EX03Z.TXT", b.folder + "EX03Z.TXT");
    EXPECT_EQ(cli({"check-input", "--month", "3"}, iniB).exitCode, 0);
    const CliRun imported = cli({"import", "--month", "3", "--clear"}, iniB);
    ASSERT_EQ(imported.exitCode, 0) << imported.err.toStdString();
    EXPECT_TRUE(imported.out.contains(QStringLiteral("Import danych zakończony pomyślnie ...")));
    EXPECT_EQ(b.value("select count(*) from FJ_ZAP3"), a.value("select count(*) from FJ_ZAP3"));
    EXPECT_EQ(b.value("select sum(KWOTA) from FJ_ZAP3"), a.value("select sum(KWOTA) from FJ_ZAP3"));
}

TEST(Cli, Reports) {
    TestModule m;
    m.started();
    m.dm->shutDown();
    const QString ini = settingsFor(m.folder);
    const CliRun stats = cli({"stats"}, ini);
    EXPECT_EQ(stats.exitCode, 0);
    EXPECT_TRUE(stats.out.contains(QStringLiteral("FJ_DOK3 (")));
    const CliRun users = cli({"users"}, ini);
    EXPECT_EQ(users.exitCode, 0);
    EXPECT_TRUE(users.out.split('\n').contains(QStringLiteral("SYSDBA")));
    const CliRun props = cli({"properties"}, ini);
    EXPECT_EQ(props.exitCode, 0);
    EXPECT_TRUE(props.out.startsWith(QStringLiteral("Number of attachments: ")));
    EXPECT_EQ(cli({"log"}, ini).exitCode, 0);
    EXPECT_EQ(cli({"reset-connections"}, ini).exitCode, 0);
    EXPECT_EQ(cli({"validate"}, ini).exitCode, 0);
}

namespace {

CliRun health(const QString &ini, const QStringList &extra = {}) {
    return cli(QStringList{"health"} + extra, ini);
}

// The line of one check: "LEVEL check: ...".
QString checkLine(const CliRun &r, const QString &check) {
    for (const QString &l : r.out.split('\n'))
        if (l.section(' ', 1, 1) == check + ':')
            return l;
    return QStringLiteral("<no line for %1>").arg(check);
}

void freshThenBackedUp(const QString &folder, const QString &protocol) {
    const QString ini = settingsFor(folder, protocol);
    const CliRun fresh = health(ini);
    EXPECT_EQ(fresh.exitCode, 2) << fresh.out.toStdString();
    EXPECT_TRUE(
        checkLine(fresh, "kopia").startsWith("CRITICAL kopia: brak pliku kopii " + folder + "bazaqk.abk"));
    for (const char *check : {"blokada", "zapis", "miejsce", "transakcje", "serwer"})
        EXPECT_TRUE(checkLine(fresh, check).startsWith("OK ")) << checkLine(fresh, check).toStdString();
    EXPECT_TRUE(summaryOf(fresh).startsWith("qkadmin-cli: summary command=health result=critical exit=2 "));
    EXPECT_EQ(checkLine(fresh, "serwer").contains("LI-V3"), protocol != "L")
        << checkLine(fresh, "serwer").toStdString();

    ASSERT_EQ(cli({"backup"}, ini).exitCode, 0);
    const CliRun after = health(ini);
    EXPECT_EQ(after.exitCode, 0) << after.out.toStdString();
    EXPECT_TRUE(checkLine(after, "kopia").startsWith("OK kopia: ostatnia kopia " + folder + "bazaqk.abk z "));
    EXPECT_TRUE(summaryOf(after).startsWith("qkadmin-cli: summary command=health result=ok exit=0 "));
    // A backup cut by a whole block is told by its digest's recorded size, without reading it (the ages
    // and limits themselves: HealthRules).
    QFile backup(folder + "bazaqk.abk");
    ASSERT_TRUE(backup.resize(backup.size() - 512));
    const CliRun cut = health(ini, {"--backup-age", "100"});
    EXPECT_EQ(cut.exitCode, 2);
    EXPECT_TRUE(checkLine(cut, "kopia").contains(QStringLiteral("kopia obcięta lub zmieniona")))
        << cut.out.toStdString();
}

TEST(Health, EveryCompanyAtOnceWithItsMetrics) {
    // One healthy company (embedded, backed up), one without a backup (through the server), one whose
    // folder is gone.
    const QString companies = TestDb::newFolder();
    const QString healthy = TestDb::createEmbeddedDatabase(), bare = TestDb::createDatabase();
    ASSERT_TRUE(QFile::copy(settingsFor(healthy, "L"), companies + "firma1.ini"));
    ASSERT_TRUE(QFile::copy(settingsFor(bare, "T"), companies + "firma2.ini"));
    IniFile::writeString(companies + "firma3.ini", "Ogolne", "sciezka", companies + "nie-ma");
    ASSERT_EQ(cli({"backup"}, companies + "firma1.ini").exitCode, 0);
    TestFiles::write(companies + "jn.ini", "[AAA]\r\n1=1\r\n"); // the password history is no company

    QElapsedTimer t;
    t.start();
    const CliRun all = cli({"health", "--all", companies});
    EXPECT_LT(t.elapsed(), 10000);
    EXPECT_EQ(all.exitCode, 2) << all.out.toStdString();
    for (const char *name : {"firma1", "firma2", "firma3"})
        EXPECT_TRUE(all.out.contains("== " + QString(name) + " (" + companies + name + ".ini)"))
            << all.out.toStdString();
    EXPECT_FALSE(all.out.contains("== jn"));
    EXPECT_TRUE(all.out.contains(QRegularExpression("\nfirma1 +OK +[0-9.]+ h +NIE +[0-9]+ MB\n")))
        << all.out.toStdString();
    EXPECT_TRUE(all.out.contains(QRegularExpression("\nfirma2 +CRITICAL +- +NIE "))) << all.out.toStdString();
    EXPECT_TRUE(all.out.contains(QRegularExpression("\nfirma3 +UNKNOWN +- +- +-\n")))
        << all.out.toStdString();

    // The same as metrics, written whole to the file the textfile collector reads.
    const QString prom = companies + "qkadmin.prom";
    ASSERT_EQ(cli({"health", "--all", companies, "--format", "prometheus", "--output", prom}).exitCode,
              0); // written
    const QByteArray text = TestFiles::read(prom);
    EXPECT_EQ(text.count("# TYPE qkadmin_check_status gauge"), 1);
    const QHash<QString, double> m = HealthMetrics::parse(text);
    EXPECT_EQ(m.value("qkadmin_check_status{company=\"firma1\",check=\"kopia\"}", -1), 0);
    EXPECT_EQ(m.value("qkadmin_check_status{company=\"firma2\",check=\"kopia\"}", -1), 2);
    EXPECT_EQ(m.value("qkadmin_check_status{company=\"firma3\",check=\"baza\"}", -1), 3);
    EXPECT_EQ(m.value("qkadmin_backup_bytes{company=\"firma1\"}", -1),
              double(QFileInfo(healthy + "bazaqk.abk").size()));
    EXPECT_EQ(m.value("qkadmin_lock_flag{company=\"firma2\"}", -1), 0);
    EXPECT_GT(m.value("qkadmin_database_bytes{company=\"firma2\"}", -1), 0);
    QProcess promtool;
    promtool.start("promtool", {"check", "metrics"});
    if (!promtool.waitForStarted()) {
        std::printf(
            "promtool is not installed (Debian's prometheus package): the format was not checked by it\n");
        return;
    }
    promtool.write(text);
    promtool.closeWriteChannel();
    ASSERT_TRUE(promtool.waitForFinished());
    EXPECT_EQ(promtool.exitCode(), 0) << promtool.readAll().toStdString();
}

// A folder with Polish letters in a setup.ini as a Linux editor saves it (UTF-8), run as cron runs a job:
// with no environment at all (no LANG, no PATH), so the client library's character set is ASCII.
TEST(Health, AFolderWithPolishLettersInAUtf8SetupIniWithoutALocale) {
    TestDb::Spec polish;
    polish.subfolder = QStringLiteral("Księgowość/Firma Łódź/");
    for (const QString protocol : {"L", "T"}) {
        const QString folder =
            protocol == "L" ? TestDb::createEmbeddedDatabase(polish) : TestDb::createDatabase(polish);
        const QString ini = TestDb::newFolder() + "setup.ini";
        TestFiles::write(ini, QStringLiteral("[Ogolne]\r\nsciezka=%1\r\nprotokol=%2\r\n")
                                  .arg(folder.chopped(1), protocol)
                                  .toUtf8());
        const CliRun backup = bareCli({"backup"}, ini);
        EXPECT_EQ(backup.exitCode, 0) << protocol.toStdString() << backup.err.toStdString();
        const CliRun health = bareCli({"health"}, ini);
        EXPECT_EQ(health.exitCode, 0) << protocol.toStdString() << health.out.toStdString();
        EXPECT_TRUE(
            health.out.startsWith(QStringLiteral("OK kopia: ostatnia kopia ") + folder + "bazaqk.abk"));
        if (protocol == "L") {
            const CliRun verify = bareCli({"verify-backup"}, ini);
            EXPECT_EQ(verify.exitCode, 0) << verify.out.toStdString();
            const CliRun restore = bareCli({"restore", "--yes"}, ini);
            EXPECT_EQ(restore.exitCode, 0) << restore.out.toStdString() << restore.err.toStdString();
            EXPECT_EQ(BackupOps::keptCopies(folder).size(), 1);
        }
    }
}

} // namespace

TEST(Health, AFreshDatabaseHasNoBackupThenABackupIsOkOnTheServer) {
    TestModule m;
    m.started();
    m.dm->shutDown();
    freshThenBackedUp(m.folder, "T");
}

TEST(Health, AFreshDatabaseHasNoBackupThenABackupIsOkEmbedded) {
    freshThenBackedUp(TestDb::createEmbeddedDatabase(), "L");
}

// A sample database on the server with a fresh backup: every check OK until a test spoils one.
struct BackedUp {
    TestModule m;
    QString ini = settingsFor(m.folder);
    BackedUp() {
        m.started();
        EXPECT_EQ(cli({"backup"}, ini).exitCode, 0);
    }
};

TEST(Health, WritesTheDiskMayLoseAreAWarning) {
    BackedUp b;
    RecordingOperator op;
    AdminOps::setWriteMode(*b.m.dm, op, 0); // buffered writes
    b.m.dm->shutDown();
    const CliRun r = health(b.ini);
    EXPECT_EQ(r.exitCode, 1) << r.out.toStdString();
    EXPECT_TRUE(checkLine(r, "zapis").startsWith("WARNING zapis: zapis buforowany (forced writes wyłączone)"))
        << checkLine(r, "zapis").toStdString();
}

TEST(Health, ALockFlagLeftSetIsCritical) {
    BackedUp b;
    b.m.dm->shutDown();
    b.m.exec("update FJ_BAZA set Bila = 'T' where LP = 1");
    const CliRun r = health(b.ini);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(
        checkLine(r, "blokada").startsWith("CRITICAL blokada: blokada bazy pozostała założona (Bila = 'T')"))
        << checkLine(r, "blokada").toStdString();
}

TEST(Health, ATransactionHeldOpenRaisesTheGapWarning) {
    BackedUp b;
    b.m.dm->shutDown();
    Database held;
    TestDb::connect(held, b.m.folder);
    Transaction tr(&held);
    Query q(QStringLiteral("held"), &held, &tr);
    q.setSql(QStringLiteral("select count(*) from FJ_BAZA"));
    q.open(); // a transaction left open, as a forgotten workstation leaves it
    q.close();
    for (int i = 0; i < 30; ++i)
        b.m.exec("update FJ_BAZA set ILE = ILE where LP = 1");
    const CliRun r = health(b.ini, {"--gap", "20"});
    EXPECT_EQ(r.exitCode, 1) << r.out.toStdString();
    EXPECT_TRUE(checkLine(r, "transakcje").startsWith("WARNING transakcje: najstarsza istotna (OIT) "))
        << checkLine(r, "transakcje").toStdString();
    EXPECT_TRUE(checkLine(r, "serwer").endsWith("otwartych połączeń z bazą: 1"));
    EXPECT_EQ(health(b.ini).exitCode, 0); // within the default gap
    tr.rollback();
    held.close();
}

TEST(Health, AnUnreachableDatabaseIsUnknown) {
    const QString empty = TestDb::newFolder();
    const CliRun r = health(settingsFor(empty));
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("UNKNOWN baza: W folderze "))) << r.out.toStdString();
    EXPECT_TRUE(summaryOf(r).startsWith("qkadmin-cli: summary command=health result=unknown exit=3 "));
    // What it cannot judge is UNKNOWN, a wrong command line too; a missing settings file stays missing.
    EXPECT_EQ(health(settingsFor(empty), {"--gap", "zero"}).exitCode, 3);
    const QString none = TestDb::newFolder() + "firma9.ini";
    EXPECT_EQ(health(none).exitCode, 3);
    EXPECT_FALSE(QFileInfo::exists(none));
}

// A server that takes the connection and never answers (stopped): health says UNKNOWN within its limit.
TEST(SerialHealth, AServerThatDoesNotAnswerIsUnknownWithinTheTimeout) {
    TestModule m;
    m.dm->shutDown();
    const QString ini = settingsFor(m.folder);
    QProcess pidof;
    pidof.start("pidof", {"firebird"});
    pidof.waitForFinished();
    const int pid = QString::fromLatin1(pidof.readAllStandardOutput()).trimmed().split(' ').value(0).toInt();
    ASSERT_GT(pid, 0);
    ::kill(pid, SIGSTOP);
    QElapsedTimer t;
    t.start();
    const CliRun r = health(ini, {"--timeout", "2"});
    const qint64 ms = t.elapsed();
    ::kill(pid, SIGCONT);
    EXPECT_EQ(r.exitCode, 3) << r.out.toStdString();
    EXPECT_LT(ms, 6000);
    EXPECT_TRUE(r.out.contains(QStringLiteral("UNKNOWN baza: brak odpowiedzi w ciągu 2 s")))
        << r.out.toStdString();
    EXPECT_TRUE(summaryOf(r).contains(" result=unknown exit=3 "));
}

// The nightly sequence keeps the folder locked from the backup to the last pruned archive: another
// process's operation is refused in every gap between the steps.
TEST(UnattendedBackup, TheSequenceHoldsTheFolderBetweenItsSteps) {
    TestModule m;
    m.started();
    const QString ini = settingsFor(m.folder);
    RecordingOperator op;
    auto othersRefused = [&] {
        const CliRun other = cli({"verify-backup"}, ini);
        EXPECT_EQ(other.exitCode, 1);
        EXPECT_TRUE(other.err.contains(QStringLiteral("Trwa inna operacja na kopii bazy")))
            << other.err.toStdString();
    };
    BackupOps::backupDatabase(*m.dm, op); // a backup the others would verify
    {
        const BackupOps::Lock held = BackupOps::takeFolderLock(m.dm->Settings.DatabaseFolder);
        othersRefused();
        BackupOps::backupDatabase(*m.dm, op, {held});
        othersRefused();
        EXPECT_TRUE(BackupVerification::verify(*m.dm, op, m.dm->Settings.backupFileName(), held));
        othersRefused();
        BackupOps::pruneArchives(*m.dm, op, 3, held);
        othersRefused();
    }
    EXPECT_EQ(cli({"verify-backup"}, ini).exitCode, 0);
}

// A database whose ON CONNECT trigger writes a row into a file outside it (an external table): the
// program's own connections, its backup and its verification's scratch database run none of its code.
TEST(UntrustedInput, ADatabasesOwnCodeNeverRunsInTheProgramsConnections) {
    for (const QString protocol : {"T", "L"}) {
        const QString folder = protocol == "L" ? TestDb::createEmbeddedDatabase() : TestDb::createDatabase();
        const QString planted = folder + "planted.txt";
        const QString made = isql(folder, protocol,
                                  "create table PLANTED external file '" + planted.toUtf8() +
                                      "' (T char(10)); commit;\n"
                                      "set term ^; create trigger PLANT on connect as begin insert into "
                                      "PLANTED values ('x'); end^\n"
                                      "set term ;^ commit;\n",
                                  {"-nodbtriggers"});
        ASSERT_FALSE(made.contains("Statement failed")) << made.toStdString();
        const QString ini = settingsFor(folder, protocol);
        for (const QStringList &command :
             {QStringList{"health"}, QStringList{"backup"}, QStringList{"verify-backup"}}) {
            const CliRun r = cli(command, ini);
            EXPECT_LE(r.exitCode, 2) << command.join(' ').toStdString() << r.out.toStdString()
                                     << r.err.toStdString();
            EXPECT_EQ(QFileInfo(planted).size(), 0)
                << protocol.toStdString() << " " << command.join(' ').toStdString();
        }
        EXPECT_EQ(cli({"health"}, ini).exitCode, 0);
        // A connection that asks for nothing runs the trigger: the check above would have seen the program's.
        isql(folder, protocol, "select count(*) from RDB$DATABASE;\n");
        EXPECT_EQ(QFileInfo(planted).size(), 10) << protocol.toStdString();
    }
}

TEST(UntrustedInput, AsRootSettingsAndCredentialsOthersMayChangeAreRefused) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "only a run as root (or as the units' user) refuses them; the suite runs as root";
    const QString ini = settingsFor(TestDb::newFolder());
    ASSERT_EQ(::chmod(QFile::encodeName(ini).constData(), 0664), 0);
    const QString said = "Plik ustawień " + ini +
                         " może zmienić nie tylko root (grupa root może go zmieniać). Program "
                         "uruchomiony jako root nie korzysta z takich ustawień";
    const CliRun health = cli({"health"}, ini);
    EXPECT_EQ(health.exitCode, 3);
    EXPECT_TRUE(health.out.startsWith("UNKNOWN baza: " + said)) << health.out.toStdString();
    EXPECT_TRUE(health.out.contains("--settings /etc/qkadmin/firma.ini")) << health.out.toStdString();
    const CliRun backup = cli({"backup"}, ini);
    EXPECT_EQ(backup.exitCode, 1);
    EXPECT_TRUE(backup.err.contains(said)) << backup.err.toStdString();

    ASSERT_EQ(::chmod(QFile::encodeName(ini).constData(), 0644), 0);
    const QString credentials = TestDb::newFolder();
    TestFiles::write(credentials + "credentials", "ISC_USER=SYSDBA\nISC_PASSWORD=quillstep\n");
    ASSERT_EQ(::chmod(QFile::encodeName(credentials + "credentials").constData(), 0666), 0);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("CREDENTIALS_DIRECTORY", credentials.chopped(1));
    p.setProcessEnvironment(env);
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(QString::fromLocal8Bit(qgetenv("QK_CLI")), {"--settings", ini, "backup"});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 1);
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_TRUE(err.contains("Plik danych logowania " + credentials +
                             "credentials może zmienić nie tylko root (każdy może go "
                             "zmieniać)"))
        << err.toStdString();
}

// Root on the embedded engine runs the database's table triggers in its own process: a database that
// anyone else may write or replace is refused before anything runs, by every command that opens it.
TEST(UntrustedInput, AsRootAnEmbeddedDatabaseOthersMayWriteIsRefused) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "only a run as root (or as the units' user) refuses it; the suite runs as root";
    const QString folder = TestDb::createEmbeddedDatabase();
    const QString planted = folder + "planted.txt", database = folder + "bazaqk.adb";
    const QString made = isql(folder, "L",
                              "create table PLANTED external file '" + planted.toUtf8() +
                                  "' (T char(10)); commit;\n"
                                  "set term ^; create trigger PLANT for FJ_BAZA after update as begin "
                                  "insert into PLANTED values ('x'); end^\n"
                                  "set term ;^ commit;\n");
    ASSERT_FALSE(made.contains("Statement failed")) << made.toStdString();
    const QString ini = settingsFor(folder, "L");
    const QByteArray folderName = QFile::encodeName(folder.chopped(1));

    ASSERT_EQ(::chmod(folderName.constData(), 0777), 0);
    for (const QStringList &command : {QStringList{"backup"}, QStringList{"restore", "--yes"},
                                       QStringList{"reset-connections"}, QStringList{"validate"}}) {
        const CliRun r = cli(command, ini);
        EXPECT_EQ(r.exitCode, 1) << command.join(' ').toStdString() << r.out.toStdString();
        EXPECT_TRUE(r.err.contains("Bazę danych " + database +
                                   " może zmienić lub podmienić ktoś inny niż root "
                                   "(folder " +
                                   folder.chopped(1) + ": każdy może w nim podmieniać pliki)"))
            << command.join(' ').toStdString() << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("wpisz protokol=T")) << r.err.toStdString();
        EXPECT_EQ(QFileInfo(planted).size(), 0) << command.join(' ').toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(folder + "bazaqk.abk"));
    // health only reads: it still looks, and says nothing of the refusal.
    const CliRun looked = cli({"health"}, ini);
    EXPECT_LE(looked.exitCode, 2) << looked.out.toStdString();
    EXPECT_FALSE(looked.out.contains("Bazę danych")) << looked.out.toStdString();

    // A database file its group may write is as much others' as the folder.
    ASSERT_EQ(::chmod(folderName.constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(database).constData(), 0664), 0);
    const CliRun groupWritable = cli({"backup"}, ini);
    EXPECT_EQ(groupWritable.exitCode, 1);
    EXPECT_TRUE(groupWritable.err.contains("(plik " + database + ": grupa root może go zmieniać)"))
        << groupWritable.err.toStdString();
    EXPECT_EQ(QFileInfo(planted).size(), 0);

    // Root's alone: the backup runs, and its lock-flag update fires the trigger the refusals kept from
    // running.
    ASSERT_EQ(::chmod(QFile::encodeName(database).constData(), 0644), 0);
    const CliRun own = cli({"backup"}, ini);
    EXPECT_EQ(own.exitCode, 0) << own.out.toStdString() << own.err.toStdString();
    EXPECT_GT(QFileInfo(planted).size(), 0);
}

TEST(HealthAll, AServerThatNeverAnswersIsUnknownWithinTheTimeoutGiven) {
    const SilentServer silent;
    ASSERT_NE(silent.port, 0);
    const QString companies = TestDb::newFolder();
    silentCompany(companies, silent.port);
    QElapsedTimer t;
    t.start();
    const CliRun all = cli({"health", "--all", companies, "--timeout", "3"});
    // Far below a check's own default of 10 s: the limit reached the check.
    EXPECT_LT(t.elapsed(), 8000);
    EXPECT_EQ(all.exitCode, 3) << all.out.toStdString();
    EXPECT_TRUE(all.out.contains("== cicha (" + companies +
                                 "cicha.ini)\nUNKNOWN baza: brak odpowiedzi w ciągu 3 s\n"))
        << all.out.toStdString();
    EXPECT_TRUE(all.out.contains(QRegularExpression("\ncicha +UNKNOWN +- +- +-\n"))) << all.out.toStdString();
    EXPECT_TRUE(summaryOf(all).startsWith("qkadmin-cli: summary command=health result=unknown exit=3 "));
}

TEST(HealthAll, ASignalIsPassedOnAndWaitedFor) {
    const SilentServer silent;
    ASSERT_NE(silent.port, 0);
    const QString companies = TestDb::newFolder();
    silentCompany(companies, silent.port);
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(QString::fromLocal8Bit(qgetenv("QK_CLI")), {"health", "--all", companies, "--timeout", "60"});
    ASSERT_TRUE(p.waitForStarted());
    QList<qint64> checks;
    for (int i = 0; i < 100 && checks.isEmpty(); ++i) {
        QThread::msleep(50);
        checks = childrenOf(p.processId());
    }
    ASSERT_EQ(checks.size(), 1);
    QThread::msleep(300); // the check is waiting for the server
    ::kill(pid_t(p.processId()), SIGTERM);
    const bool ended = p.waitForFinished(15000);
    for (const qint64 pid : checks)
        if (::kill(pid_t(pid), 0) == 0) {
            ADD_FAILURE() << "check " << pid << " left running";
            ::kill(pid_t(pid), SIGKILL);
        }
    ASSERT_TRUE(ended);
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 3);
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    EXPECT_TRUE(out.contains("UNKNOWN baza: sprawdzenie przerwane sygnałem SIGTERM\n")) << out.toStdString();
    EXPECT_TRUE(out.trimmed().split('\n').last().startsWith(
        "qkadmin-cli: summary command=health result=unknown exit=3 "))
        << out.toStdString();
}

TEST(HealthMetricsFile, TheCollectorCanReadItWhateverTheUmask) {
    const QString folder = TestDb::newFolder();
    const QString ini =
        settingsFor(TestDb::newFolder()); // no database there: UNKNOWN, and said so in the file
    auto withUmask077 = [&](const QString &output) {
        QProcess p;
        p.setStandardInputFile(QProcess::nullDevice());
        p.start("sh",
                {"-c", "umask 077; exec \"$0\" --settings \"$1\" health --format prometheus --output \"$2\"",
                 QString::fromLocal8Bit(qgetenv("QK_CLI")), ini, output});
        p.waitForFinished(60000);
        return CliRun{p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                      QString::fromUtf8(p.readAllStandardError())};
    };
    const CliRun written = withUmask077(folder + "qkadmin.prom");
    EXPECT_EQ(written.exitCode, 0) << written.err.toStdString();
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(folder + "qkadmin.prom").constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_EQ(HealthMetrics::parse(TestFiles::read(folder + "qkadmin.prom"))
                  .value("qkadmin_check_status{company=\"setup\",check=\"baza\"}", -1),
              3);
    // A file it cannot write: said, and the exit status says so.
    const CliRun refused = withUmask077(folder + "brak/qkadmin.prom");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.contains("qkadmin-cli health: cannot write " + folder + "brak/qkadmin.prom"))
        << refused.err.toStdString();
}
