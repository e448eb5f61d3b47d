// The server stops in the middle of a backup or a restore: nothing is lost, the operator is told, and the
// window goes on working once the server is back. Runs alone: it stops the server every other test uses.
#include "common/RecordedLaunches.h"
#include "common/WindowHarness.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>

#include <gtest/gtest.h>

namespace {

void server(const char *script, const QStringList &args = {}) {
    const QString path =
        QString::fromLocal8Bit(qgetenv("QK_SCRIPTS")) + QLatin1Char('/') + QLatin1String(script);
    ASSERT_EQ(QProcess::execute(QStringLiteral("bash"), QStringList{path} + args), 0) << script;
}

} // namespace

TEST(ServerStop, InTheMiddleOfABackup) {
    const QString folder = TestDb::createDatabase();
    RecordedBoxes boxes;
    TestModule module(folder);
    TMainForm w(*module.dm);
    w.FormActivate();

    // The first output line arrives: the server dies under the running backup. Killed, not stopped
    // in order: an orderly stop lets a small backup finish and serve its remaining lines.
    bool stopped = false;
    module.dm->IBBackup.verbose = true;
    QObject::connect(w.BuMemo, &QPlainTextEdit::textChanged, [&] {
        if (!stopped) {
            stopped = true;
            server("firebird-down.sh", {QStringLiteral("--kill")});
        }
    });
    w.BackupBtnClick();
    ASSERT_TRUE(stopped);
    server("firebird-up.sh");

    ASSERT_FALSE(boxes.boxes.isEmpty());
    EXPECT_EQ(boxes.boxes[0].icon, QMessageBox::Critical); // the error reached the error box
    EXPECT_FALSE(boxes.texts().contains(QStringLiteral("Kopiowanie Bazy zakończono pomyślnie ...")));
    EXPECT_EQ(w.Label47->text(), QStringLiteral("TAK"));
    EXPECT_EQ(TestDb::scalar(folder, "select Bila from FJ_BAZA where LP = 1").trimmed(), QStringLiteral("T"));
    EXPECT_FALSE(module.dm->IBBackup.active());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // Back: a new backup attaches anew and clears the flag.
    boxes.boxes.clear();
    w.BackupBtnClick();
    EXPECT_TRUE(boxes.texts().contains(QStringLiteral("Kopiowanie Bazy zakończono pomyślnie ...")));
    EXPECT_EQ(w.Label47->text(), QStringLiteral("NIE"));
    EXPECT_EQ(TestDb::scalar(folder, "select Bila from FJ_BAZA where LP = 1").trimmed(), QStringLiteral("N"));
    module.dm->shutDown();
}

TEST(ServerStop, InTheMiddleOfARestore) {
    const QString folder = TestDb::createDatabase();
    RecordedLaunches arj;
    Window win(folder);
    TMainForm &w = win.form;
    RecordedBoxes &boxes = win.boxes;
    w.BackupBtnClick();
    const QString documents = TestDb::scalar(folder, "select count(*) from FJ_DOK3");

    // The server dies under the restore: the live database stays whole and the program goes on.
    bool stopped = false;
    QObject::connect(w.BuMemo, &QPlainTextEdit::textChanged, [&] {
        if (!stopped && !w.BuMemo->toPlainText().isEmpty()) {
            stopped = true;
            server("firebird-down.sh", {QStringLiteral("--kill")});
        }
    });
    boxes.boxes.clear();
    w.RestoreBtnClick();
    ASSERT_TRUE(stopped);
    server("firebird-up.sh");

    ASSERT_GE(boxes.boxes.size(), 2);
    EXPECT_EQ(boxes.boxes[1].icon, QMessageBox::Critical);
    EXPECT_FALSE(boxes.texts().join('\n').contains(QStringLiteral("Odtwarzanie Bazy zakończono pomyślnie")));
    EXPECT_TRUE(arj.launches.isEmpty());
    EXPECT_EQ(TestDb::scalar(folder, "select count(*) from FJ_DOK3"), documents);
    EXPECT_FALSE(QFileInfo::exists(folder + "bazaqk-odtwarzana.adb"));
    EXPECT_FALSE(QFileInfo::exists(folder + "bazaqk-przed-odtworzeniem.adb"));
}
