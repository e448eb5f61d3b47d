#pragma once

#include "db/Query.h"

#include <QDateTime>
#include <QString>
#include <QVariant>

// Conversions between the engine's column and parameter buffers and the program's values.
namespace SqlValue {

bool isNull(const char *row, const Query::ColumnInfo &c);
QString toString(const char *row, const Query::ColumnInfo &c);
// A text column's bytes as the engine gave them (CHAR padded), nothing for NULL; only for SQL_TEXT and
// SQL_VARYING columns.
QByteArrayView textBytes(const char *row, const Query::ColumnInfo &c);
qint64 toInteger(const char *row, const Query::ColumnInfo &c);
double toFloat(const char *row, const Query::ColumnInfo &c);
QDateTime toDateTime(const char *row, const Query::ColumnInfo &c);
// The date of a DATE or TIMESTAMP column that is not NULL, without building a date-time.
QDate dateOf(const char *row, const Query::ColumnInfo &c);
bool matches(const char *row, const Query::ColumnInfo &c, const QVariant &want, bool caseInsensitive);

// Fills one input variable from a parameter value, for the type the server described.
void bindParam(const Query::ParamValue &value, const Query::ColumnInfo &target, XSQLVAR &var,
               QByteArray &data);

// The date-time 0: 30 December 1899, midnight.
QDateTime zeroDateTime();
// Shortest general decimal form, up to 15 significant digits, '.' as the separator.
QString formatFloat(double v);
// Exact decimal text of a scaled integer, trailing fraction zeros dropped ("1234.5", "100").
QString formatScaled(qint64 v, int scale);

// Engine dates: days since 17 November 1858; times in units of 1/10000 second.
QDate dateFromEngine(ISC_DATE d);
ISC_DATE dateToEngine(const QDate &d);
QTime timeFromEngine(ISC_TIME t);
ISC_TIME timeToEngine(const QTime &t);

} // namespace SqlValue
