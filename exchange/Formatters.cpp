#include "exchange/Formatters.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

QString MonthName(int n) {
    static const char16_t *const names[] = {
        u"Bil.Otw. ", u"Styczeń ",  u"Luty ",     u"Marzec ",      u"Kwiecień ", u"Maj ",     u"Czerwiec ",
        u"Lipiec ",   u"Sierpień ", u"Wrzesień ", u"Październik ", u"Listopad ", u"Grudzień "};
    if (n < 0 || n > 12)
        return QString(15, QLatin1Char('-'));
    return QString::fromUtf16(names[n]);
}

QString MonthDigits(int n) {
    QString s = QString::number(n).rightJustified(2, QLatin1Char(' '));
    if (s.startsWith(QLatin1Char(' ')))
        s[0] = QLatin1Char('0');
    return s;
}

double RoundCents(double x) {
    const double t = x * 100;
    const double r = t >= 0 ? std::trunc(t + 0.50001) : std::trunc(t - 0.50001);
    return r / 100;
}

QString DotDecimal(const QString &s) {
    QString t = s.trimmed();
    t.remove(QLatin1Char(' '));
    t.replace(QLatin1Char(','), QLatin1Char('.'));
    return t;
}

QString SpaceString(int n) {
    return QString(std::max(0, n), QLatin1Char(' '));
}

QString FitField(const QString &value, int width) {
    return (value + SpaceString(width)).left(width);
}

namespace {

// Whether v's exact decimal value has the digit 5 in the sixteenth significant place and nothing after it.
bool tiesAtFifteenthDigit(double v) {
    // d.ddd...e±x with 17 significant digits first: only a 5 followed by a 0 can be a tie.
    char head[40];
    std::to_chars(head, head + sizeof head, std::fabs(v), std::chars_format::scientific, 16);
    if (head[16] != '5' || head[17] != '0')
        return false;
    // A double's exact decimal expansion has at most 767 significant digits.
    char exact[800];
    const auto r =
        std::to_chars(exact, exact + sizeof exact, std::fabs(v), std::chars_format::scientific, 780);
    char *e = std::find(exact, r.ptr, 'e');
    return exact[16] == '5' && std::all_of(exact + 17, e, [](char c) { return c == '0'; });
}

} // namespace

int FloatChars(double v, char *out) {
    if (v == 0) { // also -0
        out[0] = '0';
        return 1;
    }
    // Whole cents below 10^13 (amounts, document and record numbers): a decimal of at most 15
    // significant digits comes back whole from the nearest double at 15 digits, so it is written
    // straight from the integer count of cents. Everything else takes the general way.
    if (std::fabs(v) < 1e13) {
        const long long cents = std::llround(v * 100);
        if (double(cents) / 100 == v) {
            char *p = out;
            unsigned long long magnitude = cents < 0 ? 0ULL - static_cast<unsigned long long>(cents)
                                                     : static_cast<unsigned long long>(cents);
            if (cents < 0)
                *p++ = '-';
            p = std::to_chars(p, out + 32, magnitude / 100).ptr;
            const unsigned fraction = unsigned(magnitude % 100);
            if (fraction != 0) {
                *p++ = '.';
                *p++ = char('0' + fraction / 10);
                if (fraction % 10 != 0)
                    *p++ = char('0' + fraction % 10);
            }
            return int(p - out);
        }
    }
    // The text formatting rounds a value lying exactly half-way at the fifteenth significant digit away
    // from zero (99997.62744140625 gives 99997.6274414063), to_chars to even; files already exported
    // hold the former. The next double away from zero rounds the same way under either rule.
    if (tiesAtFifteenthDigit(v))
        v = std::nextafter(v, v > 0 ? HUGE_VAL : -HUGE_VAL);
    const auto r = std::to_chars(out, out + 32, v, std::chars_format::general, 15);
    return int(r.ptr - out);
}

QByteArrayView TrimmedBytes(QByteArrayView bytes) {
    auto blank = [](char c) {
        const unsigned char u = static_cast<unsigned char>(c);
        return u == 0x20 || (u >= 0x09 && u <= 0x0D) || u == 0xA0;
    };
    qsizetype begin = 0, end = bytes.size();
    while (begin < end && blank(bytes[begin]))
        ++begin;
    while (end > begin && blank(bytes[end - 1]))
        --end;
    return bytes.sliced(begin, end - begin);
}

char *PutFitted(char *out, QByteArrayView bytes, int width) {
    const qsizetype n = std::min<qsizetype>(bytes.size(), width);
    if (n > 0) // a NULL text has no bytes at all
        std::memcpy(out, bytes.data(), size_t(n));
    std::memset(out + n, ' ', size_t(width - n));
    return out + width;
}
