#include "backup/RestoreWorker.h"
#include "common/TestDb.h"

#ifdef QK_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

int main(int argc, char **argv) {
    // The embedded engine's restore runs in this same program, started again as a worker.
    if (const int rc = RestoreWorker::runIfAsked(argc, argv); rc >= 0)
        return rc;
    // The suite runs as root: the settings files it writes must stay root's alone (a run as root refuses
    // one that the group or others may change), whatever umask the shell had.
    ::umask(022);
    // The window tests need no display.
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::testing::InitGoogleTest(&argc, argv);
    TestApplication app(argc, argv);
    TestApplication::setApplicationName(QStringLiteral("qkadmin"));
    const int rc = RUN_ALL_TESTS();
    TestDb::cleanUp();
    return rc;
}
