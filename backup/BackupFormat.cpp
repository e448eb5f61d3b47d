#include "backup/BackupFormat.h"

#include <algorithm>
#include <array>
#include <memory>

namespace BackupFormat {

namespace {

// Record types and attributes as the engine's backup program numbers them (its burp.h).
enum Rec : int {
    RecBurp = 0,
    RecDatabase,
    RecGlobalField,
    RecRelation,
    RecField,
    RecIndex,
    RecData,
    RecBlob,
    RecRelationData,
    RecRelationEnd,
    RecEnd,
    RecView,
    RecSecurityClass,
    RecTrigger,
    RecPhysicalDb,
    RecFunction,
    RecFunctionArg,
    RecFunctionEnd,
    RecGenId,
    RecSystemType,
    RecFilter,
    RecTriggerMessage,
    RecUserPrivilege,
    RecArray,
    RecFieldDimensions,
    RecFiles,
    RecGenerator,
    RecProcedure,
    RecProcedurePrm,
    RecProcedureEnd,
    RecException,
    RecRelConstraint,
    RecRefConstraint,
    RecChkConstraint,
    RecCharset,
    RecCollation,
    RecSqlRoles,
    RecMapping,
    RecPackage,
    RecDbCreator,
    RecCount
};

constexpr int AttEnd = 0;
// The header (rec_burp).
constexpr int AttBackupDate = 1, AttBackupFormat = 2, AttBackupCompress = 4, AttBackupTransportable = 5,
              AttBackupBlksize = 6, AttBackupFile = 7;
constexpr int AttPageSize = 5;                              // rec_physical_db and rec_database
constexpr int AttPrivObjectType = 8, ObjPackageHeader = 18; // rec_user_privilege
// Exceptions.
constexpr int AttExceptionName = 1, AttExceptionMsg = 2, AttExceptionDescription = 3,
              AttExceptionDescription2 = 4, AttExceptionMsg2 = 5;
// Arrays.
constexpr int AttBlobFieldNumber = 3, AttArrayDimensions = 14, AttFieldDimensions = 29, MaxDimension = 16;
// Data, blob and array records.
constexpr int AttDataLength = 1, AttDataData = 2, AttBlobMaxSegment = 6, AttBlobNumberSegments = 5,
              AttBlobData = 7, AttXdrLength = 17, AttXdrArray = 18;

// How an attribute's value is framed: a one-byte length; a blob (a one-byte length of a number, the
// number, that many bytes); a source blob, whose segments the engine reads up to each NUL (so the
// last byte must be one); a two-byte length.
enum class Kind : unsigned char { Plain, Blob, Source, Text2 };

// A trigger inside a table's data (the oldest servers' kind) is read by a restore of its own, which
// knows fewer of the trigger's attributes.
constexpr int RecOldTrigger = RecCount;

using KindTable = std::array<std::array<Kind, 64>, RecCount + 1>;

// As Firebird 3's restore reads each attribute of a backup of its own format.
KindTable makeKinds() {
    KindTable t{};
    auto set = [&](int r, std::initializer_list<int> atts, Kind k) {
        for (int a : atts)
            t[size_t(r)][size_t(a)] = k;
    };
    set(RecDatabase, {6}, Kind::Blob);
    set(RecDatabase, {10}, Kind::Source);
    set(RecRelation, {2, 3, 9, 11}, Kind::Blob);
    set(RecRelation, {13, 14, 15}, Kind::Source);
    set(RecField, {15, 16}, Kind::Blob);
    set(RecField, {6, 35, 39}, Kind::Source);
    set(RecGlobalField, {15, 16, 17, 18, 19, 20, 21}, Kind::Blob);
    set(RecGlobalField, {6, 35, 36, 37, 39, 40}, Kind::Source);
    set(RecIndex, {6, 11}, Kind::Blob);
    set(RecIndex, {9, 10}, Kind::Source);
    set(RecSecurityClass, {12, 13}, Kind::Blob);
    set(RecSecurityClass, {19}, Kind::Source);
    set(RecTrigger, {2, 3, 7, 14}, Kind::Blob);
    set(RecTrigger, {10, 11}, Kind::Source);
    set(RecOldTrigger, {2, 3}, Kind::Blob);
    set(RecOldTrigger, {10}, Kind::Source);
    set(RecFunction, {2, 13, 16}, Kind::Blob);
    set(RecFunction, {9, 14}, Kind::Source);
    set(RecFunctionArg, {13}, Kind::Blob);
    set(RecFunctionArg, {14, 20}, Kind::Source);
    set(RecSystemType, {4}, Kind::Blob);
    set(RecSystemType, {13}, Kind::Source);
    set(RecFilter, {7}, Kind::Blob);
    set(RecFilter, {12}, Kind::Source);
    set(RecGenerator, {4}, Kind::Source);
    set(RecProcedure, {4, 6, 8, 13}, Kind::Blob);
    set(RecProcedure, {5, 7}, Kind::Source);
    set(RecProcedurePrm, {5, 7}, Kind::Blob);
    set(RecProcedurePrm, {6, 8}, Kind::Source);
    set(RecException, {3}, Kind::Blob);
    set(RecException, {4}, Kind::Source);
    set(RecException, {5}, Kind::Text2);
    set(RecSqlRoles, {3}, Kind::Source);
    set(RecCharset, {7}, Kind::Source);
    set(RecCollation, {7, 10}, Kind::Source);
    set(RecMapping, {10}, Kind::Source);
    set(RecPackage, {2, 3, 7}, Kind::Source);
    return t;
}

// The text and BLR attributes that Firebird 3's restore reads as such only from the format that
// introduced them: in an older backup it skips the attribute as one of a one-byte length (its
// restore.epp, the checks on RESTORE_format).
struct Gate {
    int rec, att, since;
};
constexpr Gate kGates[] = {
    {RecCollation, 10, 7},    // RDB$SPECIFIC_ATTRIBUTES (Firebird 2.0)
    {RecGenerator, 4, 7},     // RDB$DESCRIPTION of a generator
    {RecSqlRoles, 3, 7},      // RDB$DESCRIPTION of a role
    {RecProcedure, 13, 8},    // RDB$DEBUG_INFO (Firebird 2.1)
    {RecTrigger, 14, 8},      // RDB$DEBUG_INFO
    {RecProcedurePrm, 7, 8},  // RDB$DEFAULT_VALUE of a parameter
    {RecProcedurePrm, 8, 8},  // RDB$DEFAULT_SOURCE
    {RecFunction, 13, 10},    // RDB$FUNCTION_BLR (Firebird 3)
    {RecFunction, 14, 10},    // RDB$FUNCTION_SOURCE
    {RecFunction, 16, 10},    // RDB$DEBUG_INFO
    {RecFunctionArg, 13, 10}, // RDB$DEFAULT_VALUE of an argument
    {RecFunctionArg, 14, 10}, // RDB$DEFAULT_SOURCE
    {RecFunctionArg, 20, 10}, // RDB$DESCRIPTION
};

using FormatKinds = std::array<KindTable, kFormatVersion + 1>;

FormatKinds makeFormatKinds() {
    FormatKinds f;
    for (int format = 0; format <= kFormatVersion; ++format) {
        f[size_t(format)] = makeKinds();
        for (const Gate &g : kGates)
            if (format < g.since)
                f[size_t(format)][size_t(g.rec)][size_t(g.att)] = Kind::Plain;
    }
    return f;
}

const KindTable &kinds(int format) {
    static const FormatKinds f = makeFormatKinds();
    return f[size_t(std::clamp(format, 0, kFormatVersion))];
}

// The attribute that names a record of each type (0: none kept; a column or an index is told by its table).
int nameAttribute(int rec) {
    switch (rec) {
    case RecRelation:
    case RecRelationData:
    case RecGlobalField:
    case RecProcedure:
    case RecFunction:
    case RecException:
    case RecGenerator:
    case RecPackage:
        return 1;
    case RecTrigger:
        return 4;
    default:
        return 0;
    }
}

struct Cut {};
struct Bad {
    qint64 offset;
    QString what;
    bool where = true; // the message names the byte
};
struct Unreadable {};

constexpr qint64 kPiece = 1 << 20;

class Stream {
public:
    Stream(const Reader &read, qint64 piece) : m_read(read), m_size(piece), m_buf(new char[size_t(piece)]) {}

    int get() {
        if (m_pos == m_end && !refill())
            throw Cut{};
        return static_cast<unsigned char>(m_buf[m_pos++]);
    }
    void skip(qint64 n) {
        while (n > 0) {
            if (m_pos == m_end && !refill())
                throw Cut{};
            const qint64 k = std::min(n, m_end - m_pos);
            m_pos += k;
            n -= k;
        }
    }
    QByteArray take(qint64 n) {
        QByteArray out;
        while (n > 0) {
            if (m_pos == m_end && !refill())
                throw Cut{};
            const qint64 k = std::min(n, m_end - m_pos);
            out.append(m_buf.get() + m_pos, k);
            m_pos += k;
            n -= k;
        }
        return out;
    }
    // Little-endian, as the engine writes its numbers.
    quint32 number(int bytes) {
        quint32 v = 0;
        for (int i = 0; i < bytes; ++i)
            v |= quint32(get()) << (8 * i);
        return v;
    }
    qint64 offset() const { return m_base + m_pos; }
    // Reads what is left; the offset is then the file's size.
    void drain() {
        m_pos = m_end;
        while (refill())
            m_pos = m_end;
    }

private:
    bool refill() {
        m_base += m_end;
        m_pos = m_end = 0;
        const qint64 got = m_read(m_buf.get(), m_size);
        if (got < 0)
            throw Unreadable{};
        m_end = got;
        return got > 0;
    }

    const Reader &m_read;
    qint64 m_size;
    std::unique_ptr<char[]> m_buf; // not cleared: every byte read is written first
    qint64 m_base = 0, m_pos = 0, m_end = 0;
};

class Walker {
public:
    Walker(Stream &s, Walk &w) : m_s(s), m_w(w) {}

    void run() {
        m_where = Where::Header;
        if (m_s.get() != RecBurp)
            bad(0, QStringLiteral("to nie jest kopia bazy (brak nagłówka kopii)"));
        header();
        for (;;) {
            const qint64 at = m_s.offset();
            const int rec = m_s.get();
            if (rec == RecEnd) {
                m_w.endRecordOffset = at;
                return;
            }
            record(rec, at);
        }
    }

    // Where the walk was, for the operator: "w kolumnach tabeli TA_EXD2".
    QString where() const {
        const QString name = m_name.isEmpty() ? QString() : QStringLiteral(" ") + m_name;
        switch (m_where) {
        case Where::Header:
            return QStringLiteral("w nagłówku kopii");
        case Where::Database:
            return QStringLiteral("w opisie bazy");
        case Where::Relation:
            return QStringLiteral("w opisie tabeli") + name;
        case Where::Columns:
            return QStringLiteral("w kolumnach tabeli") + name;
        case Where::View:
            return QStringLiteral("w opisie widoku") + name;
        case Where::Data:
            return QStringLiteral("w danych tabeli%1 (rekord %2)").arg(name).arg(m_records + 1);
        case Where::Indexes:
            return QStringLiteral("w indeksach tabeli") + name;
        case Where::Domain:
            return QStringLiteral("w domenie") + name;
        case Where::Procedure:
            return QStringLiteral("w procedurze") + name;
        case Where::Function:
            return QStringLiteral("w funkcji") + name;
        case Where::Trigger:
            return QStringLiteral("w wyzwalaczu") + name;
        case Where::Exception:
            return QStringLiteral("w wyjątku") + name;
        case Where::Generator:
            return QStringLiteral("w generatorze") + name;
        case Where::Package:
            return QStringLiteral("w pakiecie") + name;
        case Where::Other:
            return QStringLiteral("w rekordzie typu %1").arg(m_rec);
        }
        return {};
    }

private:
    enum class Where {
        Header,
        Database,
        Relation,
        Columns,
        View,
        Data,
        Indexes,
        Domain,
        Procedure,
        Function,
        Trigger,
        Exception,
        Generator,
        Package,
        Other
    };

    [[noreturn]] void bad(qint64 at, const QString &what) { throw Bad{at, what}; }

    qint64 integer() {
        const qint64 at = m_s.offset();
        const int len = m_s.get();
        if (len > 4)
            bad(at, QStringLiteral("liczba zapisana na %1 bajtach").arg(len));
        if (len == 0)
            return 0;
        const int shift = 32 - 8 * len; // the number's sign is its top byte's
        return qint32(m_s.number(len) << shift) >> shift;
    }

    // A number attribute's value of len bytes as the restore takes it: none from more than four.
    qint64 plainNumber(int len) {
        if (len == 0 || len > 4) {
            m_s.skip(len);
            return 0;
        }
        const int shift = 32 - 8 * len;
        return qint32(m_s.number(len) << shift) >> shift;
    }

    void header() {
        bool numbered = false;
        for (int att = m_s.get(); att != AttEnd; att = m_s.get()) {
            switch (att) {
            case AttBackupDate:
                m_w.backupDate = QString::fromUtf8(m_s.take(m_s.get()));
                break;
            case AttBackupFile:
                m_w.sourceDatabase = QString::fromUtf8(m_s.take(m_s.get()));
                break;
            case AttBackupFormat: {
                // A format this server cannot restore is refused as soon as it is read, before
                // anything after it: a newer server's file need not walk as this one's.
                const qint64 at = m_s.offset() - 1;
                m_w.format = int(integer());
                numbered = true;
                if (m_w.format < kOldestFormat || m_w.format > kFormatVersion)
                    throw Bad{at, formatRefusal(m_w.format), false};
                break;
            }
            case AttBackupCompress:
                m_w.compressed = integer() != 0;
                break;
            case AttBackupTransportable:
                m_w.transportable = integer() != 0;
                break;
            case AttBackupBlksize:
                m_w.blockSize = integer();
                break;
            default:
                m_s.skip(m_s.get());
                break;
            }
        }
        if (!numbered)
            bad(0, QStringLiteral("nagłówek kopii bez numeru jej formatu (kopia nieznanego programu)"));
    }

    static QString formatRefusal(int format) {
        const QString made = QStringLiteral("kopia w formacie %1 (%2)").arg(format).arg(serverOf(format));
        if (format > kFormatVersion)
            return made +
                   QStringLiteral(": ten serwer (Firebird 3) nie odtworzy kopii nowszego serwera; odtwórz ją "
                                  "na serwerze %1 albo wykonaj tam kopię w formacie, który odczyta "
                                  "Firebird 3 (format %2 lub starszy)")
                       .arg(serverOf(format))
                       .arg(kFormatVersion);
        if (format >= 1)
            return made +
                   QStringLiteral(": odtwarzane są kopie formatów %1–%2 (od InterBase 6 i Firebird 1.0 do "
                                  "Firebird 3); odtwórz ją na serwerze InterBase 6 lub Firebird 1.5–2.5 "
                                  "i wykonaj tam nową kopię")
                       .arg(kOldestFormat)
                       .arg(kFormatVersion);
        return made;
    }

    // The attributes of one record up to its end; the record's name kept for the messages.
    void attributes(int rec) {
        const int named = nameAttribute(rec);
        const auto &kind = kinds(m_w.format)[size_t(rec)];
        for (;;) {
            const qint64 at = m_s.offset();
            const int att = m_s.get();
            if (att == AttEnd)
                return;
            switch (att < 64 ? kind[size_t(att)] : Kind::Plain) {
            case Kind::Plain: {
                const int len = m_s.get();
                if (att == named)
                    m_name = QString::fromUtf8(m_s.take(len));
                else if (att == AttPageSize && (rec == RecPhysicalDb || rec == RecDatabase)) {
                    const int n = std::min(len, 4);
                    m_w.pageSize = int(m_s.number(n));
                    m_s.skip(len - n);
                } else if (att == AttPrivObjectType && rec == RecUserPrivilege && m_w.format < 10) {
                    // The restore of an older format ends at a privilege on a package.
                    if (plainNumber(len) == ObjPackageHeader)
                        bad(at, QStringLiteral(
                                    "uprawnienie do pakietu w kopii formatu %1 (pakiety są od Firebird 3)")
                                    .arg(m_w.format));
                } else if (att == AttFieldDimensions && rec == RecField) {
                    // The restore reads a column's ranges right after its number of dimensions,
                    // whatever their codes, into room for 16.
                    const int dimensions = quint16(plainNumber(len));
                    if (dimensions > MaxDimension)
                        bad(at, QStringLiteral("kolumna o %1 wymiarach (najwyżej %2) %3")
                                    .arg(dimensions)
                                    .arg(MaxDimension)
                                    .arg(where()));
                    for (int i = 0; i < 2 * dimensions; ++i) {
                        m_s.get();
                        m_s.skip(m_s.get());
                    }
                } else
                    m_s.skip(len);
                break;
            }
            case Kind::Blob:
            case Kind::Source:
                skipBlob(at, att, kind[size_t(att)]);
                break;
            case Kind::Text2:
                m_s.skip(m_s.number(2));
                break;
            }
        }
    }

    void record(int rec, qint64 at) {
        m_rec = rec;
        m_name.clear();
        switch (rec) {
        case RecPhysicalDb:
        case RecDatabase:
            m_where = Where::Database;
            attributes(rec);
            return;
        case RecRelation:
            relation();
            return;
        case RecRelationData:
            relationData();
            return;
        case RecFunction:
            withParts(rec, Where::Function, RecFunctionArg, RecFunctionEnd);
            return;
        case RecProcedure:
            withParts(rec, Where::Procedure, RecProcedurePrm, RecProcedureEnd);
            return;
        case RecException:
            exception();
            return;
        case RecGlobalField:
            m_where = Where::Domain;
            break;
        case RecTrigger:
            m_where = Where::Trigger;
            break;
        case RecGenerator:
            m_where = Where::Generator;
            break;
        case RecPackage:
            // The restore of an older format stops at a package: it knows none.
            if (m_w.format < 10)
                bad(at,
                    QStringLiteral("pakiet w kopii formatu %1 (pakiety są od Firebird 3)").arg(m_w.format));
            m_where = Where::Package;
            break;
        case RecCharset:
        case RecCollation:
        case RecChkConstraint:
        case RecFieldDimensions:
        case RecRefConstraint:
        case RecRelConstraint:
        case RecSystemType:
        case RecFilter:
        case RecTriggerMessage:
        case RecUserPrivilege:
        case RecSecurityClass:
        case RecFiles:
        case RecSqlRoles:
        case RecMapping:
        case RecDbCreator:
            m_where = Where::Other;
            break;
        default:
            bad(at, QStringLiteral("nieznany rekord %1 (po: %2)").arg(rec).arg(m_lastWhere));
        }
        attributes(rec);
        m_lastWhere = where();
    }

    // An exception as Firebird 3's restore reads it. Firebird 2.0 and 2.1 (formats 7 and 8) wrote a
    // message longer than 255 bytes with its length's low byte alone, the whole message after it; the
    // restore of those formats takes every attribute it does not know after the message for the next
    // piece of it (the unknown byte and up to 255 more, to the 1021 bytes of their message field).
    void exception() {
        m_where = Where::Exception;
        constexpr int kLimit = 1021;
        const auto &kind = kinds(m_w.format)[RecException];
        const bool repairs = m_w.format == 7 || m_w.format == 8;
        bool messageSeen = false, messageSet = false;
        int message = 0; // the bytes of the message read, as far as its repair counts them
        for (;;) {
            const qint64 at = m_s.offset();
            const int att = m_s.get();
            switch (att) {
            case AttEnd:
                m_lastWhere = where();
                return;
            case AttExceptionName:
                m_name = QString::fromUtf8(m_s.take(m_s.get()));
                continue;
            case AttExceptionMsg: {
                messageSeen = true;
                const int len = m_s.get();
                if (!messageSet)
                    message = len;
                messageSet = true;
                m_s.skip(len);
                continue;
            }
            case AttExceptionMsg2:
                messageSet = true;
                m_s.skip(m_s.number(2));
                continue;
            case AttExceptionDescription:
            case AttExceptionDescription2:
                messageSeen = false;
                skipBlob(at, att, kind[size_t(att)]);
                continue;
            default:
                break;
            }
            if (repairs && messageSeen && att > 7) {
                const int piece = std::min(kLimit - message - 1, 255);
                m_s.skip(piece);
                message += piece + 1;
                if (message == kLimit)
                    messageSeen = false;
                continue;
            }
            if (att <= 7)
                messageSeen = false;
            m_s.skip(m_s.get());
        }
    }

    void skipBlob(qint64 at, int att, Kind kind) {
        const qint64 length = qint64(quint32(integer()));
        if (kind == Kind::Source && length > 0) {
            m_s.skip(length - 1);
            if (m_s.get() != 0)
                bad(at, QStringLiteral("tekst atrybutu %1 bez końcowego znaku NUL").arg(att));
        } else
            m_s.skip(length);
    }

    void relation() {
        m_where = Where::Relation;
        attributes(RecRelation);
        const QString table = m_name;
        m_w.relations.append(table);
        for (;;) {
            const qint64 at = m_s.offset();
            const int rec = m_s.get();
            m_name = table;
            if (rec == RecRelationEnd)
                break;
            if (rec == RecField)
                m_where = Where::Columns;
            else if (rec == RecView)
                m_where = Where::View;
            else
                bad(at, QStringLiteral("nieznany rekord %1 w opisie tabeli %2").arg(rec).arg(table));
            attributes(rec);
            m_name = table;
        }
        m_lastWhere = QStringLiteral("opis tabeli ") + table;
    }

    void withParts(int rec, Where where, int part, int end) {
        m_where = where;
        attributes(rec);
        const QString name = m_name;
        for (;;) {
            const qint64 at = m_s.offset();
            const int next = m_s.get();
            if (next == end)
                break;
            if (next != part)
                bad(at, QStringLiteral("nieznany rekord %1 %2").arg(next).arg(this->where()));
            attributes(part);
            m_name = name;
        }
        m_lastWhere = this->where();
    }

    void relationData() {
        m_where = Where::Data;
        m_records = 0;
        attributes(RecRelationData);
        const QString table = m_name;
        m_w.tables.append({table, 0});
        qint64 &records = m_w.tables.last().records;
        qint64 length = -1;
        int rec = -1;
        qint64 at = 0;
        auto next = [&] {
            at = m_s.offset();
            rec = m_s.get();
        };
        next();
        for (;;) {
            m_name = table;
            switch (rec) {
            case RecRelationEnd:
                m_lastWhere = QStringLiteral("dane tabeli ") + table;
                return;
            case RecData:
                m_where = Where::Data;
                m_records = records;
                dataRecord(length);
                ++records;
                next();
                while (rec == RecBlob || rec == RecArray) {
                    if (rec == RecBlob)
                        blob();
                    else
                        array();
                    next();
                }
                break;
            case RecGenId:
                m_where = Where::Data;
                integer();
                next();
                break;
            case RecIndex:
                m_where = Where::Indexes;
                attributes(RecIndex);
                next();
                break;
            case RecTrigger:
                m_where = Where::Trigger;
                attributes(RecOldTrigger);
                next();
                break;
            default:
                bad(at, QStringLiteral("nieznany rekord %1 w danych tabeli %2").arg(rec).arg(table));
            }
        }
    }

    void expect(int att, const char *what) {
        const qint64 at = m_s.offset();
        if (m_s.get() != att)
            bad(at, QStringLiteral("brak %1 %2").arg(QLatin1String(what)).arg(where()));
    }

    void dataRecord(qint64 &length) {
        expect(AttDataLength, "długości rekordu");
        const qint64 at = m_s.offset();
        qint64 len = integer();
        // Without conversion every record of a table has the length of the table's format.
        if (!m_w.transportable) {
            if (length >= 0 && len != length)
                bad(at, QStringLiteral("długość rekordu %1 zamiast %2 %3").arg(len).arg(length).arg(where()));
            length = len;
        }
        if (m_w.transportable) {
            expect(AttXdrLength, "długości rekordu XDR");
            len = integer();
        }
        expect(AttDataData, "danych rekordu");
        if (len < 0 || len > 0xFFFF)
            bad(at, QStringLiteral("długość rekordu %1 %2").arg(len).arg(where()));
        if (!m_w.compressed) {
            m_s.skip(len);
            return;
        }
        // Run-length: a positive count of literal bytes, or a negative count of one repeated byte.
        while (len > 0) {
            const qint64 c = static_cast<signed char>(m_s.get());
            const qint64 n = c < 0 ? -c : c;
            if (n > len)
                bad(m_s.offset() - 1, QStringLiteral("kompresja wychodzi poza rekord %1").arg(where()));
            if (c > 0)
                m_s.skip(c);
            else if (c < 0)
                m_s.get();
            len -= n;
        }
    }

    void blob() {
        qint64 maxSegment = 0, segments = 0;
        for (;;) {
            const qint64 at = m_s.offset();
            const int att = m_s.get();
            if (att == AttBlobData)
                break;
            if (att == AttEnd)
                bad(at, QStringLiteral("niepełny opis bloba %1").arg(where()));
            if (att == AttBlobMaxSegment)
                maxSegment = quint16(integer());
            else if (att == AttBlobNumberSegments)
                segments = quint32(integer());
            else
                m_s.skip(m_s.get());
        }
        for (; segments > 0; --segments) {
            const qint64 at = m_s.offset();
            const qint64 len = m_s.number(2);
            // The engine copies each segment into a buffer of the stated longest segment.
            if (len > maxSegment)
                bad(at, QStringLiteral("segment bloba dłuższy (%1) niż podany najdłuższy (%2) %3")
                            .arg(len)
                            .arg(maxSegment)
                            .arg(where()));
            m_s.skip(len);
        }
    }

    // An array as the restore reads it: the ranges that follow its number of dimensions are read as
    // attributes whatever their codes; its column must be named first (the restore looks it up
    // there and would otherwise write through no column at all).
    void array() {
        bool column = false;
        for (;;) {
            const qint64 at = m_s.offset();
            const int att = m_s.get();
            if (att == AttBlobData)
                break;
            if (att == AttEnd)
                bad(at, QStringLiteral("niepełny opis tablicy %1").arg(where()));
            if (att == AttBlobFieldNumber) {
                integer();
                column = true;
            } else if (att == AttArrayDimensions) {
                if (!column)
                    bad(at, QStringLiteral("wymiary tablicy przed numerem jej kolumny %1").arg(where()));
                const int dimensions = qint16(integer()); // as the restore keeps it
                if (dimensions > MaxDimension)
                    bad(at, QStringLiteral("tablica o %1 wymiarach (najwyżej %2) %3")
                                .arg(dimensions)
                                .arg(MaxDimension)
                                .arg(where()));
                for (int i = 0; i < 2 * dimensions; ++i) {
                    m_s.get();
                    m_s.skip(m_s.get());
                }
            } else
                m_s.skip(m_s.get());
        }
        if (!column)
            bad(m_s.offset() - 1, QStringLiteral("dane tablicy bez numeru jej kolumny %1").arg(where()));
        const qint64 length = m_s.number(4);
        if (m_w.transportable) {
            expect(AttXdrArray, "danych tablicy XDR");
            m_s.skip(m_s.number(4));
        } else
            m_s.skip(length);
    }

    Stream &m_s;
    Walk &m_w;
    Where m_where = Where::Header;
    QString m_name;
    QString m_lastWhere = QStringLiteral("nagłówek kopii");
    int m_rec = 0;
    qint64 m_records = 0;
};

} // namespace

QString serverOf(int format) {
    switch (format) {
    case 5:
        return QStringLiteral("InterBase 4.5 lub 5");
    case 6:
        return QStringLiteral("InterBase 6 / Firebird 1.x");
    case 7:
        return QStringLiteral("Firebird 2.0");
    case 8:
        return QStringLiteral("Firebird 2.1");
    case 9:
        return QStringLiteral("Firebird 2.5");
    case 10:
        return QStringLiteral("Firebird 3");
    case 11:
        return QStringLiteral("Firebird 4 lub 5");
    case 12:
        return QStringLiteral("Firebird 6");
    default:
        break;
    }
    if (format >= 1 && format < 5)
        return QStringLiteral("InterBase 4.0 lub starszy");
    if (format > 12)
        return QStringLiteral("serwer nowszy niż Firebird 6");
    return QStringLiteral("nieznany program");
}

bool olderThanThisServer(int format) {
    return format >= kOldestFormat && format < kFormatVersion;
}

Walk walk(const Reader &read) {
    return walk(read, kPiece);
}

Walk walk(const Reader &read, qint64 piece) {
    Walk w;
    Stream s(read, piece);
    Walker walker(s, w);
    try {
        walker.run();
        s.drain();
        w.fileSize = s.offset();
        if (w.fileSize % kBlock != 0) {
            w.stop = QStringLiteral(
                         "rozmiar pliku %1 bajtów nie jest wielokrotnością %2 (plik obcięty lub dopisany)")
                         .arg(w.fileSize)
                         .arg(kBlock);
            w.stopOffset = w.fileSize;
        } else
            w.whole = true;
    } catch (const Cut &) {
        w.stopOffset = s.offset();
        w.fileSize = s.offset();
        w.stop = QStringLiteral("kopia urywa się %1 (po %2 bajtach)").arg(walker.where()).arg(w.stopOffset);
    } catch (const Bad &b) {
        w.stopOffset = b.offset;
        w.stop = b.where ? QStringLiteral("bajt %1: %2").arg(b.offset).arg(b.what) : b.what;
        try {
            s.drain();
        } catch (...) {
        }
        w.fileSize = s.offset();
    } catch (const Unreadable &) {
        w.stopOffset = s.offset();
        w.stop = QStringLiteral("błąd odczytu pliku po %1 bajtach").arg(w.stopOffset);
    }
    return w;
}

Walk walk(const QByteArray &bytes) {
    qint64 pos = 0;
    return walk(
        [&](char *buf, qint64 size) {
            const qint64 n = std::min(size, qint64(bytes.size()) - pos);
            std::copy_n(bytes.constData() + pos, n, buf);
            pos += n;
            return n;
        },
        std::clamp(qint64(bytes.size()), qint64(4096), kPiece));
}

} // namespace BackupFormat
