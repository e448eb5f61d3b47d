// Backup, restore, validation, connection reset and de-archiving against the real server.
#include "backup/BackupOps.h"
#include "common/RecordedLaunches.h"
#include "common/RecordingOperator.h"
#include "common/TestDb.h"
#include "common/TestFiles.h"
#include "common/TestModule.h"
#include "core/MainD.h"
#include "db/Errors.h"
#include "db/Query.h"
#include "db/Transaction.h"
#include "platform/Archiver.h"
#include "platform/Clock.h"
#include "platform/FolderLock.h"
#include "platform/IniFile.h"
#include "platform/Signals.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <memory>
#include <sys/stat.h>

namespace {

// A data module over a fresh sample database, after its first activation.
struct Module : TestModule {
    explicit Module(const QString &dbFolder = TestDb::createDatabase()) : TestModule(dbFolder) { started(); }
};

bool waitForFile(const QString &path, int ms = 15000) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        if (QFileInfo(path).exists() && QFileInfo(path).size() > 0)
            return true;
        QThread::msleep(50);
    }
    return false;
}

} // namespace

TEST(ArchiveStamp, DateAndTwentyFourHourClock) {
    EXPECT_EQ(BackupOps::archiveStamp(QDateTime(QDate(2022, 4, 9), QTime(9, 5))), QStringLiteral("22040909"));
    EXPECT_EQ(BackupOps::archiveStamp(QDateTime(QDate(2031, 12, 31), QTime(23, 59, 59))),
              QStringLiteral("31123123"));
    EXPECT_EQ(BackupOps::archiveStamp(QDateTime(QDate(2000, 1, 1), QTime(0, 0))), QStringLiteral("00010100"));
    const Archiver::Launch a = Archiver::command({"a", "22040909", "bazaqk.abk"}, "/dane/qk");
    EXPECT_EQ(QFileInfo(a.program).fileName(), QStringLiteral("arj")); // by its full name, found in PATH
    EXPECT_EQ(a.arguments, QStringList({"a", "22040909", "bazaqk.abk"}));
    EXPECT_EQ(a.workingDirectory, QStringLiteral("/dane/qk"));
    EXPECT_EQ(Archiver::archiveFileName("22040909"), QStringLiteral("22040909.arj"));
}

TEST(Backup, WritesTheFileUnderTheLockFlag) {
    Module m;
    RecordingOperator op;
    QStringList flagsDuringRun;
    op.onLine = [&](Operator::Log, const QString &) {
        if (flagsDuringRun.isEmpty()) // read from a second connection while the service runs
            flagsDuringRun << m.value("select Bila from FJ_BAZA where LP = 1");
    };
    QString flagAtMessage;
    op.onMessage = [&](const RecordingOperator::Message &) {
        flagAtMessage = m.value("select Bila from FJ_BAZA where LP = 1");
    };
    BackupOps::backupDatabase(*m.dm, op);

    EXPECT_EQ(flagsDuringRun, QStringList({"T"}));
    EXPECT_EQ(flagAtMessage, QStringLiteral("T"));
    EXPECT_EQ(m.value("select Bila from FJ_BAZA where LP = 1"), QStringLiteral("N"));
    EXPECT_EQ(op.texts(), QStringList({"Kopiowanie Bazy zakończono pomyślnie ..."}));
    const QStringList memo = op.log(Operator::Log::Backup);
    ASSERT_GE(memo.size(), 3);
    EXPECT_EQ(memo.last(), QString());
    EXPECT_TRUE(
        memo[memo.size() - 2].startsWith(QStringLiteral("gbak:closing file, committing, and finishing")));
    EXPECT_EQ(op.lockFlag, false);
    EXPECT_EQ(op.events, QStringList({"busy", "message", "idle"}));
    EXPECT_FALSE(m.dm->IBBackup.active());
    EXPECT_TRUE(m.dm->EmployeeDb.connected());
    const QFileInfo first(m.folder + "bazaqk.abk");
    ASSERT_TRUE(first.exists());

    // A second backup overwrites the file.
    m.exec("insert into FJ_TYPD (DOKTYP, NAZWA) values ('ZZ', 'Nowy typ z długą nazwą dokumentu')");
    QFile::remove(m.folder + "marker");
    RecordingOperator op2;
    BackupOps::backupDatabase(*m.dm, op2);
    EXPECT_EQ(op2.log(Operator::Log::Backup).last(), QString());
    EXPECT_TRUE(QFileInfo(m.folder + "bazaqk.abk").lastModified() >= first.lastModified());
}

TEST(Backup, UnreachableDatabaseChangesNothing) {
    Module m;
    m.dm->EmployeeDb.close();
    m.dm->Settings.DatabaseFolder = m.folder + "brak/";
    m.dm->EmployeeDb.setDatabaseName(m.folder + "brak/bazaqk.adb");
    RecordingOperator op;
    op.logs[Operator::Log::Backup] = QStringList{"earlier output"};
    EXPECT_THROW(BackupOps::backupDatabase(*m.dm, op), EngineError);
    EXPECT_TRUE(op.nothingShown());
    EXPECT_EQ(op.log(Operator::Log::Backup), QStringList({"earlier output"}));
    EXPECT_FALSE(m.dm->IBProperties.active());
    EXPECT_EQ(m.value("select Bila from FJ_BAZA where LP = 1"), QStringLiteral("N"));

    Module u;
    u.dm->IBProperties.serverName = QStringLiteral("127.0.0.2"); // nobody listens there
    RecordingOperator op3;
    EXPECT_THROW(BackupOps::backupDatabase(*u.dm, op3), EngineError);
    EXPECT_TRUE(op3.nothingShown());
    EXPECT_EQ(u.value("select Bila from FJ_BAZA where LP = 1"), QStringLiteral("N"));
}

TEST(Backup, FailingServiceLeavesTheFlagSet) {
    Module m;
    m.dm->IBBackup.databaseName = m.folder + "brak.adb";
    RecordingOperator op;
    EXPECT_THROW(BackupOps::backupDatabase(*m.dm, op), EngineError);
    EXPECT_EQ(m.value("select Bila from FJ_BAZA where LP = 1"), QStringLiteral("T"));
    EXPECT_FALSE(QFileInfo::exists(m.folder + "bazaqk.abk"));
    EXPECT_EQ(op.lockFlag, true);
    EXPECT_TRUE(op.messages.isEmpty());
    EXPECT_FALSE(op.busy);
    EXPECT_FALSE(m.dm->IBBackup.active());
}

namespace {

// Backs up, damages the data pages of the monthly tables and backs up again: the second backup
// fails part way, and the first must still be there byte for byte.
void failedBackupKeepsTheLastGoodOne(const QString &folder, const QString &protocol) {
    TestModule m(folder, protocol);
    m.started();
    RecordingOperator op;
    BackupOps::backupDatabase(*m.dm, op);
    const QByteArray good = TestFiles::read(folder + "bazaqk.abk");
    ASSERT_GT(good.size(), 1000);

    QList<int> monthly;
    Query &q = m.dm->IBQuery1;
    q.setSql("select RDB$RELATION_ID from RDB$RELATIONS where RDB$RELATION_NAME starting with 'FJ_DOK' "
             "or RDB$RELATION_NAME starting with 'FJ_ZAP'");
    for (q.open(); !q.eof(); q.next())
        monthly << q.field(0).asInteger();
    q.close();
    m.dm->EmployeeDb.close();
    ASSERT_GT(TestDb::damageDataPages(folder + "bazaqk.adb", monthly), 0);

    RecordingOperator failed;
    EXPECT_THROW(BackupOps::backupDatabase(*m.dm, failed), EngineError);
    EXPECT_EQ(TestFiles::read(folder + "bazaqk.abk"), good);
    EXPECT_FALSE(QFileInfo::exists(BackupOps::partialBackupName(folder + "bazaqk.abk")));
    EXPECT_EQ(m.dm->IBBackup.backupFiles, QStringList({folder + "bazaqk.abk"}));
    EXPECT_TRUE(failed.messages.isEmpty());
    EXPECT_EQ(failed.lockFlag, true); // the flag stays set
    m.dm->shutDown();
}

} // namespace

// The server and the engine meet a damaged database here (an internal consistency check): these run
// alone (the "Serial" suites), with nothing else talking to the server meanwhile.
TEST(SerialDamagedDatabase, FailedBackupKeepsTheLastGoodBackupOnTheServer) {
    failedBackupKeepsTheLastGoodOne(TestDb::createDatabase(), QStringLiteral("T"));
}

TEST(SerialDamagedDatabase, FailedBackupKeepsTheLastGoodBackupEmbedded) {
    failedBackupKeepsTheLastGoodOne(TestDb::createEmbeddedDatabase(), QStringLiteral("L"));
}

TEST(Backup, ProtocolLettersSAndNReachTheServicesOverTcp) {
    for (const char *letter : {"S", "n"}) {
        TestModule m(TestDb::createDatabase(), QLatin1String(letter));
        m.started();
        RecordingOperator op;
        BackupOps::backupDatabase(*m.dm, op);
        EXPECT_EQ(op.texts(), QStringList({"Kopiowanie Bazy zakończono pomyślnie ..."})) << letter;
        EXPECT_GT(QFileInfo(m.folder + "bazaqk.abk").size(), 1000) << letter;
        m.dm->shutDown();
    }
}

TEST(Backup, SuccessReplacesTheBackupAndLeavesNoPartialFile) {
    Module m;
    TestFiles::write(m.folder + "bazaqk.abk", "stara kopia");
    TestFiles::write(BackupOps::partialBackupName(m.folder + "bazaqk.abk"), "resztka"); // of a killed run
    RecordingOperator op;
    BackupOps::backupDatabase(*m.dm, op);
    EXPECT_TRUE(TestFiles::read(m.folder + "bazaqk.abk").size() > 1000);
    EXPECT_FALSE(QFileInfo::exists(BackupOps::partialBackupName(m.folder + "bazaqk.abk")));
    EXPECT_EQ(QFileInfo(m.folder + "bazaqk.abk").owner(),
              QStringLiteral("firebird")); // written by the server
}

TEST(Restore, BringsBackTheBackedUpDatabaseAndArchivesTheBackup) {
    Module m;
    RecordingOperator op;
    BackupOps::backupDatabase(*m.dm, op);
    m.exec("update FJ_BAZA set FIRMA = 'Zmieniona po kopii' where LP = 1");
    m.exec("delete from FJ_ZAP3");
    const QString zap3 = TestDb::scalar(m.folder, "select count(*) from FJ_DOK3");

    RecordedLaunches launches;
    Clock::setOverride(QDateTime(QDate(2022, 4, 9), QTime(9, 5)));
    RecordingOperator r;
    BackupOps::restoreDatabase(*m.dm, r);
    Clock::setOverride(QDateTime());

    EXPECT_NE(m.value("select FIRMA from FJ_BAZA where LP = 1"), QStringLiteral("Zmieniona po kopii"));
    EXPECT_NE(m.value("select count(*) from FJ_ZAP3"), QStringLiteral("0"));
    EXPECT_EQ(m.value("select count(*) from FJ_DOK3"), zap3.trimmed());
    EXPECT_EQ(m.value("select Bila from FJ_BAZA where LP = 1"), QStringLiteral("N")); // the backup held 'T'
    EXPECT_EQ(r.log(Operator::Log::Backup).last(), QString());
    EXPECT_TRUE(r.log(Operator::Log::Backup).join('\n').contains(QStringLiteral("gbak:")));
    ASSERT_EQ(launches.launches.size(), 1);
    EXPECT_EQ(QFileInfo(launches.launches[0].program).fileName(), QStringLiteral("arj"));
    // The archive copy holds the backup with its digest.
    EXPECT_EQ(launches.launches[0].arguments,
              QStringList({"a", "22040909", "bazaqk.abk", "bazaqk.abk.sha256"}));
    EXPECT_EQ(launches.launches[0].workingDirectory, m.folder.left(m.folder.size() - 1));
    EXPECT_GE(launches.launches[0].heldLock, 0); // arj keeps the folder locked until it has filed the backup
    // The replaced database is kept under the restore's own dated name, named in the memo and the message.
    const QString kept = m.folder + "bazaqk-przed-odtworzeniem-20220409-090500.adb";
    {
        Database old;
        old.setDatabaseName(kept);
        old.params = TestDb::connectionParams();
        Transaction tr(&old);
        old.defaultTransaction = &tr;
        Query q(QStringLiteral("q"), &old, &tr);
        q.setSql(QStringLiteral("select FIRMA from FJ_BAZA where LP = 1"));
        q.open();
        EXPECT_EQ(q.field(0).asString().trimmed(), QStringLiteral("Zmieniona po kopii"));
        q.close();
        q.setSql(QStringLiteral("select count(*) from FJ_ZAP3"));
        q.open();
        EXPECT_EQ(q.field(0).asString(), QStringLiteral("0"));
        q.close();
        old.close();
    }
    EXPECT_FALSE(QFileInfo::exists(m.folder + "bazaqk-odtwarzana.adb"));
    EXPECT_TRUE(
        r.log(Operator::Log::Backup).contains(QStringLiteral("Poprzednia baza zachowana w pliku ") + kept));
    EXPECT_EQ(
        r.texts(),
        QStringList({"Odtwarzanie Bazy zakończono pomyślnie ...\r\rPoprzednia baza zachowana w pliku " + kept,
                     "Powstał dodatkowy plik kopii o nazwie 22040909.arj\r\rUwaga .... nastąpi teraz "
                     "automatyczne wyjście z programu ...."}));
    EXPECT_EQ(r.endCalls, 1);
    EXPECT_EQ(r.events.last(), QStringLiteral("end"));
    EXPECT_TRUE(m.dm->EmployeeDb.connected());
}

// A signal while the restore's closing message is up (the window then closes it) still puts the lock flag
// back on the restored database; only the archive copy is left undone, and said so.
TEST(Restore, ASignalDuringItsClosingMessageStillPutsTheFlagBack) {
    GTEST_FLAG_SET(death_test_style, "threadsafe"); // the signal stays in a process of its own
    EXPECT_EXIT(
        {
            Signals::install();
            Module m;
            RecordingOperator op;
            BackupOps::backupDatabase(*m.dm, op);
            RecordedLaunches launches;
            RecordingOperator r;
            r.onMessage = [](const RecordingOperator::Message &said) {
                if (said.text.startsWith(QStringLiteral("Odtwarzanie Bazy zakończono pomyślnie")))
                    std::raise(SIGTERM);
            };
            BackupOps::restoreDatabase(*m.dm, r);
            const QString last = r.texts().value(r.texts().size() - 1);
            const bool ok =
                m.value("select Bila from FJ_BAZA where LP = 1") == QStringLiteral("N") &&
                launches.launches.isEmpty() &&
                last.endsWith(QStringLiteral("nie dokończono:\r- dodatkowy plik kopii w archiwum: "
                                             "nie powstał"));
            std::_Exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(Restore, AsksFirstAndANoChangesNothing) {
    EXPECT_EQ(
        BackupOps::restoreQuestion("/dane/qk/bazaqk.abk", QDateTime(QDate(2026, 12, 8), QTime(23, 5, 41))),
        QStringLiteral("Odtworzyć bazę z kopii bazaqk.abk z dnia 2026-12-08 23:05? Zmiany wprowadzone po tej "
                       "chwili zostaną utracone."));
    EXPECT_EQ(
        BackupOps::restoreQuestion("/dane/qk/bazaqk.abk", QDateTime()),
        QStringLiteral(
            "Odtworzyć bazę z kopii bazaqk.abk? Zmiany wprowadzone po jej utworzeniu zostaną utracone."));

    Module m;
    RecordingOperator op;
    BackupOps::backupDatabase(*m.dm, op);
    m.exec("update FJ_BAZA set FIRMA = 'po kopii' where LP = 1");
    RecordedLaunches launches;
    RecordingOperator no;
    no.answer = false;
    EXPECT_FALSE(BackupOps::restoreDatabase(*m.dm, no));
    ASSERT_EQ(no.questions.size(), 1);
    EXPECT_TRUE(no.questions[0].startsWith(QStringLiteral("Odtworzyć bazę z kopii bazaqk.abk z dnia ")));
    EXPECT_TRUE(no.messages.isEmpty());
    EXPECT_TRUE(no.nothingShown()); // no lock flag shown
    EXPECT_TRUE(launches.launches.isEmpty());
    EXPECT_EQ(no.endCalls, 0);
    EXPECT_EQ(m.value("select FIRMA from FJ_BAZA where LP = 1"), QStringLiteral("po kopii"));
    EXPECT_EQ(m.value("select Bila from FJ_BAZA where LP = 1"), QStringLiteral("N"));
}

TEST(Restore, FailingServiceKeepsTheProgramRunning) {
    Module m;
    RecordedLaunches launches;
    RecordingOperator r;
    RecordingOperator backingUp;
    BackupOps::backupDatabase(*m.dm, backingUp);
    // A whole backup, but the server may not write in the folder: the restore service fails, and the
    // live database is not touched.
    const QString documents = m.value("select count(*) from FJ_DOK3");
    QFile::setPermissions(m.folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                        QFileDevice::ReadOther | QFileDevice::ExeOther);
    EXPECT_THROW(BackupOps::restoreDatabase(*m.dm, r), EngineError);
    ::chmod(QFile::encodeName(m.folder).constData(), 01777);
    EXPECT_FALSE(QFileInfo::exists(m.folder + "bazaqk-odtwarzana.adb"));
    EXPECT_TRUE(BackupOps::keptCopies(m.folder).isEmpty());
    EXPECT_EQ(m.value("select count(*) from FJ_DOK3"), documents);
    EXPECT_EQ(r.endCalls, 0);
    EXPECT_TRUE(launches.launches.isEmpty());
    EXPECT_TRUE(r.messages.isEmpty());
    EXPECT_EQ(r.lockFlag, true);
    EXPECT_TRUE(m.dm->EmployeeDb.connected()); // opened again
    EXPECT_EQ(m.value("select Bila from FJ_BAZA where LP = 1"), QStringLiteral("T"));
}

TEST(Restore, RealArchiverMakesTheCopyAndDearchivingBringsItBack) {
    Module m;
    RecordingOperator op;
    BackupOps::backupDatabase(*m.dm, op);
    const QByteArray backup = [&] {
        QFile f(m.folder + "bazaqk.abk");
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();
    ASSERT_FALSE(backup.isEmpty());
    Clock::setOverride(QDateTime(QDate(2022, 4, 9), QTime(9, 5)));
    RecordingOperator r;
    BackupOps::restoreDatabase(*m.dm, r);
    Clock::setOverride(QDateTime());
    const QString archive = m.folder + "22040909.arj";
    ASSERT_TRUE(waitForFile(archive)) << "arj made no archive";
    // arj holds the folder's lock until it has written the archive.
    QElapsedTimer arj;
    arj.start();
    while (FolderLock::isHeld(m.folder) && arj.elapsed() < 15000)
        QThread::msleep(20);

    // From a folder whose name has a blank: the name reaches arj as one argument.
    const QString kept = m.folder + "kopie z grudnia/";
    ASSERT_TRUE(QDir().mkpath(kept));
    ASSERT_TRUE(QFile::rename(archive, kept + "22040909.arj"));
    QFile::remove(m.folder + "bazaqk.abk");
    RecordingOperator d;
    BackupOps::startDearchiving(*m.dm, d, QStringLiteral("  ") + kept + QStringLiteral("22040909.arj "));
    QElapsedTimer t;
    t.start();
    while (d.messages.isEmpty() && t.elapsed() < 15000) {
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }
    ASSERT_EQ(d.messages.size(), 1);
    EXPECT_TRUE(d.messages[0].text.startsWith("Dearchiwizacja pliku " + kept +
                                              "22040909.arj zakończona pomyślnie ...\r"
                                              "Rozpakowano bazaqk.abk: " +
                                              QString::number(backup.size()) + " bajtów"));
    EXPECT_TRUE(d.messages[0].text.contains(QStringLiteral("suma kontrolna zgodna")));
    EXPECT_EQ(TestFiles::read(m.folder + "bazaqk.abk"), backup);

    // A damaged archive: arj's failure reaches the operator.
    TestFiles::write(kept + "22040909.arj", "to nie jest archiwum");
    RecordingOperator bad;
    BackupOps::startDearchiving(*m.dm, bad, kept + "22040909.arj");
    t.restart();
    while (bad.messages.isEmpty() && t.elapsed() < 15000) {
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }
    ASSERT_EQ(bad.messages.size(), 1);
    EXPECT_EQ(bad.messages[0].kind, Operator::Box::Error);
    EXPECT_TRUE(bad.messages[0].text.startsWith("Dearchiwizacja pliku " + kept +
                                                "22040909.arj nie powiodła się (arj: kod "));
}

TEST(Dearchiving, EmptyNameIsRefusedWithAWarning) {
    Module m;
    RecordedLaunches launches;
    RecordingOperator op;
    BackupOps::startDearchiving(*m.dm, op, QStringLiteral("   "));
    ASSERT_EQ(op.messages.size(), 1);
    EXPECT_EQ(op.messages[0].kind, Operator::Box::Warning);
    EXPECT_EQ(
        op.messages[0].text,
        QStringLiteral("Brak wybranego pliku do rozpakowania ...skorzystaj z przycisku   [Wybór pliku]"));
    EXPECT_TRUE(launches.launches.isEmpty());
    BackupOps::startDearchiving(*m.dm, op, QStringLiteral("/arch/22 04.arj"));
    ASSERT_EQ(launches.launches.size(), 1);
    EXPECT_EQ(launches.launches[0].arguments, QStringList({"e", "-p", "-y", "/arch/22 04.arj", "bazaqk.abk",
                                                           "bazaqk.abk.sha256"})); // one argument
}

TEST(Dearchiving, TheOperatorHearsWhenArjHasEndedAndHow) {
    Module m;
    RecordedLaunches launches;
    RecordingOperator op;
    // What arj will bring: a backup this program wrote.
    RecordingOperator backingUp;
    BackupOps::backupDatabase(*m.dm, backingUp);
    const QString backup = m.dm->Settings.backupFileName();
    ASSERT_TRUE(QFile::rename(backup, backup + ".arj-brings"));
    BackupOps::startDearchiving(*m.dm, op, QStringLiteral("/arch/22040909.arj"));
    ASSERT_EQ(launches.finished.size(), 1);
    EXPECT_TRUE(op.messages.isEmpty()); // nothing while it works
    // One backup operation at a time: the folder is locked until arj has ended.
    EXPECT_THROW(BackupOps::startDearchiving(*m.dm, op, QStringLiteral("/arch/22040910.arj")), QkError);
    EXPECT_THROW(BackupOps::backupDatabase(*m.dm, op), QkError);
    ASSERT_TRUE(QFile::rename(backup + ".arj-brings", launches.launches[0].workingDirectory + "bazaqk.abk"));
    launches.finished[0](0);
    BackupOps::startDearchiving(*m.dm, op, QStringLiteral("/arch/22040910.arj"));
    ASSERT_EQ(launches.finished.size(), 2);
    launches.finished[1](6);
    ASSERT_EQ(op.messages.size(), 2);
    EXPECT_EQ(op.messages[0].kind, Operator::Box::Information);
    EXPECT_TRUE(op.messages[0].text.startsWith(
        QStringLiteral("Dearchiwizacja pliku /arch/22040909.arj zakończona pomyślnie ...\r")));
    EXPECT_TRUE(QFileInfo(backup).isFile());
    EXPECT_EQ(op.messages[1].kind, Operator::Box::Error);
    EXPECT_EQ(op.messages[1].text,
              QStringLiteral("Dearchiwizacja pliku /arch/22040910.arj nie powiodła się (arj: kod 6)"));

    launches.starts = false; // no arj installed
    RecordingOperator missing;
    BackupOps::startDearchiving(*m.dm, missing, QStringLiteral("/arch/22040909.arj"));
    ASSERT_EQ(missing.messages.size(), 1);
    EXPECT_EQ(missing.messages[0].kind, Operator::Box::Error);
    EXPECT_EQ(missing.messages[0].text,
              QStringLiteral("Nie można uruchomić programu arj: dearchiwizacja nie rozpoczęła się."));
}

TEST(Restore, AnArchiverThatCannotStartIsReportedAsAnError) {
    Module m;
    RecordingOperator op;
    BackupOps::backupDatabase(*m.dm, op);
    RecordedLaunches launches;
    launches.starts = false;
    RecordingOperator r;
    BackupOps::restoreDatabase(*m.dm, r);
    ASSERT_EQ(r.messages.size(), 2);
    EXPECT_EQ(r.messages[1].kind, Operator::Box::Error);
    EXPECT_EQ(r.messages[1].text,
              QStringLiteral("Nie można uruchomić programu arj: dodatkowy plik kopii nie powstał.\r\r"
                             "Uwaga .... nastąpi teraz automatyczne wyjście z programu ...."));
    EXPECT_EQ(r.endCalls, 1); // the restore itself succeeded: the program ends as after any restore
    EXPECT_EQ(m.value("select Bila from FJ_BAZA where LP = 1"), QStringLiteral("N"));
}

TEST(Validation, ShowsItsMessageAndOpensTheConnectionAgain) {
    Module m;
    RecordingOperator op;
    bool connectedAtMessage = false;
    op.onMessage = [&](const RecordingOperator::Message &) {
        connectedAtMessage = m.dm->EmployeeDb.connected();
    };
    BackupOps::validateDatabase(*m.dm, op);
    EXPECT_EQ(op.texts(), QStringList({"Sprawdzenie Bazy nie wykazuje błędów"}));
    EXPECT_TRUE(connectedAtMessage); // the activation after the box reads the control row
    EXPECT_TRUE(m.dm->EmployeeDb.connected());
    EXPECT_FALSE(m.dm->IBValidate.active());
    EXPECT_FALSE(op.busy);
    EXPECT_TRUE(op.nothingShown());

    // Another attachment keeps the server from validating: the error, no message.
    Database other;
    TestDb::connect(other, m.folder);
    RecordingOperator op2;
    EXPECT_THROW(BackupOps::validateDatabase(*m.dm, op2), EngineError);
    EXPECT_TRUE(op2.messages.isEmpty());
    EXPECT_FALSE(op2.busy);
    EXPECT_TRUE(m.dm->EmployeeDb.connected()); // also after a failure
    other.close();
}

TEST(ConnectionReset, ClearsTheWorkstationState) {
    Module m;
    m.exec("update FJ_BAZA set ILE = 5, ftech = 'T', Bila = 'T' where LP = 1");
    m.exec("SET GENERATOR NUM_OPER TO 7");
    RecordingOperator op;
    BackupOps::resetConnections(*m.dm, op);
    EXPECT_EQ(m.value("select ILE || ftech || Bila from FJ_BAZA where LP = 1"), QStringLiteral("0NN"));
    EXPECT_EQ(m.value("select count(*) from FJ_DKSI where TYPR <> '' and BLOK <> 'N'"), QStringLiteral("0"));
    EXPECT_EQ(m.value("select count(*) from FJ_DKSI where TYPR = '' and BLOK = 'T'"), QStringLiteral("2"));
    EXPECT_EQ(m.value("select count(*) from FJ_FLOP"), QStringLiteral("0"));
    EXPECT_EQ(m.value("select count(*) from KOMUN_R"), QStringLiteral("0"));
    EXPECT_EQ(m.value("select gen_id(NUM_OPER, 0) from RDB$DATABASE"), QStringLiteral("0"));
    EXPECT_EQ(op.connectionCount, QStringLiteral("0"));
    EXPECT_EQ(op.connectionCount, QStringLiteral("0"));
    EXPECT_EQ(op.lockFlag, false);
    EXPECT_FALSE(m.dm->EmployeeTran.active());

    // Already empty tables: it still succeeds.
    RecordingOperator again;
    BackupOps::resetConnections(*m.dm, again);
    EXPECT_EQ(again.connectionCount, QStringLiteral("0"));
}

TEST(ConnectionReset, OldDatabaseWithoutKomunRStopsUncommitted) {
    TestDb::Spec spec;
    spec.variant = SampleSchema::Variant::Old;
    Module m(TestDb::createDatabase(spec));
    m.exec("update FJ_BAZA set ILE = 5 where LP = 1");
    RecordingOperator op;
    EXPECT_THROW(BackupOps::resetConnections(*m.dm, op), EngineError);
    EXPECT_TRUE(m.dm->EmployeeTran.active()); // the statements already run wait in the open transaction
    EXPECT_TRUE(op.nothingShown());
    m.dm->EmployeeTran.rollback();
    EXPECT_EQ(m.value("select ILE from FJ_BAZA where LP = 1"), QStringLiteral("5"));
}

TEST(Restore, NeverWhileAnotherAttachmentIsOpen) {
    Module m;
    RecordingOperator op;
    BackupOps::backupDatabase(*m.dm, op);
    m.exec("update FJ_BAZA set FIRMA = 'po kopii' where LP = 1");
    RecordedLaunches launches;
    auto noNewFiles = [&] {
        EXPECT_FALSE(QFileInfo::exists(BackupOps::restoringName(m.folder)));
        EXPECT_TRUE(BackupOps::keptCopies(m.folder).isEmpty());
    };

    // An attachment open before: refused before anything changes, the count said.
    Database other;
    TestDb::connect(other, m.folder);
    RecordingOperator before;
    try {
        BackupOps::restoreDatabase(*m.dm, before);
        ADD_FAILURE();
    } catch (const QkError &e) {
        EXPECT_TRUE(e.message().contains(
            QStringLiteral("jest używana: otwartych połączeń innych programów lub stanowisk: 1")))
            << e.message().toStdString();
    }
    EXPECT_TRUE(before.nothingShown()); // the lock flag never set
    EXPECT_EQ(m.value("select Bila from FJ_BAZA where LP = 1"), QStringLiteral("N"));
    noNewFiles();
    other.close();

    // One that attaches while the restore runs: the restored file does not take the live one's place.
    Database late;
    RecordingOperator during;
    during.onLine = [&](Operator::Log, const QString &) {
        if (!late.connected())
            TestDb::connect(late, m.folder);
    };
    EXPECT_THROW(BackupOps::restoreDatabase(*m.dm, during), QkError);
    late.close();
    EXPECT_EQ(m.value("select FIRMA from FJ_BAZA where LP = 1"), QStringLiteral("po kopii"));
    EXPECT_EQ(during.endCalls, 0);
    EXPECT_TRUE(launches.launches.isEmpty());
    noNewFiles();
    EXPECT_TRUE(m.dm->EmployeeDb.connected());

    // Alone: restored, the replaced database kept.
    RecordingOperator alone;
    EXPECT_TRUE(BackupOps::restoreDatabase(*m.dm, alone));
    EXPECT_NE(m.value("select FIRMA from FJ_BAZA where LP = 1"), QStringLiteral("po kopii"));
    EXPECT_EQ(BackupOps::keptCopies(m.folder).size(), 1);
}

TEST(OneAtATime, AnotherBackupOperationOnTheFolderIsRefusedAndChangesNothing) {
    Module m;
    RecordingOperator op;
    BackupOps::backupDatabase(*m.dm, op);
    const QByteArray backup = TestFiles::read(m.folder + "bazaqk.abk");

    // Another process holds the folder (the nightly run, a second window).
    QProcess holder;
    holder.start(QStringLiteral("flock"), {QStringLiteral("--no-fork"), m.folder + FolderLock::fileName(),
                                           QStringLiteral("sleep"), QStringLiteral("60")});
    ASSERT_TRUE(holder.waitForStarted());
    QElapsedTimer t;
    t.start();
    while (FolderLock::tryTake(m.folder) && t.elapsed() < 5000)
        QThread::msleep(20);
    ASSERT_EQ(FolderLock::tryTake(m.folder), nullptr);

    RecordingOperator second;
    RecordedLaunches launches;
    for (const auto &operation : std::initializer_list<std::function<void()>>{
             [&] { BackupOps::backupDatabase(*m.dm, second); },
             [&] { BackupOps::restoreDatabase(*m.dm, second); },
             [&] { BackupOps::startDearchiving(*m.dm, second, "/arch/22040909.arj"); }}) {
        try {
            operation();
            ADD_FAILURE();
        } catch (const QkError &e) {
            EXPECT_TRUE(e.message().startsWith(
                QStringLiteral("Trwa inna operacja na kopii bazy w katalogu ") + m.folder));
        }
    }
    EXPECT_TRUE(second.nothingShown());
    EXPECT_TRUE(second.questions.isEmpty());
    EXPECT_TRUE(launches.launches.isEmpty());
    EXPECT_EQ(TestFiles::read(m.folder + "bazaqk.abk"), backup);
    EXPECT_EQ(m.value("select Bila from FJ_BAZA where LP = 1"), QStringLiteral("N"));

    // Killed, the holder's lock goes with it.
    holder.kill();
    holder.waitForFinished();
    EXPECT_NO_THROW(BackupOps::backupDatabase(*m.dm, second));
}
