// Which files a privileged run may take its orders from.
#include "platform/RootFiles.h"
#include "common/TestDb.h"
#include "common/TestFiles.h"

#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

TEST(RootFiles, OnlyRootOrTheGivenOwnerAndNoOneElseWriting) {
    EXPECT_EQ(RootFiles::othersMayChange(0, 0, S_IFREG | 0644), QString());
    EXPECT_EQ(RootFiles::othersMayChange(0, 0, S_IFREG | 0600), QString());
    EXPECT_EQ(RootFiles::othersMayChange(0, 0, S_IFREG | 0664),
              QStringLiteral("grupa root może go zmieniać"));
    EXPECT_EQ(RootFiles::othersMayChange(0, 0, S_IFREG | 0646), QStringLiteral("każdy może go zmieniać"));
    EXPECT_EQ(RootFiles::othersMayChange(0, 0, S_IFREG | 0666), QStringLiteral("każdy może go zmieniać"));
    EXPECT_TRUE(RootFiles::othersMayChange(54321, 0, S_IFREG | 0600)
                    .startsWith(QStringLiteral("jego właścicielem jest ")));
    // The unit's own copy of its credentials is its user's.
    EXPECT_EQ(RootFiles::othersMayChange(54321, 0, S_IFREG | 0400, 54321), QString());
    EXPECT_EQ(RootFiles::othersMayChange(54321, 0, S_IFREG | 0420, 54321),
              QStringLiteral("grupa root może go zmieniać"));
}

TEST(RootFiles, AFileIsReadFromTheDescriptorThatWasChecked) {
    const QString folder = TestDb::newFolder();
    const QString file = folder + "ustawienia.ini";
    TestFiles::write(file, "[Ogolne]\r\nsciezka=/srv/qk\r\n");
    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0644), 0);
    const uid_t me = ::geteuid();
    QString why;
    // Run by anyone: the file is then this user's, which is what alsoOwner allows.
    EXPECT_EQ(RootFiles::readRootsFile(file, why, me).value_or("refused"),
              QByteArray("[Ogolne]\r\nsciezka=/srv/qk\r\n"));
    EXPECT_EQ(why, QString());
    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0664), 0);
    EXPECT_FALSE(RootFiles::readRootsFile(file, why, me).has_value());
    EXPECT_TRUE(why.startsWith(QStringLiteral("grupa "))) << why.toStdString();
    // Missing: nothing to read, nothing refused.
    why.clear();
    EXPECT_EQ(RootFiles::readRootsFile(folder + "brak.ini", why, me).value_or("refused"), QByteArray());
    EXPECT_EQ(why, QString());
    // Written by a privileged run: never through a link, whoever placed it chose its target.
    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0644), 0);
    ASSERT_TRUE(QFile::link(file, folder + "link.ini"));
    EXPECT_EQ(RootFiles::refusedForWriting(folder + "link.ini"), QStringLiteral("to dowiązanie symboliczne"));
    EXPECT_EQ(RootFiles::refusedForWriting(folder + "brak.ini"), QString());
    if (me == 0) {
        EXPECT_EQ(RootFiles::refusedForWriting(file), QString());
    }
}
