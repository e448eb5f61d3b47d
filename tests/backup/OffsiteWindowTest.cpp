// The window with copies off-site (a repository in a local folder): the backup sends one, the health line
// says its age, the de-archiving group brings one back, and a failure off-site leaves the local backup.
#include "backup/BackupOps.h"
#include "backup/OffsiteOps.h"
#include "common/RecordedLaunches.h"
#include "common/RecordingOperator.h"
#include "common/TestFiles.h"
#include "common/WindowHarness.h"
#include "platform/Errors.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {
// A privileged run takes off-site settings and keys only from folders others cannot change.
void ownedByRoot(const QString &folder) {
    ::chmod(QFile::encodeName(folder).constData(), 0755);
}
} // namespace

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
    // The first activation reads the off-site state in the background: the line shows it when it arrives.
    QElapsedTimer waited;
    waited.start();
    while (!form.HealthLine->toolTip().contains("poza:") && waited.elapsed() < 5000)
        QTest::qWait(20);
    EXPECT_TRUE(form.HealthLine->toolTip().contains("CRITICAL poza: w repozytorium"))
        << form.HealthLine->toolTip().toStdString();

    form.BackupBtnClick();
    EXPECT_EQ(boxes.texts(), QStringList({"Kopiowanie Bazy zakończono pomyślnie ..."}));
    EXPECT_TRUE(form.BuMemo->toPlainText().contains("Kopia poza siedzibą zapisana: migawka "))
        << form.BuMemo->toPlainText().toStdString();
    EXPECT_TRUE(form.HealthLine->text().contains(QStringLiteral("kopia poza siedzibą: 0,0 h temu")))
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

    // The repository unreadable: its problem is one line of the list, the archive file still a choice.
    boxes.boxes.clear();
    TMainForm::choiceDisplay = [&](QWidget *, const QString &, const QStringList &items) {
        offered = items;
        return items.value(0);
    };
    QString dialogFolder;
    TMainForm::fileDialogDisplay = [&](QWidget *, const QString &, const QString &from) {
        dialogFolder = from;
        return QString(folder + "22040909.arj");
    };
    form.Button14Click();
    TMainForm::choiceDisplay = nullptr;
    TMainForm::fileDialogDisplay = nullptr;
    EXPECT_EQ(boxes.boxes.size(), 0) << boxes.texts().join('|').toStdString();
    ASSERT_EQ(offered.size(), 2);
    EXPECT_TRUE(offered[1].startsWith(QStringLiteral("Kopie poza siedzibą niedostępne: ")))
        << offered[1].toStdString();
    EXPECT_FALSE(dialogFolder.isEmpty());
    EXPECT_EQ(form.Edit9->text(), folder + "22040909.arj");
}

// The disaster drill in the window: a new machine, an empty company folder with the same repository and
// key; the copy fetched through the de-archiving group, then restored, and the window on the new books.
TEST(OffsiteWindow, TheDrillFetchesAndRestoresIntoAnEmptyFolderAndAttachesToTheNewBooks) {
    const QString source = TestDb::createDatabase();
    const QString repo = TestDb::newFolder() + "repozytorium", key = TestDb::newFolder() + "klucz";
    {
        TestModule module(source);
        const QString ini = module.dm->settingsFile();
        IniFile::writeString(ini, "Zewnetrzna", "repozytorium", repo);
        IniFile::writeString(ini, "Zewnetrzna", "klucz", key);
        ownedByRoot(module.settingsFolder);
        ownedByRoot(QFileInfo(key).path());
        module.dm->ReadSettings();
        RecordingOperator op;
        OffsiteOps::init(*module.dm, op);
        BackupOps::backupDatabase(*module.dm, op);
        OffsiteOps::copy(*module.dm, op);
    }
    const QString entries = TestDb::scalar(source, "select count(*) from FJ_ZAP12").trimmed();
    const QString count = TestDb::scalar(source, "select ile from FJ_BAZA where LP = 1").trimmed();

    const QString empty = TestDb::newFolder(), settings = TestDb::newFolder();
    const QString ini = settings + "setup.ini";
    IniFile::writeString(ini, "Ogolne", "sciezka", empty.chopped(1));
    IniFile::writeString(ini, "Ogolne", "protokol", "T");
    IniFile::writeString(ini, "Zewnetrzna", "repozytorium", repo);
    IniFile::writeString(ini, "Zewnetrzna", "klucz", key);
    ownedByRoot(settings);
    TMainDm dm(settings);
    EXPECT_THROW(dm.DataModuleCreate(), QkError); // as at start-up: the window comes up all the same
    RecordedBoxes boxes;
    TMainForm form(dm);
    form.FormActivate();
    form.FormActivate();
    const auto missingSaid = [&] {
        return boxes.texts().filter(QStringLiteral("nie ma bazy danych bazaqk.adb")).size();
    };
    EXPECT_EQ(missingSaid(), 1) << boxes.texts().join('|').toStdString();
    EXPECT_TRUE(form.HealthLine->text().contains(QStringLiteral("Stan bazy: NIEZNANY \u2014 W folderze")))
        << form.HealthLine->text().toStdString();

    TMainForm::choiceDisplay = [](QWidget *, const QString &, const QStringList &items) {
        return items.value(1);
    };
    form.Button14Click();
    TMainForm::choiceDisplay = nullptr;
    boxes.boxes.clear();
    form.Button13Click();
    EXPECT_EQ(boxes.texts(), QStringList({"Pobieranie kopii z repozytorium zakończono pomyślnie ..."}));
    EXPECT_FALSE(form.BuMemo->toPlainText().contains("zachowany jako"))
        << form.BuMemo->toPlainText().toStdString();
    EXPECT_EQ(QDir(empty).entryList({"bazaqk-przed-pobraniem-*"}, QDir::Files), QStringList());

    boxes.boxes.clear();
    form.RestoreBtnClick();
    ASSERT_EQ(boxes.boxes.size(), 2) << boxes.texts().join('|').toStdString();
    EXPECT_EQ(boxes.boxes[0].icon, QMessageBox::Question);
    EXPECT_TRUE(boxes.boxes[0].text.contains("nie ma bazy danych. Odtworzyć ją z kopii bazaqk.abk"))
        << boxes.boxes[0].text.toStdString();
    EXPECT_EQ(boxes.boxes[1].text, QStringLiteral("Odtwarzanie Bazy zakończono pomyślnie ..."));
    EXPECT_EQ(TestDb::scalar(empty, "select count(*) from FJ_ZAP12").trimmed(), entries);
    // The window on the restored books, as after any restore.
    EXPECT_TRUE(dm.EmployeeDb.connected());
    EXPECT_EQ(form.Label47->text(), QStringLiteral("NIE"));
    EXPECT_EQ(form.Label10->text().trimmed(), count);
    EXPECT_FALSE(form.HealthLine->text().contains("NIEZNANY")) << form.HealthLine->text().toStdString();
    boxes.boxes.clear();
    form.StatsBtnClick();
    EXPECT_EQ(boxes.boxes.size(), 0) << boxes.texts().join('|').toStdString();
}

// restic's stand-in, found first in PATH: silent for half a minute on a copy, no stale locks to remove, a
// quick failure otherwise.
struct SilentRestic {
    QByteArray path = qgetenv("PATH");
    explicit SilentRestic(const QString &folder) {
        TestFiles::write(folder + "restic", "#!/bin/sh\n"
                                            "for a in \"$@\"; do [ \"$a\" = backup ] && exec sleep 30; done\n"
                                            "for a in \"$@\"; do [ \"$a\" = unlock ] && exit 0; done\n"
                                            "echo 'Fatal: stand-in' >&2; exit 1\n");
        QFile::setPermissions(folder + "restic", QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        qputenv("PATH", QFile::encodeName(folder) + ":" + path);
    }
    ~SilentRestic() { qputenv("PATH", path); }
};

TEST(OffsiteWindow, ASilentCopyKeepsTheWindowLiveRefusesClicksAndStopsOnEsc) {
    RecordedLaunches arj;
    Window win(TestDb::createDatabase(), QStringLiteral("T"), Window::Shown::Yes);
    const QString ini = win.module.dm->settingsFile();
    const QString tools = TestDb::newFolder();
    IniFile::writeString(ini, "Zewnetrzna", "repozytorium", tools + "repozytorium");
    IniFile::writeString(ini, "Zewnetrzna", "klucz", tools + "klucz");
    IniFile::writeString(ini, "Zewnetrzna", "limit", "5");
    ownedByRoot(win.module.settingsFolder);
    ownedByRoot(tools);
    win.module.dm->ReadSettings();
    // A repository that is there (its config), so the copy gets as far as restic.
    QDir().mkpath(tools + "repozytorium");
    TestFiles::write(tools + "repozytorium/config", "stand-in");
    TestFiles::write(tools + "klucz", "tajne");
    QFile::setPermissions(tools + "klucz", QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const SilentRestic restic(tools);
    const QString rows = "select (select count(*) from FJ_FLOP) || '/' || (select count(*) from KOMUN_R) "
                         "from RDB$DATABASE";
    const QString before = win.module.value(rows);
    ASSERT_NE(before, QStringLiteral("0/0"));

    // The copy says nothing until its limit: the event loop turns meanwhile, and a click on "Zeruj
    // Połączenia" then is refused, neither run inside the copy nor after it.
    QElapsedTimer clock, sinceTurn;
    qint64 longestPause = 0;
    bool clicked = false;
    QTimer turns;
    turns.setInterval(10);
    QObject::connect(&turns, &QTimer::timeout, [&] {
        if (sinceTurn.isValid() && clock.elapsed() > 500)
            longestPause = std::max(longestPause, sinceTurn.elapsed());
        sinceTurn.start();
        if (!clicked && clock.elapsed() > 1500) {
            clicked = true;
            QTest::mouseClick(win.form.Button4, Qt::LeftButton);
        }
    });
    clock.start();
    turns.start();
    win.form.BackupBtnClick();
    turns.stop();
    const qint64 took = clock.elapsed();
    longestPause = std::max(longestPause, sinceTurn.elapsed()); // up to the operation's end
    QTest::qWait(200);
    EXPECT_TRUE(clicked);
    EXPECT_GE(took, 5000);
    EXPECT_LE(longestPause, 250);
    EXPECT_EQ(win.module.value(rows), before);
    EXPECT_TRUE(win.boxes.texts().join('\n').contains("nie odpowiada"))
        << win.boxes.texts().join('\n').toStdString();
    EXPECT_TRUE(win.form.PageControl1->isEnabled());

    // Esc during the silent copy asks, and on yes stops restic: the local backup as it was.
    win.boxes.boxes.clear();
    win.boxes.answers = {QMessageBox::Yes};
    const QString backup = win.module.dm->Settings.backupFileName();
    QByteArray atQuestion;
    win.boxes.onShow = [&](const RecordedBoxes::Box &b) {
        if (b.icon == QMessageBox::Question)
            atQuestion = TestFiles::read(backup);
    };
    QElapsedTimer copying, sinceEsc;
    QTimer esc;
    esc.setInterval(20);
    QObject::connect(&esc, &QTimer::timeout, [&] {
        if (!copying.isValid() && win.form.BuMemo->toPlainText().contains("Wysyłanie kopii"))
            copying.start();
        if (copying.isValid() && copying.elapsed() > 1000 && !sinceEsc.isValid()) {
            sinceEsc.start();
            QTest::keyClick(&win.form, Qt::Key_Escape);
        }
    });
    win.form.BuMemo->clear();
    esc.start();
    win.form.BackupBtnClick();
    esc.stop();
    ASSERT_TRUE(sinceEsc.isValid());
    EXPECT_LT(sinceEsc.elapsed(), 2500); // stopped by the operator, not by the limit
    const QStringList texts = win.boxes.texts();
    ASSERT_GE(texts.size(), 2) << texts.join('\n').toStdString();
    EXPECT_EQ(texts[1], QStringLiteral("Przerwać wysyłanie kopii do repozytorium?\nPrzerwany krok nie zmieni "
                                       "żadnego pliku na tym komputerze."));
    EXPECT_TRUE(texts.join('\n').contains("Przerwano na polecenie operatora: restic zatrzymany"))
        << texts.join('\n').toStdString();
    EXPECT_TRUE(win.form.BuMemo->toPlainText().contains(
        "Przerwano na polecenie operatora: wysyłanie kopii do repozytorium."));
    EXPECT_FALSE(atQuestion.isEmpty());
    EXPECT_EQ(TestFiles::read(backup), atQuestion);
}
