#include "platform/Regional.h"

#include <QLocale>

QString Regional::shortDate(const QDate &date) {
    return QLocale(QLocale::Polish, QLocale::Poland).toString(date, QLocale::ShortFormat);
}
