#include "exchange/ExchangeLayouts.h"

#include "db/Errors.h"
#include "platform/Paths.h"

#include <QFile>

#include <algorithm>

namespace ExchangeLayouts {

using R = Rule;

int Layout::recordLength() const {
    int n = 2;
    for (const Field &f : fields)
        n += f.width;
    return n;
}

const Layout &documents() {
    static const Layout l{"documents",
                          {{"TYPREJ", 1, "typrej", R::Text},    {"KONTOW", 25, "kontow", R::Text},
                           {"NUMDOK", 6, "numdok", R::Number},  {"NUMPOZ", 6, "numpoz", R::Number},
                           {"DATDOK", 2, "datdok", R::Integer}, {"DOKTYP", 2, "doktyp", R::Text},
                           {"DOKNUM", 20, "doknum", R::Text},   {"DOKDAT", 10, "dokdat", R::Date},
                           {"K_KOD", 25, "k_kod", R::Text},     {"K_IDN", 13, "k_idn", R::Text},
                           {"K_NAZ", 60, "k_naz", R::Text},     {"K_AD1", 30, "k_ad1", R::Text},
                           {"K_AD2", 30, "k_ad2", R::Text},     {"TERDNI", 5, "terdni", R::Integer},
                           {"TERDAT", 10, "terdat", R::Date},   {"OPIS1", 100, "opis1", R::Text},
                           {"OPIS2", 100, "opis2", R::Text},    {"NUMEWI", 6, "0", R::Constant},
                           {"KTO", 40, "kto", R::Text},         {"NUMEWI2", 6, "numewi", R::Number}}};
    return l;
}

const Layout &entries() {
    static const Layout l{"entries",
                          {{"NUMEWI", 6, "numewi", R::EntryNumber},
                           {"NUMPOZ", 4, "numpoz", R::Number},
                           {"STRONA", 1, "strona", R::Text},
                           {"KONTO", 25, "konto", R::Text},
                           {"KWOTA", 13, "kwota", R::Amount},
                           {"KWORO", 13, "kworo", R::Amount},
                           {"NUMEWI2", 6, "numewi", R::Number}}};
    return l;
}

const Layout &settlements() {
    static const Layout l{"settlements",
                          {{"KONTO", 25, "konto", R::Text},
                           {"IDENT", 13, "ident", R::Text},
                           {"NAZWA", 60, "nazwa", R::Text},
                           {"ADR_1", 30, "adr_1", R::Text},
                           {"ADR_2", 30, "adr_2", R::Text},
                           {"BANK_1", 40, "bank_1", R::Text},
                           {"BANK_2", 40, "bank_2", R::Text}}};
    return l;
}

const Layout &openingBalance() {
    static const Layout l{"opening balance",
                          {{"NUMZAP", 4, "numzap", R::Number},
                           {"KONTO", 25, "konto", R::Text},
                           {"KWOWN", 13, "kwown", R::Amount},
                           {"KWOMA", 13, "kwoma", R::Amount},
                           {"KWORO", 13, "kworo", R::Amount},
                           {"OPIS", 60, "opis", R::Text},
                           {"TERDAT", 8, "terdat", R::OpeningDate},
                           {"NAZWA1", 40, "nazwa1", R::Text},
                           {"NAZWA2", 40, "nazwa2", R::Text},
                           {"NAZWA3", 40, "nazwa3", R::Text}}};
    return l;
}

const Layout &accountPlan() {
    static const Layout l{"account plan",
                          {{"KONTO", 25, "konto", R::Text},
                           {"NAZWA", 60, "nazwa", R::Text},
                           {"POZIOM", 1, "poziom", R::Text},
                           {"RODZAJ", 1, "rodzaj", R::Text},
                           {"NUMUKL", 3, "numukl", R::Integer},
                           {"REJFIN", 1, "rejfin", R::Text}}};
    return l;
}

const Layout &packages() {
    static const Layout l{"packages",
                          {{"KOD", 5, "kod", R::Number},
                           {"NAZWA", 40, "nazwa", R::Text},
                           {"OPIS1", 50, "opis1", R::Text},
                           {"OPIS2", 50, "opis2", R::Text},
                           {"numer", 15, "numer", R::Text},
                           {"autor", 30, "autor", R::Text},
                           {"dataP", 10, "datap", R::Date},
                           {"termin", 10, "termin", R::Date},
                           {"zmiana", 1, "zmiana", R::Text}}};
    return l;
}

const Layout &transfers() {
    static const Layout l{"transfers",
                          {{"KODP", 5, "kodp", R::Number},
                           {"KODPP", 3, "kodpp", R::Integer},
                           {"NAZWA1", 60, "nazwa1", R::TextTrimmed},
                           {"ADR11", 30, "adr11", R::TextTrimmed},
                           {"ADR12", 30, "adr12", R::TextTrimmed},
                           {"BANK11", 40, "bank11", R::TextTrimmed},
                           {"BANK12", 40, "bank12", R::TextTrimmed},
                           {"NAZWA2", 60, "nazwa2", R::TextTrimmed},
                           {"ADR21", 30, "adr21", R::TextTrimmed},
                           {"ADR22", 30, "adr22", R::TextTrimmed},
                           {"BANK21", 40, "bank21", R::TextTrimmed},
                           {"BANK22", 40, "bank22", R::TextTrimmed},
                           {"KWOTA", 9, "kwota", R::Amount},
                           {"OPIS", 100, "opis", R::Text},
                           {"dataPP", 10, "datapp", R::Date}}};
    return l;
}

qint64 firstBadRecord(const QByteArray &bytes, const Layout &layout) {
    const qsizetype length = layout.recordLength();
    for (qsizetype at = 0, n = 1; at < bytes.size(); at += length, ++n) {
        const QByteArrayView record = QByteArrayView(bytes).sliced(at, std::min(length, bytes.size() - at));
        // A line break inside a text field is the field's own (the server reads fixed lengths).
        if (record.size() < length || !record.endsWith("\r\n"))
            return n;
    }
    return 0;
}

void checkRecords(const QString &path, const Layout &layout) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw FileError(QStringLiteral("I/O error: %1: %2").arg(path, f.errorString()));
    // Read in whole records, a few thousand at a time: a month's file is never held in memory.
    const qint64 length = layout.recordLength();
    const qint64 chunk = length * std::max<qint64>(1, (1 << 20) / length);
    QByteArray buffer;
    qint64 n = 0;
    for (qint64 before = 0;; before += chunk / length) {
        buffer = f.read(chunk);
        if (buffer.isEmpty() && f.error() != QFileDevice::NoError)
            throw FileError(QStringLiteral("I/O error: %1: %2").arg(path, f.errorString()));
        if (const qint64 bad = firstBadRecord(buffer, layout)) {
            n = before + bad;
            break;
        }
        if (buffer.size() < chunk)
            break;
    }
    if (n)
        throw QkError(QStringLiteral("Błąd!!!  ...  Plik %1 jest uszkodzony: rekord %2 nie ma %3 znaków "
                                     "zakończonych znakami CR LF ...")
                          .arg(path)
                          .arg(n)
                          .arg(layout.recordLength()));
}

QString externalTableDeclaration(const QString &table, const QString &path, const Layout &layout) {
    QString sql = QStringLiteral("CREATE TABLE %1 EXTERNAL FILE '%2' (").arg(table, Paths::sqlLiteral(path));
    for (const Field &f : layout.fields)
        sql += QStringLiteral("%1 CHAR(%2), ").arg(QLatin1String(f.name)).arg(f.width);
    sql += QStringLiteral("EOL CHAR(2))");
    return sql;
}

} // namespace ExchangeLayouts
