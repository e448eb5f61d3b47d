// The shared formatters and the record layouts, against values written out by hand.
#include "exchange/ExchangeLayouts.h"
#include "exchange/ExchangeOps.h"
#include "exchange/Formatters.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(Formatters, MonthNamesAndDigits)
{
    const char16_t *names[] = {u"Bil.Otw. ", u"Styczeń ",   u"Luty ",       u"Marzec ",   u"Kwiecień ",
                               u"Maj ",      u"Czerwiec ",  u"Lipiec ",     u"Sierpień ", u"Wrzesień ",
                               u"Październik ", u"Listopad ", u"Grudzień "};
    for (int m = 0; m <= 12; ++m)
        EXPECT_EQ(MonthName(m), QString::fromUtf16(names[m])) << m;
    EXPECT_EQ(MonthName(13), QStringLiteral("---------------"));
    EXPECT_EQ(MonthName(-1), QStringLiteral("---------------"));
    EXPECT_EQ(MonthDigits(3), QStringLiteral("03"));
    EXPECT_EQ(MonthDigits(7), QStringLiteral("07"));
    EXPECT_EQ(MonthDigits(12), QStringLiteral("12"));
}

TEST(Formatters, RoundCentsAwayFromZeroWithItsHalf)
{
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

TEST(Formatters, DotDecimalSpacesAndFitting)
{
    EXPECT_EQ(DotDecimal(QStringLiteral(" 1 234,5 ")), QStringLiteral("1234.5"));
    EXPECT_EQ(DotDecimal(QStringLiteral("12.5")), QStringLiteral("12.5"));
    EXPECT_EQ(SpaceString(0), QString());
    EXPECT_EQ(SpaceString(3), QStringLiteral("   "));
    EXPECT_EQ(FitField(QStringLiteral("1234.5"), 13), QStringLiteral("1234.5       "));
    EXPECT_EQ(FitField(QStringLiteral("abcdef"), 4), QStringLiteral("abcd"));
    EXPECT_EQ(FitField(QString(), 2), QStringLiteral("  "));
}

TEST(Layouts, RecordLengthsAndActivityBar)
{
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
