// The window during a year-end step the server holds up: a deletion waiting on a row another program of
// the office has locked keeps the window live, what the operator clicks meanwhile never runs, and Esc
// stops it.
#include "common/WindowHarness.h"
#include "db/Database.h"
#include "db/Query.h"
#include "db/Transaction.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>

TEST(YearEndWindow, ADeletionWaitingOnALockKeepsTheWindowLiveRefusesClicksAndStopsOnEsc) {
    const QString folder = TestDb::createDatabase();
    Window win(folder, QStringLiteral("T"), Window::Shown::Yes);
    const QString rows = "select (select count(*) from FJ_FLOP) || '/' || (select count(*) from KOMUN_R) "
                         "from RDB$DATABASE";
    const QString before = win.module.value(rows);
    ASSERT_NE(before, QStringLiteral("0/0"));
    ASSERT_NE(win.module.value("select count(*) from FJ_OBR"), QStringLiteral("0"));

    // Another connection changes a turnover row and keeps its transaction open for 3 s: the deletion of
    // the turnovers waits for it, inside the server's execute.
    Database other;
    TestDb::connect(other, folder);
    Transaction holding(&other);
    Query hold(QStringLiteral("Holder"), &other, &holding);
    auto holdFor3s = [&] {
        hold.setSql(QStringLiteral("update FJ_OBR set OBR_WN = OBR_WN rows 1"));
        hold.execute();
        return std::thread([&] {
            std::this_thread::sleep_for(std::chrono::seconds(3));
            holding.rollback();
        });
    };
    win.form.CheckBox11->setChecked(true); // the turnovers
    const QString turnovers = win.module.value("select count(*) from FJ_OBR");

    // Esc while it waits asks, and on yes the server stops the statement: nothing deleted.
    std::thread release = holdFor3s();
    QElapsedTimer clock;
    QTimer esc;
    esc.setSingleShot(true);
    esc.setInterval(1000);
    QObject::connect(&esc, &QTimer::timeout, [&] { QTest::keyClick(&win.form, Qt::Key_Escape); });
    clock.start();
    esc.start();
    win.form.Button2Click();
    const qint64 stoppedAfter = clock.elapsed();
    release.join();
    const QStringList texts = win.boxes.texts();
    ASSERT_EQ(texts.size(), 2) << texts.join('\n').toStdString();
    EXPECT_EQ(texts[0],
              QStringLiteral("Przerwać wykonywanie polecenia w bazie danych?\nPrzerwany krok nie zmieni "
                             "żadnego pliku na tym komputerze."));
    EXPECT_TRUE(texts[1].contains("cancelled")) << texts[1].toStdString();
    EXPECT_GE(stoppedAfter, 900);
    EXPECT_LT(stoppedAfter, 2500); // stopped by the operator, not by the other's end
    EXPECT_TRUE(win.form.BuMemo->toPlainText().contains(
        "Przerwano na polecenie operatora: wykonywanie polecenia w bazie danych."));
    EXPECT_EQ(win.module.value("select count(*) from FJ_OBR"), turnovers);

    // Left to wait, it ends when the other does; the window turns meanwhile and a click on "Zeruj
    // Połączenia" is refused, neither run during the deletion nor after it.
    win.boxes.boxes.clear();
    release = holdFor3s();
    QElapsedTimer sinceTurn;
    qint64 longestPause = 0;
    bool clicked = false;
    QTimer turns;
    turns.setInterval(10);
    QObject::connect(&turns, &QTimer::timeout, [&] {
        longestPause = std::max(longestPause, sinceTurn.elapsed());
        sinceTurn.start();
        if (!clicked && clock.elapsed() > 1000) {
            clicked = true;
            QTest::mouseClick(win.form.Button4, Qt::LeftButton); // "Zeruj Połączenia"
        }
    });
    clock.start();
    sinceTurn.start();
    turns.start();
    win.form.Button2Click();
    turns.stop();
    const qint64 took = clock.elapsed();
    longestPause = std::max(longestPause, sinceTurn.elapsed());
    release.join();
    QTest::qWait(200);
    other.close();

    EXPECT_GE(took, 2500); // it did wait for the lock
    EXPECT_TRUE(clicked);
    EXPECT_LE(longestPause, 250);
    EXPECT_TRUE(win.boxes.texts().isEmpty()) << win.boxes.texts().join('\n').toStdString();
    EXPECT_EQ(win.form.Label13->text(), QStringLiteral("OK ..."));
    // The deletion is done (committed here, as the window's next activation does); the click ran neither
    // during it nor after.
    if (win.module.dm->EmployeeTran.active())
        win.module.dm->EmployeeTran.commit();
    EXPECT_EQ(win.module.value("select count(*) from FJ_OBR"), QStringLiteral("0"));
    EXPECT_EQ(win.module.value(rows), before);
    EXPECT_TRUE(win.form.PageControl1->isEnabled());
}
