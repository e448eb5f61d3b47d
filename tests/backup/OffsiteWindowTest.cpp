// The window with copies off-site (a repository in a local folder): the backup sends one, the health line
// says its age, the de-archiving group brings one back, and a failure off-site leaves the local backup.
#include "backup/OffsiteOps.h"
#include "common/RecordingOperator.h"
#include "common/TestFiles.h"
#include "common/WindowHarness.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <sys/stat.h>

TEST(OffsiteWindow, TheBackupGoesOffsiteAndTheDearchivingGroupBringsItBack) {
    const QString folder = TestDb::createDatabase();
    const QString repo = TestDb::newFolder() + "repozytorium";
    RecordedBoxes boxes;
    TestModule module(folder);
    const QString ini = module.dm->settingsFile();
    IniFile::writeString(ini, "Zewnetrzna", "repozytorium", repo);
    const QString keyFolder = TestDb::newFolder();
    ::chmod(QFile::encodeName(keyFolder).constData(), 0755); // root's alone, as a privileged run needs
    ::chmod(QFile::encodeName(module.settingsFolder).constData(), 0755);
    IniFile::writeString(ini, "Zewnetrzna", "klucz", keyFolder + "klucz");
    module.dm->ReadSettings(); // the section is read with the rest, once
    {
        RecordingOperator op;
        OffsiteOps::init(*module.dm, op);
    }
    TMainForm form(*module.dm);
    form.FormActivate();
    EXPECT_TRUE(form.HealthLine->toolTip().contains("CRITICAL poza: w repozytorium"))
        << form.HealthLine->toolTip().toStdString();

    form.BackupBtnClick();
    EXPECT_EQ(boxes.texts(), QStringList({"Kopiowanie Bazy zakończono pomyślnie ..."}));
    EXPECT_TRUE(form.BuMemo->toPlainText().contains("Kopia poza siedzibą zapisana: migawka "))
        << form.BuMemo->toPlainText().toStdString();
    EXPECT_TRUE(form.HealthLine->text().contains(QStringLiteral("kopia poza siedzibą: 0.0 h temu")))
        << form.HealthLine->text().toStdString();
    EXPECT_TRUE(form.HealthLine->toolTip().contains("OK poza: najnowsza kopia poza siedzibą"))
        << form.HealthLine->toolTip().toStdString();
    const QList<Restic::Snapshot> copies = OffsiteOps::copies(*module.dm);
    ASSERT_EQ(copies.size(), 1);

    // The de-archiving group: a short list of the off-site copies beside an archive file.
    QStringList offered;
    TMainForm::choiceDisplay = [&](QWidget *, const QString &, const QStringList &items) {
        offered = items;
        return items.value(1);
    };
    form.Button14Click();
    TMainForm::choiceDisplay = nullptr;
    ASSERT_EQ(offered.size(), 2);
    EXPECT_EQ(offered[0], QStringLiteral("Plik archiwum (*.arj) ..."));
    EXPECT_TRUE(offered[1].endsWith(copies[0].shortId));
    EXPECT_EQ(form.Edit9->text(), "poza:" + copies[0].shortId);
    const QByteArray sent = TestFiles::read(folder + "bazaqk.abk");
    TestFiles::write(folder + "bazaqk.abk", "zmieniona");
    boxes.boxes.clear();
    form.Button13Click(); // the question answered yes
    ASSERT_GE(boxes.boxes.size(), 2);
    EXPECT_EQ(boxes.boxes[0].icon, QMessageBox::Question);
    EXPECT_TRUE(boxes.boxes[0].text.contains("zostanie zastąpiony kopią z repozytorium"))
        << boxes.boxes[0].text.toStdString();
    EXPECT_EQ(boxes.boxes.last().text,
              QStringLiteral("Pobieranie kopii z repozytorium zakończono pomyślnie ..."));
    EXPECT_EQ(TestFiles::read(folder + "bazaqk.abk"), sent);

    // The repository gone: the local backup stands, the failure in a box of its own after the backup's.
    IniFile::writeString(ini, "Zewnetrzna", "repozytorium", TestDb::newFolder() + "brak");
    module.dm->ReadSettings();
    boxes.boxes.clear();
    form.BackupBtnClick();
    ASSERT_EQ(boxes.boxes.size(), 2);
    EXPECT_EQ(boxes.boxes[0].text, QStringLiteral("Kopiowanie Bazy zakończono pomyślnie ..."));
    EXPECT_EQ(boxes.boxes[1].icon, QMessageBox::Critical);
    EXPECT_TRUE(boxes.boxes[1].text.contains("nie ma repozytorium kopii"))
        << boxes.boxes[1].text.toStdString();
    EXPECT_NE(TestFiles::read(folder + "bazaqk.abk"), sent); // the new local backup
    EXPECT_EQ(form.Label47->text(), QStringLiteral("NIE"));
}
