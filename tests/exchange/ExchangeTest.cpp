// The monthly export and import, the input check and the transfer export against the real server.
#include "common/RecordingOperator.h"
#include "common/TestFiles.h"
#include "common/TestModule.h"
#include "db/Errors.h"
#include "exchange/ExchangeLayouts.h"
#include "exchange/ExchangeOps.h"
#include "platform/AnsiCodec.h"
#include "platform/Clock.h"
#include "yearend/YearEndOps.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

// Left-aligned, blank-filled, cut: how the test writes a field by hand.
QString pad(const QString &s, int width) {
    return s.leftJustified(width, QLatin1Char(' '), true);
}

QByteArray records(const QStringList &lines) {
    QByteArray b;
    for (const QString &l : lines)
        b += AnsiCodec::encode(l) + "\r\n";
    return b;
}

// Month 3 of the sample, replaced by a small known dataset.
void knownMonth(const TestModule &m) {
    for (const char *t : {"FJ_DOK3", "FJ_ZAP3", "FJ_ROZR", "FJ_BIL", "FJ_ZPLK"})
        m.exec(QStringLiteral("delete from %1").arg(QLatin1String(t)));
    m.exec("SET GENERATOR NUMEWI_DOK3 TO 56");
    m.exec("insert into FJ_DOK3 (TYPREJ, KONTOW, NUMDOK, NUMPOZ, DATDOK, DOKTYP, DOKNUM, DOKDAT, K_KOD, "
           "K_IDN, K_NAZ, "
           "K_AD1, K_AD2, TERDNI, TERDAT, OPIS1, OPIS2, KTO) values ('K', '201-001', 12, 1, 15, 'FV', "
           "'FV/12/03/2026', "
           "'2026-03-15', '201-001', '5261040828', 'Zakład Usług Łączności Kaczmarek i Wspólnicy Spółka "
           "Komandytowa 1234', "
           "'ul. Źródlana 5', '90-001 Łódź', NULL, NULL, 'Usługa księgowa', NULL, 'Anna Wiśniewska')");
    m.exec("insert into FJ_ZAP3 (NUMEWI, NUMPOZ, STRONA, KONTO, KWOTA, KWORO) values (57, 1, 'W', '201-001', "
           "1234.50, 100)");
    m.exec("insert into FJ_ZAP3 (NUMEWI, NUMPOZ, STRONA, KONTO, KWOTA, KWORO) values (57, 1, 'M', '700-001', "
           "-0.05, 0)");
    m.exec("insert into FJ_ROZR (KONTO, IDENT, NAZWA, ADR_1, ADR_2, BANK_1, BANK_2) values ('201-001', "
           "'5261040828', "
           "'Żółw s.c.', 'ul. Długa 12', '90-001 Łódź', 'PKO BP', '12 1020 5226')");
    m.exec("insert into FJ_BIL values (1, '201-001', 1500, 0, 1500, 'Bilans otwarcia', '2009-06-15', 'A', "
           "'B', 'C')");
    m.exec("insert into FJ_BIL values (2, '202-001', 0, 12.5, -12.5, NULL, NULL, NULL, NULL, NULL)");
    m.exec("insert into FJ_ZPLK (KONTO, NAZWA, POZIOM, RODZAJ, NUMUKL, REJFIN) values ('201-001', "
           "'Rozrachunki z "
           "odbiorcami', '3', 'A', 7, 'T')");
}

struct Today {
    Today() { Clock::setOverride(QDateTime(QDate(2026, 12, 8), QTime(10, 0))); }
    ~Today() { Clock::setOverride(QDateTime()); }
};

} // namespace

TEST(MonthlyExport, EveryLayoutByteForByte) {
    Today today;
    TestModule m;
    m.started();
    knownMonth(m);
    RecordingOperator op;
    ExchangeOps::exportMonth(*m.dm, op, 3, QStringLiteral(" 2010 "));

    const QString doc =
        pad("K", 1) + pad("201-001", 25) + pad("12", 6) + pad("1", 6) + pad("15", 2) + pad("FV", 2) +
        pad("FV/12/03/2026", 20) + pad("2026-03-15", 10) + pad("201-001", 25) + pad("5261040828", 13) +
        pad(QStringLiteral("Zakład Usług Łączności Kaczmarek i Wspólnicy Spółka Komandytowa 1234"), 60) +
        pad(QStringLiteral("ul. Źródlana 5"), 30) + pad(QStringLiteral("90-001 Łódź"), 30) + pad("0", 5) +
        pad("1899-12-30", 10) + pad(QStringLiteral("Usługa księgowa"), 100) + pad("", 100) + pad("0", 6) +
        pad(QStringLiteral("Anna Wiśniewska"), 40) + pad("57", 6);
    ASSERT_EQ(doc.size(), 497);
    EXPECT_EQ(TestFiles::read(m.folder + "EX03D.TXT"), records({doc}));
    EXPECT_EQ(TestFiles::read(m.folder + "EX03D.TXT").mid(110, 3), QByteArray("Zak"));
    EXPECT_TRUE(TestFiles::read(m.folder + "EX03D.TXT")
                    .contains("\xA3\xB9"
                              "czno\x9C"
                              "ci")); // Łączności in Windows-1250

    EXPECT_EQ(TestFiles::read(m.folder + "EX03Z.TXT"),
              records({pad("100057", 6) + pad("1", 4) + "M" + pad("700-001", 25) + pad("-0.05", 13) +
                           pad("0", 13) + pad("57", 6),
                       pad("100057", 6) + pad("1", 4) + "W" + pad("201-001", 25) + pad("1234.5", 13) +
                           pad("100", 13) + pad("57", 6)}));
    EXPECT_EQ(TestFiles::read(m.folder + "ROZR.TXT"),
              records({pad("201-001", 25) + pad("5261040828", 13) + pad(QStringLiteral("Żółw s.c."), 60) +
                       pad(QStringLiteral("ul. Długa 12"), 30) + pad(QStringLiteral("90-001 Łódź"), 30) +
                       pad("PKO BP", 40) + pad("12 1020 5226", 40)}));
    EXPECT_EQ(
        TestFiles::read(m.folder + "BO.TXT"),
        records({pad("1", 4) + pad("201-001", 25) + pad("1500", 13) + pad("0", 13) + pad("1500", 13) +
                     pad("Bilans otwarcia", 60) + "06-15-09" + pad("A", 40) + pad("B", 40) + pad("C", 40),
                 pad("2", 4) + pad("202-001", 25) + pad("0", 13) + pad("12.5", 13) + pad("-12.5", 13) +
                     pad("", 60) + "12-31-26" + pad("", 40) + pad("", 40) + pad("", 40)}));
    EXPECT_EQ(
        TestFiles::read(m.folder + "ZPLK.TXT"),
        records({pad("201-001", 25) + pad("Rozrachunki z odbiorcami", 60) + "3" + "A" + pad("7", 3) + "T"}));

    const QString cr = QStringLiteral("\r");
    EXPECT_EQ(op.texts(), QStringList({"Export Danych za  [Marzec 2010]  zakończony pomyślnie ...." + cr +
                                       "wyeksportowane pliki znajdują się w katalogu :" + cr + cr + m.folder +
                                       "EX03D.TXT" + cr + m.folder + "EX03Z.TXT" + cr + m.folder +
                                       "ROZR.TXT" + cr + m.folder + "BO.TXT" + cr + m.folder + "ZPLK.TXT"}));
    EXPECT_EQ(op.stages[Operator::Activity::Export], QString());
    EXPECT_EQ(op.activity[Operator::Activity::Export].last(), 100);
}

TEST(MonthlyExport, EmptyMonthActivityBarAndOverwrite) {
    TestDb::Spec spec;
    spec.scale.months = {2};
    spec.scale.documentsPerMonth = 101;
    spec.scale.entriesPerDocument = 0;
    TestModule m(TestDb::createDatabase(spec));
    m.started();
    RecordingOperator op;
    ExchangeOps::exportMonth(*m.dm, op, 2, "2026");
    QList<int> expected{0};
    for (int i = 1; i <= 100; ++i)
        expected << i;
    expected << 1 << 100; // the 101st row starts again; the end of the file shows 100
    EXPECT_EQ(op.activity[Operator::Activity::Export].mid(0, 103), expected);
    EXPECT_EQ(QFileInfo(m.folder + "EX02D.TXT").size(), 101 * 499);
    EXPECT_EQ(QFileInfo(m.folder + "EX02Z.TXT").size(), 0); // no rows, an empty file

    ExchangeOps::exportMonth(*m.dm, op, 5, "2026"); // a month without documents
    EXPECT_EQ(QFileInfo(m.folder + "EX05D.TXT").size(), 0);
    m.exec("delete from FJ_ROZR");
    m.started(); // the activation after the message ends the export's transaction
    ExchangeOps::exportMonth(*m.dm, op, 2, "2026");
    EXPECT_EQ(QFileInfo(m.folder + "ROZR.TXT").size(), 0); // overwritten
}

TEST(MonthlyExport, NumberTooLongStopsWithoutATruncatedFile) {
    TestModule m;
    m.started();
    m.exec("delete from FJ_DOK4");
    m.exec("delete from FJ_ZAP4");
    m.exec("SET GENERATOR NUMEWI_DOK4 TO 899999");
    m.exec("insert into FJ_DOK4 (TYPREJ, KONTOW, NUMDOK, NUMPOZ) values ('K', '201-001', 1, 1)");
    m.exec("insert into FJ_ZAP4 (NUMEWI, NUMPOZ, STRONA, KONTO, KWOTA, KWORO) values (900000, 1, 'W', "
           "'201-001', 1, 1)");
    QFile::remove(m.folder + "EX04Z.TXT");
    RecordingOperator op;
    try {
        ExchangeOps::exportMonth(*m.dm, op, 4, "2026");
        FAIL();
    } catch (const QkError &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("1000000")));
        EXPECT_TRUE(e.message().contains(QStringLiteral("NUMEWI")));
        EXPECT_TRUE(e.message().contains(m.folder + "EX04Z.TXT"));
    }
    EXPECT_TRUE(QFileInfo(m.folder + "EX04D.TXT").size() == 499); // finished before: stays complete
    EXPECT_FALSE(QFileInfo::exists(m.folder + "EX04Z.TXT"));
    EXPECT_TRUE(QDir(m.folder).entryList({"*.TXT.*", "EX04Z*"}, QDir::Files).isEmpty()); // no temporary left
    EXPECT_TRUE(op.messages.isEmpty());
}

TEST(MonthlyExport, UnwritableFolderIsAnIoError) {
    TestModule m;
    m.started();
    m.dm->Settings.DatabaseFolder = m.folder + "brak/";
    RecordingOperator op;
    EXPECT_THROW(ExchangeOps::exportMonth(*m.dm, op, 3, "2026"), FileError);
    EXPECT_TRUE(op.messages.isEmpty());
}

TEST(MonthlyImport, RoundTripBetweenTwoDatabases) {
    TestModule a;
    a.started();
    RecordingOperator op;
    ExchangeOps::exportMonth(*a.dm, op, 3, "2026");

    TestDb::Spec other;
    other.scale.seed = 7;
    TestModule b(TestDb::createDatabase(other));
    b.started();
    for (const char *f : {"EX03D.TXT", "EX03Z.TXT"}) {
        QFile::remove(b.folder + f);
        ASSERT_TRUE(QFile::copy(a.folder + f, b.folder + f));
    }
    // One of B's documents shares a key with one of A's (letter case aside): it is replaced.
    b.exec("update FJ_DOK3 set TYPREJ = 'x', KONTOW = 'zz-1', NUMDOK = 900 where NUMDOK = 6");
    a.exec("update FJ_DOK3 set TYPREJ = 'X', KONTOW = 'ZZ-1', NUMDOK = 900 where NUMDOK = 6");
    a.started(); // the activation after the first export's message
    ExchangeOps::exportMonth(*a.dm, op, 3, "2026");
    QFile::remove(b.folder + "EX03D.TXT");
    QFile::copy(a.folder + "EX03D.TXT", b.folder + "EX03D.TXT");
    const QString kept = b.value("select count(*) from FJ_DOK3 where NUMDOK <> 900");

    RecordingOperator imp;
    ExchangeOps::importMonth(*b.dm, imp, 3, false);
    EXPECT_EQ(imp.texts(), QStringList({"Import danych zakończony pomyślnie ..."}));
    EXPECT_TRUE(b.dm->EmployeeTran.active()); // made permanent by the next activation
    b.dm->EmployeeTran.commit();
    EXPECT_EQ(b.value("select count(*) from FJ_DOK3"), QString::number(kept.toInt() + 6));
    EXPECT_EQ(b.value("select count(*) from FJ_DOK3 where NUMDOK = 900"), QStringLiteral("1"));
    EXPECT_EQ(b.value("select TYPREJ from FJ_DOK3 where NUMDOK = 900"), QStringLiteral("X"));

    // With "Zerowanie Danych QK" the month holds exactly the imported documents and entries.
    const QString contentSql = QStringLiteral("select count(*) || '/' || sum(z.KWOTA) || '/' || sum(z.KWORO) "
                                              "|| '/' || sum(z.NUMPOZ) from FJ_DOK3 d join "
                                              "FJ_ZAP3 z on z.NUMEWI = d.NUMEWI where d.NUMDOK > 0");
    const QString docsSql = QStringLiteral(
        "select cast(list(trim(TYPREJ) || trim(KONTOW) || NUMDOK || NUMPOZ || DOKDAT || trim(K_NAZ) || "
        "coalesce(TERDAT, ''), ',') as varchar(30000)) from (select * from FJ_DOK3 order by NUMDOK)");
    RecordingOperator clear;
    ExchangeOps::importMonth(*b.dm, clear, 3, true);
    b.dm->EmployeeTran.commit();
    EXPECT_EQ(b.value(contentSql), a.value(contentSql));
    EXPECT_EQ(b.value(docsSql), a.value(docsSql));
    EXPECT_EQ(b.value("select count(*) from FJ_ZAP3"), a.value("select count(*) from FJ_ZAP3"));
    const QString firstNumbers = b.value("select cast(list(NUMEWI) as varchar(8000)) from FJ_DOK3");

    // Twice: the month as after once, under new numbers.
    RecordingOperator again;
    ExchangeOps::importMonth(*b.dm, again, 3, false);
    b.dm->EmployeeTran.commit();
    EXPECT_EQ(b.value(contentSql), a.value(contentSql));
    EXPECT_EQ(b.value(docsSql), a.value(docsSql));
    EXPECT_NE(b.value("select cast(list(NUMEWI) as varchar(8000)) from FJ_DOK3"), firstNumbers);
    // Every entry follows its document.
    EXPECT_EQ(b.value("select count(*) from FJ_ZAP3 z where not exists (select 1 from FJ_DOK3 d where "
                      "d.NUMEWI = z.NUMEWI)"),
              QStringLiteral("0"));
}

TEST(MonthlyImport, TextsWithLineBreaksComeBackAsExported) {
    TestModule m;
    m.started();
    // Descriptions pasted with a line break, one of them at the very end of its field.
    m.exec("update FJ_DOK3 set OPIS1 = 'Faktura' || ascii_char(13) || ascii_char(10) || 'korekta' where "
           "NUMDOK = 1");
    m.exec("update FJ_DOK3 set K_NAZ = 'Kowalski' || ascii_char(10) where NUMDOK = 2");
    const QString sql = QStringLiteral("select cast(list(NUMDOK || ':' || replace(replace(trim(OPIS1) || '|' "
                                       "|| trim(K_NAZ), ascii_char(13), '<CR>'), "
                                       "ascii_char(10), '<LF>'), ',') as varchar(8000)) from (select * from "
                                       "FJ_DOK3 order by NUMDOK, NUMPOZ)");
    const QString month = m.value(sql);
    ASSERT_TRUE(month.contains("Faktura<CR><LF>korekta")) << month.toStdString();
    RecordingOperator op;
    ExchangeOps::exportMonth(*m.dm, op, 3, "2026");
    m.started();
    EXPECT_NO_THROW(ExchangeLayouts::checkRecords(m.folder + "EX03D.TXT", ExchangeLayouts::documents()));

    RecordingOperator imp;
    ExchangeOps::importMonth(*m.dm, imp, 3, true);
    EXPECT_EQ(imp.texts(), QStringList({"Import danych zakończony pomyślnie ..."}));
    m.started();
    EXPECT_EQ(m.value(sql), month);
}

TEST(MonthlyImport, MissingFilesChangeNothing) {
    TestModule m;
    m.started();
    QFile::remove(m.folder + "EX07D.TXT");
    QFile::remove(m.folder + "EX07Z.TXT");
    const QString before = m.value("select count(*) from FJ_DOK7");
    RecordingOperator op;
    ExchangeOps::importMonth(*m.dm, op, 7, true);
    EXPECT_EQ(op.texts(),
              QStringList({"UWAGA ... brak pliku z danymi o Dokumentach :\r\r" + m.folder + "EX07D.TXT"}));
    QFile f(m.folder + "EX07D.TXT");
    f.open(QIODevice::WriteOnly);
    f.close();
    RecordingOperator op2;
    ExchangeOps::importMonth(*m.dm, op2, 7, true);
    EXPECT_EQ(op2.texts(),
              QStringList({"UWAGA ... brak pliku z danymi o Dekretach :\r\r" + m.folder + "EX07Z.TXT"}));
    EXPECT_FALSE(m.dm->EmployeeTran.active());
    EXPECT_EQ(m.value("select count(*) from FJ_DOK7"), before);

    RecordingOperator check;
    ExchangeOps::checkInput(*m.dm, check, 7);
    EXPECT_EQ(check.texts(),
              QStringList({"Pliku z danymi o Dokumentach jest OK\r\r" + m.folder + "EX07D.TXT",
                           "UWAGA ... brak pliku z danymi o Dekretach :\r\r" + m.folder + "EX07Z.TXT"}));
}

TEST(MonthlyImport, AFailurePartWayLeavesTheMonthAsItWas) {
    TestModule m;
    m.started();
    RecordingOperator op;
    ExchangeOps::exportMonth(*m.dm, op, 3, "2026");
    // The receiving database refuses one document at insert time, after the month was emptied.
    m.exec("CREATE EXCEPTION E_QK_TEST 'odmowa'");
    m.exec("CREATE TRIGGER FJ_DOK3_TEST FOR FJ_DOK3 ACTIVE BEFORE INSERT POSITION 5 AS BEGIN "
           "IF (NEW.NUMDOK = 4) THEN EXCEPTION E_QK_TEST; END");
    const QString sql = QStringLiteral("select count(*) || '/' || sum(NUMEWI) from FJ_DOK3");
    const QString before = m.value(sql);
    const QString entries = m.value("select count(*) || '/' || sum(KWOTA) from FJ_ZAP3");
    RecordingOperator imp;
    try {
        ExchangeOps::importMonth(*m.dm, imp, 3, true);
        FAIL();
    } catch (const EngineError &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("odmowa")));
    }
    // Only the import's own work is undone; the next activation commits nothing of it.
    ASSERT_TRUE(m.dm->EmployeeTran.active());
    m.dm->EmployeeTran.commit();
    EXPECT_EQ(m.value(sql), before);
    EXPECT_EQ(m.value("select count(*) || '/' || sum(KWOTA) from FJ_ZAP3"), entries);
    EXPECT_TRUE(imp.messages.isEmpty());

    // A value the server's CAST refuses stops it too.
    QFile f(m.folder + "EX03Z.TXT");
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write(QByteArray("100001   1W201-001                  12,5,5       0            1     \r\n"));
    f.close();
    EXPECT_THROW(ExchangeOps::importMonth(*m.dm, imp, 3, false), EngineError);
    m.dm->EmployeeTran.commit();
    EXPECT_EQ(m.value(sql), before);
}

TEST(MonthlyImport, AFailureKeepsTheWorkEarlierOperationsLeftPending) {
    TestModule m;
    m.started();
    RecordingOperator op;
    ExchangeOps::exportMonth(*m.dm, op, 3, "2026");
    m.started();
    // A deletion category done before the import: shown as done, pending in the shared transaction.
    RecordingOperator del;
    std::array<bool, YearEndOps::kCategoryCount> checked{};
    for (size_t i = 0; i < checked.size(); ++i)
        checked[i] = YearEndOps::categories()[i].result == Operator::YearEnd::Turnovers;
    YearEndOps::deleteCategories(*m.dm, del, checked);
    ASSERT_EQ(del.result(Operator::YearEnd::Turnovers), QStringLiteral("OK ..."));
    ASSERT_NE(m.value("select count(*) from FJ_OBR"), QStringLiteral("0"));

    const QString month = m.value("select count(*) || '/' || sum(NUMEWI) from FJ_DOK3");
    QFile f(m.folder + "EX03Z.TXT"); // a value the server's CAST refuses, after the month was emptied
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write(QByteArray("100001   1W201-001                  12,5,5       0            1     \r\n"));
    f.close();
    RecordingOperator imp;
    EXPECT_THROW(ExchangeOps::importMonth(*m.dm, imp, 3, true), EngineError);

    m.started(); // the activation after the error box
    EXPECT_EQ(m.value("select count(*) from FJ_OBR"), QStringLiteral("0"));
    EXPECT_EQ(m.value("select count(*) || '/' || sum(NUMEWI) from FJ_DOK3"), month);
}

TEST(TransferExport, FilesTrimmingAndAmounts) {
    TestModule m;
    m.started();
    m.exec("delete from PRZELEWY");
    m.exec("delete from PACZKA");
    RecordingOperator none;
    ExchangeOps::exportTransfers(*m.dm, none, m.folder);
    const QString packages = m.folder + "paczki/PACZKA.TXT";
    const QString transfers = m.folder + "paczki/PACZKAP.TXT";
    EXPECT_EQ(QFileInfo(packages).size(), 0);
    EXPECT_EQ(QFileInfo(transfers).size(), 0);
    EXPECT_EQ(none.texts(),
              QStringList({"Export Danych o Przelewach zakończony pomyślnie ....\rwyeksportowane pliki "
                           "znajdują się w katalogu :\r\r" +
                           packages + "\r" + transfers}));

    m.started();
    m.exec("insert into PACZKA (KOD, NAZWA, OPIS1, OPIS2, numer, autor, dataP, termin, zmiana) values "
           "(3, '  Wypłaty', 'Opis', NULL, '7', 'Łucja', '2026-01-05', '2026-01-08', 'T')");
    m.exec("insert into PRZELEWY (KODP, KODPP, NAZWA1, ADR11, KWOTA, OPIS, dataPP) values "
           "(3, 1, '   Biuro Ślęża  ', '  ul. Główna 1', 1500, '  opis zostaje', '2026-01-05')");
    m.exec("insert into PRZELEWY (KODP, KODPP, NAZWA1, KWOTA, dataPP) values (3, 2, 'B', 12.5, NULL)");
    RecordingOperator op;
    ExchangeOps::exportTransfers(*m.dm, op, m.folder);
    EXPECT_EQ(TestFiles::read(packages),
              records({pad("3", 5) + pad("  Wypłaty", 40) + pad("Opis", 50) + pad("", 50) + pad("7", 15) +
                       pad(QStringLiteral("Łucja"), 30) + "2026-01-05" + "2026-01-08" + "T"}));
    const QString t1 = pad("3", 5) + pad("1", 3) + pad(QStringLiteral("Biuro Ślęża"), 60) +
                       pad(QStringLiteral("ul. Główna 1"), 30) + pad("", 30) + pad("", 40) + pad("", 40) +
                       pad("", 60) + pad("", 30) + pad("", 30) + pad("", 40) + pad("", 40) + pad("1500", 9) +
                       pad("  opis zostaje", 100) + "2026-01-05";
    const QString t2 = pad("3", 5) + pad("2", 3) + pad("B", 60) + pad("", 30) + pad("", 30) + pad("", 40) +
                       pad("", 40) + pad("", 60) + pad("", 30) + pad("", 30) + pad("", 40) + pad("", 40) +
                       pad("12.5", 9) + pad("", 100) + "1899-12-30";
    EXPECT_EQ(TestFiles::read(transfers), records({t1, t2}));

    // A million or more does not fit the nine characters: the export stops naming it.
    m.started();
    m.exec("update PRZELEWY set KWOTA = 1234567.89 where KODPP = 2");
    RecordingOperator big;
    try {
        ExchangeOps::exportTransfers(*m.dm, big, m.folder);
        FAIL();
    } catch (const QkError &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("1234567.89")));
        EXPECT_TRUE(e.message().contains(QStringLiteral("KWOTA")));
    }
    EXPECT_EQ(TestFiles::read(transfers), records({t1, t2})); // the file finished earlier stays as it was
    EXPECT_TRUE(big.messages.isEmpty());

    RecordingOperator missing;
    EXPECT_THROW(ExchangeOps::exportTransfers(*m.dm, missing, TestDb::newFolder()), FileError);
    EXPECT_TRUE(missing.messages.isEmpty());
}
