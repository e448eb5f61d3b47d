// The regional formats are Polish whatever the process locale is (the suite runs under C.UTF-8).
#include "platform/Regional.h"

#include <QLocale>

#include <gtest/gtest.h>

TEST(Regional, ShortDateIsPolishWhateverTheMachinesLocale) {
    ASSERT_NE(QLocale::system().language(), QLocale::Polish); // otherwise this proves nothing
    EXPECT_EQ(Regional::shortDate(QDate(2026, 12, 8)), QStringLiteral("8.12.2026"));
    EXPECT_EQ(Regional::shortDate(QDate(2027, 1, 31)), QStringLiteral("31.01.2027"));
}
