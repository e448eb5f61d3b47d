// The backup tab's handlers through the window, on the server and on the embedded engine.
#include "common/RecordedLaunches.h"
#include "common/WindowHarness.h"
#include "platform/Archiver.h"
#include "sampledb/SampleDb.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <gtest/gtest.h>

TEST(BackupWindow, BackupAndRestoreThroughTheHandlers)
{
    const QString folder = TestDb::createDatabase();
    RecordedBoxes boxes;
    RecordedLaunches arj;
    TestModule module(folder);
    TMainForm form(*module.dm);
    form.FormActivate();
    QStringList flagAfterFirstBox;
    boxes.onShow = [&](const RecordedBoxes::Box &) { flagAfterFirstBox << form.Label47->text(); };

    form.BackupBtnClick();
    EXPECT_EQ(boxes.texts(), QStringList({"Kopiowanie Bazy zakończono pomyślnie ..."}));
    EXPECT_EQ(form.Label47->text(), QStringLiteral("NIE"));
    const QStringList memo = form.BuMemo->toPlainText().split(QLatin1Char('\n'));
    EXPECT_EQ(memo.last(), QString()); // the memo ends with one empty line
    EXPECT_TRUE(QFileInfo::exists(folder + "bazaqk.abk"));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    form.RestoreBtnClick();
    ASSERT_EQ(boxes.boxes.size(), 3);
    EXPECT_EQ(boxes.boxes[1].text, QStringLiteral("Odtwarzanie Bazy zakończono pomyślnie ..."));
    EXPECT_TRUE(boxes.boxes[2].text.startsWith(QStringLiteral("Powstał dodatkowy plik kopii o nazwie ")));
    EXPECT_TRUE(boxes.boxes[2].text.endsWith(QStringLiteral(".arj\n\nUwaga .... nastąpi teraz automatyczne wyjście z programu ....")));
    ASSERT_EQ(arj.launches.size(), 1);
    EXPECT_EQ(form.Label47->text(), QStringLiteral("NIE"));
    // The restored database carries the flag the backup stored ('T'); the activation after the first
    // box shows it before the operation clears it.
    EXPECT_EQ(flagAfterFirstBox.value(1), QStringLiteral("TAK"));
    EXPECT_FALSE(form.isVisible()); // the program ends after a restore
}

TEST(BackupWindow, ChooseArchiveThenExtract)
{
    RecordedBoxes boxes;
    RecordedLaunches arj;
    TMainDm dm(TestDb::newFolder());
    dm.ReadSettings();
    dm.Settings.DatabasePath = QStringLiteral(" /dane/qk ");
    TMainForm form(dm);
    QStringList asked;
    QString answer;
    TMainForm::fileDialogDisplay = [&](QWidget *, const QString &filter, const QString &dir) {
        asked << filter << dir;
        return answer;
    };
    form.Button14Click(); // cancelled on first use
    EXPECT_EQ(asked, QStringList({"Archiwum (*.arj *.ARJ)", "/dane/qk"}));
    EXPECT_EQ(form.Edit9->text(), QString());
    form.Button13Click();
    // (No database here: each activation after a box reports the closed connection.)
    const auto warning = std::find_if(boxes.boxes.begin(), boxes.boxes.end(),
                                      [](const RecordedBoxes::Box &b) { return b.icon == QMessageBox::Warning; });
    ASSERT_NE(warning, boxes.boxes.end());
    EXPECT_EQ(warning->text, QStringLiteral("Brak wybranego pliku do rozpakowania ...skorzystaj z przycisku   [Wybór pliku]"));
    answer = QStringLiteral("/dane/qk/22040909.arj");
    form.Button14Click();
    EXPECT_EQ(form.Edit9->text(), answer);
    answer.clear();
    form.Button14Click(); // a cancel keeps the name chosen last time
    EXPECT_EQ(form.Edit9->text(), QStringLiteral("/dane/qk/22040909.arj"));
    form.Button13Click();
    ASSERT_EQ(arj.launches.size(), 1);
    EXPECT_EQ(arj.launches[0].arguments, QStringList({"e", "-y", "/dane/qk/22040909.arj"}));
    EXPECT_EQ(arj.launches[0].workingDirectory, QStringLiteral(" /dane/qk "));
    TMainForm::fileDialogDisplay = nullptr;
}

TEST(BackupWindow, EmbeddedDefaultBacksUpAndRestores)
{
    const QString folder = TestDb::createEmbeddedDatabase();
    RecordedBoxes boxes;
    RecordedLaunches arj;
    TestModule module(folder, QStringLiteral("L"));
    EXPECT_EQ(module.dm->EmployeeDb.params.last(), QStringLiteral("config=Providers=Engine12"));
    TMainForm form(*module.dm);
    form.FormActivate();
    form.BackupBtnClick();
    EXPECT_EQ(boxes.texts(), QStringList({"Kopiowanie Bazy zakończono pomyślnie ..."}));
    EXPECT_TRUE(QFileInfo(folder + "bazaqk.abk").size() > 0);
    form.RestoreBtnClick();
    EXPECT_EQ(boxes.boxes.size(), 3);
    EXPECT_EQ(boxes.boxes[1].text, QStringLiteral("Odtwarzanie Bazy zakończono pomyślnie ..."));
    EXPECT_EQ(arj.launches.size(), 1);
    form.ValidateBtnClick();
    EXPECT_EQ(boxes.boxes[3].text, QStringLiteral("Sprawdzenie Bazy nie wykazuje błędów"));
    module.dm->shutDown();
}
