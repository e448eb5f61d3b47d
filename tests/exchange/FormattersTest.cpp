// The shared formatters and the record layouts, against values written out by hand.
#include "exchange/Formatters.h"
#include "exchange/ExchangeLayouts.h"
#include "exchange/ExchangeOps.h"

#include <gtest/gtest.h>

#include "db/SqlValue.h"
#include "platform/AnsiCodec.h"

#include <cmath>
#include <random>

TEST(Formatters, MonthNamesAndDigits) {
    const char16_t *names[] = {u"Bil.Otw. ",    u"Styczeń ",  u"Luty ",    u"Marzec ",   u"Kwiecień ",
                               u"Maj ",         u"Czerwiec ", u"Lipiec ",  u"Sierpień ", u"Wrzesień ",
                               u"Październik ", u"Listopad ", u"Grudzień "};
    for (int m = 0; m <= 12; ++m)
        EXPECT_EQ(MonthName(m), QString::fromUtf16(names[m])) << m;
    EXPECT_EQ(MonthName(13), QStringLiteral("---------------"));
    EXPECT_EQ(MonthName(-1), QStringLiteral("---------------"));
    EXPECT_EQ(MonthDigits(3), QStringLiteral("03"));
    EXPECT_EQ(MonthDigits(7), QStringLiteral("07"));
    EXPECT_EQ(MonthDigits(12), QStringLiteral("12"));
}

TEST(Formatters, RoundCentsAwayFromZeroWithItsHalf) {
    EXPECT_DOUBLE_EQ(RoundCents(2.67499995), 2.68);
    EXPECT_DOUBLE_EQ(RoundCents(2.6749), 2.67);
    EXPECT_DOUBLE_EQ(RoundCents(0.125), 0.13);
    EXPECT_DOUBLE_EQ(RoundCents(-0.125), -0.13);
    EXPECT_DOUBLE_EQ(RoundCents(0.0), 0.0);
    // Every cent value survives unchanged, also when its double is a hair below.
    for (int cents = -200000; cents <= 200000; cents += 7) {
        const double v = cents / 100.0;
        ASSERT_DOUBLE_EQ(RoundCents(v), v) << cents;
        ASSERT_DOUBLE_EQ(RoundCents(std::nextafter(v, 0.0)), v) << cents;
    }
}

TEST(Formatters, DotDecimalSpacesAndFitting) {
    EXPECT_EQ(DotDecimal(QStringLiteral(" 1 234,5 ")), QStringLiteral("1234.5"));
    EXPECT_EQ(DotDecimal(QStringLiteral("12.5")), QStringLiteral("12.5"));
    EXPECT_EQ(SpaceString(0), QString());
    EXPECT_EQ(SpaceString(3), QStringLiteral("   "));
    EXPECT_EQ(FitField(QStringLiteral("1234.5"), 13), QStringLiteral("1234.5       "));
    EXPECT_EQ(FitField(QStringLiteral("abcdef"), 4), QStringLiteral("abcd"));
    EXPECT_EQ(FitField(QString(), 2), QStringLiteral("  "));
}

TEST(Layouts, RecordLengthsAndActivityBar) {
    namespace L = ExchangeLayouts;
    EXPECT_EQ(L::documents().recordLength(), 499);
    EXPECT_EQ(L::entries().recordLength(), 70);
    EXPECT_EQ(L::settlements().recordLength(), 240);
    EXPECT_EQ(L::openingBalance().recordLength(), 258);
    EXPECT_EQ(L::accountPlan().recordLength(), 93);
    EXPECT_EQ(L::packages().recordLength(), 213);
    EXPECT_EQ(L::transfers().recordLength(), 529);
    EXPECT_EQ(ExchangeOps::nextActivity(0), 1);
    EXPECT_EQ(ExchangeOps::nextActivity(99), 100);
    EXPECT_EQ(ExchangeOps::nextActivity(100), 1);
    EXPECT_EQ(ExchangeOps::monthlyFiles("/d/", 3),
              QStringList({"/d/EX03D.TXT", "/d/EX03Z.TXT", "/d/ROZR.TXT", "/d/BO.TXT", "/d/ZPLK.TXT"}));
}

TEST(Formatters, TheExportsBytesMatchTheTextFormatting) {
    // The row loop formats from bytes and numbers; each must give what the text formatting gave.
    const double fixed[] = {0.0,        -0.0,
                            1.0,        -1.5,
                            0.1,        12.5,
                            1234567.89, -98765.43,
                            100001,     1e15,
                            1e16,       123456789012345.6,
                            1e-5,       0.00012,
                            2.675,      1e300,
                            -1e-300,    4503599627370496.5,
                            -0.01,      0.005,
                            0.1 + 0.2,  9999999999999.99,
                            1e13,       -1e13,
                            0.07,       1.1,
                            100000.5};
    char digits[32];
    for (double v : fixed)
        EXPECT_EQ(QByteArray(digits, FloatChars(v, digits)), SqlValue::formatFloat(v).toLatin1()) << v;
    EXPECT_EQ(QByteArray(digits, FloatChars(-0.0, digits)), QByteArray("0"));
    EXPECT_EQ(QByteArray(digits, FloatChars(1234567.89, digits)), QByteArray("1234567.89"));

    std::mt19937_64 random(20261208);
    std::uniform_real_distribution<double> amounts(-1e9, 1e9);
    std::uniform_int_distribution<int> cents(-100000000, 100000000);
    for (int i = 0; i < 200000; ++i) {
        const double v = i % 2 ? amounts(random) : cents(random) / 100.0;
        for (double w : {v, RoundCents(v), v + 100000}) {
            const int n = FloatChars(w, digits);
            ASSERT_EQ(QByteArray(digits, n), SqlValue::formatFloat(w).toLatin1()) << w;
        }
    }

    // Values lying exactly half-way at the fifteenth significant digit: n / 2^p with 16 - p whole digits
    // has exactly 16 significant digits, the last a 5. The text formatting rounds them away from zero.
    EXPECT_EQ(QByteArray(digits, FloatChars(99997.62744140625, digits)), QByteArray("99997.6274414063"));
    EXPECT_EQ(QByteArray(digits, FloatChars(-99997.62744140625, digits)), QByteArray("-99997.6274414063"));
    EXPECT_EQ(QByteArray(digits, FloatChars(1234567890123.125, digits)), QByteArray("1234567890123.13"));
    for (int p = 1; p <= 15; ++p) {
        const double scale = std::ldexp(1.0, p);
        const double low = std::pow(10.0, 15 - p) * scale, high = std::pow(10.0, 16 - p) * scale;
        std::uniform_real_distribution<double> numerators(low, high);
        for (int i = 0; i < 200; ++i) {
            const double n = std::floor(numerators(random) / 2) * 2 + 1; // odd: the last digit is a 5
            for (double w : {n / scale, -n / scale, (n + 2) / scale * 1e-20, n / scale * 1e20})
                ASSERT_EQ(QByteArray(digits, FloatChars(w, digits)), SqlValue::formatFloat(w).toLatin1())
                    << w;
        }
    }

    // Every byte value at the edges of a text, the no-break space 0xA0 and CR LF among them.
    for (int b = 0; b < 256; ++b) {
        const QByteArray text =
            QByteArray(1, char(b)) + "Łódź" + QByteArray(1, char(b)) + QByteArray(2, char(b));
        const QByteArray cp = AnsiCodec::encode(AnsiCodec::decode(text));
        EXPECT_EQ(TrimmedBytes(cp).toByteArray(), AnsiCodec::encode(AnsiCodec::decode(cp).trimmed())) << b;
        for (int width : {0, 1, 3, 6, 40}) {
            QByteArray fitted(width, '\0');
            EXPECT_EQ(PutFitted(fitted.data(), cp, width), fitted.data() + width);
            EXPECT_EQ(fitted, AnsiCodec::encode(FitField(AnsiCodec::decode(cp), width))) << b << " " << width;
        }
    }
}
