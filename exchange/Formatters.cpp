#include "exchange/Formatters.h"

#include <cmath>

QString MonthName(int n)
{
    static const char16_t *const names[] = {u"Bil.Otw. ",  u"Styczeń ",   u"Luty ",      u"Marzec ",    u"Kwiecień ",
                                            u"Maj ",       u"Czerwiec ",  u"Lipiec ",    u"Sierpień ",  u"Wrzesień ",
                                            u"Październik ", u"Listopad ", u"Grudzień "};
    if (n < 0 || n > 12)
        return QString(15, QLatin1Char('-'));
    return QString::fromUtf16(names[n]);
}

QString MonthDigits(int n)
{
    QString s = QString::number(n).rightJustified(2, QLatin1Char(' '));
    if (s.startsWith(QLatin1Char(' ')))
        s[0] = QLatin1Char('0');
    return s;
}

double RoundCents(double x)
{
    const double t = x * 100;
    const double r = t >= 0 ? std::trunc(t + 0.50001) : std::trunc(t - 0.50001);
    return r / 100;
}

QString DotDecimal(const QString &s)
{
    QString t = s.trimmed();
    t.remove(QLatin1Char(' '));
    t.replace(QLatin1Char(','), QLatin1Char('.'));
    return t;
}

QString SpaceString(int n)
{
    return QString(std::max(0, n), QLatin1Char(' '));
}

QString FitField(const QString &value, int width)
{
    return (value + SpaceString(width)).left(width);
}
