#include "oldbackup/OldBackupWriter.h"

#include <QDate>
#include <QList>
#include <QStringEncoder>

#include <ibase.h>

#include <cstring>
#include <variant>

namespace OldBackupWriter {

namespace {

// Record types and attributes as the backup program numbers them (Firebird's src/burp/burp.h).
// clang-format off
enum Rec : int {
    rec_burp = 0, rec_database = 1, rec_global_field = 2, rec_relation = 3, rec_field = 4, rec_index = 5,
    rec_data = 6, rec_blob = 7, rec_relation_data = 8, rec_relation_end = 9, rec_end = 10, rec_view = 11,
    rec_trigger = 13, rec_physical_db = 14, rec_function = 15, rec_function_arg = 16, rec_function_end = 17,
    rec_user_privilege = 22, rec_array = 23, rec_field_dimensions = 24, rec_generator = 26,
    rec_procedure = 27, rec_procedure_prm = 28, rec_procedure_end = 29, rec_exception = 30,
    rec_rel_constraint = 31, rec_chk_constraint = 33, rec_sql_roles = 36
};
constexpr int att_end = 0;
// rec_burp
constexpr int att_backup_date = 1, att_backup_format = 2, att_backup_compress = 4, att_backup_transportable = 5,
              att_backup_blksize = 6, att_backup_file = 7, att_backup_volume = 8;
// rec_physical_db, rec_database
constexpr int att_file_name = 1, att_page_size = 5, att_sweep_interval = 8, att_database_description2 = 10,
              att_database_dfl_charset = 11, att_forced_writes = 12, att_SQL_dialect = 14;
// rec_global_field, rec_field
constexpr int att_field_name = 1, att_field_source = 2, att_base_field = 3, att_view_context = 4,
              att_field_type = 8, att_field_sub_type = 9, att_field_length = 10, att_field_scale = 11,
              att_field_segment_length = 12, att_field_position = 13, att_field_default_value = 15,
              att_field_computed_blr = 18, att_field_validation_blr = 20, att_field_number = 22,
              att_field_computed_flag = 23, att_field_system_flag = 24, att_field_dimensions = 29,
              att_field_range_low = 32, att_field_range_high = 33, att_field_update_flag = 34,
              att_field_validation_source2 = 36, att_field_computed_source2 = 37, att_field_null_flag = 38,
              att_field_default_source = 39, att_field_character_length = 41, att_field_character_set = 42,
              att_field_collation_id = 43, att_field_precision = 44;
// rec_relation
constexpr int att_relation_name = 1, att_relation_view_blr = 2, att_relation_view_source2 = 14,
              att_relation_flags = 16, att_relation_ext_file_name = 17, att_relation_type = 18;
// rec_index
constexpr int att_index_name = 1, att_segment_count = 2, att_index_inactive = 3, att_index_unique_flag = 4,
              att_index_field_name = 5, att_index_type = 7;
// rec_data, rec_blob, rec_array, rec_view
constexpr int att_data_length = 1, att_data_data = 2, att_blob_field_number = 3, att_blob_type = 4,
              att_blob_number_segments = 5, att_blob_max_segment = 6, att_blob_data = 7,
              att_view_relation_name = 8, att_view_context_id = 9, att_view_context_name = 10,
              att_view_context_type = 11, att_array_dimensions = 14, att_array_range_low = 15,
              att_array_range_high = 16, att_xdr_length = 17, att_xdr_array = 18;
// rec_trigger
constexpr int att_trig_type = 1, att_trig_blr = 2, att_trig_name = 4, att_trig_relation_name = 5,
              att_trig_sequence = 6, att_trig_system_flag = 8, att_trig_inactive = 9, att_trig_source2 = 10,
              att_trig_flags = 12, att_trig_valid_blr = 13, att_trig_debug_info = 14;
// rec_function, rec_function_arg
constexpr int att_function_name = 1, att_function_module_name = 4, att_function_entrypoint = 5,
              att_function_return_arg = 6, att_function_type = 8, att_function_blr = 13, att_function_source = 14,
              att_function_debug_info = 16;
constexpr int att_functionarg_name = 1, att_functionarg_position = 2, att_functionarg_passing_mechanism = 3,
              att_functionarg_field_type = 4, att_functionarg_field_scale = 5, att_functionarg_field_length = 6,
              att_functionarg_field_sub_type = 7, att_functionarg_default_value = 13,
              att_functionarg_default_source = 14, att_functionarg_description = 20;
// rec_user_privilege
constexpr int att_priv_user = 1, att_priv_grantor = 2, att_priv_privilege = 3, att_priv_grant_option = 4,
              att_priv_object_name = 5, att_priv_user_type = 7, att_priv_obj_type = 8;
// rec_generator
constexpr int att_gen_generator = 1, att_gen_value_int64 = 3, att_gen_description = 4;
// rec_procedure, rec_procedure_prm
constexpr int att_procedure_name = 1, att_procedure_inputs = 2, att_procedure_outputs = 3,
              att_procedure_source2 = 7, att_procedure_blr = 8, att_procedure_type = 11,
              att_procedure_valid_blr = 12, att_procedure_debug_info = 13;
constexpr int att_procedureprm_name = 1, att_procedureprm_number = 2, att_procedureprm_type = 3,
              att_procedureprm_field_source = 4, att_procedureprm_default_value = 7,
              att_procedureprm_default_source = 8, att_procedureprm_mechanism = 11;
// rec_exception
constexpr int att_exception_name = 1, att_exception_msg = 2, att_exception_msg2 = 5;
// rec_rel_constraint, rec_chk_constraint, rec_sql_roles
constexpr int att_rel_constraint_name = 1, att_rel_constraint_type = 2, att_rel_constraint_rel_name = 3,
              att_rel_constraint_defer = 4, att_rel_constraint_init = 5, att_rel_constraint_index = 6;
constexpr int att_chk_constraint_name = 1, att_chk_trigger_name = 2;
constexpr int att_role_name = 1, att_role_owner_name = 2, att_role_description = 3;
// clang-format on

constexpr int kWin1250 = 51;
constexpr int kBlrBlob = 261; // RDB$FIELD_TYPE of a blob

QByteArray cp1250(const QString &s) {
    QStringEncoder e("windows-1250");
    return e(s);
}

QByteArray B(std::initializer_list<int> bytes) {
    QByteArray b;
    for (int x : bytes)
        b.append(char(x));
    return b;
}

// A name inside BLR: its length, then its bytes.
QByteArray N(const char *name) {
    return char(std::strlen(name)) + QByteArray(name);
}

QByteArray le(quint64 v, int n) {
    QByteArray b;
    for (int i = 0; i < n; ++i)
        b.append(char(v >> (8 * i)));
    return b;
}

QByteArray be(quint64 v, int n) {
    QByteArray b;
    for (int i = n - 1; i >= 0; --i)
        b.append(char(v >> (8 * i)));
    return b;
}

// The backup program's ways of writing an attribute.
class Out {
public:
    void rec(int r) { m_b.append(char(r)); }
    void end() { m_b.append(char(att_end)); }
    void number(int att, qint64 v) { put(att, le(quint64(v), 4)); }
    void number64(int att, qint64 v) { put(att, le(quint64(v), 8)); }
    void text(int att, const QByteArray &t) { put(att, t); }
    // A BLR or binary blob: its length as a number, then its bytes.
    void blob(int att, const QByteArray &b) {
        number(att, b.size());
        m_b.append(b);
    }
    // A text blob: each segment followed by a NUL, the length counting them.
    void source(int att, const QList<QByteArray> &segments) {
        qint64 n = 0;
        for (const QByteArray &s : segments)
            n += s.size() + 1;
        number(att, n);
        for (const QByteArray &s : segments)
            m_b.append(s).append('\0');
    }
    void source(int att, const QByteArray &t) { source(att, QList<QByteArray>{t}); }
    void text2(int att, const QByteArray &t) {
        m_b.append(char(att));
        m_b.append(le(quint64(t.size()), 2));
        m_b.append(t);
    }
    void raw(const QByteArray &b) { m_b.append(b); }
    QByteArray bytes() const { return m_b; }

private:
    void put(int att, const QByteArray &v) {
        Q_ASSERT(v.size() <= 255);
        m_b.append(char(att));
        m_b.append(char(v.size()));
        m_b.append(v);
    }
    QByteArray m_b;
};

enum class Type { Short, Long, Int64, Float, Double, Char, Varchar, Date, Time, Timestamp, Blob };

struct Domain {
    Domain(const char *n, Type t, int len, int sub = 0, int sc = 0, int prec = 0, bool txt = false)
        : name(n), type(t), length(len), subType(sub), scale(sc), precision(prec), text(txt) {}
    const char *name;
    Type type;
    int length; // bytes
    int subType, scale, precision;
    bool text; // a character type or a text blob, in WIN1250
    int dimensions = 0, low = 0, high = 0;
    QByteArray defaultBlr, defaultSource, checkBlr, checkSource, computedBlr, computedSource;
    bool notNull = false;
    bool computed() const { return !computedBlr.isEmpty(); }
    bool array() const { return dimensions > 0; }
};

int blrType(Type t) {
    switch (t) {
    case Type::Short:
        return blr_short;
    case Type::Long:
        return blr_long;
    case Type::Int64:
        return blr_int64;
    case Type::Float:
        return blr_float;
    case Type::Double:
        return blr_double;
    case Type::Char:
        return blr_text;
    case Type::Varchar:
        return blr_varying;
    case Type::Date:
        return blr_sql_date;
    case Type::Time:
        return blr_sql_time;
    case Type::Timestamp:
        return blr_timestamp;
    case Type::Blob:
        return kBlrBlob;
    }
    return 0;
}

struct Column {
    const char *name;
    const Domain *domain;
    const char *baseField = nullptr; // a view's column
    bool notNull = false;
};

// A value of a row: NULL, a number, a double, bytes (text or a blob's content), an array's elements.
using Value = std::variant<std::monostate, qint64, double, QByteArray, QList<qint32>>;
using Row = QList<Value>;

struct Blob {
    QByteArray content;
    int segment = 80;
    int type = 0; // 1: a stream blob
};

struct Table {
    const char *name;
    QList<Column> columns;
    QByteArray externalFile{};
    QByteArray viewBlr{}, viewSource{}, viewBase{};
    QList<Row> rows{};
    QList<QList<Blob>> blobs{}; // per row, in the order of the row's blob columns that are not NULL
};

// Where the restore's message for a table's records (its get_data) puts a column after offset:
// aligned to the column's type.
int alignedOffset(const Domain &d, int offset) {
    int alignment = 4; // numbers of four bytes, dates, times, timestamps, blob and array identifiers
    if (!d.array() && d.type != Type::Blob)
        switch (d.type) {
        case Type::Short:
        case Type::Varchar:
            alignment = 2;
            break;
        case Type::Int64:
        case Type::Double:
            alignment = 8;
            break;
        case Type::Char:
            alignment = 1;
            break;
        default:
            break;
        }
    return (offset + alignment - 1) / alignment * alignment;
}

QByteArray padded(const QByteArray &b) {
    return b + QByteArray((4 - b.size() % 4) % 4, '\0');
}

// One column's value in the record: native (little-endian, as this machine's engine keeps it), or in
// XDR (big-endian, every number at least four bytes, text padded to four).
QByteArray fieldBytes(const Domain &d, const Value &v, int blobSerial, bool xdr) {
    const bool null = std::holds_alternative<std::monostate>(v);
    auto num = [&](quint64 n, int bytes) { return xdr ? be(n, std::max(bytes, 4)) : le(n, bytes); };
    auto integer = [&] { return null ? 0 : quint64(std::get<qint64>(v)); };
    if (d.array() || d.type == Type::Blob) // the engine's identifier, never read back
        return null ? QByteArray(8, '\0') : num(0x81, 4) + num(quint64(blobSerial), 4);
    switch (d.type) {
    case Type::Char: {
        const QByteArray b = null ? QByteArray(d.length, '\0') : std::get<QByteArray>(v);
        const QByteArray field = b + QByteArray(d.length - b.size(), ' ');
        return xdr ? padded(field) : field;
    }
    case Type::Varchar: {
        const QByteArray b = null ? QByteArray() : std::get<QByteArray>(v);
        return xdr ? be(quint64(b.size()), 4) + padded(b)
                   : le(quint64(b.size()), 2) + b + QByteArray(d.length - b.size(), '\0');
    }
    case Type::Float: {
        const float f = null ? 0.0f : float(std::get<double>(v));
        quint32 u;
        std::memcpy(&u, &f, 4);
        return num(u, 4);
    }
    case Type::Double: {
        const double x = null ? 0.0 : std::get<double>(v);
        quint64 u;
        std::memcpy(&u, &x, 8);
        return num(u, 8);
    }
    case Type::Timestamp:
        return num(integer() & 0xffffffff, 4) + num(integer() >> 32, 4);
    case Type::Int64:
        return num(integer(), 8);
    case Type::Short:
        return num(integer(), 2);
    default:
        return num(integer(), 4); // a long, a date, a time
    }
}

// A record as the restore reads it (its get_data and canonical.cpp): the stored columns, each aligned
// to its type natively, then a NULL flag for each (two bytes natively, four in XDR).
QByteArray encodeRecord(const Table &t, const Row &row, int blobSerial, bool xdr) {
    QByteArray rec;
    QList<bool> nulls;
    for (qsizetype i = 0; i < t.columns.size(); ++i) {
        const Domain &d = *t.columns[i].domain;
        if (d.computed())
            continue;
        nulls << std::holds_alternative<std::monostate>(row[i]);
        if (!xdr)
            rec.append(QByteArray(alignedOffset(d, int(rec.size())) - rec.size(), '\0'));
        if (!nulls.last() && (d.array() || d.type == Type::Blob))
            ++blobSerial;
        rec.append(fieldBytes(d, row[i], blobSerial, xdr));
    }
    for (bool null : nulls) {
        if (!xdr)
            rec.append(QByteArray(rec.size() % 2, '\0'));
        rec.append(QByteArray(xdr ? 4 : 2, null ? '\xff' : '\0'));
    }
    return rec;
}

// The backup program's run-length compression (its compress()).
QByteArray compressed(const QByteArray &data) {
    QByteArray out;
    const char *p = data.constData(), *end = p + data.size();
    while (p < end) {
        const char *q = p + 2;
        while (q < end && (q[-2] != q[-1] || q[-1] != q[0]))
            ++q;
        int run = q < end ? int(q - p - 2) : int(end - p);
        for (; run > 0; run -= std::min(run, 127)) {
            const int n = std::min(run, 127);
            out.append(char(n)).append(p, n);
            p += n;
        }
        for (q = p; q < end && *q == *p; ++q)
            ;
        for (run = int(q - p); run > 0; run -= std::min(run, 127))
            out.append(char(-std::min(run, 127))).append(*p);
        p = q;
    }
    return out;
}

qint64 date(int y, int m, int d) {
    return QDate(y, m, d).toJulianDay() - 2400001; // days from 17 November 1858
}

qint64 time(int h, int m, int s, int tenThousandths = 0) {
    return (h * 3600 + m * 60 + s) * 10000LL + tenThousandths;
}

qint64 timestamp(qint64 day, qint64 t) {
    return day | (t << 32);
}

// The schema. Implicit domains are numbered as the engine numbers a new database's.
struct Schema {
    Domain konto{"D_KONTO", Type::Char, 25, 0, 0, 0, true};
    Domain kwota{"D_KWOTA", Type::Int64, 8, 1, -2, 15};
    Domain lp{"RDB$1", Type::Long, 4}, bila{"RDB$2", Type::Char, 2, 0, 0, 0, true},
        ile{"RDB$3", Type::Long, 4}, ftech{"RDB$4", Type::Char, 1, 0, 0, 0, true},
        rok{"RDB$5", Type::Long, 4, 2, 0, 4}, firma{"RDB$6", Type::Char, 60, 0, 0, 0, true};
    Domain id{"RDB$7", Type::Short, 2}, i{"RDB$8", Type::Long, 4}, b{"RDB$9", Type::Int64, 8},
        f{"RDB$10", Type::Float, 4}, d{"RDB$11", Type::Double, 8}, n{"RDB$12", Type::Int64, 8, 1, -2, 15},
        de{"RDB$13", Type::Long, 4, 2, -3, 9}, c{"RDB$14", Type::Char, 5, 0, 0, 0, true},
        v{"RDB$15", Type::Varchar, 30, 0, 0, 0, true}, dt{"RDB$16", Type::Date, 4},
        tm{"RDB$17", Type::Time, 4}, ts{"RDB$18", Type::Timestamp, 8},
        bt{"RDB$19", Type::Blob, 8, 1, 0, 0, true}, bb{"RDB$20", Type::Blob, 8}, a{"RDB$21", Type::Long, 4},
        s{"RDB$22", Type::Int64, 8, 0, 0, 18};
    Domain exKonto{"RDB$23", Type::Char, 25, 0, 0, 0, true}, exNazwa{"RDB$24", Type::Char, 60, 0, 0, 0, true},
        exEol{"RDB$25", Type::Char, 2, 0, 0, 0, true};
    Domain x{"RDB$26", Type::Long, 4}, y{"RDB$27", Type::Long, 4};
    QList<const Domain *> domains; // those of the tables' columns and of the procedure's parameters
    QList<Table> tables;

    explicit Schema(const Options &o) {
        kwota.defaultBlr = B({blr_version5, blr_literal, blr_long, 0, 0, 0, 0, 0, blr_eoc});
        kwota.defaultSource = "DEFAULT 0";
        kwota.checkBlr =
            B({blr_version5, blr_geq, blr_fid, 0, 0, 0, blr_literal, blr_long, 0, 0, 0, 0, 0, blr_eoc});
        kwota.checkSource = "CHECK (VALUE >= 0)";
        kwota.notNull = true;
        a.dimensions = 1;
        a.low = 1;
        a.high = 3;
        s.computedBlr = B({blr_version5, blr_multiply, blr_field, 0}) + N("I") +
                        B({blr_literal, blr_long, 0, 2, 0, 0, 0, blr_eoc});
        s.computedSource = "(I * 2)";

        Table baza{"FJ_BAZA",
                   {{"LP", &lp, nullptr, true},
                    {"BILA", &bila},
                    {"ILE", &ile},
                    {"FTECH", &ftech},
                    {"ROK", &rok},
                    {"FIRMA", &firma}}};
        baza.rows << Row{qint64(1),       QByteArray("N"), qint64(0),
                         QByteArray("N"), qint64(2009),    cp1250(QStringLiteral("Biuro Rachunkowe Łódź"))};
        baza.blobs << QList<Blob>{};

        Table wsz{"TA_WSZ",
                  {{"ID", &id},
                   {"I", &i},
                   {"B", &b},
                   {"F", &f},
                   {"D", &d},
                   {"N", &n},
                   {"DE", &de},
                   {"C", &c},
                   {"V", &v},
                   {"DT", &dt},
                   {"TM", &tm},
                   {"TS", &ts},
                   {"BT", &bt},
                   {"BB", &bb},
                   {"A", &a},
                   {"K", &konto},
                   {"KW", &kwota},
                   {"S", &s}}};
        QByteArray large(kLargeBlobBytes, '\0');
        for (qsizetype k = 0; k < large.size(); ++k)
            large[k] = char(k * 7 % 251);
        const QByteArray text = cp1250(QStringLiteral("Księgowość\nOkres 06/2009"));
        wsz.rows << Row{qint64(1),
                        qint64(7),
                        qint64(9007199254740993LL),
                        1.5,
                        -2.25,
                        qint64(123456789),
                        qint64(-1234),
                        cp1250(QStringLiteral("ąbc")),
                        cp1250(QStringLiteral("Zażółć gęślą jaźń")),
                        date(2009, 6, 15),
                        time(12, 34, 56, 7890),
                        timestamp(date(2009, 6, 15), time(12, 34, 56)),
                        text,
                        large,
                        QList<qint32>{10, -20, 30},
                        QByteArray("201-01"),
                        qint64(10050),
                        Value{}};
        wsz.blobs << QList<Blob>{{text, 11}, {large, 40000}};
        wsz.rows << Row{qint64(2), Value{}, Value{}, Value{}, Value{}, Value{}, Value{}, Value{},   Value{},
                        Value{},   Value{}, Value{}, Value{}, Value{}, Value{}, Value{}, qint64(0), Value{}};
        wsz.blobs << QList<Blob>{};
        {
            wsz.rows << Row{qint64(3),
                            qint64(-1),
                            qint64(-5),
                            0.0,
                            0.0,
                            qint64(-1),
                            qint64(0),
                            QByteArray(),
                            QByteArray(),
                            date(1858, 11, 17),
                            time(0, 0, 0),
                            timestamp(date(2099, 12, 31), time(23, 59, 59, 9999)),
                            QByteArray("x"),
                            QByteArray(100, 'z'),
                            QList<qint32>{1, 2, 3},
                            QByteArray("X"),
                            qint64(0),
                            Value{}};
            wsz.blobs << QList<Blob>{{QByteArray("x"), 80, 0}, {QByteArray(100, 'z'), 30, 1}};
        }

        Table exd{"TA_EXD", {{"KONTO", &exKonto}, {"NAZWA", &exNazwa}, {"EOL", &exEol}}};
        exd.externalFile = o.externalFile.toUtf8();

        Table view{"V_BAZA", {{"LP", &lp, "LP"}, {"FIRMA", &firma, "FIRMA"}}};
        view.viewBlr = B({blr_version5, blr_rse, 1, blr_relation}) + N("FJ_BAZA") + B({1, blr_end, blr_eoc});
        view.viewSource = "SELECT LP, FIRMA FROM FJ_BAZA";
        view.viewBase = "FJ_BAZA";
        tables = {baza, wsz, exd, view};
        if (o.small) {
            // Six columns of the table (a text blob, an array, a computed one among them), two of its rows.
            const QList<QByteArray> kept{"ID", "I", "BT", "A", "KW", "S"};
            Table &t = tables[1];
            for (qsizetype k = t.columns.size() - 1; k >= 0; --k)
                if (!kept.contains(t.columns[k].name))
                    for (Row &r : t.rows)
                        r.removeAt(k);
            t.columns.removeIf([&](const Column &c) { return !kept.contains(c.name); });
            t.rows.removeLast();
            t.blobs = {{t.blobs[0][0]}, {}};
            tables.resize(2);
        }
        for (const Table &t : tables)
            for (const Column &c : t.columns)
                if (!domains.contains(c.domain))
                    domains << c.domain;
        domains << &x << &y;
    }
};

// Y = X + 1; SUSPEND; as the engine's compiler writes it.
QByteArray procedureBlr() {
    const QByteArray eos = B({blr_send, 1, blr_begin, blr_assignment, blr_variable, 0, 0, blr_parameter2, 1,
                              0, 0, 1, 0, blr_assignment, blr_literal, blr_short, 0});
    return B({blr_version5,
              blr_begin,
              blr_message,
              0,
              2,
              0,
              blr_long,
              0,
              blr_short,
              0,
              blr_message,
              1,
              3,
              0,
              blr_long,
              0,
              blr_short,
              0,
              blr_short,
              0,
              blr_receive,
              0,
              blr_begin,
              blr_dcl_variable,
              0,
              0,
              blr_long,
              0,
              blr_assignment,
              blr_null,
              blr_variable,
              0,
              0,
              blr_stall,
              blr_label,
              0,
              blr_begin,
              blr_begin,
              blr_assignment,
              blr_add,
              blr_parameter2,
              0,
              0,
              0,
              1,
              0,
              blr_literal,
              blr_long,
              0,
              1,
              0,
              0,
              0,
              blr_variable,
              0,
              0,
              blr_begin}) +
           eos + B({1, 0, blr_parameter, 1, 2, 0, blr_end, blr_stall, blr_end, blr_end, blr_end, blr_end}) +
           eos + B({0, 0, blr_parameter, 1, 2, 0, blr_end, blr_end, blr_eoc});
}

// IF (NEW.I IS NULL) THEN NEW.I = GEN_ID(NUM_OPER, 1);
QByteArray triggerBlr() {
    return B({blr_version5, blr_begin, blr_label, 0, blr_begin, blr_begin, blr_if, blr_missing, blr_field,
              1}) +
           N("I") + B({blr_assignment, blr_gen_id}) + N("NUM_OPER") +
           B({blr_literal, blr_long, 0, 1, 0, 0, 0, blr_field, 1}) + N("I") +
           B({blr_end, blr_end, blr_end, blr_end, blr_eoc});
}

// Debug information of the oldest layout (Firebird 2.1's): its version and its end.
const QByteArray kDebugInfo = B({1, 1, 0xff});
// Written in place of a later format's text or BLR attributes: long enough that a walk taking its
// length byte for the length of a number refuses it.
const QByteArray kLater = "atrybut pozniejszego formatu";

class Writer {
public:
    Writer(const Options &o) : m_o(o), m_f(o.format), m_s(o) {}

    QByteArray run() {
        header();
        database();
        for (const Domain *d : m_s.domains)
            globalField(*d);
        m_out.rec(rec_field_dimensions);
        m_out.text(att_field_name, m_s.a.name);
        m_out.number(att_field_dimensions, 0);
        m_out.number(att_field_range_low, m_s.a.low);
        m_out.number(att_field_range_high, m_s.a.high);
        m_out.end();
        // Each server's backup program wrote the metadata in an order of its own.
        if (m_f == 9)
            function();
        for (const Table &t : m_s.tables)
            relation(t);
        if (m_f != 9 && m_f != 10)
            function();
        generator();
        if (m_f == 10) {
            exception();
            function();
            procedure();
        } else {
            procedure();
            exception();
        }
        for (const Table &t : m_s.tables)
            data(t);
        trigger();
        privileges();
        constraints();
        role();
        m_out.rec(rec_end);
        QByteArray b = m_out.bytes();
        return b + QByteArray((512 - b.size() % 512) % 512, '\0');
    }

private:
    void header() {
        m_out.rec(rec_burp);
        m_out.number(att_backup_format, m_f);
        if (m_o.compressed)
            m_out.number(att_backup_compress, 1);
        if (m_o.transportable)
            m_out.number(att_backup_transportable, 1);
        m_out.number(att_backup_blksize, m_f >= 9 ? 262144 : 32768);
        m_out.number(att_backup_volume, 1);
        m_out.text(att_backup_file, sourceDatabase(m_f).toUtf8());
        m_out.text(att_backup_date, backupDate(m_f).toUtf8());
        m_out.end();
    }

    void database() {
        m_out.rec(rec_physical_db);
        m_out.number(att_SQL_dialect, 3);
        m_out.number(att_page_size, m_f >= 9 ? 8192 : 4096);
        m_out.number(att_sweep_interval, 20000);
        m_out.number(att_forced_writes, 1);
        m_out.text(att_file_name, sourceDatabase(m_f).toUtf8());
        m_out.end();
        m_out.rec(rec_database);
        m_out.source(att_database_description2, "Baza ksiegowa QK");
        m_out.text(att_database_dfl_charset, "WIN1250");
        m_out.end();
    }

    void fieldType(const Domain &d) {
        m_out.number(att_field_type, blrType(d.type));
        m_out.number(att_field_length, d.length);
        m_out.number(att_field_sub_type, d.subType);
        m_out.number(att_field_scale, d.scale);
    }

    void globalField(const Domain &d) {
        m_out.rec(rec_global_field);
        m_out.text(att_field_name, d.name);
        fieldType(d);
        if (d.type == Type::Blob)
            m_out.number(att_field_segment_length, 80);
        if (d.computed()) {
            m_out.blob(att_field_computed_blr, d.computedBlr);
            m_out.source(att_field_computed_source2, d.computedSource);
        }
        if (!d.defaultBlr.isEmpty()) {
            m_out.blob(att_field_default_value, d.defaultBlr);
            m_out.source(att_field_default_source, d.defaultSource);
        }
        if (!d.checkBlr.isEmpty()) {
            m_out.blob(att_field_validation_blr, d.checkBlr);
            m_out.source(att_field_validation_source2, d.checkSource);
        }
        if (d.notNull)
            m_out.number(att_field_null_flag, 1);
        if (d.array())
            m_out.number(att_field_dimensions, d.dimensions);
        if (d.text) {
            if (d.type != Type::Blob)
                m_out.number(att_field_character_length, d.length);
            m_out.number(att_field_character_set, kWin1250);
            m_out.number(att_field_collation_id, 0);
        }
        if (d.type == Type::Short || d.type == Type::Long || d.type == Type::Int64)
            m_out.number(att_field_precision, d.precision);
        m_out.end();
    }

    void relation(const Table &t) {
        m_out.rec(rec_relation);
        m_out.text(att_relation_name, t.name);
        if (!t.viewBlr.isEmpty()) {
            m_out.blob(att_relation_view_blr, t.viewBlr);
            m_out.source(att_relation_view_source2, t.viewSource);
        }
        m_out.number(att_relation_flags, 1);
        if (!t.externalFile.isEmpty())
            m_out.text(att_relation_ext_file_name, t.externalFile);
        if (m_f >= 8)
            m_out.number(att_relation_type, !t.viewBlr.isEmpty() ? 1 : !t.externalFile.isEmpty() ? 2 : 0);
        m_out.end();
        for (qsizetype k = 0; k < t.columns.size(); ++k) {
            const Column &c = t.columns[k];
            const Domain &d = *c.domain;
            m_out.rec(rec_field);
            m_out.text(att_field_name, c.name);
            m_out.text(att_field_source, d.name);
            m_out.number(att_field_position, k);
            if (!d.computed())
                fieldType(d);
            m_out.number(att_field_number, k + 1);
            m_out.number(att_field_system_flag, 0);
            m_out.number(att_field_update_flag, d.computed() ? 0 : 1);
            if (d.computed())
                m_out.number(att_field_computed_flag, 1);
            if (d.text && d.type != Type::Blob)
                m_out.number(att_field_character_set, kWin1250);
            if (c.notNull)
                m_out.number(att_field_null_flag, 1);
            if (d.array()) {
                m_out.number(att_field_dimensions, d.dimensions);
                m_out.number(att_field_range_low, d.low);
                m_out.number(att_field_range_high, d.high);
            }
            if (c.baseField) {
                m_out.number(att_view_context, 1);
                m_out.text(att_base_field, c.baseField);
            }
            m_out.end();
        }
        if (!t.viewBlr.isEmpty()) {
            m_out.rec(rec_view);
            m_out.text(att_view_relation_name, t.viewBase);
            m_out.number(att_view_context_id, 1);
            m_out.text(att_view_context_name, t.viewBase);
            if (m_f >= 10)
                m_out.number(att_view_context_type, 0);
            m_out.end();
        }
        m_out.rec(rec_relation_end);
    }

    void index(const char *name, const char *column, bool unique, bool descending) {
        m_out.rec(rec_index);
        m_out.text(att_index_name, name);
        m_out.number(att_segment_count, 1);
        m_out.number(att_index_inactive, 0);
        m_out.number(att_index_unique_flag, unique ? 1 : 0);
        m_out.text(att_index_field_name, column);
        m_out.number(att_index_type, descending ? 1 : 0);
        m_out.end();
    }

    void data(const Table &t) {
        m_out.rec(rec_relation_data);
        m_out.text(att_relation_name, t.name);
        m_out.end();
        if (t.viewBlr.isEmpty() && t.externalFile.isEmpty()) {
            if (QByteArray(t.name) == "FJ_BAZA")
                index("RDB$PRIMARY1", "LP", true, false);
            else {
                index("TA_WSZ_I", "I", false, false);
                if (!m_o.small)
                    index("TA_WSZ_TS", "TS", false, true);
            }
            for (qsizetype r = 0; r < t.rows.size(); ++r)
                record(t, r);
        }
        m_out.rec(rec_relation_end);
    }

    void record(const Table &t, qsizetype r) {
        const Row &row = t.rows[r];
        const QByteArray native = encodeRecord(t, row, m_blobSerial, false);
        m_out.rec(rec_data);
        m_out.number(att_data_length, native.size());
        QByteArray payload = native;
        if (m_o.transportable) {
            payload = encodeRecord(t, row, m_blobSerial, true);
            m_out.number(att_xdr_length, payload.size());
        }
        m_out.raw(B({att_data_data}));
        m_out.raw(m_o.compressed ? compressed(payload) : payload);
        int blob = 0;
        for (qsizetype k = 0; k < t.columns.size(); ++k) {
            const Domain &d = *t.columns[k].domain;
            if (d.computed() || std::holds_alternative<std::monostate>(row[k]))
                continue;
            if (d.type == Type::Blob)
                blobRecord(int(k + 1), t.blobs[r][blob++]);
            else if (d.array())
                arrayRecord(int(k + 1), std::get<QList<qint32>>(row[k]));
            else
                continue;
            ++m_blobSerial;
        }
    }

    void blobRecord(int field, const Blob &b) {
        QList<QByteArray> segments;
        for (qsizetype at = 0; at < b.content.size(); at += b.segment)
            segments << b.content.mid(at, b.segment);
        int longest = 0;
        for (const QByteArray &s : segments)
            longest = std::max(longest, int(s.size()));
        m_out.rec(rec_blob);
        m_out.number(att_blob_field_number, field);
        m_out.number(att_blob_max_segment, longest);
        m_out.number(att_blob_number_segments, segments.size());
        m_out.number(att_blob_type, b.type);
        m_out.raw(B({att_blob_data}));
        for (const QByteArray &s : segments)
            m_out.raw(le(quint64(s.size()), 2) + s);
    }

    void arrayRecord(int field, const QList<qint32> &elements) {
        m_out.rec(rec_array);
        m_out.number(att_blob_field_number, field);
        m_out.number(att_array_dimensions, 1);
        m_out.number(att_array_range_low, m_s.a.low);
        m_out.number(att_array_range_high, m_s.a.high);
        m_out.raw(B({att_blob_data}));
        QByteArray native,
            xdr = be(quint64(elements.size()) * 4, 4); // XDR: the slice's length, then its elements
        for (qint32 e : elements) {
            native += le(quint32(e), 4);
            xdr += be(quint32(e), 4);
        }
        m_out.raw(le(quint64(native.size()), 4));
        if (m_o.transportable)
            m_out.raw(B({att_xdr_array}) + le(quint64(xdr.size()), 4) + xdr);
        else
            m_out.raw(native);
    }

    void function() {
        m_out.rec(rec_function);
        m_out.text(att_function_name, "F_ABS");
        m_out.number(att_function_return_arg, 0);
        m_out.number(att_function_type, 0);
        m_out.text(att_function_module_name, "ib_udf");
        m_out.text(att_function_entrypoint, "IB_UDF_abs");
        if (m_o.laterAttributes && m_f < 10)
            for (int att : {att_function_blr, att_function_source, att_function_debug_info})
                m_out.text(att, kLater);
        m_out.end();
        for (int position : {0, 1}) {
            m_out.rec(rec_function_arg);
            m_out.text(att_functionarg_name, "F_ABS");
            m_out.number(att_functionarg_position, position);
            m_out.number(att_functionarg_passing_mechanism, position == 0 ? 0 : 1);
            m_out.number(att_functionarg_field_type, blr_double);
            m_out.number(att_functionarg_field_scale, 0);
            m_out.number(att_functionarg_field_length, 8);
            m_out.number(att_functionarg_field_sub_type, 0);
            if (m_o.laterAttributes && m_f < 10)
                for (int att : {att_functionarg_default_value, att_functionarg_default_source,
                                att_functionarg_description})
                    m_out.text(att, kLater);
            m_out.end();
        }
        m_out.rec(rec_function_end);
    }

    void generator() {
        m_out.rec(rec_generator);
        m_out.text(att_gen_generator, "NUM_OPER");
        m_out.number64(att_gen_value_int64, kGeneratorValue);
        if (m_f >= 7)
            m_out.source(att_gen_description, "Numer operacji");
        else if (m_o.laterAttributes)
            m_out.text(att_gen_description, kLater);
        m_out.end();
    }

    void procedure() {
        m_out.rec(rec_procedure);
        m_out.text(att_procedure_name, "P_ILE");
        m_out.number(att_procedure_inputs, 1);
        m_out.number(att_procedure_outputs, 1);
        m_out.source(att_procedure_source2, {"BEGIN Y = X + 1;", " SUSPEND; END"}); // a segment a line
        m_out.blob(att_procedure_blr, procedureBlr());
        if (m_f >= 8) {
            m_out.number(att_procedure_type, 1);
            m_out.number(att_procedure_valid_blr, 1);
            m_out.blob(att_procedure_debug_info, kDebugInfo);
        } else if (m_o.laterAttributes)
            m_out.text(att_procedure_debug_info, kLater);
        m_out.end();
        for (int k : {0, 1}) {
            m_out.rec(rec_procedure_prm);
            m_out.text(att_procedureprm_name, k == 0 ? "X" : "Y");
            m_out.number(att_procedureprm_number, 0);
            m_out.number(att_procedureprm_type, k);
            m_out.text(att_procedureprm_field_source, k == 0 ? m_s.x.name : m_s.y.name);
            if (m_f >= 8) {
                m_out.number(att_procedureprm_mechanism, 0);
                if (k == 0) {
                    m_out.blob(att_procedureprm_default_value,
                               B({blr_version5, blr_literal, blr_long, 0, 5, 0, 0, 0, blr_eoc}));
                    m_out.source(att_procedureprm_default_source, "= 5");
                }
            } else if (m_o.laterAttributes && k == 0) {
                m_out.text(att_procedureprm_default_value, kLater);
                m_out.text(att_procedureprm_default_source, kLater);
            }
            m_out.end();
        }
        m_out.rec(rec_procedure_end);
    }

    void exception() {
        const QByteArray message = exceptionMessage(m_f);
        m_out.rec(rec_exception);
        m_out.text(att_exception_name, "E_ZLE");
        if (message.size() <= 255)
            m_out.text(att_exception_msg, message);
        else if (m_f >= 9)
            m_out.text2(att_exception_msg2, message);
        else // Firebird 2.0 and 2.1: the length's low byte alone, then the whole message
            m_out.raw(B({att_exception_msg, int(message.size() & 0xff)}) + message);
        m_out.end();
    }

    void trigger() {
        m_out.rec(rec_trigger);
        m_out.text(att_trig_name, "T_WSZ");
        m_out.text(att_trig_relation_name, "TA_WSZ");
        m_out.number(att_trig_sequence, 0);
        m_out.number(att_trig_type, 1); // before insert
        m_out.blob(att_trig_blr, triggerBlr());
        m_out.source(att_trig_source2, "AS BEGIN IF (NEW.I IS NULL) THEN NEW.I = GEN_ID(NUM_OPER, 1); END");
        m_out.number(att_trig_system_flag, 0);
        m_out.number(att_trig_inactive, 0);
        m_out.number(att_trig_flags, 1);
        if (m_f >= 8) {
            m_out.number(att_trig_valid_blr, 1);
            m_out.blob(att_trig_debug_info, kDebugInfo);
        } else if (m_o.laterAttributes)
            m_out.text(att_trig_debug_info, kLater);
        m_out.end();
    }

    void privilege(const char *object, char what, int type) {
        m_out.rec(rec_user_privilege);
        m_out.text(att_priv_user, "SYSDBA");
        m_out.text(att_priv_grantor, "SYSDBA");
        m_out.text(att_priv_privilege, QByteArray(1, what));
        m_out.number(att_priv_grant_option, 1);
        m_out.text(att_priv_object_name, object);
        m_out.number(att_priv_user_type, 8);
        m_out.number(att_priv_obj_type, type);
        m_out.end();
    }

    void privileges() {
        if (m_o.small)
            return;
        for (const Table &t : m_s.tables)
            for (char what : {'S', 'I', 'U', 'D', 'R'})
                privilege(t.name, what, 0);
        privilege("P_ILE", 'X', 5);
    }

    void constraint(const char *name, const char *type, const char *index) {
        m_out.rec(rec_rel_constraint);
        m_out.text(att_rel_constraint_name, name);
        m_out.text(att_rel_constraint_type, type);
        m_out.text(att_rel_constraint_rel_name, "FJ_BAZA");
        m_out.text(att_rel_constraint_defer, "NO");
        m_out.text(att_rel_constraint_init, "NO");
        if (index)
            m_out.text(att_rel_constraint_index, index);
        m_out.end();
    }

    // LP NOT NULL PRIMARY KEY
    void constraints() {
        constraint("INTEG_1", "NOT NULL", nullptr);
        constraint("INTEG_2", "PRIMARY KEY", "RDB$PRIMARY1");
        m_out.rec(rec_chk_constraint);
        m_out.text(att_chk_constraint_name, "INTEG_1");
        m_out.text(att_chk_trigger_name, "LP");
        m_out.end();
    }

    void role() {
        m_out.rec(rec_sql_roles);
        m_out.text(att_role_name, "R_KSIEG");
        m_out.text(att_role_owner_name, "SYSDBA");
        if (m_f >= 7)
            m_out.source(att_role_description, "Ksiegowi");
        else if (m_o.laterAttributes)
            m_out.text(att_role_description, kLater);
        m_out.end();
    }

    const Options &m_o;
    const int m_f;
    Schema m_s;
    Out m_out;
    int m_blobSerial = 0;
};

} // namespace

QByteArray write(const Options &o) {
    return Writer(o).run();
}

QString sourceDatabase(int format) {
    return format >= 10 ? QStringLiteral("/var/lib/qk/bazaqk.adb")
                        : QStringLiteral("C:\\QK\\BAZAQK%1.GDB").arg(format);
}

QString backupDate(int format) {
    return QStringLiteral("Mon Jun 1%1 12:34:56 2009").arg(format % 10);
}

QByteArray exceptionMessage(int format) {
    QByteArray m = "Dokument nie istnieje";
    if (format < 7)
        return m;
    m += ": ";
    for (int k = 0; m.size() < 300; ++k)
        m += QByteArray::number(k % 10);
    return m;
}

int rowsOfTable(const Options &o) {
    return o.small ? 2 : 3;
}

} // namespace OldBackupWriter
