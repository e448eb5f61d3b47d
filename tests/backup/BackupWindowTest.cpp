// The backup tab's handlers through the window, on the server and on the embedded engine.
#include "backup/BackupOps.h"
#include "common/RecordedLaunches.h"
#include "common/TestFiles.h"
#include "common/WindowHarness.h"
#include "platform/Archiver.h"
#include "sampledb/SampleDb.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

TEST(BackupWindow, BackupAndRestoreThroughTheHandlers) {
    const QString folder = TestDb::createDatabase();
    RecordedLaunches arj;
    Window win(folder, QStringLiteral("T"), Window::Shown::Yes);
    TMainForm &form = win.form;
    TestModule &module = win.module;
    RecordedBoxes &boxes = win.boxes;
    QStringList flagAfterFirstBox;
    boxes.onShow = [&](const RecordedBoxes::Box &) { flagAfterFirstBox << form.Label47->text(); };

    form.BackupBtnClick();
    EXPECT_EQ(boxes.texts(), QStringList({"Kopiowanie Bazy zakończono pomyślnie ..."}));
    EXPECT_EQ(form.Label47->text(), QStringLiteral("NIE"));
    const QStringList memo = form.BuMemo->toPlainText().split(QLatin1Char('\n'));
    EXPECT_EQ(memo.last(), QString()); // the memo ends with one empty line
    EXPECT_TRUE(QFileInfo::exists(folder + "bazaqk.abk"));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // A click asks first, naming the backup and when it was written; no changes nothing.
    module.exec("update FJ_BAZA set FIRMA = 'po kopii' where LP = 1");
    const QString written = QFileInfo(folder + "bazaqk.abk").lastModified().toString("yyyy-MM-dd HH:mm");
    // ... and the database the backup was made of, and when.
    const QString question = "Odtworzyć bazę z kopii bazaqk.abk z dnia " + written +
                             "? Zmiany wprowadzone po tej chwili zostaną utracone.\nKopia bazy " + folder +
                             "bazaqk.adb, wykonana ";
    boxes.answers = {QMessageBox::No};
    form.RestoreBtnClick();
    ASSERT_EQ(boxes.boxes.size(), 2);
    EXPECT_EQ(boxes.boxes[1].icon, QMessageBox::Question);
    EXPECT_TRUE(boxes.boxes[1].text.startsWith(question)) << boxes.boxes[1].text.toStdString();
    // The engine's English date of the backup's header in the program's form.
    EXPECT_TRUE(QRegularExpression("wykonana \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d\\.")
                    .match(boxes.boxes[1].text)
                    .hasMatch())
        << boxes.boxes[1].text.toStdString();
    EXPECT_TRUE(arj.launches.isEmpty());
    EXPECT_EQ(module.value("select Bila from FJ_BAZA where LP = 1"), QStringLiteral("N"));
    EXPECT_EQ(module.value("select FIRMA from FJ_BAZA where LP = 1"), QStringLiteral("po kopii"));
    EXPECT_TRUE(form.isVisible());

    form.RestoreBtnClick(); // yes
    ASSERT_EQ(boxes.boxes.size(), 5);
    EXPECT_TRUE(boxes.boxes[2].text.startsWith(question));
    ASSERT_EQ(BackupOps::keptCopies(folder).size(), 1);
    EXPECT_EQ(boxes.boxes[3].text,
              "Odtwarzanie Bazy zakończono pomyślnie ...\n\nPoprzednia baza zachowana w pliku " +
                  BackupOps::keptCopies(folder)[0]);
    EXPECT_TRUE(boxes.boxes[4].text.startsWith(QStringLiteral("Powstał dodatkowy plik kopii o nazwie ")));
    EXPECT_TRUE(boxes.boxes[4].text.endsWith(
        QStringLiteral(".arj\n\nUwaga .... nastąpi teraz automatyczne wyjście z programu ....")));
    ASSERT_EQ(arj.launches.size(), 1);
    EXPECT_EQ(form.Label47->text(), QStringLiteral("NIE"));
    EXPECT_NE(module.value("select FIRMA from FJ_BAZA where LP = 1"), QStringLiteral("po kopii"));
    // The restored database carries the flag the backup stored ('T'); the activation after the
    // success box shows it before the operation clears it.
    EXPECT_EQ(flagAfterFirstBox.value(3), QStringLiteral("TAK"));
    EXPECT_FALSE(form.isVisible()); // the program ends after a restore
}

TEST(BackupWindow, ChooseArchiveThenExtract) {
    RecordedBoxes boxes;
    RecordedLaunches arj;
    TMainDm dm(TestDb::newFolder());
    dm.ReadSettings();
    dm.Settings.DatabasePath = QStringLiteral(" /dane/qk ");
    dm.Settings.DatabaseFolder = TestDb::newFolder(); // where arj extracts, in a folder of its own
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
    const auto warning =
        std::find_if(boxes.boxes.begin(), boxes.boxes.end(),
                     [](const RecordedBoxes::Box &b) { return b.icon == QMessageBox::Warning; });
    ASSERT_NE(warning, boxes.boxes.end());
    EXPECT_EQ(
        warning->text,
        QStringLiteral("Brak wybranego pliku do rozpakowania ...skorzystaj z przycisku   [Wybór pliku]"));
    answer = QStringLiteral("/dane/qk/22040909.arj");
    form.Button14Click();
    EXPECT_EQ(form.Edit9->text(), answer);
    answer.clear();
    form.Button14Click(); // a cancel keeps the name chosen last time
    EXPECT_EQ(form.Edit9->text(), QStringLiteral("/dane/qk/22040909.arj"));
    form.Button13Click();
    ASSERT_EQ(arj.launches.size(), 1);
    // Only the backup and its digest, into a folder of their own beside the database.
    EXPECT_EQ(arj.launches[0].arguments,
              QStringList({"e", "-p", "-y", "/dane/qk/22040909.arj", "bazaqk.abk", "bazaqk.abk.sha256"}));
    EXPECT_TRUE(
        arj.launches[0].workingDirectory.startsWith(dm.Settings.DatabaseFolder + ".qk-dearchiwizacja-"));
    TMainForm::fileDialogDisplay = nullptr;
}

TEST(BackupWindow, EmbeddedDefaultBacksUpAndRestores) {
    const QString folder = TestDb::createEmbeddedDatabase();
    RecordedLaunches arj;
    Window win(folder, QStringLiteral("L"));
    TMainForm &form = win.form;
    TestModule &module = win.module;
    RecordedBoxes &boxes = win.boxes;
    EXPECT_EQ(module.dm->EmployeeDb.params.last(), QStringLiteral("config=Providers=Engine12"));
    form.BackupBtnClick();
    EXPECT_EQ(boxes.texts(), QStringList({"Kopiowanie Bazy zakończono pomyślnie ..."}));
    EXPECT_TRUE(QFileInfo(folder + "bazaqk.abk").size() > 0);
    form.RestoreBtnClick();
    EXPECT_EQ(boxes.boxes.size(), 4); // the question, success, the archive copy
    EXPECT_TRUE(boxes.boxes[2].text.startsWith(
        QStringLiteral("Odtwarzanie Bazy zakończono pomyślnie ...\n\nPoprzednia baza ")));
    EXPECT_EQ(arj.launches.size(), 1);
    // After validation and the properties report the activation finds the connection open: no error
    // box after a success, and the control row's labels are read afresh.
    form.Label26->setText(QStringLiteral("stale"));
    form.ValidateBtnClick();
    ASSERT_EQ(boxes.boxes.size(), 5);
    EXPECT_EQ(boxes.boxes[4].text, QStringLiteral("Sprawdzenie Bazy nie wykazuje błędów"));
    EXPECT_NE(form.Label26->text(), QStringLiteral("stale"));
    EXPECT_TRUE(module.dm->EmployeeDb.connected());
    form.PropertiesBtnClick();
    form.FormActivate();
    EXPECT_EQ(boxes.boxes.size(), 5);
    EXPECT_TRUE(module.dm->EmployeeDb.connected());
    module.dm->shutDown();
}

TEST(BackupWindow, DearchivingOverABackupAsksAndEnterMeansNo) {
    const QString folder = TestDb::createDatabase();
    RecordedLaunches arj;
    TestModule module(folder);
    TMainForm form(*module.dm);
    form.show();
    {
        RecordedBoxes boxes;
        form.FormActivate();
        form.BackupBtnClick();
        TestFiles::write(folder + "22040909.arj", "archiwum");
        QFile archive(folder + "22040909.arj");
        ASSERT_TRUE(archive.open(QIODevice::ReadWrite));
        archive.setFileTime(QDateTime(QDate(2022, 4, 9), QTime(9, 5)), QFileDevice::FileModificationTime);
        archive.close();
        form.Edit9->setText(folder + "22040909.arj");
        boxes.boxes.clear();
        boxes.answers = {QMessageBox::No};
        form.Button13Click();
        ASSERT_FALSE(boxes.boxes.isEmpty());
        EXPECT_EQ(boxes.boxes[0].icon, QMessageBox::Question);
        const QString written = QFileInfo(folder + "bazaqk.abk").lastModified().toString("yyyy-MM-dd HH:mm");
        EXPECT_TRUE(boxes.boxes[0].text.startsWith(
            "Plik kopii bazaqk.abk z dnia " + written + " zostanie zastąpiony kopią z archiwum " + folder +
            "22040909.arj z dnia 2022-04-09 09:05 (jeśli ta przejdzie sprawdzenie).\n"
            "Obecny plik kopii zostanie zachowany jako " +
            folder + "bazaqk-przed-dearchiwizacja-"))
            << boxes.boxes[0].text.toStdString();
        EXPECT_TRUE(arj.launches.isEmpty()); // no: nothing runs
    }

    // The real box: Enter and Escape answer no, to this question and to the restore's.
    // A restore earlier in this process ended the program, after which every modal loop returns at
    // once: the application's own loop, run once, clears that.
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    const TMainForm::BoxDisplay stub = TMainForm::boxDisplay;
    TMainForm::boxDisplay = TMainForm::standardBoxDisplay;
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        QTimer press;
        QObject::connect(&press, &QTimer::timeout, [&press, key] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (box && box->isVisible() && box->defaultButton()) {
                press.stop();
                QTest::keyClick(box->focusWidget() ? box->focusWidget() : box, key);
            }
        });
        press.start(50);
        EXPECT_EQ(TMainForm::showModal(&form, QMessageBox::Question, "?", QMessageBox::Yes | QMessageBox::No),
                  QMessageBox::No);
    }
    TMainForm::boxDisplay = stub;
    EXPECT_TRUE(arj.launches.isEmpty());
    module.dm->shutDown();
}

TEST(BackupWindow, TheEndOfDearchivingWaitsForTheImportItInterrupts) {
    // The import fails at its last stage, long after it emptied the month: one entry of the month
    // breaks a rule the server checks only on insert.
    const QString folder = TestDb::createDatabase();
    const QString amount =
        TestDb::scalar(folder, "select first 1 KWOTA from FJ_ZAP3 order by NUMEWI").trimmed();
    TestDb::exec(folder, "alter table FJ_ZAP3 add constraint QK_TEST_KWOTA check (KWOTA <> " + amount + ")");
    RecordedLaunches arj;
    Window win(folder);
    TMainForm &w = win.form;
    RecordedBoxes &boxes = win.boxes;
    w.Edit5->setText(QStringLiteral("3"));
    w.Button5Click(); // the month's files
    const QString month = win.module.value("select count(*) || '/' || sum(NUMEWI) from FJ_DOK3");

    // Nothing to overwrite (no question); arj brings the backup back.
    w.BackupBtnClick();
    ASSERT_TRUE(QFile::rename(folder + "bazaqk.abk", folder + "brought.abk"));
    w.Edit9->setText(folder + "22040909.arj");
    w.Button13Click();
    ASSERT_EQ(arj.finished.size(), 1);
    const QString extracted = arj.launches[0].workingDirectory;
    // arj ends while the import runs, once it has emptied the month: its notice comes in the import's
    // fourth repaint (its stages repaint as they begin).
    std::function<void(int)> atRepaint = [&](int n) {
        if (n == 4) {
            QFile::rename(folder + "brought.abk", extracted + "bazaqk.abk");
            arj.finished[0](0);
        } else
            QTimer::singleShot(0, [&, n] { atRepaint(n + 1); });
    };
    QTimer::singleShot(0, [&] { atRepaint(1); });
    boxes.boxes.clear();
    w.Edit6->setText(QStringLiteral("3"));
    w.CheckBox24->setChecked(true);
    w.Button6Click();

    // The import's error first, then the notice; the import's work undone whole.
    ASSERT_EQ(boxes.boxes.size(), 2);
    EXPECT_EQ(boxes.boxes[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(boxes.boxes[1].text.startsWith("Dearchiwizacja pliku " + folder +
                                               "22040909.arj zakończona pomyślnie ...\n"
                                               "Rozpakowano bazaqk.abk: "));
    EXPECT_EQ(win.module.value("select count(*) || '/' || sum(NUMEWI) from FJ_DOK3"), month);
}

TEST(BackupWindow, TheHealthLineShowsTheWorstFinding) {
    Window win(TestDb::createDatabase());
    TMainForm &form = win.form;
    RecordedBoxes &boxes = win.boxes;
    // A fresh database has no backup: critical, said first, in red.
    EXPECT_TRUE(form.HealthLine->text().startsWith(
        QStringLiteral("Stan bazy: KRYTYCZNY \u2014 kopia: brak pliku kopii")))
        << form.HealthLine->text().toStdString();
    EXPECT_EQ(form.HealthLine->palette().color(QPalette::ButtonText), QColor(Qt::red));
    form.HealthLine->click(); // the whole list
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.boxes[0].text.count('\n'), 5);
    EXPECT_TRUE(boxes.boxes[0].text.contains(QStringLiteral("OK blokada: ")));

    form.BackupBtnClick(); // the activation after its box reads the health again
    EXPECT_EQ(form.HealthLine->text(), QStringLiteral("Stan bazy: OK"));
    win.module.exec("update FJ_BAZA set Bila = 'T' where LP = 1");
    form.FormActivate();
    EXPECT_TRUE(form.HealthLine->text().startsWith(QStringLiteral("Stan bazy: KRYTYCZNY \u2014 blokada: ")));
}

TEST(BackupWindow, TheWindowStaysLiveWhileTheRestoreWorkerIsSilent) {
    // The embedded engine's restore runs in a worker; one that says nothing for a while (an index being
    // built, here a worker told to wait two seconds before it starts) must not freeze the window.
    RecordedLaunches arj;
    Window win(TestDb::createEmbeddedDatabase(), QStringLiteral("L"), Window::Shown::Yes);
    win.form.BackupBtnClick();
    int ticks = 0;
    int ticksBeforeTheFirstLine = -1;
    QTimer timer;
    timer.setInterval(20);
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    QObject::connect(win.form.BuMemo, &QPlainTextEdit::textChanged, [&] {
        if (ticksBeforeTheFirstLine < 0 && win.form.BuMemo->toPlainText().contains(QStringLiteral("gbak:")))
            ticksBeforeTheFirstLine = ticks;
    });
    qputenv("QK_WORKER_SLOW", "2");
    timer.start();
    win.form.RestoreBtnClick();
    timer.stop();
    qunsetenv("QK_WORKER_SLOW");
    EXPECT_TRUE(
        win.boxes.texts().join('\n').contains(QStringLiteral("Odtwarzanie Bazy zakończono pomyślnie ...")));
    // The event loop ran while the worker was silent: a window blocked on it sees no tick before its first
    // line.
    EXPECT_GE(ticksBeforeTheFirstLine, 5);
}
