// The Export/Import and Przelewy tabs through the window's handlers.
#include "common/WindowHarness.h"
#include "platform/Clock.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>

#include <gtest/gtest.h>

TEST(ExchangeWindow, ExportImportAndTheInputCheckTakeTheirMonths) {
    Clock::setOverride(QDateTime(QDate(2026, 12, 8), QTime(10, 0)));
    const QString folder = TestDb::createDatabase();
    Window win(folder);
    TMainForm &w = win.form;
    TestModule &module = win.module;
    RecordedBoxes &boxes = win.boxes;

    w.Edit5->setText(QStringLiteral("3")); // the up-down's position follows the edit
    w.Button5Click();
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_TRUE(boxes.boxes[0].text.startsWith(
        QStringLiteral("Export Danych za  [Marzec 2026]  zakończony pomyślnie ....\n")));
    EXPECT_TRUE(QFileInfo::exists(folder + "EX03D.TXT"));
    EXPECT_EQ(w.Label43->text(), QString());
    EXPECT_EQ(w.Edit5->text(), QStringLiteral("12")); // the activation after the box

    // The check asks about the chosen month in both messages, though the first box resets the edit.
    w.Edit6->setText(QStringLiteral("3"));
    w.Button7Click();
    ASSERT_EQ(boxes.boxes.size(), 3);
    EXPECT_EQ(boxes.boxes[1].text, "Pliku z danymi o Dokumentach jest OK\n\n" + folder + "EX03D.TXT");
    EXPECT_EQ(boxes.boxes[2].text, "Pliku z danymi o Dekretach jest OK\n\n" + folder + "EX03Z.TXT");

    w.Edit6->setText(QStringLiteral("3"));
    w.CheckBox24->setChecked(true);
    const QString before = module.value("select count(*) from FJ_ZAP3");
    w.Button6Click();
    EXPECT_EQ(boxes.boxes.last().text, QStringLiteral("Import danych zakończony pomyślnie ..."));
    EXPECT_FALSE(module.dm->EmployeeTran.active()); // committed by the activation after the box
    EXPECT_EQ(module.value("select count(*) from FJ_ZAP3"), before);

    // No "paczki" beside the executable: the error, and no success message.
    const int shown = int(boxes.boxes.size());
    w.Button18Click();
    ASSERT_EQ(boxes.boxes.size(), shown + 1);
    EXPECT_EQ(boxes.boxes.last().icon, QMessageBox::Critical);
    EXPECT_TRUE(boxes.boxes.last().text.contains(QStringLiteral("paczki/PACZKA.TXT")));
    ASSERT_TRUE(QDir().mkpath(module.settingsFolder + "paczki"));
    w.Button18Click();
    EXPECT_TRUE(boxes.boxes.last().text.startsWith(
        QStringLiteral("Export Danych o Przelewach zakończony pomyślnie ....")));
    EXPECT_EQ(QFileInfo(module.settingsFolder + "paczki/PACZKA.TXT").size(), 2 * 213);
    EXPECT_EQ(QFileInfo(module.settingsFolder + "paczki/PACZKAP.TXT").size(), 6 * 529);
    Clock::setOverride(QDateTime());
    module.dm->shutDown();
}
