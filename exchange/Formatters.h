#pragma once

#include <QString>

// The small formatters the exchange files and the month labels share.

// The Polish month name with one trailing blank; 0 gives "Bil.Otw. ", anything else outside 1..12 fifteen dashes.
QString MonthName(int n);
// Two characters, a leading '0' for 1..9 ("03").
QString MonthDigits(int n);
// Whole cents away from zero; a hundredfold fraction of 0.49999 already counts as a half.
double RoundCents(double x);
// Blanks removed (trimmed, then every inner one), every comma made a point.
QString DotDecimal(const QString &s);
QString SpaceString(int n);
// The value filled with blanks on the right and cut to width characters.
QString FitField(const QString &value, int width);
