// Year-end deletion, the shadow file, the opening balance and the schema upgrades on the real server.
#include "common/RecordingOperator.h"
#include "common/TestModule.h"
#include "db/Errors.h"
#include "exchange/ExchangeOps.h"
#include "platform/IniFile.h"
#include "yearend/UpgradeStatements.h"
#include "yearend/YearEndOps.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using Y = Operator::YearEnd;

std::array<bool, YearEndOps::kCategoryCount> only(std::initializer_list<Y> ticked) {
    std::array<bool, YearEndOps::kCategoryCount> checked{};
    const auto &c = YearEndOps::categories();
    for (size_t i = 0; i < c.size(); ++i)
        checked[i] = std::find(ticked.begin(), ticked.end(), c[i].result) != ticked.end();
    return checked;
}

QString count(const TestModule &m, const char *table) {
    return m.value(QStringLiteral("select count(*) from %1").arg(QLatin1String(table)));
}

} // namespace

TEST(Deletion, CategoriesInTheirOrder) {
    const auto &c = YearEndOps::categories();
    ASSERT_EQ(c.size(), 14u);
    std::vector<Y> order;
    for (const auto &cat : c)
        order.push_back(cat.result);
    EXPECT_EQ(order,
              std::vector<Y>({Y::Entries, Y::Documents, Y::Turnovers, Y::OpeningBalanceDeleted, Y::Zplk,
                              Y::Zpuk, Y::Contractors, Y::VatRegister, Y::Structures, Y::Expenses, Y::Income,
                              Y::DocumentTypes, Y::BudgetPlans, Y::ShadowDropped}));
    EXPECT_EQ(c[1].statements.mid(0, 4),
              QStringList({"delete from FJ_DOK1", "SET GENERATOR NUMEWI_DOK TO 0", "delete from FJ_DOK2",
                           "SET GENERATOR NUMEWI_DOK2 TO 0"}));
    EXPECT_EQ(c[1].statements.last(), QStringLiteral("SET GENERATOR NUMEWI_DOK12 TO 0"));
    EXPECT_EQ(QLatin1String(c[1].text), QLatin1String("OK  ..."));
    const QStringList plans = c[12].statements;
    ASSERT_EQ(plans.size(), 144);
    EXPECT_EQ(plans.mid(0, 3),
              QStringList({"update FJ_BWYD set BIL_WN1 = 0", "update FJ_BWYD set BIL_MA1 = 0",
                           "update FJ_BWYD set GR10 = 0"}));
    EXPECT_EQ(plans[12], QStringLiteral("update FJ_BWYD set BIL_WN2 = 0"));
    EXPECT_EQ(plans.last(), QStringLiteral("update FJ_BWYD set GR129 = 0"));
    EXPECT_EQ(YearEndOps::shadowStatement(QStringLiteral(" /cien/it's ")),
              QStringLiteral("create shadow 1 auto '/cien/it''s/bazaqk.shd'"));
    EXPECT_EQ(YearEndOps::shadowStatement(QString()), QStringLiteral("create shadow 1 auto '/bazaqk.shd'"));
}

TEST(Deletion, EachCategoryEmptiesItsTablesAndNothingElse) {
    TestModule m;
    m.started();
    RecordingOperator op;
    op.results[Operator::YearEnd::Turnovers] = QStringLiteral("OK ... earlier");
    YearEndOps::deleteCategories(*m.dm, op, {});
    EXPECT_EQ(op.result(Operator::YearEnd::Documents), QString());
    EXPECT_EQ(op.result(Operator::YearEnd::Entries), QString());
    EXPECT_EQ(op.result(Operator::YearEnd::Turnovers), QStringLiteral("OK ... earlier"));
    EXPECT_FALSE(m.dm->EmployeeTran.active()); // nothing ran

    YearEndOps::deleteCategories(
        *m.dm, op,
        only({Y::Entries, Y::Documents, Y::Turnovers, Y::OpeningBalanceDeleted, Y::Zplk, Y::Zpuk,
              Y::Contractors, Y::VatRegister, Y::Structures, Y::Expenses, Y::Income, Y::DocumentTypes}));
    EXPECT_EQ(count(m, "FJ_DOK3"), QStringLiteral("6")); // not committed yet
    m.dm->EmployeeTran.commit();
    for (const char *t : {"FJ_DOK1", "FJ_DOK12", "FJ_ZAP1", "FJ_ZAP12", "FJ_OBR", "FJ_BIL", "FJ_ZPLK",
                          "FJ_ZPUK", "FJ_ROZR", "FJ_REJV", "FJ_STRU", "FJ_BWYD", "FJ_BDOC", "FJ_TYPD"})
        EXPECT_EQ(count(m, t), QStringLiteral("0")) << t;
    for (const char *g : {"NUMEWI_DOK", "NUMEWI_DOK2", "NUMEWI_DOK12", "NUMZAP_BIL"})
        EXPECT_EQ(m.value(QStringLiteral("select gen_id(%1, 0) from RDB$DATABASE").arg(QLatin1String(g))),
                  QStringLiteral("0"));
    EXPECT_NE(count(m, "FJ_DKSI"), QStringLiteral("0")); // not a category
    EXPECT_NE(count(m, "FJ_VAT7"), QStringLiteral("0"));
    EXPECT_NE(count(m, "KOMUN_R"), QStringLiteral("0"));
    EXPECT_EQ(op.result(Operator::YearEnd::Documents), QStringLiteral("OK  ..."));
    EXPECT_EQ(op.result(Operator::YearEnd::Entries), QStringLiteral("OK ..."));
    for (const Y y : {Y::Turnovers, Y::OpeningBalanceDeleted, Y::Zplk, Y::Zpuk, Y::Contractors,
                      Y::VatRegister, Y::Structures, Y::Expenses, Y::Income, Y::DocumentTypes})
        EXPECT_EQ(op.result(y), QStringLiteral("OK ...")) << int(y);
    EXPECT_FALSE(op.shown(Operator::YearEnd::BudgetPlans));
}

TEST(Deletion, BudgetPlansAreZeroedAndAMissingTableStops) {
    TestModule m;
    m.started();
    RecordingOperator op;
    YearEndOps::deleteCategories(*m.dm, op, only({Y::BudgetPlans}));
    m.dm->EmployeeTran.commit();
    EXPECT_EQ(m.value("select sum(BIL_WN1 + BIL_MA1 + GR10 + BIL_WN12 + GR129) from FJ_BWYD"),
              QStringLiteral("0"));
    EXPECT_NE(count(m, "FJ_BWYD"), QStringLiteral("0"));
    EXPECT_EQ(op.result(Operator::YearEnd::BudgetPlans), QStringLiteral("OK ..."));

    m.exec("drop table FJ_OBR");
    RecordingOperator stop;
    EXPECT_THROW(YearEndOps::deleteCategories(
                     *m.dm, stop, only({Y::Entries, Y::Documents, Y::Turnovers, Y::OpeningBalanceDeleted})),
                 EngineError);
    EXPECT_EQ(stop.result(Operator::YearEnd::Entries), QStringLiteral("OK ..."));
    EXPECT_EQ(stop.result(Operator::YearEnd::Documents), QStringLiteral("OK  ..."));
    EXPECT_FALSE(stop.shown(Operator::YearEnd::Turnovers));
    EXPECT_FALSE(stop.shown(Operator::YearEnd::OpeningBalanceDeleted));
    EXPECT_TRUE(m.dm->EmployeeTran.active()); // the deletions already run wait in the open transaction
    m.dm->EmployeeTran.rollback();
}

TEST(Shadow, CreateThenDropEmptiesTheSettingsKeys) {
    TestModule m;
    m.started();
    const QString ini = m.settingsFolder + QStringLiteral("setup.ini");
    m.dm->WriteD1(QStringLiteral("x"));
    m.dm->WriteD2(QStringLiteral("y"));
    const QString shadowDir = TestDb::newFolder() + QStringLiteral("it's");
    ASSERT_TRUE(QDir().mkpath(shadowDir));
    QFile(shadowDir).setPermissions(QFile(TestDb::newFolder()).permissions());
    RecordingOperator op;
    YearEndOps::createShadow(*m.dm, op, QStringLiteral(" ") + shadowDir + QStringLiteral(" "));
    EXPECT_EQ(op.result(Operator::YearEnd::Shadow), QStringLiteral("OK ..."));
    m.dm->EmployeeTran.commit();
    EXPECT_EQ(m.value("select trim(RDB$FILE_NAME) from RDB$FILES where RDB$SHADOW_NUMBER = 1"),
              shadowDir + "/bazaqk.shd");

    RecordingOperator twice;
    EXPECT_THROW(YearEndOps::createShadow(*m.dm, twice, shadowDir), EngineError);
    EXPECT_FALSE(twice.shown(Operator::YearEnd::Shadow));
    m.dm->EmployeeTran.rollback();

    RecordingOperator drop;
    YearEndOps::deleteCategories(*m.dm, drop, only({Y::ShadowDropped}));
    m.dm->EmployeeTran.commit();
    EXPECT_EQ(m.value("select count(*) from RDB$FILES where RDB$SHADOW_NUMBER = 1"), QStringLiteral("0"));
    EXPECT_EQ(drop.result(Operator::YearEnd::ShadowDropped), QStringLiteral("OK ..."));
    EXPECT_EQ(IniFile::readString(ini, "Ogolne", "d1", "?"), QString());
    EXPECT_EQ(IniFile::readString(ini, "Ogolne", "d2", "?"), QString());
}

TEST(OpeningBalance, RebuiltFromTheOpeningBalanceFile) {
    TestModule m;
    m.started();
    m.exec("delete from FJ_BIL");
    m.exec("insert into FJ_BIL values (1, '201-001', 1500, 0, 1500, 'Bilans otwarcia – Łódź', '2009-06-15', "
           "'A', 'B', 'C')");
    m.exec("insert into FJ_BIL values (2, '202-001', 0, 12.5, -12.5, 'Bez daty', NULL, 'Żółw', NULL, NULL)");
    RecordingOperator op;
    ExchangeOps::exportMonth(*m.dm, op, 1, "2026"); // writes BO.TXT, the file TA_BZBO lies over
    m.started();
    m.exec("update FJ_BIL set KWOWN = 1 where NUMZAP = 1");
    m.exec("insert into FJ_BIL values (3, '999', 1, 1, 0, NULL, NULL, NULL, NULL, NULL)");
    const QString year = QString::number(QDate::currentDate().year());
    const QString sql = QStringLiteral("select cast(list(NUMZAP || '|' || trim(KONTO) || '|' || KWOWN || '|' "
                                       "|| KWOMA || '|' || KWORO || '|' || "
                                       "trim(OPIS) || '|' || TERDAT || '|' || trim(NAZWA1), ';') as "
                                       "varchar(4000)) from (select * from FJ_BIL order by NUMZAP)");
    const QString expected =
        QStringLiteral("1|201-001|1500.00|0.00|1500.00|Bilans otwarcia – Łódź|2009-06-15|A;"
                       "2|202-001|0.00|12.50|-12.50|Bez daty|%1-12-31|Żółw")
            .arg(year);
    for (int run = 0; run < 2; ++run) { // twice gives the same table
        RecordingOperator b;
        YearEndOps::buildOpeningBalance(*m.dm, b);
        EXPECT_EQ(b.result(Operator::YearEnd::OpeningBalance), QStringLiteral("OK ..."));
        m.dm->EmployeeTran.commit();
        EXPECT_EQ(m.value(sql), expected);
    }

    // A line the server's CAST refuses: rolled back, FJ_BIL as it was, no label.
    QFile f(m.folder + "BO.TXT");
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write(QByteArray("3   999                      abc          0            0            ") +
            QByteArray(60, ' ') + QByteArray("12-31-26") + QByteArray(120, ' ') + "\r\n");
    f.close();
    RecordingOperator bad;
    EXPECT_THROW(YearEndOps::buildOpeningBalance(*m.dm, bad), EngineError);
    EXPECT_FALSE(bad.shown(Operator::YearEnd::OpeningBalance));
    m.started(); // the activation after the error box commits nothing of it
    EXPECT_EQ(m.value(sql), expected);

    // An empty file gives an empty table and still "OK ...".
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.close();
    RecordingOperator empty;
    YearEndOps::buildOpeningBalance(*m.dm, empty);
    m.dm->EmployeeTran.commit();
    EXPECT_EQ(count(m, "FJ_BIL"), QStringLiteral("0"));
    EXPECT_EQ(empty.result(Operator::YearEnd::OpeningBalance), QStringLiteral("OK ..."));
}

TEST(SharedTransaction, AFailingOpeningBalanceUndoesOnlyItsOwnWork) {
    TestModule m;
    m.started();
    const QString balance = m.value("select count(*) from FJ_BIL");
    ASSERT_NE(balance, QStringLiteral("0"));
    // Deletions and the shadow file, shown as done and pending in the shared transaction.
    RecordingOperator done;
    YearEndOps::deleteCategories(*m.dm, done, only({Y::Turnovers, Y::VatRegister}));
    ASSERT_EQ(done.result(Operator::YearEnd::Turnovers), QStringLiteral("OK ..."));
    YearEndOps::createShadow(*m.dm, done, TestDb::newFolder());
    // An opening balance file the server's CAST refuses.
    QFile f(m.folder + "BO.TXT");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(QByteArray("3   999                      abc          0            0            ") +
            QByteArray(60, ' ') + QByteArray("12-31-26") + QByteArray(120, ' ') + "\r\n");
    f.close();
    RecordingOperator bad;
    EXPECT_THROW(YearEndOps::buildOpeningBalance(*m.dm, bad), EngineError);

    m.started(); // the activation after the error box
    EXPECT_EQ(count(m, "FJ_OBR"), QStringLiteral("0"));
    EXPECT_EQ(count(m, "FJ_REJV"), QStringLiteral("0"));
    EXPECT_EQ(m.value("select count(*) from RDB$FILES where RDB$SHADOW_NUMBER = 1"), QStringLiteral("1"));
    EXPECT_EQ(count(m, "FJ_BIL"), balance);
    RecordingOperator drop;
    YearEndOps::deleteCategories(*m.dm, drop, only({Y::ShadowDropped}));
    m.started();
}

TEST(SharedTransaction, PackageTablesAreDeclaredWholeOrNotAtAll) {
    TestModule m;
    m.started();
    const QString file =
        m.value("select trim(RDB$EXTERNAL_FILE) from RDB$RELATIONS where RDB$RELATION_NAME = 'TA_PACZ'");
    m.exec("DROP TABLE TA_PACZP"); // the second drop will fail
    RecordingOperator done;
    YearEndOps::deleteCategories(*m.dm, done, only({Y::Turnovers}));
    RecordingOperator op;
    EXPECT_THROW(YearEndOps::declarePackageTables(*m.dm, op, TestDb::newFolder()), EngineError);
    m.started();
    EXPECT_EQ(
        m.value("select trim(RDB$EXTERNAL_FILE) from RDB$RELATIONS where RDB$RELATION_NAME = 'TA_PACZ'"),
        file);
    EXPECT_EQ(count(m, "FJ_OBR"), QStringLiteral("0")); // the earlier deletion stands
    // Mended, the same button simply runs again.
    m.exec("CREATE TABLE TA_PACZP EXTERNAL FILE '" + m.folder + "x.txt' (A CHAR(1))");
    const QString other = TestDb::newFolder();
    RecordingOperator again;
    YearEndOps::declarePackageTables(*m.dm, again, other);
    m.started();
    EXPECT_EQ(
        m.value("select trim(RDB$EXTERNAL_FILE) from RDB$RELATIONS where RDB$RELATION_NAME = 'TA_PACZP'"),
        other + "paczki/PACZKAP.TXT");
}

TEST(SharedTransaction, TheFourTablesOfVersion242AreCreatedWholeOrNotAtAll) {
    TestDb::Spec spec;
    spec.variant = SampleSchema::Variant::Old;
    TestModule m(TestDb::createDatabase(spec));
    m.started();
    m.exec("CREATE TABLE TA_PACZ (A CHAR(1))"); // the third create will fail
    RecordingOperator op;
    EXPECT_THROW(YearEndOps::upgrade(*m.dm, op, Operator::YearEnd::Upgrade242c, m.settingsFolder),
                 EngineError);
    m.started();
    EXPECT_EQ(
        m.value("select count(*) from RDB$RELATIONS where RDB$RELATION_NAME in ('IMPORT_PA', 'IMPORT_PP')"),
        QStringLiteral("0"));
    m.exec("DROP TABLE TA_PACZ");
    RecordingOperator again;
    YearEndOps::upgrade(*m.dm, again, Operator::YearEnd::Upgrade242c, m.settingsFolder);
    EXPECT_EQ(again.result(Operator::YearEnd::Upgrade242c),
              QStringLiteral("Tworzenie wersji v.2.42(3) zakończono pomyślnie"));
    m.started();
    EXPECT_EQ(
        m.value("select count(*) from RDB$RELATIONS where RDB$RELATION_NAME in ('IMPORT_PA', 'IMPORT_PP', "
                "'TA_PACZ', 'TA_PACZP')"),
        QStringLiteral("4"));
}

TEST(Upgrades, AnOldDatabaseGetsEveryTableOfTheCurrentOne) {
    TestDb::Spec spec;
    spec.variant = SampleSchema::Variant::Old;
    TestModule m(TestDb::createDatabase(spec));
    m.started();
    const QString exeFolder = m.settingsFolder;
    RecordingOperator declare;
    EXPECT_THROW(YearEndOps::declarePackageTables(*m.dm, declare, exeFolder), EngineError); // no TA_PACZ yet
    EXPECT_FALSE(declare.shown(Operator::YearEnd::PackageTables));
    m.dm->EmployeeTran.rollback();

    RecordingOperator op;
    for (const Y step : {Y::Upgrade221, Y::Upgrade226, Y::Upgrade236a, Y::Upgrade236b, Y::Upgrade242a,
                         Y::Upgrade242b, Y::Upgrade242c})
        YearEndOps::upgrade(*m.dm, op, step, exeFolder);
    EXPECT_EQ(op.result(Operator::YearEnd::Upgrade221),
              QStringLiteral("Tworzenie wersji v.2.21 zakończono pomyślnie"));
    EXPECT_EQ(op.result(Operator::YearEnd::Upgrade236a),
              QStringLiteral("Tworzenie wersji v.2.36(1)zakończono pomyślnie"));
    EXPECT_EQ(op.result(Operator::YearEnd::Upgrade242b),
              QStringLiteral("Tworzenie wersji v.2.42(2)zakończono pomyślnie"));
    EXPECT_EQ(op.result(Operator::YearEnd::Upgrade242c),
              QStringLiteral("Tworzenie wersji v.2.42(3) zakończono pomyślnie"));
    m.dm->EmployeeTran.commit();
    for (const QString &t : SampleSchema::tableNames(SampleSchema::Variant::Current))
        EXPECT_EQ(
            m.value(
                QStringLiteral("select count(*) from RDB$RELATIONS where RDB$RELATION_NAME = '%1'").arg(t)),
            QStringLiteral("1"))
            << t.toStdString();
    EXPECT_EQ(
        m.value("select trim(RDB$EXTERNAL_FILE) from RDB$RELATIONS where RDB$RELATION_NAME = 'TA_PACZP'"),
        exeFolder + "paczki/PACZKAP.TXT");
    EXPECT_EQ(
        m.value("select trim(RDB$EXTERNAL_FILE) from RDB$RELATIONS where RDB$RELATION_NAME = 'TA_ZPLK'"),
        m.folder + "ZPLK.TXT");
    EXPECT_EQ(m.value("select count(*) from RDB$RELATION_FIELDS where RDB$RELATION_NAME = 'PRZELEWY'"),
              QStringLiteral("15"));
    EXPECT_EQ(
        m.value(
            "select trim(RDB$FIELD_SOURCE) from RDB$RELATION_FIELDS where RDB$RELATION_NAME = 'IMPORT_R' and "
            "RDB$FIELD_NAME = 'KONTO'"),
        QStringLiteral("D_KONTO"));

    // A second click fails with the server's error and leaves its label empty; the others stay.
    RecordingOperator again;
    again.results[Operator::YearEnd::Upgrade226] = QStringLiteral("earlier");
    EXPECT_THROW(YearEndOps::upgrade(*m.dm, again, Operator::YearEnd::Upgrade221, exeFolder), EngineError);
    EXPECT_EQ(again.result(Operator::YearEnd::Upgrade221), QString());
    EXPECT_EQ(again.result(Operator::YearEnd::Upgrade226), QStringLiteral("earlier"));
    m.dm->EmployeeTran.rollback();

    // The new-year declaration of the package tables now finds them, over the folder given.
    const QString other = TestDb::newFolder();
    RecordingOperator ok;
    YearEndOps::declarePackageTables(*m.dm, ok, other);
    EXPECT_EQ(ok.result(Operator::YearEnd::PackageTables), QStringLiteral("OK"));
    m.dm->EmployeeTran.commit();
    EXPECT_EQ(
        m.value("select trim(RDB$EXTERNAL_FILE) from RDB$RELATIONS where RDB$RELATION_NAME = 'TA_PACZ'"),
        other + "paczki/PACZKA.TXT");
}

TEST(Upgrades, StatementTextsAsTheServerReceivesThem) {
    EXPECT_EQ(UpgradeStatements::komunR(),
              QStringLiteral("CREATE TABLE KOMUN_R (KONTO\tCHAR(100),NAZWA\tCHAR(200) )"));
    EXPECT_EQ(UpgradeStatements::taPacz(QStringLiteral("/opt/qk/")),
              QStringLiteral(
                  "CREATE TABLE TA_PACZ EXTERNAL FILE '/opt/qk/paczki/PACZKA.TXT' ( KOD     CHAR(5)  ,  "
                  "NAZWA   CHAR(40) ,  OPIS1   CHAR(50) ,  OPIS2   CHAR(50) ,  numer   CHAR(15),   autor   "
                  "CHAR(30),   dataP   CHAR(10),   termin  CHAR(10),   zmiana  CHAR(1) ,   EOL   CHAR(2));"));
    EXPECT_TRUE(
        UpgradeStatements::taPaczp(QStringLiteral("/o'k/"))
            .startsWith(QStringLiteral("CREATE TABLE TA_PACZP EXTERNAL FILE '/o''k/paczki/PACZKAP.TXT' ( "
                                       "KODP  CHAR(5),  KODPP CHAR(3),  ")));
    EXPECT_TRUE(
        UpgradeStatements::taPaczp(QStringLiteral("/x/"))
            .endsWith(QStringLiteral("KWOTA  CHAR(9) ,OPIS   CHAR(100),dataPP CHAR(10) ,EOL   CHAR(2));")));
    EXPECT_EQ(UpgradeStatements::importPa(),
              QString(UpgradeStatements::paczka()).replace("PACZKA", "IMPORT_PA"));
}
