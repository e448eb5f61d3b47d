#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The small formatters the exchange files and the month labels share.

// The Polish month name with one trailing blank; 0 gives "Bil.Otw. ", anything else outside 1..12 fifteen
// dashes.
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

// The same rules over the 8-bit bytes of a record, for the export's row loop: one Windows-1250 byte is
// one character, so widths in bytes are widths in characters.

// The text the database layer gives a floating value (at most 15 significant digits, shortest form,
// '.' as separator, "0" for zero), written at out (room for 32 bytes); the number of bytes.
int FloatChars(double v, char *out);
// The bytes without the blanks QString::trimmed removes from the decoded text (tab to CR, space, and
// the no-break space 0xA0).
QByteArrayView TrimmedBytes(QByteArrayView bytes);
// Writes the bytes filled with blanks on the right and cut to width at out, as FitField does; the
// place after them.
char *PutFitted(char *out, QByteArrayView bytes, int width);
