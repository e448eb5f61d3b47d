#include "db/SqlValue.h"

#include "db/Errors.h"
#include "platform/AnsiCodec.h"

#include <cmath>
#include <cstring>

namespace {

constexpr qint64 kEngineEpochJulian = 2400001; // 17 November 1858

template <typename T> T load(const char *p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename T> void store(QByteArray &data, T v) {
    data = QByteArray(int(sizeof v), '\0');
    std::memcpy(data.data(), &v, sizeof v);
}

qint64 pow10(int n) {
    qint64 r = 1;
    while (n-- > 0)
        r *= 10;
    return r;
}

bool isIntegral(short type) {
    return type == SQL_SHORT || type == SQL_LONG || type == SQL_INT64;
}

qint64 loadIntegral(const char *p, short type) {
    switch (type) {
    case SQL_SHORT:
        return load<qint16>(p);
    case SQL_LONG:
        return load<qint32>(p);
    default:
        return load<qint64>(p);
    }
}

QString textOf(const char *cell, const Query::ColumnInfo &c) {
    if (c.type == SQL_VARYING) {
        const int len = load<quint16>(cell);
        return AnsiCodec::decode(cell + 2, std::min<int>(len, c.length));
    }
    return AnsiCodec::decode(cell, c.length);
}

} // namespace

QDate SqlValue::dateOf(const char *row, const Query::ColumnInfo &c) {
    const char *cell = row + c.offset;
    return dateFromEngine(c.type == SQL_TYPE_DATE ? load<ISC_DATE>(cell)
                                                  : load<ISC_TIMESTAMP>(cell).timestamp_date);
}

QByteArrayView SqlValue::textBytes(const char *row, const Query::ColumnInfo &c) {
    if (isNull(row, c))
        return {};
    const char *cell = row + c.offset;
    if (c.type == SQL_VARYING)
        return QByteArrayView(cell + 2, std::min<int>(load<quint16>(cell), c.length));
    return QByteArrayView(cell, c.length);
}

namespace {

QDateTime dateTimeOf(const char *cell, short type) {
    switch (type) {
    case SQL_TYPE_DATE:
        return QDateTime(SqlValue::dateFromEngine(load<ISC_DATE>(cell)), QTime(0, 0), Qt::UTC);
    case SQL_TYPE_TIME:
        return QDateTime(QDate(1899, 12, 30), SqlValue::timeFromEngine(load<ISC_TIME>(cell)), Qt::UTC);
    default: {
        const ISC_TIMESTAMP ts = load<ISC_TIMESTAMP>(cell);
        return QDateTime(SqlValue::dateFromEngine(ts.timestamp_date),
                         SqlValue::timeFromEngine(ts.timestamp_time), Qt::UTC);
    }
    }
}

// Delphi's date-time number: days since 30 December 1899, the time as the fraction.
double dateTimeToNumber(const QDateTime &dt) {
    const qint64 days = QDate(1899, 12, 30).daysTo(dt.date());
    const double frac = dt.time().msecsSinceStartOfDay() / 86400000.0;
    return days >= 0 ? double(days) + frac : double(days) - frac;
}

QDateTime numberToDateTime(double v) {
    const double whole = std::trunc(v);
    const double frac = std::fabs(v - whole);
    return QDateTime(QDate(1899, 12, 30).addDays(qint64(whole)),
                     QTime::fromMSecsSinceStartOfDay(int(std::llround(frac * 86400000.0)) % 86400000),
                     Qt::UTC);
}

double parseFloat(const QString &text) {
    QString t = text.trimmed();
    t.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (!ok)
        throw QkError(QString::fromLatin1(Msg::NotValidFloat).arg(text));
    return v;
}

qint64 parseInteger(const QString &text) {
    bool ok = false;
    const qint64 v = text.trimmed().toLongLong(&ok);
    if (!ok)
        throw QkError(QString::fromLatin1(Msg::NotValidInteger).arg(text));
    return v;
}

} // namespace

QDate SqlValue::dateFromEngine(ISC_DATE d) {
    return QDate::fromJulianDay(kEngineEpochJulian + d);
}

ISC_DATE SqlValue::dateToEngine(const QDate &d) {
    return ISC_DATE(d.toJulianDay() - kEngineEpochJulian);
}

QTime SqlValue::timeFromEngine(ISC_TIME t) {
    return QTime::fromMSecsSinceStartOfDay(int((t / 10) % 86400000));
}

ISC_TIME SqlValue::timeToEngine(const QTime &t) {
    return ISC_TIME(t.msecsSinceStartOfDay()) * 10;
}

QDateTime SqlValue::zeroDateTime() {
    return QDateTime(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC);
}

QString SqlValue::formatFloat(double v) {
    if (v == 0)
        return QStringLiteral("0"); // also for -0
    QString s = QString::number(v, 'g', 15);
    return s;
}

QString SqlValue::formatScaled(qint64 v, int scale) {
    if (scale >= 0)
        return QString::number(v * pow10(scale));
    const qint64 div = pow10(-scale);
    const bool negative = v < 0;
    const quint64 mag = negative ? quint64(0) - quint64(v) : quint64(v);
    QString whole = QString::number(mag / quint64(div));
    QString frac = QString::number(mag % quint64(div)).rightJustified(-scale, QLatin1Char('0'));
    while (frac.endsWith(QLatin1Char('0')))
        frac.chop(1);
    QString s = negative ? QStringLiteral("-") + whole : whole;
    if (!frac.isEmpty())
        s += QLatin1Char('.') + frac;
    return s;
}

bool SqlValue::isNull(const char *row, const Query::ColumnInfo &c) {
    return load<short>(row + c.nullOffset) == -1;
}

QString SqlValue::toString(const char *row, const Query::ColumnInfo &c) {
    if (isNull(row, c))
        return QString();
    const char *cell = row + c.offset;
    switch (c.type) {
    case SQL_TEXT:
    case SQL_VARYING:
        return textOf(cell, c);
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64:
        return formatScaled(loadIntegral(cell, c.type), c.scale);
    case SQL_FLOAT:
        return formatFloat(load<float>(cell));
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
        return formatFloat(load<double>(cell));
    case SQL_TYPE_DATE:
        return dateTimeOf(cell, c.type).date().toString(QStringLiteral("yyyy-MM-dd"));
    case SQL_TYPE_TIME:
        return dateTimeOf(cell, c.type).time().toString(QStringLiteral("HH:mm:ss"));
    case SQL_TIMESTAMP: {
        const QDateTime dt = dateTimeOf(cell, c.type);
        const QString date = dt.date().toString(QStringLiteral("yyyy-MM-dd"));
        return dt.time() == QTime(0, 0) ? date : date + dt.time().toString(QStringLiteral(" HH:mm:ss"));
    }
    case SQL_BOOLEAN:
        return load<char>(cell) ? QStringLiteral("True") : QStringLiteral("False");
    default:
        return QString(); // blobs and arrays are not read by this system
    }
}

double SqlValue::toFloat(const char *row, const Query::ColumnInfo &c) {
    if (isNull(row, c))
        return 0.0;
    const char *cell = row + c.offset;
    switch (c.type) {
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64:
        return double(loadIntegral(cell, c.type)) / double(pow10(-std::min<int>(c.scale, 0))) *
               double(pow10(std::max<int>(c.scale, 0)));
    case SQL_FLOAT:
        return load<float>(cell);
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
        return load<double>(cell);
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TIMESTAMP:
        return dateTimeToNumber(dateTimeOf(cell, c.type));
    case SQL_TEXT:
    case SQL_VARYING:
        return parseFloat(textOf(cell, c));
    default:
        return 0.0;
    }
}

qint64 SqlValue::toInteger(const char *row, const Query::ColumnInfo &c) {
    if (isNull(row, c))
        return 0;
    const char *cell = row + c.offset;
    if (isIntegral(c.type)) {
        const qint64 v = loadIntegral(cell, c.type);
        if (c.scale >= 0)
            return v * pow10(c.scale);
        return std::llround(double(v) / double(pow10(-c.scale)));
    }
    if (c.type == SQL_TEXT || c.type == SQL_VARYING)
        return parseInteger(textOf(cell, c));
    return std::llround(toFloat(row, c));
}

QDateTime SqlValue::toDateTime(const char *row, const Query::ColumnInfo &c) {
    if (isNull(row, c))
        return zeroDateTime();
    const char *cell = row + c.offset;
    switch (c.type) {
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TIMESTAMP:
        return dateTimeOf(cell, c.type);
    case SQL_TEXT:
    case SQL_VARYING: {
        const QString t = textOf(cell, c).trimmed();
        QDateTime dt = QDateTime::fromString(t, Qt::ISODate);
        if (!dt.isValid())
            dt = QDateTime(QDate::fromString(t, Qt::ISODate), QTime(0, 0), Qt::UTC);
        if (!dt.isValid())
            throw QkError(QStringLiteral("'%1' is not a valid date and time").arg(t));
        dt.setTimeSpec(Qt::UTC);
        return dt;
    }
    default:
        return numberToDateTime(toFloat(row, c));
    }
}

bool SqlValue::matches(const char *row, const Query::ColumnInfo &c, const QVariant &want,
                       bool caseInsensitive) {
    if (isNull(row, c) || want.isNull())
        return isNull(row, c) && want.isNull();
    if (c.type == SQL_TEXT || c.type == SQL_VARYING) {
        auto trimRight = [](QString s) {
            qsizetype n = s.size();
            while (n > 0 && s[n - 1] == QLatin1Char(' '))
                --n;
            s.truncate(n);
            return s;
        };
        return trimRight(textOf(row + c.offset, c))
                   .compare(trimRight(want.toString()),
                            caseInsensitive ? Qt::CaseInsensitive : Qt::CaseSensitive) == 0;
    }
    if (c.type == SQL_TYPE_DATE || c.type == SQL_TIMESTAMP || c.type == SQL_TYPE_TIME)
        return toDateTime(row, c) == want.toDateTime();
    if (isIntegral(c.type) && c.scale == 0 && want.canConvert<qlonglong>()) {
        bool ok = false;
        const qlonglong w = want.toLongLong(&ok);
        if (ok && double(w) == want.toDouble())
            return loadIntegral(row + c.offset, c.type) == w;
    }
    return toFloat(row, c) == want.toDouble();
}

void SqlValue::bindParam(const Query::ParamValue &value, const Query::ColumnInfo &target, XSQLVAR &var,
                         QByteArray &data) {
    using Kind = Query::ParamValue::Kind;
    var.sqltype = target.type;
    var.sqlscale = target.scale;
    var.sqlsubtype = target.subtype;
    var.sqllen = target.length;

    auto asText = [&](const QString &text) {
        const QByteArray bytes = AnsiCodec::encode(text);
        data = bytes.isEmpty() ? QByteArray(1, '\0') : bytes; // a valid pointer even for length 0
        var.sqltype = SQL_TEXT;
        var.sqlscale = 0;
        var.sqlsubtype = 0;
        var.sqllen = short(bytes.size());
    };
    auto asInt64 = [&](qint64 v) {
        store<qint64>(data, v);
        var.sqltype = SQL_INT64;
        var.sqllen = 8;
    };
    auto asDouble = [&](double v) {
        store<double>(data, v);
        var.sqltype = SQL_DOUBLE;
        var.sqlscale = 0;
        var.sqllen = 8;
    };

    const short t = target.type;
    switch (value.kind) {
    case Kind::Null:
        data = QByteArray(std::max<int>(target.length + 2, 8), '\0');
        return;
    case Kind::Text:
        asText(value.text);
        return;
    case Kind::Integer:
        if (isIntegral(t))
            asInt64(target.scale <= 0 ? value.integer * pow10(-target.scale)
                                      : value.integer / pow10(target.scale));
        else if (t == SQL_FLOAT || t == SQL_DOUBLE || t == SQL_D_FLOAT)
            asDouble(double(value.integer));
        else if (t == SQL_TYPE_DATE || t == SQL_TIMESTAMP || t == SQL_TYPE_TIME)
            bindParam({Kind::DateTime, {}, 0, 0, numberToDateTime(double(value.integer))}, target, var, data);
        else
            asText(QString::number(value.integer));
        return;
    case Kind::Float:
        if (isIntegral(t))
            asInt64(std::llround(value.real * std::pow(10.0, -target.scale)));
        else if (t == SQL_FLOAT || t == SQL_DOUBLE || t == SQL_D_FLOAT)
            asDouble(value.real);
        else if (t == SQL_TYPE_DATE || t == SQL_TIMESTAMP || t == SQL_TYPE_TIME)
            bindParam({Kind::DateTime, {}, 0, 0, numberToDateTime(value.real)}, target, var, data);
        else
            asText(formatFloat(value.real));
        return;
    case Kind::DateTime:
        if (t == SQL_TYPE_DATE) {
            store<ISC_DATE>(data, dateToEngine(value.dateTime.date()));
            var.sqllen = sizeof(ISC_DATE);
        } else if (t == SQL_TYPE_TIME) {
            store<ISC_TIME>(data, timeToEngine(value.dateTime.time()));
            var.sqllen = sizeof(ISC_TIME);
        } else if (t == SQL_TIMESTAMP) {
            ISC_TIMESTAMP ts{dateToEngine(value.dateTime.date()), timeToEngine(value.dateTime.time())};
            store<ISC_TIMESTAMP>(data, ts);
            var.sqllen = sizeof(ISC_TIMESTAMP);
        } else if (t == SQL_TEXT || t == SQL_VARYING) {
            asText(value.dateTime.time() == QTime(0, 0)
                       ? value.dateTime.date().toString(QStringLiteral("yyyy-MM-dd"))
                       : value.dateTime.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        } else {
            asDouble(dateTimeToNumber(value.dateTime));
        }
        return;
    }
}
