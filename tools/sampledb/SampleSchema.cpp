#include "sampledb/SampleSchema.h"

#include "exchange/ExchangeLayouts.h"
#include "platform/Paths.h"
#include "users/UserAccounts.h"
#include "yearend/UpgradeStatements.h"

namespace SampleSchema {

namespace {

QString monthDigits(int m) {
    return QString::number(m).rightJustified(2, QLatin1Char('0'));
}

QString documentColumns() {
    return QStringLiteral(
        "TYPREJ CHAR(1), KONTOW D_KONTO, NUMDOK DECIMAL(6,0), NUMPOZ DECIMAL(6,0), "
        "DATDOK DECIMAL(2,0), DOKTYP CHAR(2), DOKNUM CHAR(20), DOKDAT DATE, K_KOD CHAR(25), "
        "K_IDN CHAR(13), K_NAZ VARCHAR(80), K_AD1 CHAR(30), K_AD2 CHAR(30), TERDNI DECIMAL(5,0), "
        "TERDAT DATE, OPIS1 CHAR(100), OPIS2 CHAR(100), ");
}

} // namespace

QStringList tableNames(Variant variant) {
    // Every table the rights cover exists here, but the later versions' in the old variant.
    static const QStringList later{"IMPORT_R", "KOMUN_R",   "TA_ZPLK",   "IMPORT_P", "PACZKA",
                                   "PRZELEWY", "IMPORT_PA", "IMPORT_PP", "TA_PACZ",  "TA_PACZP"};
    QStringList t{"FJ_BAZA", "TA_BZBO"};
    for (const QString &table : UserAccounts::rightsTables())
        if (variant == Variant::Current || !later.contains(table))
            t << table;
    return t;
}

QStringList statements(const Options &o) {
    namespace L = ExchangeLayouts;
    QStringList s;
    s << QStringLiteral("CREATE DOMAIN D_KONTO AS CHAR(25)");
    s << QStringLiteral("CREATE GENERATOR NUM_OPER");
    s << QStringLiteral("CREATE GENERATOR NUMZAP_BIL");
    s << QStringLiteral("CREATE GENERATOR NUMEWI_DOK");
    for (int m = 2; m <= 12; ++m)
        s << QStringLiteral("CREATE GENERATOR NUMEWI_DOK%1").arg(m);

    s << QStringLiteral("CREATE TABLE FJ_BAZA (LP INTEGER NOT NULL PRIMARY KEY, Bila CHAR(2), ILE INTEGER, "
                        "ftech CHAR(1), ROK DECIMAL(4,0), FIRMA CHAR(60))");
    s << QStringLiteral(
        "CREATE TABLE FJ_ZPLK (KONTO D_KONTO NOT NULL PRIMARY KEY, NAZWA CHAR(60), POZIOM CHAR(1), "
        "RODZAJ CHAR(1), NUMUKL DECIMAL(3,0), REJFIN CHAR(1))");
    s << QStringLiteral(
        "CREATE TABLE FJ_STRU (KOD CHAR(10) NOT NULL PRIMARY KEY, NAZWA CHAR(60), POZIOM CHAR(1))");
    s << QStringLiteral("CREATE TABLE FJ_ZPUK (NUMUKL DECIMAL(3,0) NOT NULL PRIMARY KEY, NAZWA CHAR(60))");
    s << QStringLiteral(
        "CREATE TABLE FJ_ROZR (KONTO D_KONTO NOT NULL PRIMARY KEY, IDENT CHAR(13), NAZWA CHAR(60), "
        "ADR_1 CHAR(30), ADR_2 CHAR(30), BANK_1 CHAR(40), BANK_2 CHAR(40))");
    s << QStringLiteral("CREATE TABLE FJ_REJV (NUMEWI DECIMAL(6,0), MIESIAC DECIMAL(2,0), K_NAZ CHAR(60), "
                        "NETTO DECIMAL(13,2), VAT DECIMAL(13,2), STAWKA CHAR(3))");
    QString bwyd = QStringLiteral("CREATE TABLE FJ_BWYD (KONTO D_KONTO NOT NULL PRIMARY KEY, NAZWA CHAR(60)");
    for (int m = 1; m <= 12; ++m) {
        bwyd += QStringLiteral(", BIL_WN%1 DECIMAL(13,2), BIL_MA%1 DECIMAL(13,2)").arg(m);
        for (int d = 0; d <= 9; ++d)
            bwyd += QStringLiteral(", GR%1%2 DECIMAL(13,2)").arg(m).arg(d);
    }
    s << bwyd + QStringLiteral(")");
    s << QStringLiteral("CREATE TABLE FJ_BDOC (KONTO D_KONTO NOT NULL PRIMARY KEY, NAZWA CHAR(60), "
                        "PLAN_ROK DECIMAL(13,2), WYKONANIE DECIMAL(13,2))");
    s << QStringLiteral("CREATE TABLE FJ_TYPD (DOKTYP CHAR(2) NOT NULL PRIMARY KEY, NAZWA CHAR(40))");
    s << QStringLiteral(
        "CREATE TABLE FJ_BIL (NUMZAP DECIMAL(4,0), KONTO D_KONTO, KWOWN DECIMAL(13,2), "
        "KWOMA DECIMAL(13,2), KWORO DECIMAL(13,2), OPIS CHAR(60), TERDAT DATE, NAZWA1 CHAR(40), "
        "NAZWA2 CHAR(40), NAZWA3 CHAR(40))");
    s << QStringLiteral("CREATE TABLE FJ_DKSI (TYPR CHAR(2), NAZWA CHAR(40), BLOK CHAR(1))");
    s << QStringLiteral("CREATE TABLE FJ_OBR (KONTO D_KONTO, MIESIAC DECIMAL(2,0), OBR_WN DECIMAL(13,2), "
                        "OBR_MA DECIMAL(13,2))");
    for (int m = 1; m <= 12; ++m) {
        const QString gen = m == 1 ? QStringLiteral("NUMEWI_DOK") : QStringLiteral("NUMEWI_DOK%1").arg(m);
        s << QStringLiteral(
                 "CREATE TABLE FJ_DOK%1 (%2NUMEWI DECIMAL(6,0) NOT NULL PRIMARY KEY, KTO CHAR(40))")
                 .arg(m)
                 .arg(documentColumns());
        s << QStringLiteral("CREATE INDEX FJ_DOK%1_KEY ON FJ_DOK%1 (TYPREJ, KONTOW, NUMDOK, NUMPOZ)").arg(m);
        s << QStringLiteral("CREATE TRIGGER FJ_DOK%1_BI FOR FJ_DOK%1 ACTIVE BEFORE INSERT POSITION 0 AS "
                            "BEGIN NEW.NUMEWI = GEN_ID(%2, 1); END")
                 .arg(m)
                 .arg(gen);
    }
    for (int m = 1; m <= 12; ++m) {
        s << QStringLiteral(
                 "CREATE TABLE FJ_ZAP%1 (NUMEWI DECIMAL(6,0), NUMPOZ DECIMAL(4,0), STRONA CHAR(1), "
                 "KONTO D_KONTO, KWOTA DECIMAL(13,2), KWORO DECIMAL(13,2))")
                 .arg(m);
        s << QStringLiteral("CREATE INDEX FJ_ZAP%1_NUMEWI ON FJ_ZAP%1 (NUMEWI)").arg(m);
    }
    s << QStringLiteral("CREATE TABLE FJ_VAT7 (MIESIAC DECIMAL(2,0), POZYCJA CHAR(10), KWOTA DECIMAL(13,2))");
    for (const char *t : {"FJ_BILAN", "FJ_BILA2", "FJ_BILA3"})
        s << QStringLiteral("CREATE TABLE %1 (POZYCJA CHAR(10), NAZWA CHAR(60), KWOTA_BIE DECIMAL(13,2), "
                            "KWOTA_POP DECIMAL(13,2))")
                 .arg(QLatin1String(t));
    for (int i = 1; i <= 6; ++i)
        s << QStringLiteral("CREATE TABLE FJ_STA%1 (POZYCJA CHAR(10), NAZWA CHAR(60), KWOTA DECIMAL(13,2))")
                 .arg(i);
    s << QStringLiteral("CREATE TABLE FJ_FLOP (STANOWISKO CHAR(20), UZYTKOWNIK CHAR(31), OD TIMESTAMP)");
    s << QStringLiteral(
        "CREATE TABLE IMPORT_D (TYPREJ CHAR(1), KONTOW CHAR(25), NUMDOK DECIMAL(6,0), "
        "NUMPOZ DECIMAL(6,0), DATDOK DECIMAL(2,0), DOKTYP CHAR(2), DOKNUM CHAR(20), DOKDAT DATE, "
        "K_KOD CHAR(25), K_IDN CHAR(13), K_NAZ CHAR(60), K_AD1 CHAR(30), K_AD2 CHAR(30), "
        "TERDNI DECIMAL(5,0), TERDAT DATE, OPIS1 CHAR(100), OPIS2 CHAR(100), NUMEWI DECIMAL(6,0), "
        "KTO CHAR(40), NUMEWI2 DECIMAL(6,0))");
    s << QStringLiteral("CREATE TABLE IMPORT_Z (NUMEWI DECIMAL(6,0), NUMPOZ DECIMAL(4,0), STRONA CHAR(1), "
                        "KONTO CHAR(25), KWOTA DECIMAL(13,2), KWORO DECIMAL(13,2), NUMEWI2 DECIMAL(6,0))");
    // The import looks staging rows up by document key and by sending number, one row at a time.
    if (o.stagingIndexes) {
        s << QStringLiteral("CREATE INDEX IMPORT_D_KEY ON IMPORT_D (TYPREJ, KONTOW, NUMDOK, NUMPOZ)");
        s << QStringLiteral("CREATE INDEX IMPORT_Z_NUMEWI2 ON IMPORT_Z (NUMEWI2)");
    }

    const QString x = o.exchangeFolder;
    for (int m = 1; m <= 12; ++m) {
        s << L::externalTableDeclaration(QStringLiteral("TA_EXD%1").arg(m),
                                         x + QStringLiteral("EX%1D.TXT").arg(monthDigits(m)), L::documents());
        s << L::externalTableDeclaration(QStringLiteral("TA_EXZ%1").arg(m),
                                         x + QStringLiteral("EX%1Z.TXT").arg(monthDigits(m)), L::entries());
    }
    s << L::externalTableDeclaration(QStringLiteral("TA_BZBO"), x + QStringLiteral("BO.TXT"),
                                     L::openingBalance());
    s << L::externalTableDeclaration(QStringLiteral("TA_ROZR"), x + QStringLiteral("ROZR.TXT"),
                                     L::settlements());
    s << L::externalTableDeclaration(QStringLiteral("TA_BO"), x + QStringLiteral("BO.TXT"),
                                     L::openingBalance());

    if (o.variant == Variant::Current) {
        namespace U = UpgradeStatements;
        s << U::importR() << U::komunR() << U::taZplk(x) << U::importP() << U::paczka() << U::przelewy()
          << U::importPa() << U::importPp() << U::taPacz(o.packageFolder) << U::taPaczp(o.packageFolder);
    }
    return s;
}

} // namespace SampleSchema
