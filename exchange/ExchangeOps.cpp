#include "exchange/ExchangeOps.h"

#include "core/MainD.h"
#include "core/Operator.h"
#include "db/Errors.h"
#include "db/Savepoint.h"
#include "exchange/ExchangeLayouts.h"
#include "exchange/ExchangeWriter.h"
#include "exchange/Formatters.h"
#include "exchange/ImportIndexes.h"
#include "platform/Clock.h"
#include "platform/Paths.h"

#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cmath>
#include <optional>
#include <tuple>
#include <vector>

namespace ExchangeOps {

namespace {

const QString kCr = QStringLiteral("\r");

// A select over a whole table, sorted before its first row comes.
void openOn(Query &q, const QString &sql) {
    q.setSql(sql);
    q.open(Query::Duration::MayRunLong);
}

// For a scope, the query reads its rows forward only, each into one buffer that the next fetch refills:
// a month's rows pass through and none is kept.
struct ForwardOnly {
    Query &q;
    explicit ForwardOnly(Query &query) : q(query) { q.forwardOnly = true; }
    ~ForwardOnly() {
        q.close();
        q.forwardOnly = false;
    }
    ForwardOnly(const ForwardOnly &) = delete;
    ForwardOnly &operator=(const ForwardOnly &) = delete;
};

// Writes one exchange file from a select, with its stage and activity.
void writeFile(Operator &op, Operator::Activity bar, Query &q, const QString &path, const QString &sql,
               const ExchangeLayouts::Layout &layout) {
    op.setStage(bar, QStringLiteral("tworzenie pliku ") + path);
    op.processEvents();
    const ForwardOnly forward(q);
    openOn(q, sql);
    ExchangeWriter writer(path, layout, Clock::now().date());
    op.setActivity(bar, 0);
    int counter = 0;
    writer.writeAll(q, [&] {
        counter = nextActivity(counter);
        op.setActivity(bar, counter);
    });
    q.close();
    op.setActivity(bar, 100);
}

// The document key of a row: TYPREJ and KONTOW without regard to letter case (and trailing blanks),
// NUMDOK and NUMPOZ as numbers.
struct DocKey {
    QString typrej, kontow;
    qint64 numdok = 0, numpoz = 0;
    bool operator==(const DocKey &o) const {
        return numdok == o.numdok && numpoz == o.numpoz && typrej == o.typrej && kontow == o.kontow;
    }
};

size_t qHash(const DocKey &k, size_t seed = 0) {
    return qHashMulti(seed, k.typrej, k.kontow, k.numdok, k.numpoz);
}

QString keyText(const QString &s) {
    qsizetype n = s.size();
    while (n > 0 && s[n - 1] == QLatin1Char(' '))
        --n;
    return s.left(n).toUpper();
}

struct KeyColumns {
    int typrej, kontow, numdok, numpoz;
    explicit KeyColumns(const Query &q)
        : typrej(q.fieldIndex(QStringLiteral("TYPREJ"))), kontow(q.fieldIndex(QStringLiteral("KONTOW"))),
          numdok(q.fieldIndex(QStringLiteral("NUMDOK"))), numpoz(q.fieldIndex(QStringLiteral("NUMPOZ"))) {}
    DocKey of(const Query &q) const {
        return {keyText(q.field(typrej).asString()), keyText(q.field(kontow).asString()),
                std::llround(q.field(numdok).asFloat()), std::llround(q.field(numpoz).asFloat())};
    }
};

// A document of the month as found by its key: its record number and its key texts as stored.
struct FoundDocument {
    double numewi = 0;
    QString typrej, kontow;
};

// The month's documents by key, the first in key order winning, in 24 bytes a document: a 128-bit hash
// of the key (two independent 64-bit hashes; a collision among a year's documents is far less likely than
// a disk error), the record number and the row's place in key order, sorted for a binary search. The key
// texts as stored are kept only for the rare keys not stored in their comparison form (lower-case
// letters), so that the deletion meets the stored row; for the others the comparison form is the stored.
class MonthDocuments {
public:
    MonthDocuments(Query &q, const QString &table) {
        {
            const ForwardOnly forward(q);
            openOn(q, QStringLiteral("select count(*) from ") + table);
            m_entries.reserve(size_t(q.field(0).asInteger()));
        }
        const ForwardOnly forward(q);
        openOn(q, QStringLiteral("select * from ") + table +
                      QStringLiteral(" order by TYPREJ,KONTOW,NUMDOK,NUMPOZ"));
        const KeyColumns key(q);
        const int numewi = q.fieldIndex(QStringLiteral("NUMEWI"));
        for (quint32 place = 0; !q.eof(); q.next(), ++place) {
            const DocKey k = key.of(q);
            const double n = q.field(numewi).asFloat();
            // NUMEWI is DECIMAL(6,0): a whole number that an int holds.
            if (n != std::trunc(n) || std::fabs(n) > 2147483647.0)
                throw QkError(QStringLiteral("Numer ewidencyjny %1 w tabeli %2 nie jest liczbą całkowitą")
                                  .arg(n)
                                  .arg(table));
            Entry e = entry(k);
            e.numewi = qint32(n);
            e.place = place;
            m_entries.push_back(e);
            const QString typrej = q.field(key.typrej).asString(), kontow = q.field(key.kontow).asString();
            if (!typrej.startsWith(k.typrej) || !kontow.startsWith(k.kontow))
                m_storedTexts.insert({e.h1, e.h2}, {typrej, kontow}); // the first in key order stays
        }
        std::sort(m_entries.begin(), m_entries.end(), [](const Entry &a, const Entry &b) {
            return std::tie(a.h1, a.h2, a.place) < std::tie(b.h1, b.h2, b.place);
        });
        m_entries.erase(
            std::unique(m_entries.begin(), m_entries.end(),
                        [](const Entry &a, const Entry &b) { return a.h1 == b.h1 && a.h2 == b.h2; }),
            m_entries.end());
    }

    std::optional<FoundDocument> find(const DocKey &k) const {
        const Entry e = entry(k);
        const auto it =
            std::lower_bound(m_entries.begin(), m_entries.end(), e, [](const Entry &a, const Entry &b) {
                return std::tie(a.h1, a.h2) < std::tie(b.h1, b.h2);
            });
        if (it == m_entries.end() || it->h1 != e.h1 || it->h2 != e.h2)
            return std::nullopt;
        const auto stored = m_storedTexts.constFind({e.h1, e.h2});
        if (stored != m_storedTexts.constEnd())
            return FoundDocument{double(it->numewi), stored->first, stored->second};
        return FoundDocument{double(it->numewi), k.typrej, k.kontow};
    }

private:
    struct Entry {
        quint64 h1 = 0, h2 = 0;
        qint32 numewi = 0;
        quint32 place = 0;
    };
    static_assert(sizeof(Entry) == 24);
    static Entry entry(const DocKey &k) {
        return {quint64(qHash(k, size_t(0x51a7e5ee7a11c0deULL))),
                quint64(qHash(k, size_t(0x9e3779b97f4a7c15ULL))), 0, 0};
    }
    std::vector<Entry> m_entries;
    QHash<QPair<quint64, quint64>, QPair<QString, QString>> m_storedTexts;
};

// The import's activity indicator over one row loop: 0 at its start, 100 at its end however it ends.
class Activity {
public:
    explicit Activity(Operator &op) : m_op(op) { m_op.setActivity(Operator::Activity::Import, 0); }
    void step() {
        m_counter = nextActivity(m_counter);
        m_op.setActivity(Operator::Activity::Import, m_counter);
    }
    ~Activity() { m_op.setActivity(Operator::Activity::Import, 100); }

private:
    Operator &m_op;
    int m_counter = 0;
};

void setKeyParams(Query &target, const Query &source, const KeyColumns &key) {
    target.paramByName(QStringLiteral("TYPREJ")).setAsString(source.field(key.typrej).asString());
    target.paramByName(QStringLiteral("KONTOW")).setAsString(source.field(key.kontow).asString());
    target.paramByName(QStringLiteral("NUMDOK")).setAsFloat(source.field(key.numdok).asFloat());
    target.paramByName(QStringLiteral("NUMPOZ")).setAsFloat(source.field(key.numpoz).asFloat());
}

void runImport(TMainDm &dm, Operator &op, int m, bool clearMonth) {
    const QString n = QString::number(m);
    const QString D = QStringLiteral("FJ_DOK") + n;
    const QString Z = QStringLiteral("FJ_ZAP") + n;
    Query &q6 = dm.IBQuery6;
    Query &q7 = dm.IBQuery7;
    Query &q8 = dm.IBQuery8;
    auto stage = [&](const char *text) {
        op.setStage(Operator::Activity::Import, QString::fromUtf8(text));
        op.processEvents();
    };
    auto exec = [&](Query &q, const QString &sql) { // a statement over a whole month
        q.setSql(sql);
        q.execute(Query::Duration::MayRunLong);
    };

    stage("wczytanie do IMPORT_D");
    exec(q6, QStringLiteral("DELETE FROM IMPORT_D"));
    exec(q6, QStringLiteral(
                 "INSERT INTO IMPORT_D SELECT TYPREJ  ,KONTOW  ,CAST(NUMDOK AS DECIMAL(6,0)), "
                 "CAST(NUMPOZ AS DECIMAL(6,0)), CAST(DATDOK AS DECIMAL(2,0)), DOKTYP, DOKNUM, "
                 "CAST(DOKDAT AS DATE), K_KOD, K_IDN, K_NAZ, K_AD1, K_AD2, CAST(TERDNI AS DECIMAL(5,0)), "
                 "CAST(TERDAT AS DATE), OPIS1, OPIS2, CAST(NUMEWI AS DECIMAL(6,0)), KTO, "
                 "CAST(NUMEWI2 AS DECIMAL(6,0)) FROM TA_EXD") +
                 n);
    stage("wczytanie do IMPORT_Z");
    exec(q6, QStringLiteral("DELETE FROM IMPORT_Z"));
    exec(q6, QStringLiteral(
                 "INSERT INTO IMPORT_Z SELECT CAST(NUMEWI AS DECIMAL(6,0)), CAST(NUMPOZ AS DECIMAL(4,0)), "
                 "STRONA, KONTO , CAST(KWOTA AS DECIMAL(13,2)), CAST(KWORO AS DECIMAL(13,2)), "
                 "CAST(NUMEWI2 AS DECIMAL(6,0)) FROM TA_EXZ") +
                 n);

    const QString stagedDocs = QStringLiteral("SELECT * FROM IMPORT_D order by NUMEWI2");
    const ForwardOnly staged(q6); // the staged month is read in passes, never held
    const QString keyCondition = QStringLiteral(
        " (TYPREJ = :TYPREJ) AND (KONTOW = :KONTOW) AND (NUMDOK = :NUMDOK) AND (NUMPOZ = :NUMPOZ)");

    stage("kasowanie starych dokumentów i zapisów");
    {
        const MonthDocuments existing(q7, D);
        openOn(q6, stagedDocs);
        const KeyColumns key(q6);
        Activity activity(op);
        for (; !q6.eof(); q6.next()) {
            const std::optional<FoundDocument> found = existing.find(key.of(q6));
            if (found) {
                q8.setSql(QStringLiteral("delete from ") + Z + QStringLiteral(" where  (NUMEWI = :NUMEWI)"));
                q8.paramByName(QStringLiteral("NUMEWI")).setAsFloat(found->numewi);
                q8.execute();
                // The document found goes, also when its key differs from the file's in letter case only.
                q8.setSql(QStringLiteral("delete from ") + D + QStringLiteral("  where ") + keyCondition);
                setKeyParams(q8, q6, key);
                q8.paramByName(QStringLiteral("TYPREJ")).setAsString(found->typrej);
                q8.paramByName(QStringLiteral("KONTOW")).setAsString(found->kontow);
                q8.execute();
            }
            activity.step();
        }
    }
    if (clearMonth) {
        exec(q8, QStringLiteral("DELETE FROM ") + D);
        exec(q8, QStringLiteral("DELETE FROM ") + Z);
    }

    stage("wczytanie z IMPORT_D do Dokum");
    {
        openOn(q6, stagedDocs);
        const QString insert =
            QStringLiteral("insert into ") + D +
            QStringLiteral(
                " (TYPREJ, KONTOW, NUMDOK, NUMPOZ, DATDOK, DOKTYP, DOKNUM, DOKDAT, K_KOD, K_IDN, K_NAZ, "
                "K_AD1, K_AD2, TERDNI, TERDAT, OPIS1, OPIS2, KTO) values ") +
            QStringLiteral(
                "(:TYPREJ,:KONTOW,:NUMDOK,:NUMPOZ,:DATDOK,:DOKTYP,:DOKNUM,:DOKDAT,:K_KOD,:K_IDN,:K_NAZ,"
                ":K_AD1,:K_AD2,:TERDNI,:TERDAT,:OPIS1,:OPIS2, :KTO)");
        static const char *const texts[] = {"TYPREJ", "KONTOW", "DOKTYP", "DOKNUM", "K_KOD", "K_IDN",
                                            "K_NAZ",  "K_AD1",  "K_AD2",  "OPIS1",  "OPIS2", "KTO"};
        std::vector<std::pair<QString, int>> textColumns;
        for (const char *t : texts)
            textColumns.emplace_back(QString::fromLatin1(t), q6.fieldIndex(QString::fromLatin1(t)));
        const int numdok = q6.fieldIndex(QStringLiteral("NUMDOK")),
                  numpoz = q6.fieldIndex(QStringLiteral("NUMPOZ"));
        const int datdok = q6.fieldIndex(QStringLiteral("DATDOK")),
                  terdni = q6.fieldIndex(QStringLiteral("TERDNI"));
        const int dokdat = q6.fieldIndex(QStringLiteral("DOKDAT")),
                  terdat = q6.fieldIndex(QStringLiteral("TERDAT"));
        Activity activity(op);
        for (; !q6.eof(); q6.next()) {
            q7.setSql(insert);
            for (const auto &[name, column] : textColumns)
                q7.paramByName(name).setAsString(q6.field(column).asString());
            q7.paramByName(QStringLiteral("NUMDOK")).setAsFloat(q6.field(numdok).asFloat());
            q7.paramByName(QStringLiteral("NUMPOZ")).setAsFloat(q6.field(numpoz).asFloat());
            q7.paramByName(QStringLiteral("DATDOK")).setAsInteger(q6.field(datdok).asInteger());
            q7.paramByName(QStringLiteral("DOKDAT")).setAsDateTime(q6.field(dokdat).asDateTime());
            q7.paramByName(QStringLiteral("TERDNI")).setAsInteger(q6.field(terdni).asInteger());
            q7.paramByName(QStringLiteral("TERDAT")).setAsDateTime(q6.field(terdat).asDateTime());
            q7.execute();
            activity.step();
        }
    }

    stage("wczytanie numewi z Dokum do IMPORT_D");
    {
        const MonthDocuments numbers(q7, D);
        openOn(q6, stagedDocs);
        const KeyColumns key(q6);
        const QString update = QStringLiteral("update IMPORT_D set   NUMEWI = :NUMEWI  where") + keyCondition;
        Activity activity(op);
        for (; !q6.eof(); q6.next()) {
            const std::optional<FoundDocument> found = numbers.find(key.of(q6));
            if (found) {
                q8.setSql(update);
                q8.paramByName(QStringLiteral("NUMEWI")).setAsFloat(found->numewi);
                setKeyParams(q8, q6, key);
                q8.execute();
            }
            activity.step();
        }
    }

    stage("zmiana numewi w IMPORT_Z");
    {
        openOn(q6, stagedDocs);
        const int numewi = q6.fieldIndex(QStringLiteral("NUMEWI")),
                  numewi2 = q6.fieldIndex(QStringLiteral("NUMEWI2"));
        Activity activity(op);
        for (; !q6.eof(); q6.next()) {
            q8.setSql(QStringLiteral("update IMPORT_Z set   NUMEWI = :NUMEWI1  where (NUMEWI2 = :NUMEWI2)"));
            q8.paramByName(QStringLiteral("NUMEWI1")).setAsFloat(q6.field(numewi).asFloat());
            q8.paramByName(QStringLiteral("NUMEWI2")).setAsFloat(q6.field(numewi2).asFloat());
            q8.execute();
            activity.step();
        }
    }

    stage("wczytanie z IMPORT_Z do Zapi");
    {
        openOn(q6, QStringLiteral("SELECT * FROM IMPORT_Z order by NUMEWI,NUMPOZ,STRONA"));
        const QString insert = QStringLiteral("insert into ") + Z +
                               QStringLiteral(" (NUMEWI, NUMPOZ, STRONA, KONTO, KWOTA, KWORO) values ") +
                               QStringLiteral("(:NUMEWI,:NUMPOZ,:STRONA,:KONTO,:KWOTA,:KWORO)");
        const int numewi = q6.fieldIndex(QStringLiteral("NUMEWI")),
                  numpoz = q6.fieldIndex(QStringLiteral("NUMPOZ"));
        const int strona = q6.fieldIndex(QStringLiteral("STRONA")),
                  konto = q6.fieldIndex(QStringLiteral("KONTO"));
        const int kwota = q6.fieldIndex(QStringLiteral("KWOTA")),
                  kworo = q6.fieldIndex(QStringLiteral("KWORO"));
        Activity activity(op);
        for (; !q6.eof(); q6.next()) {
            q7.setSql(insert);
            q7.paramByName(QStringLiteral("NUMEWI")).setAsFloat(q6.field(numewi).asFloat());
            q7.paramByName(QStringLiteral("NUMPOZ")).setAsInteger(q6.field(numpoz).asInteger());
            q7.paramByName(QStringLiteral("STRONA")).setAsString(q6.field(strona).asString());
            q7.paramByName(QStringLiteral("KONTO")).setAsString(q6.field(konto).asString());
            q7.paramByName(QStringLiteral("KWOTA")).setAsFloat(q6.field(kwota).asFloat());
            q7.paramByName(QStringLiteral("KWORO")).setAsFloat(q6.field(kworo).asFloat());
            q7.execute();
            activity.step();
        }
    }
    q6.close();
    q7.close();
}

} // namespace

QString documentsFile(const QString &root, int month) {
    return root + QStringLiteral("EX") + MonthDigits(month) + QStringLiteral("D.TXT");
}

QString entriesFile(const QString &root, int month) {
    return root + QStringLiteral("EX") + MonthDigits(month) + QStringLiteral("Z.TXT");
}

QStringList monthlyFiles(const QString &root, int month) {
    return {documentsFile(root, month), entriesFile(root, month), root + QStringLiteral("ROZR.TXT"),
            root + QStringLiteral("BO.TXT"), root + QStringLiteral("ZPLK.TXT")};
}

void exportMonth(TMainDm &dm, Operator &op, int month, const QString &yearText) {
    namespace L = ExchangeLayouts;
    const QString n = QString::number(month);
    const QStringList files = monthlyFiles(dm.Settings.exchangeRoot(), month);
    const QString statements[] = {
        QStringLiteral("select * from FJ_DOK") + n + QStringLiteral(" order by NUMEWI"),
        QStringLiteral("select * from FJ_ZAP") + n + QStringLiteral(" order by NUMEWI,NUMPOZ,STRONA"),
        QStringLiteral("select * from FJ_ROZR order by KONTO"),
        QStringLiteral("select * from FJ_BIL order by NUMZAP"),
        QStringLiteral("select * from FJ_ZPLK order by KONTO"),
    };
    const L::Layout *layouts[] = {&L::documents(), &L::entries(), &L::settlements(), &L::openingBalance(),
                                  &L::accountPlan()};
    for (int i = 0; i < 5; ++i)
        writeFile(op, Operator::Activity::Export, dm.IBQuery6, files[i], statements[i], *layouts[i]);
    op.setStage(Operator::Activity::Export, QString());
    op.processEvents();
    op.message(Operator::Box::Information,
               QStringLiteral("Export Danych za  [") + MonthName(month).trimmed() + QLatin1Char(' ') +
                   yearText.trimmed() + QStringLiteral("]  zakończony pomyślnie ....") + kCr +
                   QStringLiteral("wyeksportowane pliki znajdują się w katalogu :") + kCr + kCr +
                   files.join(kCr));
}

QString externalFilesRefused(const QString &root, const QString &serverText) {
    QString folder = root;
    while (folder.size() > 1 && folder.endsWith(Paths::separator()))
        folder.chop(1);
    return QStringLiteral(
               "Serwer bazy danych nie pozwala czytać plików wymiany z folderu %1 (tabele zewnętrzne).\r"
               "Administrator serwera musi dopisać w pliku firebird.conf wiersz:\r\r"
               "ExternalFileAccess = Restrict %1\r\r"
               "i uruchomić serwer ponownie. Nic nie zostało zmienione.\r\rKomunikat serwera: %2")
        .arg(folder, serverText);
}

bool importMonth(TMainDm &dm, Operator &op, int month, bool clearMonth) {
    const QString root = dm.Settings.exchangeRoot();
    if (!QFileInfo::exists(documentsFile(root, month))) {
        op.message(Operator::Box::Information,
                   QStringLiteral("UWAGA ... brak pliku z danymi o Dokumentach :") + kCr + kCr +
                       documentsFile(root, month));
        return false;
    }
    if (!QFileInfo::exists(entriesFile(root, month))) {
        op.message(Operator::Box::Information, QStringLiteral("UWAGA ... brak pliku z danymi o Dekretach :") +
                                                   kCr + kCr + entriesFile(root, month));
        return false;
    }
    // A damaged file is refused before anything changes.
    ExchangeLayouts::checkRecords(documentsFile(root, month), ExchangeLayouts::documents());
    ExchangeLayouts::checkRecords(entriesFile(root, month), ExchangeLayouts::entries());
    ImportIndexes::prepare(dm.EmployeeDb, op, month);
    // A month whose documents were deleted and never re-inserted must not be committed later; work
    // that earlier operations left pending in the shared transaction must not be undone with it.
    try {
        withSavepoint(dm.IBQuery8, QStringLiteral("QK_IMPORT"),
                      [&] { runImport(dm, op, month, clearMonth); });
    } catch (const EngineError &e) {
        if (!e.message().contains(QLatin1String("is not allowed by server configuration")))
            throw;
        throw QkError(externalFilesRefused(root, e.message()));
    }
    op.setStage(Operator::Activity::Import, QString());
    op.message(Operator::Box::Information, QStringLiteral("Import danych zakończony pomyślnie ..."));
    return true;
}

bool checkInput(TMainDm &dm, Operator &op, int month) {
    // The month is taken once: the activation after the first box resets the month edit.
    const QString root = dm.Settings.exchangeRoot();
    const QString d = documentsFile(root, month);
    const QString z = entriesFile(root, month);
    op.message(Operator::Box::Information,
               (QFileInfo::exists(d) ? QStringLiteral("Pliku z danymi o Dokumentach jest OK")
                                     : QStringLiteral("UWAGA ... brak pliku z danymi o Dokumentach :")) +
                   kCr + kCr + d);
    op.message(Operator::Box::Information,
               (QFileInfo::exists(z) ? QStringLiteral("Pliku z danymi o Dekretach jest OK")
                                     : QStringLiteral("UWAGA ... brak pliku z danymi o Dekretach :")) +
                   kCr + kCr + z);
    return QFileInfo::exists(d) && QFileInfo::exists(z);
}

QStringList transferFiles(const QString &folder) {
    const QString paczki = folder + QStringLiteral("paczki") + Paths::separator();
    return {paczki + QStringLiteral("PACZKA.TXT"), paczki + QStringLiteral("PACZKAP.TXT")};
}

void exportTransfers(TMainDm &dm, Operator &op, const QString &folder) {
    const QStringList files = transferFiles(folder);
    const QString &packages = files[0];
    const QString &transfers = files[1];
    writeFile(op, Operator::Activity::Transfers, dm.IBQuery6, packages,
              QStringLiteral("select * from PACZKA order by KOD"), ExchangeLayouts::packages());
    writeFile(op, Operator::Activity::Transfers, dm.IBQuery6, transfers,
              QStringLiteral("select * from PRZELEWY order by KODP,KODPP"), ExchangeLayouts::transfers());
    op.setStage(Operator::Activity::Transfers, QString());
    op.processEvents();
    op.message(Operator::Box::Information,
               QStringLiteral("Export Danych o Przelewach zakończony pomyślnie ....") + kCr +
                   QStringLiteral("wyeksportowane pliki znajdują się w katalogu :") + kCr + kCr + packages +
                   kCr + transfers);
}

} // namespace ExchangeOps
