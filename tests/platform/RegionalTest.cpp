// The regional formats are Polish whatever the process locale is (the suite runs under C.UTF-8).
#include "platform/Regional.h"
#include "common/TestDb.h"
#include "common/TestFiles.h"
#include "platform/Errors.h"
#include "platform/Paths.h"

#include <QLocale>

#include <gtest/gtest.h>

TEST(Regional, ShortDateIsPolishWhateverTheMachinesLocale) {
    ASSERT_NE(QLocale::system().language(), QLocale::Polish); // otherwise this proves nothing
    EXPECT_EQ(Regional::shortDate(QDate(2026, 12, 8)), QStringLiteral("8.12.2026"));
    EXPECT_EQ(Regional::shortDate(QDate(2027, 1, 31)), QStringLiteral("31.01.2027"));
}

TEST(Regional, SizesInResticsMegabytesWithADecimalComma) {
    EXPECT_EQ(Regional::megabytes(12582912), QStringLiteral("12,6 MB")); // not 12.0 (2^20)
    EXPECT_EQ(Regional::megabytes(257536), QStringLiteral("0,3 MB"));
    EXPECT_EQ(Regional::hoursAgo(360), QStringLiteral("0,1 h temu"));
    EXPECT_EQ(Regional::engineDate("Thu Dec 10 05:54:00 2026"), QStringLiteral("2026-12-10 05:54"));
    EXPECT_EQ(Regional::engineDate(" nie data "), QStringLiteral("nie data"));
}

TEST(Regional, ADurableRenameThatFailsNamesBothFilesInPolish) {
    const QString folder = TestDb::newFolder(), from = folder + "nowa.abk", to = folder + "brak/bazaqk.abk";
    TestFiles::write(from, "kopia");
    try {
        Paths::replaceFile(from, to);
        ADD_FAILURE() << "renamed into a folder that does not exist";
    } catch (const FileError &e) {
        EXPECT_EQ(e.message(),
                  QStringLiteral("Nie można zmienić nazwy pliku %1 na %2: plik lub folder nie istnieje")
                      .arg(from, to));
    }
}
