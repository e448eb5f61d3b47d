// How the archiver is started: its own arguments, its folder, and nothing of ours left open in it.
#include "platform/Archiver.h"
#include "common/TestDb.h"
#include "common/TestFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

TEST(ArchiverStart, TheChildHoldsNoneOfTheProgramsFiles) {
    const QString folder = TestDb::newFolder();
    TestFiles::write(folder + "trzymany.adb", "baza");
    // As the embedded engine opens its database and lock files: without close-on-exec.
    const int held = ::open(QFile::encodeName(folder + "trzymany.adb").constData(), O_RDWR);
    ASSERT_GE(held, 3);
    EXPECT_EQ(Archiver::runLaunch({"sh", {"-c", "ls -l /proc/$$/fd > fds.txt; pwd > pwd.txt"}, folder}), 0);
    ::close(held);
    const QByteArray fds = TestFiles::read(folder + "fds.txt");
    EXPECT_FALSE(fds.contains("trzymany")) << fds.constData();
    EXPECT_TRUE(fds.contains("0 -> /dev/null")) << fds.constData(); // nobody answers its questions
    EXPECT_EQ(TestFiles::read(folder + "pwd.txt"), QFile::encodeName(folder.chopped(1)) + "\n");
}

TEST(ArchiverStart, EachArgumentStaysWholeAndAFailedStartIsSaid) {
    const QString folder = TestDb::newFolder() + "z odstępem/";
    ASSERT_TRUE(QDir().mkpath(folder));
    EXPECT_EQ(Archiver::runLaunch(
                  {"sh", {"-c", "printf '%s|' \"$@\" > args.txt", "sh", "a b", " c ", "d"}, folder}),
              0);
    EXPECT_EQ(TestFiles::read(folder + "args.txt"), QByteArray("a b| c |d|"));

    EXPECT_FALSE(Archiver::start({"qk-no-such-program", {}, folder}, {}));
    EXPECT_FALSE(Archiver::start({"sh", {"-c", "true"}, folder + "brak"}, {})); // no such folder
}

TEST(ArchiverStart, TheEndAndItsExitCodeArriveThroughTheEventLoop) {
    const QString folder = TestDb::newFolder();
    QList<int> codes;
    for (const char *script : {"sleep 0.2; exit 0", "exit 6"}) {
        ASSERT_TRUE(Archiver::start({"sh", {"-c", script}, folder}, [&codes](int code) { codes << code; }));
    }
    EXPECT_TRUE(codes.isEmpty()); // never from inside the start
    QElapsedTimer t;
    t.start();
    while (codes.size() < 2 && t.elapsed() < 10000) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    EXPECT_EQ(codes, QList<int>({6, 0}));
}

TEST(ArchiverMembers, TheNamesAnArchiveHoldsReadFromItsHeaders) {
    const QString dir = TestDb::newFolder();
    QDir().mkpath(dir + "sub");
    TestFiles::write(dir + "BAZAQK.ABK", QByteArray(70000, 'x')); // compressed bytes to step over
    TestFiles::write(dir + "sub/bazaqk.abk", "y");
    TestFiles::write(dir + "bazaqk.abk.sha256", "z");
    QProcess arj;
    arj.setWorkingDirectory(dir);
    arj.start("arj", {"a", "proba", "BAZAQK.ABK", "sub/bazaqk.abk", "bazaqk.abk.sha256"});
    ASSERT_TRUE(arj.waitForFinished(60000));
    ASSERT_EQ(arj.exitCode(), 0);
    EXPECT_EQ(Archiver::memberNames(dir + "proba.arj"),
              QStringList({"BAZAQK.ABK", "sub/bazaqk.abk", "bazaqk.abk.sha256"}));
    // Cut inside the data of its first file, or not an archive at all: nothing.
    const QByteArray whole = TestFiles::read(dir + "proba.arj");
    TestFiles::write(dir + "cut.arj", whole.left(whole.size() / 2));
    EXPECT_EQ(Archiver::memberNames(dir + "cut.arj"), QStringList());
    EXPECT_EQ(Archiver::memberNames(dir + "BAZAQK.ABK"), QStringList());
    EXPECT_EQ(Archiver::memberNames(dir + "brak.arj"), QStringList());
}
