#include "yearend/UpgradeStatements.h"

#include "platform/Paths.h"

namespace UpgradeStatements {

QString importR() {
    return QStringLiteral("CREATE TABLE IMPORT_R (KONTO\tD_KONTO  NOT NULL,IDENT\tCHAR(13),NAZWA\tCHAR(60),"
                          "ADR_1\tCHAR(30),ADR_2\tCHAR(30),BANK_1\tCHAR(40),BANK_2\tCHAR(40),"
                          "CONSTRAINT IMPORT_R PRIMARY KEY(KONTO))");
}

QString komunR() {
    return QStringLiteral("CREATE TABLE KOMUN_R (KONTO\tCHAR(100),NAZWA\tCHAR(200) )");
}

QString taZplk(const QString &driveRoot) {
    return QStringLiteral("CREATE TABLE TA_ZPLK EXTERNAL FILE '") +
           Paths::sqlLiteral(driveRoot + QStringLiteral("ZPLK.TXT")) +
           QStringLiteral(
               "' ( KONTO  CHAR(25), NAZWA  CHAR(60), POZIOM CHAR(1),  RODZAJ CHAR(1),  NUMUKL  CHAR(3), "
               "REJFIN  CHAR(1), EOL   CHAR(2));");
}

QString importP() {
    return QStringLiteral(
        "CREATE TABLE IMPORT_P (KONTO\tD_KONTO  NOT NULL,NAZWA\tCHAR(60),POZIOM\tCHAR(1) ,"
        "RODZAJ\tCHAR(1),NUMUKL\tCHAR(1),REJFIN\tCHAR(1),CONSTRAINT IMPORT_P PRIMARY KEY(KONTO))");
}

static QString packageTable(const QString &name) {
    return QStringLiteral("CREATE TABLE ") + name +
           QStringLiteral(
               " (KOD DECIMAL(5,0)  NOT NULL,NAZWA  CHAR(40) DEFAULT 'Nazwa Paczki Przelewów',"
               "OPIS1  CHAR(50),OPIS2  CHAR(50),numer   CHAR(15) DEFAULT '1',autor   CHAR(30),"
               "dataP   DATE DEFAULT 'TODAY',termin  DATE DEFAULT 'TODAY',zmiana  CHAR(1) DEFAULT 'N',"
               "CONSTRAINT ") +
           name + QStringLiteral(" PRIMARY KEY(KOD))");
}

static QString transferTable(const QString &name) {
    return QStringLiteral("CREATE TABLE ") + name +
           QStringLiteral(
               " (KODP  DECIMAL(5,0)  NOT NULL,KODPP DECIMAL(3,0)  NOT NULL,NAZWA1 CHAR(60),"
               "ADR11  CHAR(30),ADR12  CHAR(30),BANK11 CHAR(40),BANK12 CHAR(40),NAZWA2 CHAR(60),"
               "ADR21  CHAR(30),ADR22  CHAR(30),BANK21 CHAR(40),BANK22 CHAR(40),KWOTA  DECIMAL(9,2),"
               "OPIS   CHAR(100),dataPP DATE DEFAULT 'TODAY',CONSTRAINT ") +
           name + QStringLiteral(" PRIMARY KEY(KODP,KODPP))");
}

QString paczka() {
    return packageTable(QStringLiteral("PACZKA"));
}

QString przelewy() {
    return transferTable(QStringLiteral("PRZELEWY"));
}

QString importPa() {
    return packageTable(QStringLiteral("IMPORT_PA"));
}

QString importPp() {
    return transferTable(QStringLiteral("IMPORT_PP"));
}

QString taPacz(const QString &folder) {
    const QString sep = Paths::separator();
    return QStringLiteral("CREATE TABLE TA_PACZ EXTERNAL FILE '") +
           Paths::sqlLiteral(folder + QStringLiteral("paczki") + sep + QStringLiteral("PACZKA.TXT")) +
           QStringLiteral("'") + QStringLiteral(" ( ") + QStringLiteral("KOD     CHAR(5)  ,  ") +
           QStringLiteral("NAZWA   CHAR(40) ,  ") + QStringLiteral("OPIS1   CHAR(50) ,  ") +
           QStringLiteral("OPIS2   CHAR(50) ,  ") + QStringLiteral("numer   CHAR(15),   ") +
           QStringLiteral("autor   CHAR(30),   ") + QStringLiteral("dataP   CHAR(10),   ") +
           QStringLiteral("termin  CHAR(10),   ") + QStringLiteral("zmiana  CHAR(1) ,   ") +
           QStringLiteral("EOL   CHAR(2));");
}

QString taPaczp(const QString &folder) {
    const QString sep = Paths::separator();
    return QStringLiteral("CREATE TABLE TA_PACZP EXTERNAL FILE '") +
           Paths::sqlLiteral(folder + QStringLiteral("paczki") + sep + QStringLiteral("PACZKAP.TXT")) +
           QStringLiteral("'") + QStringLiteral(" ( ") + QStringLiteral("KODP  CHAR(5),  ") +
           QStringLiteral("KODPP CHAR(3),  ") + QStringLiteral("NAZWA1 CHAR(60),") +
           QStringLiteral("ADR11  CHAR(30),") + QStringLiteral("ADR12  CHAR(30),") +
           QStringLiteral("BANK11 CHAR(40),") + QStringLiteral("BANK12 CHAR(40),") +
           QStringLiteral("NAZWA2 CHAR(60),") + QStringLiteral("ADR21  CHAR(30),") +
           QStringLiteral("ADR22  CHAR(30),") + QStringLiteral("BANK21 CHAR(40),") +
           QStringLiteral("BANK22 CHAR(40),") + QStringLiteral("KWOTA  CHAR(9) ,") +
           QStringLiteral("OPIS   CHAR(100),") + QStringLiteral("dataPP CHAR(10) ,") +
           QStringLiteral("EOL   CHAR(2));");
}

} // namespace UpgradeStatements
