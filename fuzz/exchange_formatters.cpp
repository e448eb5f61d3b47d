// The exchange formatters and the record check of import files.
#include "db/Errors.h"
#include "db/SqlValue.h"
#include "exchange/ExchangeLayouts.h"
#include "exchange/Formatters.h"
#include "platform/AnsiCodec.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    double x = 0;
    int n = 0;
    if (size >= sizeof x)
        std::memcpy(&x, data, sizeof x);
    if (size >= sizeof x + sizeof n)
        std::memcpy(&n, data + sizeof x, sizeof n);
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));

    // Amounts as the books hold them (DECIMAL(13,2): below 10^11); far above, a double's hundredfold
    // keeps no room for the cents the rule reads (7 146 827 471 449.3545 rounds to .36).
    if (std::isfinite(x) && std::fabs(x) < 1e11) {
        const double r = RoundCents(x);
        if (!std::isfinite(r) || std::fabs(r - x) > 0.0051)
            std::abort();
    }
    // The export's byte-level formatting gives exactly what the text formatting gave.
    {
        char digits[32];
        for (const double v : {x, RoundCents(x), x + 100000}) {
            if (!std::isfinite(v))
                continue;
            const int len = FloatChars(v, digits);
            if (QByteArray(digits, len) != SqlValue::formatFloat(v).toLatin1())
                std::abort();
        }
        const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
        if (TrimmedBytes(bytes).toByteArray() != AnsiCodec::encode(AnsiCodec::decode(bytes).trimmed()))
            std::abort();
        const int width = int(size % 300);
        QByteArray fitted(width, '\0');
        PutFitted(fitted.data(), bytes, width);
        if (fitted != AnsiCodec::encode(FitField(AnsiCodec::decode(bytes), width)))
            std::abort();
    }
    const QString name = MonthName(n);
    if (name.isEmpty())
        std::abort();
    if (n >= 0 && n < 100 && MonthDigits(n).size() != 2)
        std::abort();
    const int width = int(size % 300);
    if (FitField(text, width).size() != width)
        std::abort();
    const QString dotted = DotDecimal(text);
    if (dotted.contains(QLatin1Char(',')) || dotted.contains(QLatin1Char(' ')))
        std::abort();

    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const qint64 bad = ExchangeLayouts::firstBadRecord(bytes, ExchangeLayouts::entries());
    if (bad == 0 && size % 70 != 0)
        std::abort(); // accepted a file that is not whole records
    if (bad < 0 || bad > qint64(size / 70) + 1)
        std::abort();
    return 0;
}
