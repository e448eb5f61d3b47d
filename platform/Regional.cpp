#include "platform/Regional.h"

#include <QLocale>

QString Regional::shortDate(const QDate &date) {
    return QLocale(QLocale::Polish, QLocale::Poland).toString(date, QLocale::ShortFormat);
}

QString Regional::decimal(double value, int places) {
    return QString::number(value, 'f', places).replace(QLatin1Char('.'), QLatin1Char(','));
}

QString Regional::megabytes(qint64 bytes) {
    return decimal(double(bytes) / 1e6) + QStringLiteral(" MB");
}

QString Regional::hoursAgo(qint64 seconds) {
    return decimal(double(seconds) / 3600.0) + QStringLiteral(" h temu");
}

QString Regional::dateTime(const QDateTime &when) {
    return when.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

QString Regional::engineDate(const QString &text) {
    const QDateTime t = QLocale::c().toDateTime(text.simplified(), QStringLiteral("ddd MMM d HH:mm:ss yyyy"));
    return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd HH:mm")) : text.simplified();
}
