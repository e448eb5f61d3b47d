// A folder made for the server's output: the server's user alone may add to it, and what it adds the
// database folder's group may read and others may not change once it is put in place beside the database.
#include "platform/WorkFolder.h"
#include "common/TestDb.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A shell command run as another user: its exit status.
int runAs(const QString &user, const QString &group, const QString &command) {
    return QProcess::execute(QStringLiteral("setpriv"),
                             {QStringLiteral("--reuid=") + user, QStringLiteral("--regid=") + group,
                              QStringLiteral("--clear-groups"), QStringLiteral("sh"), QStringLiteral("-c"),
                              command});
}

} // namespace

TEST(WorkFolder, OnlyTheServerMayAddToAFolderMadeForIt) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "other users are played by setpriv, which needs root; the suite runs as root";
    const QString parent = TestDb::newFolder();
    const group *nogroup = ::getgrnam("nogroup");
    ASSERT_NE(nogroup, nullptr);
    ASSERT_EQ(::chown(QFile::encodeName(parent).constData(), 0, nogroup->gr_gid), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(parent).constData(), 0771), 0); // others may pass, not look
    const WorkFolder work(parent, WorkFolder::Access::ServerWrites);
    const QString file = work.file(QStringLiteral("bazaqk.abk.part"));

    EXPECT_NE(runAs("nobody", "nogroup", QStringLiteral("ln -s /etc/passwd '%1'").arg(file)), 0);
    EXPECT_NE(runAs("nobody", "nogroup", QStringLiteral("ls '%1'").arg(work.path())), 0);
    ASSERT_EQ(runAs(WorkFolder::kServerUser, WorkFolder::kServerUser,
                    QStringLiteral("umask 077 && echo kopia > '%1'").arg(file)),
              0);
    ASSERT_TRUE(QFile::rename(file, parent + QStringLiteral("bazaqk.abk")));
    EXPECT_EQ(runAs("nobody", "nogroup", QStringLiteral("grep -q kopia '%1bazaqk.abk'").arg(parent)), 0);
    EXPECT_NE(runAs("54321", "54321", QStringLiteral("echo zmiana >> '%1bazaqk.abk'").arg(parent)), 0);
}
