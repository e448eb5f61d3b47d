// The command-line companion as a scheduler runs it: its effects, output and exit codes.
#include "common/RecordingOperator.h"
#include "common/TestFiles.h"
#include "common/TestModule.h"
#include "exchange/ExchangeOps.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

struct CliRun {
    int exitCode = -1;
    QString out, err;
};

CliRun cli(const QStringList &args, const QString &settings = QString(), const QString &path = QString())
{
    QProcess p;
    if (!path.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PATH"), path);
        p.setProcessEnvironment(env);
    }
    QStringList all;
    if (!settings.isEmpty())
        all << QStringLiteral("--settings") << settings;
    all << args;
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(QString::fromLocal8Bit(qgetenv("QK_CLI")), all);
    if (!p.waitForFinished(300000))
        return {};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

// setup.ini for the command line, naming the database folder.
QString settingsFor(const QString &folder)
{
    const QString ini = TestDb::newFolder() + QStringLiteral("setup.ini");
    IniFile::writeString(ini, "Ogolne", "sciezka", folder.left(folder.size() - 1));
    IniFile::writeString(ini, "Ogolne", "protokol", "T");
    return ini;
}

} // namespace

TEST(Cli, UsageErrorsExitTwo)
{
    ASSERT_FALSE(qgetenv("QK_CLI").isEmpty());
    EXPECT_EQ(cli({}).exitCode, 2);
    const CliRun unknown = cli({"frob"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_TRUE(unknown.err.contains(QStringLiteral("unknown command frob")));
    const CliRun month = cli({"export", "--month", "13"});
    EXPECT_EQ(month.exitCode, 2);
    EXPECT_TRUE(month.err.contains(QStringLiteral("--month takes a month from 1 to 12")));
    EXPECT_EQ(cli({"import"}).exitCode, 2);
    EXPECT_EQ(cli({"backup", "--month", "3"}).exitCode, 2);
    const CliRun help = cli({"import", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains(QStringLiteral("--clear")));
    EXPECT_EQ(cli({"--help"}).exitCode, 0);
}

TEST(Cli, MissingDatabaseFailsWithTheErrorOnStandardError)
{
    const QString ini = settingsFor(TestDb::newFolder() + QStringLiteral("brak/"));
    const CliRun r = cli({"backup"}, ini);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(r.err.trimmed().isEmpty());
    EXPECT_FALSE(r.out.contains(QStringLiteral("zakończono pomyślnie")));
}

TEST(Cli, NightlyBackupWithArchiveCopy)
{
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
    EXPECT_TRUE(noArj.err.contains(QStringLiteral("Nie można uruchomić programu arj: dodatkowy plik kopii nie powstał.")))
        << noArj.err.toStdString();
    EXPECT_FALSE(noArj.out.contains(QStringLiteral("Powstał dodatkowy plik kopii")));
    const CliRun noArjBackup = cli({"backup", "--archive"}, ini, TestDb::newFolder());
    EXPECT_EQ(noArjBackup.exitCode, 1);
}

TEST(Cli, MonthlyExportEqualsTheWindowsAndImportsElsewhere)
{
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

TEST(Cli, Reports)
{
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
