#include "exchange/ExchangeWriter.h"

#include "db/Errors.h"
#include "db/Query.h"
#include "db/SqlValue.h"
#include "exchange/Formatters.h"
#include "platform/AnsiCodec.h"

#include <QFileInfo>
#include <QSaveFile>

#include <vector>

using ExchangeLayouts::Rule;

namespace {

[[noreturn]] void tooLong(const QString &path, const ExchangeLayouts::Field &f, const QString &value)
{
    // Cutting a number would change it: a transfer of 1234567.89 would leave as 1234567.8.
    throw QkError(QStringLiteral("Błąd!!!  ...  Wartość %1 nie mieści się w polu %2 (%3 znaków) pliku %4 ...")
                      .arg(value, QLatin1String(f.name))
                      .arg(f.width)
                      .arg(path));
}

[[noreturn]] void ioError(const QString &path, const QString &reason)
{
    throw FileError(QStringLiteral("I/O error: %1: %2").arg(path, reason));
}

ExchangeWriter::FileFactory &fileFactory()
{
    static ExchangeWriter::FileFactory f;
    return f;
}

} // namespace

void ExchangeWriter::setFileFactory(FileFactory factory)
{
    fileFactory() = std::move(factory);
}

ExchangeWriter::ExchangeWriter(const QString &path, const ExchangeLayouts::Layout &layout, const QDate &today)
    : m_path(path), m_layout(layout), m_today(today)
{
}

QString ExchangeWriter::formatField(const Query &q, int column, const ExchangeLayouts::Field &f, const QDate &today,
                                    const QString &path)
{
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

int ExchangeWriter::writeAll(Query &query, const std::function<void()> &afterRow)
{
    // Columns are found once per file, not per row.
    std::vector<int> columns;
    for (const auto &f : m_layout.fields) {
        if (f.rule == Rule::Constant) {
            columns.push_back(-1);
            continue;
        }
        columns.push_back(query.fieldIndex(QString::fromLatin1(f.column)));
    }

    std::unique_ptr<QSaveFile> owned = fileFactory() ? fileFactory()(m_path) : std::make_unique<QSaveFile>(m_path);
    QSaveFile &file = *owned;
    if (!file.open(QIODevice::WriteOnly))
        ioError(m_path, file.errorString());
    QByteArray buffer;
    buffer.reserve(1 << 16);
    int rows = 0;
    while (!query.eof()) {
        QString record;
        record.reserve(m_layout.recordLength());
        for (size_t i = 0; i < m_layout.fields.size(); ++i)
            record += formatField(query, columns[i], m_layout.fields[i], m_today, m_path);
        record += QStringLiteral("\r\n");
        buffer += AnsiCodec::encode(record);
        if (buffer.size() >= (1 << 16)) {
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
    if (!file.commit())
        ioError(m_path, file.errorString());
    // The server reads these files through its external tables, as its own user.
    QFile::setPermissions(m_path, QFile::permissions(m_path) | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    return rows;
}
