// Backups of the older servers an office moves from (formats 6 to 9): the walk reads them as Firebird
// 3's own restore does, which restores every one the test-side writer makes; the program restores
// them; cut ones never reach the engine; a newer server's backup is refused by name.
#include "backup/BackupFormat.h"
#include "backup/BackupGate.h"
#include "backup/BackupOps.h"
#include "common/CliRun.h"
#include "common/RecordingOperator.h"
#include "common/TestFiles.h"
#include "common/TestModule.h"
#include "oldbackup/OldBackupWriter.h"
#include "platform/Errors.h"
#include "platform/IniFile.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

struct ToolRun {
    int exitCode = -1;
    QString out;
};

// A Firebird tool run with the embedded engine, as root, with lock files of its own: never the
// shared server.
ToolRun embedded(const QString &program, const QStringList &args, const QString &lockFolder,
                 const QByteArray &input = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!lockFolder.isEmpty())
        env.insert(QStringLiteral("FIREBIRD_LOCK"), lockFolder);
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(300000))
        return {};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAll())};
}

// What the restored database holds, one value a line, read by the server's own isql.
const char *const kContents = R"(set list on;
select BILA, octet_length(trim(FIRMA)) as FIRMA from FJ_BAZA where LP = 1;
select count(*) as WIERSZE from TA_WSZ;
select ID, I, B, F, D, N, DE, ascii_val(C) as C, octet_length(V) as V, DT, TM, TS, octet_length(BT) as BT, octet_length(BB) as BB,
       A[1] as A1, A[3] as A3, K, KW, S from TA_WSZ where ID = 1;
select I, N, KW, BB from TA_WSZ where ID = 2;
select char_length(RDB$MESSAGE) as KOMUNIKAT from RDB$EXCEPTIONS where RDB$EXCEPTION_NAME = 'E_ZLE';
select gen_id(NUM_OPER, 0) as GENERATOR, (select count(*) from V_BAZA) as WIDOK from RDB$DATABASE;
select Y from P_ILE(4);
select RDB$EXTERNAL_FILE as PLIK from RDB$RELATIONS where RDB$RELATION_NAME = 'TA_EXD';
insert into TA_WSZ (ID, KW) values (9, 0);
select I as WYZWALACZ from TA_WSZ where ID = 9;
rollback;
)";

QString contents(const QString &database, const QString &lockFolder) {
    const ToolRun r =
        embedded(QStringLiteral("isql-fb"), {QStringLiteral("-q"), database}, lockFolder, kContents);
    return r.out.simplified();
}

// The values the writer put in, as isql lists them.
QString expectedContents(const OldBackupWriter::Options &o) {
    return QStringLiteral("BILA N FIRMA 21 WIERSZE %1 "
                          "ID 1 I 7 B 9007199254740993 F 1.5 D -2.250000000000000 N 1234567.89 DE -1.234 "
                          "C 185 V 17 DT 2009-06-15 TM 12:34:56.7890 TS 2009-06-15 12:34:56.0000 BT 24 BB %2 "
                          "A1 10 A3 30 K 201-01 KW 100.50 S 14 "
                          "I <null> N <null> KW 0.00 BB <null> "
                          "KOMUNIKAT %3 GENERATOR 42 WIDOK 1 Y 5 PLIK %4 WYZWALACZ 43")
        .arg(OldBackupWriter::rowsOfTable(o))
        .arg(OldBackupWriter::kLargeBlobBytes)
        .arg(OldBackupWriter::exceptionMessage(o.format).size())
        .arg(o.externalFile);
}

// The command line as a scheduler runs it, on the database folder's settings with the embedded engine.
ToolRun cli(const QStringList &args, const QString &folder) {
    const TestCli::CliRun r = TestCli::cli(args, TestCli::settingsFor(folder, QStringLiteral("L")));
    return {r.exitCode, r.out + r.err};
}

// What a restore says when it refuses the backup; before that nothing asked, flagged or written.
QString refusal(TestModule &m) {
    const QString live = m.dm->Settings.fullDatabaseName();
    const QByteArray liveBytes = TestFiles::read(live);
    RecordingOperator op;
    QString said = QStringLiteral("<restored>");
    try {
        BackupOps::restoreDatabase(*m.dm, op);
    } catch (const QkError &e) {
        said = e.message();
    }
    EXPECT_TRUE(op.questions.isEmpty() && op.nothingShown()) << said.toStdString();
    EXPECT_FALSE(QFileInfo::exists(BackupOps::restoringName(m.folder)));
    EXPECT_TRUE(BackupOps::keptCopies(m.folder).isEmpty());
    EXPECT_EQ(TestFiles::read(live), liveBytes);
    EXPECT_TRUE(said.endsWith(QStringLiteral("Nic nie zostało zmienione."))) << said.toStdString();
    return said;
}

} // namespace

TEST(OldFormats, EveryFormatWalksWholeAndTheServersOwnRestoreRestoresIt) {
    const QString folder = TestDb::newFolder(), lock = folder + QStringLiteral("lock");
    QDir().mkpath(lock);
    for (int format = 6; format <= 10; ++format) {
        // Each format both ways: in XDR and compressed as gbak writes by default, and plain; with the
        // attributes a later format frames as text or BLR, which this format's restore skips.
        for (const bool transportable : {true, false}) {
            OldBackupWriter::Options o;
            o.format = format;
            o.transportable = transportable;
            o.compressed = transportable;
            o.laterAttributes = !transportable;
            o.externalFile = folder + QStringLiteral("exd%1.txt").arg(format);
            const QString name = QStringLiteral("f%1%2").arg(format).arg(transportable ? "x" : "n");
            const QByteArray bytes = OldBackupWriter::write(o);
            const BackupFormat::Walk w = BackupFormat::walk(bytes);
            ASSERT_TRUE(w.whole) << name.toStdString() << ": " << w.stop.toStdString();
            EXPECT_EQ(w.format, format);
            EXPECT_EQ(w.transportable, transportable);
            EXPECT_EQ(w.sourceDatabase, OldBackupWriter::sourceDatabase(format));
            EXPECT_EQ(w.backupDate, OldBackupWriter::backupDate(format));
            EXPECT_EQ(w.relations, QStringList({"FJ_BAZA", "TA_WSZ", "TA_EXD", "V_BAZA"}));
            ASSERT_EQ(w.tables.size(), 4);
            EXPECT_EQ(w.tables[0].records, 1);
            EXPECT_EQ(w.tables[1].records, OldBackupWriter::rowsOfTable(o));

            // The judge: Firebird 3's own restore, embedded, given only what the walk accepted.
            const QString backup = folder + name + QStringLiteral(".fbk"),
                          database = folder + name + QStringLiteral(".fdb");
            TestFiles::write(backup, bytes);
            const ToolRun gbak = embedded(
                QStringLiteral("gbak"), {QStringLiteral("-c"), QStringLiteral("-v"), backup, database}, lock);
            ASSERT_EQ(gbak.exitCode, 0) << name.toStdString() << "\n" << gbak.out.toStdString();
            EXPECT_TRUE(gbak.out.contains(QStringLiteral("finishing, closing, and going home")))
                << gbak.out.toStdString();
            EXPECT_EQ(contents(database, lock), expectedContents(o)) << name.toStdString();
        }
        // The small file that seeds the fuzzer restores too, also with its array column's lower bound
        // coded 0 (the end of a record elsewhere): the restore reads the bounds after the number of
        // dimensions whatever their codes, into room for 16.
        OldBackupWriter::Options o;
        o.format = format;
        o.small = true;
        QByteArray bytes = OldBackupWriter::write(o);
        const QByteArray dimensions("\x1d\x04\x01\x00\x00\x00\x20", 7); // one, then the lower bound
        const qsizetype at = bytes.indexOf(dimensions, bytes.indexOf(QByteArray("\x04\x01\x01"
                                                                                "A")));
        ASSERT_GT(at, 0);
        bytes[at + 6] = '\0';
        ASSERT_TRUE(BackupFormat::walk(bytes).whole);
        const QString backup = folder + QStringLiteral("s%1.fbk").arg(format);
        TestFiles::write(backup, bytes);
        const ToolRun gbak = embedded(QStringLiteral("gbak"),
                                      {QStringLiteral("-c"), backup, backup + QStringLiteral(".fdb")}, lock);
        EXPECT_EQ(gbak.exitCode, 0) << gbak.out.toStdString();
        bytes[at + 2] = 17;
        EXPECT_TRUE(
            BackupFormat::walk(bytes).stop.contains(QStringLiteral("kolumna o 17 wymiarach (najwyżej 16)")));
        // So are an array's in its data.
        const qsizetype array = bytes.indexOf(QByteArray("\x0e\x04\x01\x00\x00\x00\x0f", 7));
        ASSERT_GT(array, at);
        bytes[at + 2] = 1;
        bytes[array + 2] = 17;
        EXPECT_TRUE(
            BackupFormat::walk(bytes).stop.contains(QStringLiteral("tablica o 17 wymiarach (najwyżej 16)")));
    }
}

TEST(OldFormats, EachOlderFormatRestoresThroughTheCommandLine) {
    for (int format = 6; format <= 9; ++format) {
        const QString folder = TestDb::createEmbeddedDatabase();
        OldBackupWriter::Options o;
        o.format = format;
        o.transportable = format % 2 == 0;
        o.compressed = format != 7;
        o.externalFile = folder + QStringLiteral("exd.txt");
        TestFiles::write(folder + QStringLiteral("bazaqk.abk"), OldBackupWriter::write(o));

        const ToolRun inspected = cli({QStringLiteral("inspect-backup")}, folder);
        EXPECT_EQ(inspected.exitCode, 0) << inspected.out.toStdString();
        for (const QString &line :
             {QStringLiteral("Baza źródłowa: ") + OldBackupWriter::sourceDatabase(format),
              QStringLiteral("Data kopii: ") + OldBackupWriter::backupDate(format),
              QStringLiteral("Format: %1 (%2; kopia starszego serwera")
                  .arg(format)
                  .arg(BackupFormat::serverOf(format)),
              QStringLiteral("Tabele i widoki: 4"), QStringLiteral("  FJ_BAZA: 1"),
              QStringLiteral("  TA_WSZ: %1").arg(OldBackupWriter::rowsOfTable(o))})
            EXPECT_TRUE(inspected.out.contains(line)) << line.toStdString() << "\n"
                                                      << inspected.out.toStdString();

        const ToolRun restored = cli({QStringLiteral("restore"), QStringLiteral("--yes")}, folder);
        ASSERT_EQ(restored.exitCode, 0) << format << "\n" << restored.out.toStdString();
        // The operator hears that the database now has this server's structure and what may follow.
        EXPECT_TRUE(restored.out.contains("Kopia pochodziła ze starszego serwera (" +
                                          BackupFormat::serverOf(format) +
                                          "): baza ma teraz strukturę dyskową serwera Firebird 3."))
            << restored.out.toStdString();
        EXPECT_EQ(BackupOps::keptCopies(folder).size(), 1);
        EXPECT_EQ(contents(folder + QStringLiteral("bazaqk.adb"), {}), expectedContents(o)) << format;
    }
}

TEST(OldFormats, CutsInsideAnExternalTablesColumnsAndNewerServersBackupsNeverReachTheEngine) {
    EXPECT_EQ(BackupFormat::serverOf(6), QStringLiteral("InterBase 6 / Firebird 1.x"));
    EXPECT_EQ(BackupFormat::serverOf(9), QStringLiteral("Firebird 2.5"));
    EXPECT_EQ(BackupFormat::serverOf(10), QStringLiteral("Firebird 3"));
    EXPECT_EQ(BackupFormat::serverOf(11), QStringLiteral("Firebird 4 lub 5"));
    EXPECT_EQ(BackupFormat::serverOf(12), QStringLiteral("Firebird 6"));
    EXPECT_TRUE(BackupFormat::olderThanThisServer(6));
    EXPECT_TRUE(BackupFormat::olderThanThisServer(9));
    EXPECT_FALSE(BackupFormat::olderThanThisServer(10));
    EXPECT_FALSE(BackupFormat::olderThanThisServer(5));

    TestModule m(TestDb::createEmbeddedDatabase(), QStringLiteral("L"));
    m.started();
    const QString backup = m.dm->Settings.backupFileName();
    OldBackupWriter::Options o;
    o.format = 7;
    o.externalFile = m.folder + QStringLiteral("exd.txt");
    const QByteArray whole = OldBackupWriter::write(o);
    // Every cut from the external table's first column to the end of its description.
    const qsizetype table = whole.indexOf(QByteArray("\x03\x01\x06TA_EXD")),
                    columns = whole.indexOf(QByteArray("\x04\x01\x05KONTO"), table),
                    end = whole.indexOf(QByteArray("\x09\x03\x01\x06V_BAZA"), columns);
    ASSERT_GT(table, 0);
    ASSERT_GT(columns, table);
    ASSERT_GT(end, columns);
    int cuts = 0;
    for (qsizetype cut = columns + 1; cut <= end; ++cut, ++cuts) {
        TestFiles::write(backup, whole.left(cut));
        EXPECT_TRUE(refusal(m).contains(QStringLiteral("kopia urywa się w kolumnach tabeli TA_EXD"))) << cut;
    }
    EXPECT_GT(cuts, 200);
    TestFiles::write(backup, whole);
    EXPECT_TRUE(BackupGate::inspect(backup).passes());

    // A newer server's format is refused by name as soon as the header gives it.
    o.format = 10;
    const QByteArray current = OldBackupWriter::write(o);
    ASSERT_EQ(current.left(4), QByteArray("\x00\x02\x04\x0a", 4)); // rec_burp, then the format
    const QPair<int, QString> refused[] = {
        {11,
         QStringLiteral("kopia w formacie 11 (Firebird 4 lub 5): ten serwer (Firebird 3) nie odtworzy kopii "
                        "nowszego serwera; odtwórz ją na serwerze Firebird 4 lub 5 albo wykonaj tam kopię w "
                        "formacie, który odczyta Firebird 3 (format 10 lub starszy)")},
        {12, QStringLiteral("kopia w formacie 12 (Firebird 6): ten serwer (Firebird 3) nie odtworzy")},
        {5, QStringLiteral("kopia w formacie 5 (InterBase 4.5 lub 5): odtwarzane są kopie formatów 6–10")}};
    for (const auto &[format, reason] : refused) {
        QByteArray other = current;
        other[3] = char(format);
        const BackupFormat::Walk w = BackupFormat::walk(other);
        EXPECT_FALSE(w.whole);
        EXPECT_EQ(w.format, format);
        EXPECT_EQ(w.stopOffset, 1);
        EXPECT_TRUE(w.stop.contains(reason)) << w.stop.toStdString();
        TestFiles::write(backup, other);
        EXPECT_TRUE(refusal(m).contains(reason));
    }
}
