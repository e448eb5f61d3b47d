// The one-at-a-time lock of a database folder, as operators of one group and an attacker meet it.
#include "platform/FolderLock.h"
#include "common/TestDb.h"
#include "platform/Errors.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>

TEST(FolderLock, TheGroupSharesTheFileAndAPlantedLinkIsNeverFollowed) {
    const QString folder = TestDb::newFolder();
    const QString file = folder + FolderLock::fileName();
    // Made with the mode the group can use, whatever the umask.
    const mode_t before = ::umask(022);
    {
        const auto lock = FolderLock::tryTake(folder);
        ASSERT_TRUE(lock);
        EXPECT_FALSE(FolderLock::tryTake(folder)); // held
        EXPECT_TRUE(FolderLock::isHeld(folder));
    }
    ::umask(before);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0660u);
    EXPECT_FALSE(FolderLock::isHeld(folder));

    // A link where the lock file goes: refused, nothing made where it points.
    const QString elsewhere = TestDb::newFolder() + "planted";
    QFile::remove(file);
    ASSERT_TRUE(QFile::link(elsewhere, file));
    try {
        FolderLock::tryTake(folder);
        ADD_FAILURE() << "a link was followed";
    } catch (const FileError &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("dowiązanie symboliczne")))
            << e.message().toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(elsewhere));
    EXPECT_FALSE(FolderLock::isHeld(folder));
}
