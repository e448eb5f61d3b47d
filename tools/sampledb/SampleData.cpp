#include "sampledb/SampleData.h"

#include "db/Database.h"
#include "db/Query.h"
#include "db/Transaction.h"

#include <QDate>
#include <QStringList>

#include <random>

namespace SampleData {

namespace {

const QStringList kFirms{"Przedsiębiorstwo Handlowe „Żółw” Sp. z o.o.",
                         "Zakład Usług Łączności Kaczmarek",
                         "Spółdzielnia Mleczarska Śnieżka",
                         "Hurtownia Źródło s.c.",
                         "Biuro Rachunkowe Ćwikła",
                         "Piekarnia Kłos Grzegorz Nowak",
                         "Fabryka Mebli Dąbrowa S.A.",
                         "Usługi Transportowe Wójcik",
                         "Księgarnia Pod Żurawiem",
                         "Gospodarstwo Ogrodnicze Jabłoń"};
const QStringList kCities{"90-001 Łódź",         "80-803 Gdańsk",      "31-042 Kraków",
                          "50-077 Wrocław",      "61-758 Poznań",      "70-415 Szczecin",
                          "15-950 Białystok",    "42-200 Częstochowa", "65-001 Zielona Góra",
                          "43-300 Bielsko-Biała"};
const QStringList kStreets{"ul. Długa 12",         "ul. Piękna 7/3",       "ul. Źródlana 5",
                           "ul. Świętokrzyska 30", "al. Jerozolimskie 44", "ul. Żeromskiego 1",
                           "ul. Łąkowa 19",        "pl. Wolności 8"};
const QStringList kBanks{
    "PKO BP S.A. o/Łódź",   "Bank Pekao S.A. I o/Kraków", "mBank S.A.",
    "ING Bank Śląski S.A.", "Santander Bank Polska S.A.", "Bank Spółdzielczy w Będzinie"};
const QStringList kPeople{"Anna Wiśniewska", "Łukasz Żółkiewski", "Małgorzata Dąbrowska", "Paweł Śliwiński",
                          "Zofia Grzegorczyk"};
const QStringList kAccountNames{"Rozrachunki z odbiorcami",
                                "Rozrachunki z dostawcami",
                                "Środki pieniężne w kasie",
                                "Rachunek bieżący",
                                "Zużycie materiałów i energii",
                                "Usługi obce",
                                "Podatki i opłaty",
                                "Wynagrodzenia",
                                "Przychody ze sprzedaży",
                                "Koszty działalności"};
const QStringList kDescriptions{
    "Zakup materiałów biurowych", "Sprzedaż towarów",   "Opłata za energię elektryczną",
    "Usługa księgowa za miesiąc", "Zwrot zaliczki",     "Faktura za transport",
    "Wpłata gotówki do kasy",     "Przelew wynagrodzeń"};
const QStringList kDocTypes{"FV", "WB", "KP", "KW", "PK"};
const QStringList kRegisters{"K", "B", "S", "Z"};

class Rng {
public:
    explicit Rng(unsigned seed) : m_engine(seed) {}
    int range(int lo, int hi) { return lo + int(m_engine() % unsigned(hi - lo + 1)); }
    QString pick(const QStringList &l) { return l[range(0, int(l.size()) - 1)]; }
    double amount(int maxZloty) { return range(1, maxZloty * 100) / 100.0; }

private:
    std::mt19937 m_engine; // its sequence is fixed by the standard
};

QString account(int i) {
    static const char *const groups[] = {"130", "201", "202", "401", "402", "700"};
    return QStringLiteral("%1-%2").arg(QLatin1String(groups[i % 6])).arg(i / 6 + 1, 3, 10, QLatin1Char('0'));
}

QString nip(Rng &r) {
    return QStringLiteral("%1%2%3").arg(r.range(100, 999)).arg(r.range(100, 999)).arg(r.range(1000, 9999));
}

QDateTime day(const QDate &d) {
    return QDateTime(d, QTime(0, 0), Qt::UTC);
}

void run(Query &q, const QString &sql) {
    q.setSql(sql);
    q.execute();
}

} // namespace

void fill(Database &db, const Scale &scale) {
    Rng r(scale.seed);
    Query q(QStringLiteral("SampleData"), &db);
    const int year = 2026;

    run(q, QStringLiteral("INSERT INTO FJ_BAZA (LP, Bila, ILE, ftech, ROK, FIRMA) VALUES "
                          "(1, 'N', 0, 'N', 2026, 'Biuro Rachunkowe \"Ślęża\" Sp. z o.o.')"));

    q.setSql(QStringLiteral("INSERT INTO FJ_ZPLK (KONTO, NAZWA, POZIOM, RODZAJ, NUMUKL, REJFIN) "
                            "VALUES (:KONTO, :NAZWA, :POZIOM, :RODZAJ, :NUMUKL, :REJFIN)"));
    for (int i = 0; i < scale.accounts; ++i) {
        q.paramByName("KONTO").setAsString(account(i));
        q.paramByName("NAZWA").setAsString(r.pick(kAccountNames));
        q.paramByName("POZIOM").setAsString(QString::number(r.range(1, 3)));
        q.paramByName("RODZAJ").setAsString(r.pick({"A", "P", "W"}));
        q.paramByName("NUMUKL").setAsInteger(r.range(1, 120));
        q.paramByName("REJFIN").setAsString(r.pick({"T", "N"}));
        q.execute();
    }

    q.setSql(QStringLiteral("INSERT INTO FJ_ROZR (KONTO, IDENT, NAZWA, ADR_1, ADR_2, BANK_1, BANK_2) "
                            "VALUES (:KONTO, :IDENT, :NAZWA, :ADR_1, :ADR_2, :BANK_1, :BANK_2)"));
    for (int i = 0; i < scale.accounts; i += 2) {
        q.paramByName("KONTO").setAsString(account(i));
        q.paramByName("IDENT").setAsString(nip(r));
        q.paramByName("NAZWA").setAsString(r.pick(kFirms));
        q.paramByName("ADR_1").setAsString(r.pick(kStreets));
        q.paramByName("ADR_2").setAsString(r.pick(kCities));
        q.paramByName("BANK_1").setAsString(r.pick(kBanks));
        q.paramByName("BANK_2").setAsString(QStringLiteral("%1 1020 %2 0000 %3")
                                                .arg(r.range(10, 99))
                                                .arg(r.range(1000, 9999))
                                                .arg(r.range(1000, 9999)));
        q.execute();
    }

    q.setSql(
        QStringLiteral("INSERT INTO FJ_BIL VALUES (:NUMZAP, :KONTO, :KWOWN, :KWOMA, :KWORO, :OPIS, :TERDAT, "
                       ":NAZWA1, :NAZWA2, :NAZWA3)"));
    const int bilRows = std::max(1, scale.accounts / 2);
    for (int i = 0; i < bilRows; ++i) {
        q.paramByName("NUMZAP").setAsInteger(i + 1);
        q.paramByName("KONTO").setAsString(account(i));
        const double wn = (i % 2) ? 0.0 : r.amount(50000);
        const double ma = (i % 2) ? r.amount(50000) : 0.0;
        q.paramByName("KWOWN").setAsFloat(wn);
        q.paramByName("KWOMA").setAsFloat(ma);
        q.paramByName("KWORO").setAsFloat(wn - ma);
        q.paramByName("OPIS").setAsString(QStringLiteral("Bilans otwarcia – ") + r.pick(kAccountNames));
        if (i % 5 == 4)
            q.paramByName("TERDAT").clear();
        else
            q.paramByName("TERDAT").setAsDateTime(day(QDate(year - 1, 12, 31)));
        q.paramByName("NAZWA1").setAsString(r.pick(kFirms).left(40));
        q.paramByName("NAZWA2").setAsString(r.pick(kStreets));
        q.paramByName("NAZWA3").setAsString(r.pick(kCities));
        q.execute();
    }
    run(q, QStringLiteral("SET GENERATOR NUMZAP_BIL TO %1").arg(bilRows));

    for (int m : scale.months) {
        const QString gen = m == 1 ? QStringLiteral("NUMEWI_DOK") : QStringLiteral("NUMEWI_DOK%1").arg(m);
        q.setSql(QStringLiteral("SELECT GEN_ID(%1, 0) AS G FROM RDB$DATABASE").arg(gen));
        q.open();
        const qint64 base = q.fieldByName("G").asInteger();
        q.close();

        Query doc(QStringLiteral("SampleDoc"), &db);
        doc.setSql(QStringLiteral("INSERT INTO FJ_DOK%1 (TYPREJ, KONTOW, NUMDOK, NUMPOZ, DATDOK, DOKTYP, "
                                  "DOKNUM, DOKDAT, K_KOD, K_IDN, K_NAZ, "
                                  "K_AD1, K_AD2, TERDNI, TERDAT, OPIS1, OPIS2, KTO) VALUES (:TYPREJ, "
                                  ":KONTOW, :NUMDOK, :NUMPOZ, :DATDOK, "
                                  ":DOKTYP, :DOKNUM, :DOKDAT, :K_KOD, :K_IDN, :K_NAZ, :K_AD1, :K_AD2, "
                                  ":TERDNI, :TERDAT, :OPIS1, :OPIS2, :KTO)")
                       .arg(m));
        Query entry(QStringLiteral("SampleEntry"), &db);
        entry.setSql(QStringLiteral("INSERT INTO FJ_ZAP%1 (NUMEWI, NUMPOZ, STRONA, KONTO, KWOTA, KWORO) "
                                    "VALUES (:NUMEWI, :NUMPOZ, :STRONA, :KONTO, :KWOTA, :KWORO)")
                         .arg(m));
        for (int i = 0; i < scale.documentsPerMonth; ++i) {
            const QDate dokdat(year, m, r.range(1, 28));
            const int terdni = r.pick({"7", "14", "30"}).toInt();
            const QString docType = r.pick(kDocTypes);
            doc.paramByName("TYPREJ").setAsString(r.pick(kRegisters));
            doc.paramByName("KONTOW").setAsString(account(r.range(0, scale.accounts - 1)));
            doc.paramByName("NUMDOK").setAsInteger(i + 1);
            doc.paramByName("NUMPOZ").setAsInteger(1);
            doc.paramByName("DATDOK").setAsInteger(dokdat.day());
            doc.paramByName("DOKTYP").setAsString(docType);
            doc.paramByName("DOKNUM").setAsString(QStringLiteral("%1/%2/%3/%4")
                                                      .arg(docType)
                                                      .arg(i + 1)
                                                      .arg(m, 2, 10, QLatin1Char('0'))
                                                      .arg(year));
            doc.paramByName("DOKDAT").setAsDateTime(day(dokdat));
            doc.paramByName("K_KOD").setAsString(
                account(2 * r.range(0, std::max(0, scale.accounts / 2 - 1))));
            doc.paramByName("K_IDN").setAsString(nip(r));
            doc.paramByName("K_NAZ").setAsString(r.pick(kFirms));
            doc.paramByName("K_AD1").setAsString(r.pick(kStreets));
            doc.paramByName("K_AD2").setAsString(r.pick(kCities));
            doc.paramByName("TERDNI").setAsInteger(terdni);
            doc.paramByName("TERDAT").setAsDateTime(day(dokdat.addDays(terdni)));
            doc.paramByName("OPIS1").setAsString(r.pick(kDescriptions));
            doc.paramByName("OPIS2").setAsString(i % 3 ? QString()
                                                       : QStringLiteral("Uwagi: płatność przelewem"));
            doc.paramByName("KTO").setAsString(r.pick(kPeople));
            doc.execute();
            const qint64 numewi = base + i + 1;
            for (int e = 0; e < scale.entriesPerDocument; ++e) {
                const double amount = r.amount(20000);
                entry.paramByName("NUMEWI").setAsInteger(numewi);
                entry.paramByName("NUMPOZ").setAsInteger(e / 2 + 1);
                entry.paramByName("STRONA").setAsString(e % 2 ? QStringLiteral("M") : QStringLiteral("W"));
                entry.paramByName("KONTO").setAsString(account(r.range(0, scale.accounts - 1)));
                entry.paramByName("KWOTA").setAsFloat(amount);
                entry.paramByName("KWORO").setAsFloat(e % 3 == 2 ? 0.0 : amount);
                entry.execute();
            }
        }
    }

    q.setSql(QStringLiteral("INSERT INTO FJ_DKSI (TYPR, NAZWA, BLOK) VALUES (:TYPR, :NAZWA, :BLOK)"));
    const QStringList dksi{"FV", "WB", "", "KP", ""};
    for (const QString &t : dksi) {
        q.paramByName("TYPR").setAsString(t);
        q.paramByName("NAZWA").setAsString(t.isEmpty() ? QStringLiteral("Dziennik główny")
                                                       : QStringLiteral("Dziennik ") + t);
        q.paramByName("BLOK").setAsString(QStringLiteral("T"));
        q.execute();
    }
    run(q, QStringLiteral("INSERT INTO FJ_FLOP (STANOWISKO, UZYTKOWNIK, OD) VALUES ('KSIĘGOWOŚĆ-1', 'ANNA', "
                          "'2026-03-02 08:15:00')"));
    run(q, QStringLiteral("INSERT INTO FJ_FLOP (STANOWISKO, UZYTKOWNIK, OD) VALUES ('KASA', 'ŁUKASZ', "
                          "'2026-03-02 09:40:00')"));
    run(q, QStringLiteral(
               "INSERT INTO FJ_OBR (KONTO, MIESIAC, OBR_WN, OBR_MA) VALUES ('201-001', 1, 1520.40, 980.00)"));
    run(q, QStringLiteral("INSERT INTO FJ_TYPD (DOKTYP, NAZWA) VALUES ('FV', 'Faktura VAT')"));
    run(q, QStringLiteral("INSERT INTO FJ_TYPD (DOKTYP, NAZWA) VALUES ('WB', 'Wyciąg bankowy')"));
    run(q,
        QStringLiteral("INSERT INTO FJ_STRU (KOD, NAZWA, POZIOM) VALUES ('01', 'Dział księgowości', '1')"));
    run(q, QStringLiteral("INSERT INTO FJ_ZPUK (NUMUKL, NAZWA) VALUES (1, 'Układ podstawowy')"));
    run(q, QStringLiteral("INSERT INTO FJ_REJV (NUMEWI, MIESIAC, K_NAZ, NETTO, VAT, STAWKA) VALUES (1, 1, "
                          "'Żółw', 100.00, 23.00, '23')"));
    run(q, QStringLiteral("INSERT INTO FJ_BDOC (KONTO, NAZWA, PLAN_ROK, WYKONANIE) VALUES ('700-001', "
                          "'Dochody z usług', 120000.00, 35000.50)"));
    run(q, QStringLiteral("INSERT INTO FJ_VAT7 (MIESIAC, POZYCJA, KWOTA) VALUES (1, 'K_19', 2300.00)"));
    for (const char *t : {"FJ_BILAN", "FJ_BILA2", "FJ_BILA3"})
        run(q, QStringLiteral("INSERT INTO %1 (POZYCJA, NAZWA, KWOTA_BIE, KWOTA_POP) VALUES ('A.I', 'Aktywa "
                              "trwałe', 1000.00, 900.00)")
                   .arg(QLatin1String(t)));
    for (int i = 1; i <= 6; ++i)
        run(q,
            QStringLiteral("INSERT INTO FJ_STA%1 (POZYCJA, NAZWA, KWOTA) VALUES ('1', 'Zestawienie', 10.00)")
                .arg(i));
    for (int i = 0; i < std::max(1, scale.accounts / 8); ++i)
        run(q, QStringLiteral("INSERT INTO FJ_BWYD (KONTO, NAZWA, BIL_WN1, BIL_MA1, GR10, BIL_WN12, GR129) "
                              "VALUES ('%1', 'Wydatki bieżące', 500.00, 250.00, 100.00, 700.00, 50.00)")
                   .arg(account(i)));

    if (scale.currentVariant) {
        run(q, QStringLiteral(
                   "INSERT INTO KOMUN_R (KONTO, NAZWA) VALUES ('201-001', 'Komunikat dla stanowiska KASA')"));
        run(q,
            QStringLiteral("INSERT INTO KOMUN_R (KONTO, NAZWA) VALUES ('202-001', 'Zamknięcie miesiąca')"));
        Query pkg(QStringLiteral("SamplePackage"), &db);
        pkg.setSql(QStringLiteral(
            "INSERT INTO PACZKA (KOD, NAZWA, OPIS1, OPIS2, numer, autor, dataP, termin, zmiana) "
            "VALUES (:KOD, :NAZWA, :OPIS1, :OPIS2, :NUMER, :AUTOR, :DATAP, :TERMIN, 'N')"));
        Query tr(QStringLiteral("SampleTransfer"), &db);
        tr.setSql(QStringLiteral("INSERT INTO PRZELEWY (KODP, KODPP, NAZWA1, ADR11, ADR12, BANK11, BANK12, "
                                 "NAZWA2, ADR21, ADR22, BANK21, "
                                 "BANK22, KWOTA, OPIS, dataPP) VALUES (:KODP, :KODPP, :NAZWA1, :ADR11, "
                                 ":ADR12, :BANK11, :BANK12, :NAZWA2, "
                                 ":ADR21, :ADR22, :BANK21, :BANK22, :KWOTA, :OPIS, :DATAPP)"));
        for (int p = 1; p <= scale.packages; ++p) {
            const QDate d(year, 1 + (p - 1) % 12, r.range(1, 28));
            pkg.paramByName("KOD").setAsInteger(p);
            pkg.paramByName("NAZWA").setAsString(QStringLiteral("Paczka przelewów nr %1").arg(p));
            pkg.paramByName("OPIS1").setAsString(QStringLiteral("Płatności dla dostawców"));
            pkg.paramByName("OPIS2").setAsString(QString());
            pkg.paramByName("NUMER").setAsString(QString::number(p));
            pkg.paramByName("AUTOR").setAsString(r.pick(kPeople));
            pkg.paramByName("DATAP").setAsDateTime(day(d));
            pkg.paramByName("TERMIN").setAsDateTime(day(d.addDays(3)));
            pkg.execute();
            for (int t = 1; t <= scale.transfersPerPackage; ++t) {
                tr.paramByName("KODP").setAsInteger(p);
                tr.paramByName("KODPP").setAsInteger(t);
                tr.paramByName("NAZWA1").setAsString(QStringLiteral("Biuro Rachunkowe \"Ślęża\""));
                tr.paramByName("ADR11").setAsString(QStringLiteral("ul. Główna 1"));
                tr.paramByName("ADR12").setAsString(QStringLiteral("50-001 Wrocław"));
                tr.paramByName("BANK11").setAsString(r.pick(kBanks));
                tr.paramByName("BANK12").setAsString(QStringLiteral("12 1020 5226 0000 6102 0417 7895"));
                tr.paramByName("NAZWA2").setAsString(r.pick(kFirms));
                tr.paramByName("ADR21").setAsString(r.pick(kStreets));
                tr.paramByName("ADR22").setAsString(r.pick(kCities));
                tr.paramByName("BANK21").setAsString(r.pick(kBanks));
                tr.paramByName("BANK22").setAsString(QStringLiteral("%1 1140 2004 0000 %2 %3")
                                                         .arg(r.range(10, 99))
                                                         .arg(r.range(1000, 9999))
                                                         .arg(r.range(1000, 9999)));
                tr.paramByName("KWOTA").setAsFloat(r.amount(99999));
                tr.paramByName("OPIS").setAsString(
                    QStringLiteral("Zapłata za fakturę FV/%1/%2").arg(t).arg(year));
                tr.paramByName("DATAPP").setAsDateTime(day(d));
                tr.execute();
            }
        }
    }
    db.defaultTransaction->commit();
}

} // namespace SampleData
