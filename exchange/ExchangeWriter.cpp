#include "exchange/ExchangeWriter.h"

#include "db/Errors.h"
#include "db/Query.h"
#include "db/SqlValue.h"
#include "exchange/Formatters.h"
#include "platform/AnsiCodec.h"
#include "platform/Paths.h"

#include <QFileInfo>
#include <QSaveFile>

#include <charconv>
#include <vector>

using ExchangeLayouts::Rule;

// How one field of every record is made, decided once per file from the layout and the columns the
// server described. The common cases work on the row's bytes and numbers directly; the rest go the
// general way, through formatField, and give the same bytes.
struct ExchangeWriter::FieldPlan {
    enum class Way { General, Text, TextTrimmed, Float, Integer, Date, Constant } way = Way::General;
    const ExchangeLayouts::Field *field = nullptr;
    int column = -1;
    const Query::ColumnInfo *info = nullptr;
};

namespace {

[[noreturn]] void tooLong(const QString &path, const ExchangeLayouts::Field &f, const QString &value) {
    // Cutting a number would change it: a transfer of 1234567.89 would leave as 1234567.8.
    throw QkError(QStringLiteral("Błąd!!!  ...  Wartość %1 nie mieści się w polu %2 (%3 znaków) pliku %4 ...")
                      .arg(value, QLatin1String(f.name))
                      .arg(f.width)
                      .arg(path));
}

[[noreturn]] void ioError(const QString &path, const QString &reason) {
    throw FileError(QStringLiteral("I/O error: %1: %2").arg(path, reason));
}

ExchangeWriter::FileFactory &fileFactory() {
    static ExchangeWriter::FileFactory f;
    return f;
}

ExchangeWriter::FieldPlan::Way fastWay(const ExchangeLayouts::Field &f, const Query::ColumnInfo *c) {
    using W = ExchangeWriter::FieldPlan::Way;
    const bool text = c && (c->type == SQL_TEXT || c->type == SQL_VARYING);
    const bool date = c && (c->type == SQL_TYPE_DATE || c->type == SQL_TIMESTAMP);
    switch (f.rule) {
    case Rule::Text:
        return text ? W::Text : W::General;
    case Rule::TextTrimmed:
        return text ? W::TextTrimmed : W::General;
    case Rule::Number:
    case Rule::EntryNumber:
    case Rule::Amount:
        return c ? W::Float : W::General;
    case Rule::Integer:
        return c ? W::Integer : W::General;
    case Rule::Date:
        return date ? W::Date : W::General;
    case Rule::Constant:
        return W::Constant;
    case Rule::OpeningDate:
        return W::General;
    }
    return W::General;
}

void putDigits(char *out, int value, int digits) {
    for (int i = digits - 1; i >= 0; --i, value /= 10)
        out[i] = char('0' + value % 10);
}

} // namespace

void ExchangeWriter::setFileFactory(FileFactory factory) {
    fileFactory() = std::move(factory);
}

ExchangeWriter::ExchangeWriter(const QString &path, const ExchangeLayouts::Layout &layout, const QDate &today)
    : m_path(path), m_layout(layout), m_today(today) {}

QString ExchangeWriter::formatField(const Query &q, int column, const ExchangeLayouts::Field &f,
                                    const QDate &today, const QString &path) {
    QString v;
    bool numeric = false;
    const Field value = column >= 0 ? q.field(column) : q.field(0);
    switch (f.rule) {
    case Rule::Text:
        v = value.asString();
        break;
    case Rule::TextTrimmed:
        v = value.asString().trimmed();
        break;
    case Rule::Number:
        v = SqlValue::formatFloat(value.asFloat()).trimmed();
        numeric = true;
        break;
    case Rule::EntryNumber:
        v = SqlValue::formatFloat(value.asFloat() + 100000).trimmed();
        numeric = true;
        break;
    case Rule::Integer:
        v = QString::number(value.asInteger());
        numeric = true;
        break;
    case Rule::Amount:
        v = DotDecimal(SqlValue::formatFloat(RoundCents(value.asFloat())));
        numeric = true;
        break;
    case Rule::Date:
        v = value.asDateTime().date().toString(QStringLiteral("yyyy-MM-dd"));
        break;
    case Rule::Constant:
        v = QString::fromLatin1(f.column);
        break;
    case Rule::OpeningDate: {
        const QString s = value.asString();
        if (!s.trimmed().isEmpty())
            v = s.mid(5, 2) + QLatin1Char('-') + s.mid(8, 2) + QLatin1Char('-') + s.mid(2, 2);
        else
            v = QStringLiteral("12-31-") + today.toString(QStringLiteral("yyyy-MM-dd")).mid(2, 2);
        break;
    }
    }
    if (numeric && v.size() > f.width)
        tooLong(path, f, v);
    return FitField(v, f.width);
}

void ExchangeWriter::appendRecord(QByteArray &out, const Query &query, const std::vector<FieldPlan> &plan,
                                  qsizetype recordLength) const {
    using W = FieldPlan::Way;
    // Every field has its fixed width: the record's room is made once and each field written in place.
    const qsizetype at = out.size();
    out.resize(at + recordLength);
    char *p = out.data() + at;
    const char *row = query.rowData();
    for (const FieldPlan &step : plan) {
        const ExchangeLayouts::Field &f = *step.field;
        switch (step.way) {
        case W::Text:
            p = PutFitted(p, SqlValue::textBytes(row, *step.info), f.width);
            break;
        case W::TextTrimmed:
            p = PutFitted(p, TrimmedBytes(SqlValue::textBytes(row, *step.info)), f.width);
            break;
        case W::Float: {
            double v = SqlValue::toFloat(row, *step.info);
            if (f.rule == Rule::EntryNumber)
                v += 100000;
            else if (f.rule == Rule::Amount)
                v = RoundCents(v);
            char digits[32];
            const int n = FloatChars(v, digits);
            if (n > f.width)
                tooLong(m_path, f, QString::fromLatin1(digits, n));
            p = PutFitted(p, QByteArrayView(digits, n), f.width);
            break;
        }
        case W::Integer: {
            char digits[24];
            const auto r =
                std::to_chars(digits, digits + sizeof digits, SqlValue::toInteger(row, *step.info));
            const int n = int(r.ptr - digits);
            if (n > f.width)
                tooLong(m_path, f, QString::fromLatin1(digits, n));
            p = PutFitted(p, QByteArrayView(digits, n), f.width);
            break;
        }
        case W::Date: {
            // NULL is the date-time 0, as the database layer reads it.
            const QDate d =
                SqlValue::isNull(row, *step.info) ? QDate(1899, 12, 30) : SqlValue::dateOf(row, *step.info);
            if (d.year() < 0 || d.year() > 9999 || f.width < 10) {
                p = PutFitted(p, AnsiCodec::encode(formatField(query, step.column, f, m_today, m_path)),
                              f.width);
                break;
            }
            char text[10];
            putDigits(text, d.year(), 4);
            text[4] = '-';
            putDigits(text + 5, d.month(), 2);
            text[7] = '-';
            putDigits(text + 8, d.day(), 2);
            p = PutFitted(p, QByteArrayView(text, 10), f.width);
            break;
        }
        case W::Constant:
            p = PutFitted(p, QByteArrayView(f.column), f.width);
            break;
        case W::General:
            p = PutFitted(p, AnsiCodec::encode(formatField(query, step.column, f, m_today, m_path)), f.width);
            break;
        }
    }
    p[0] = '\r';
    p[1] = '\n';
}

int ExchangeWriter::writeAll(Query &query, const std::function<void()> &afterRow) {
    // Columns and the way of each field are found once per file, not per row.
    std::vector<FieldPlan> plan;
    for (const auto &f : m_layout.fields) {
        FieldPlan p;
        p.field = &f;
        if (f.rule != Rule::Constant) {
            p.column = query.fieldIndex(QString::fromLatin1(f.column));
            p.info = &query.columnInfo(p.column);
        }
        p.way = fastWay(f, p.info);
        plan.push_back(p);
    }

    std::unique_ptr<QSaveFile> owned =
        fileFactory() ? fileFactory()(m_path) : std::make_unique<QSaveFile>(m_path);
    QSaveFile &file = *owned;
    if (!file.open(QIODevice::WriteOnly))
        ioError(m_path, file.errorString());
    // Records go into one reusable buffer, written out a block at a time.
    constexpr qsizetype kBlock = 1 << 16;
    const qsizetype recordLength = m_layout.recordLength();
    QByteArray buffer;
    buffer.reserve(kBlock + m_layout.recordLength());
    int rows = 0;
    while (!query.eof()) {
        appendRecord(buffer, query, plan, recordLength);
        if (buffer.size() >= kBlock) {
            if (file.write(buffer) != buffer.size())
                ioError(m_path, file.errorString());
            buffer.clear();
        }
        ++rows;
        query.next();
        if (afterRow)
            afterRow();
    }
    if (!buffer.isEmpty() && file.write(buffer) != buffer.size())
        ioError(m_path, file.errorString());
    if (!Paths::commitWhole(file))
        ioError(m_path, file.errorString());
    try {
        Paths::syncFolderOf(m_path); // the file is synced by its save, its name here
    } catch (const FileError &e) {
        ioError(m_path, e.message());
    }
    // The server reads these files through its external tables, as its own user.
    QFile::setPermissions(m_path,
                          QFile::permissions(m_path) | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    return rows;
}
