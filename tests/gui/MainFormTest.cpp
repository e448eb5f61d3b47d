// The main window: its controls as designed, the activation, the boxes and the close.
#include "common/TestFiles.h"
#include "common/WindowHarness.h"
#include "db/Errors.h"
#include "gui/MainFormLayout.h"
#include "platform/Clock.h"
#include "platform/IniFile.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>

namespace {

struct Expected {
    const char *tab;
    const char *name;
    const char16_t *text;
    QRect place;
    const char *parent;
    bool visible;
    bool bold;
};

// A few controls of every kind as the design gives them, written from it by hand: the layout table the
// window is built from must hold them so.
const Expected kSpotChecks[] = {
    {"ConfigTab", "Label8", u"Położenie Bazy Danych", QRect(15, 350, 142, 16), "", true, false},
    {"ConfigTab", "AsynchRg", u"Writes", QRect(217, 7, 277, 61), "", true, false},
    {"ConfigTab", "PageBufEdit", u"100", QRect(394, 315, 95, 24), "", true, false},
    {"BackupTab", "Label25", u"Ilość podłączeń do bazy:", QRect(76, 79, 173, 16), "", true, true},
    {"TabSheet4", "Label54", u"...", QRect(492, 18, 9, 16), "", true, false},
    {"TabSheet4", "Button15", u"Twórz wersja 2.42 (1)", QRect(10, 212, 139, 30), "", true, false},
    {"TabSheet4", "Button19", u"Nowy Rok twórz Bazy", QRect(335, 15, 149, 31), "", true, false},
};

QString textOf(QWidget *w) {
    if (auto *l = qobject_cast<QLabel *>(w))
        return l->text();
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        return b->text();
    if (auto *e = qobject_cast<QLineEdit *>(w))
        return e->text();
    if (auto *g = qobject_cast<QGroupBox *>(w))
        return g->title();
    return QString();
}

void setBila(const QString &folder, const QString &value) {
    TestDb::exec(folder,
                 value.isNull()
                     ? QStringLiteral("update FJ_BAZA set Bila = NULL, ILE = 3 where LP = 1")
                     : QStringLiteral("update FJ_BAZA set Bila = '%1', ILE = 3 where LP = 1").arg(value));
}

} // namespace

TEST(MainWindow, EveryControlAsDesigned) {
    const QString folder = TestDb::newFolder();
    TMainDm dm(folder);
    TMainForm form(dm);
    form.show();
    EXPECT_EQ(form.size(), QSize(548, 453 + 22)); // the designed face and the health line below the tabs
    QStringList tabs;
    for (int i = 0; i < form.PageControl1->count(); ++i)
        tabs << form.PageControl1->tabText(i);
    EXPECT_EQ(tabs, QStringList({"IB Conguration", "Kopia/Odtwarzanie", "Statyst/Log", "Zabezpieczenia",
                                 "Właściwości", "Kasowanie", "Export/Import", "Przelewy", "Aktywni użytkow.",
                                 "Nowe wersje"}));
    using K = MainFormLayout::Kind;
    for (const MainFormLayout::Control &c : MainFormLayout::controls()) {
        SCOPED_TRACE(c.name);
        QWidget *w = form.findChild<QWidget *>(QLatin1String(c.name));
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->parentWidget()->objectName(), QLatin1String(*c.parent ? c.parent : c.tab));
        EXPECT_EQ(w->pos(), c.place.topLeft());
        EXPECT_EQ(w->height(), c.place.height());
        if (qobject_cast<QLabel *>(w) || qobject_cast<QAbstractButton *>(w)) {
            EXPECT_GE(w->width(), c.place.width()); // labels and buttons grow to show their text whole
        } else {
            EXPECT_EQ(w->width(), c.place.width());
        }
        if (c.kind != K::Memo && c.kind != K::Panel && c.kind != K::UpDown && c.kind != K::ProgressBar &&
            c.kind != K::ListBox) {
            EXPECT_EQ(textOf(w), QString::fromUtf16(c.text));
        }
        EXPECT_EQ(w->toolTip(), QString::fromUtf16(c.hint));
        EXPECT_EQ(w->isHidden(), (c.flags & MainFormLayout::Flag::Hidden) != 0);
        EXPECT_EQ(w->isEnabled(), (c.flags & MainFormLayout::Flag::Disabled) == 0);
        EXPECT_EQ(w->font().bold(), (c.flags & MainFormLayout::Flag::Bold) != 0);
        EXPECT_EQ(w->font().pixelSize(), c.pixelSize);
    }
    for (const Expected &e : kSpotChecks) {
        SCOPED_TRACE(e.name);
        QWidget *w = form.findChild<QWidget *>(QLatin1String(e.name));
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->parentWidget()->objectName(), QLatin1String(*e.parent ? e.parent : e.tab));
        EXPECT_EQ(QRect(w->pos(), QSize(e.place.width(), w->height())), e.place);
        EXPECT_EQ(textOf(w), QString::fromUtf16(e.text));
        EXPECT_EQ(!w->isHidden(), e.visible);
        EXPECT_EQ(w->font().bold(), e.bold);
    }
    EXPECT_EQ(MainFormLayout::controls().size(), 150u);
    EXPECT_TRUE(form.MiddleNameEdit->isReadOnly());
    EXPECT_EQ(form.BuMemo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(form.AsynchRg->items(), QStringList({"Buffered Writes", "Forced Writes"}));
    EXPECT_EQ(form.SqlDialectRg->columns(), 3);
    EXPECT_EQ(form.AsynchRg->itemIndex(), -1);
    EXPECT_EQ(form.UpDown1->associate(), form.Edit5);
    EXPECT_EQ(form.UpDown2->associate(), form.Edit6);
    EXPECT_EQ(form.UpDown1->min(), 1);
    EXPECT_EQ(form.UpDown1->max(), 12);
    EXPECT_EQ(form.Edit1->palette().color(QPalette::Base), QColor(255, 255, 225));
    EXPECT_EQ(form.Edit5->palette().color(QPalette::Base), QColor(255, 255, 0));
    EXPECT_EQ(form.Button13->shortcut(), QKeySequence(Qt::ALT | Qt::Key_T));
    EXPECT_EQ(form.Button14->shortcut(), QKeySequence(Qt::ALT | Qt::Key_W));
    form.close();
}

TEST(MainWindow, UpDownKeepsTheMonthWithinRange) {
    TMainDm dm(TestDb::newFolder());
    TMainForm form(dm);
    form.Edit5->setText(QStringLiteral("12"));
    form.UpDown1->stepBy(1);
    EXPECT_EQ(form.Edit5->text(), QStringLiteral("12"));
    form.UpDown1->stepBy(-1);
    EXPECT_EQ(form.Edit5->text(), QStringLiteral("11"));
    EXPECT_EQ(form.Label33->text(), QStringLiteral("Listopad "));
    form.Edit5->setText(QStringLiteral("40"));
    EXPECT_EQ(form.UpDown1->position(), 12);
    EXPECT_EQ(form.Label33->text(), QString(15, QLatin1Char('-')));
    form.Edit5->setText(QStringLiteral("0"));
    EXPECT_EQ(form.Label33->text(), QStringLiteral("Bil.Otw. "));
    EXPECT_EQ(form.UpDown1->position(), 1);
}

TEST(MainWindow, ActivationShowsTheControlRow) {
    const QString folder = TestDb::createDatabase();
    Clock::setOverride(QDateTime(QDate(2010, 3, 15), QTime(9, 5)));
    Window w(folder);
    EXPECT_EQ(w.form.windowTitle(),
              QStringLiteral("InterBase Administracja v.7.00   ") + folder + QStringLiteral("bazaqk.adb"));
    const std::pair<QString, QString> cases[] = {
        {"T", "TAK"}, {"t", "NIE"}, {"TN", "TAK"}, {QString(), "NIE"}, {"N", "NIE"}};
    for (const auto &[bila, shown] : cases) {
        SCOPED_TRACE(bila.toStdString());
        setBila(folder, bila);
        w.form.FormActivate();
        EXPECT_EQ(w.form.Label47->text(), shown);
        EXPECT_EQ(w.form.Label47->palette().color(QPalette::WindowText),
                  shown == "TAK" ? QColor(Qt::red) : QColor(Qt::black));
        EXPECT_EQ(w.form.Label10->text(), QStringLiteral("3"));
        EXPECT_EQ(w.form.Label26->text(), QStringLiteral("3"));
        EXPECT_FALSE(w.module.dm->EmployeeTran.active()); // committed
    }
    EXPECT_TRUE(w.boxes.boxes.isEmpty());
    EXPECT_EQ(w.form.Edit5->text(), QStringLiteral("3"));
    EXPECT_EQ(w.form.Edit6->text(), QStringLiteral("3"));
    EXPECT_EQ(w.form.Edit7->text(), QStringLiteral("2010"));
    EXPECT_EQ(w.form.Edit8->text(), QStringLiteral("2010"));
    EXPECT_EQ(w.form.Label33->text(), QStringLiteral("Marzec "));
    EXPECT_EQ(w.form.Edit3->text(), QStringLiteral("T"));
    Clock::setOverride(QDateTime());
}

TEST(MainWindow, NoControlRowEmptiesTheCountersAndShowsNie) {
    const QString folder = TestDb::createDatabase();
    Window w(folder);
    setBila(folder, "T");
    w.form.FormActivate();
    ASSERT_EQ(w.form.Label47->text(), QStringLiteral("TAK"));
    TestDb::exec(folder, QStringLiteral("delete from FJ_BAZA"));
    w.form.FormActivate();
    EXPECT_EQ(w.form.Label10->text(), QString());
    EXPECT_EQ(w.form.Label26->text(), QString());
    EXPECT_EQ(w.form.Label47->text(), QStringLiteral("NIE"));
}

TEST(MainWindow, FailingActivationRollsBackAndKeepsTheFlag) {
    const QString folder = TestDb::createDatabase();
    Window w(folder);
    setBila(folder, "T");
    w.form.FormActivate();
    ASSERT_EQ(w.form.Label47->text(), QStringLiteral("TAK"));
    TestDb::exec(folder, QStringLiteral("alter table FJ_BAZA drop Bila"));
    w.form.FormActivate();
    ASSERT_EQ(w.boxes.boxes.size(),
              1); // shown once: an activation error is not followed by another activation
    EXPECT_EQ(w.boxes.boxes[0].icon, QMessageBox::Critical);
    EXPECT_EQ(w.boxes.boxes[0].text, QStringLiteral("IBQuery8: Field 'Bila' not found"));
    EXPECT_EQ(w.form.Label47->text(), QStringLiteral("TAK"));
    EXPECT_FALSE(w.module.dm->EmployeeTran.active()); // rolled back
}

TEST(MainWindow, ClosedConnectionFailsTheActivationOnce) {
    const QString folder = TestDb::createDatabase();
    Window w(folder);
    w.form.FormActivate();
    w.form.CloseDbBtnClick();
    EXPECT_FALSE(w.module.dm->EmployeeDb.connected());
    w.form.FormActivate();
    EXPECT_EQ(w.boxes.texts(), QStringList({"Cannot perform operation -- DB is not open"}));
    w.form.OpenDbBtnClick();
    w.form.FormActivate();
    EXPECT_EQ(w.boxes.boxes.size(), 1);
    EXPECT_FALSE(w.module.dm->EmployeeTran.active());
}

TEST(MainWindow, EveryBoxClosesIntoAnActivation) {
    const QString folder = TestDb::createDatabase();
    Window w(folder);
    w.form.FormActivate();
    w.form.PageControl1->setCurrentWidget(w.form.TabSheet1);
    w.form.Edit1->setText(QStringLiteral("/elsewhere"));
    w.form.Edit4->setText(QStringLiteral("/cien2"));
    setBila(folder, "T");
    w.form.message(Operator::Box::Information, QStringLiteral("Kopiowanie Bazy zakończono pomyślnie ..."));
    EXPECT_EQ(w.boxes.texts(), QStringList({"Kopiowanie Bazy zakończono pomyślnie ..."}));
    EXPECT_EQ(w.form.Edit1->text(), folder.left(folder.size() - 1));
    EXPECT_EQ(w.form.Edit4->text(), folder + QStringLiteral("cien"));
    EXPECT_EQ(w.form.PageControl1->currentWidget(), w.form.BackupTab);
    EXPECT_EQ(w.form.Label47->text(), QStringLiteral("TAK"));

    // The same after an error box of a handler.
    w.form.Edit5->setText(QString());
    EXPECT_EQ(w.boxes.texts().last(), QStringLiteral("'''' is not a valid integer value"));
    EXPECT_EQ(w.form.Edit5->text(),
              QString::number(QDate::currentDate().month())); // refilled by the activation
}

TEST(MainWindow, TabShownFillsTheMonthAndYear) {
    TMainDm dm(TestDb::newFolder());
    TMainForm form(dm);
    Clock::setOverride(QDateTime(QDate(2022, 4, 9), QTime(9, 5)));
    form.PageControl1->setCurrentWidget(form.TabSheet2);
    EXPECT_EQ(form.Edit5->text(), QStringLiteral("4"));
    EXPECT_EQ(form.Edit6->text(), QStringLiteral("4"));
    EXPECT_EQ(form.Edit7->text(), QStringLiteral("2022"));
    EXPECT_EQ(form.Label35->text(), QStringLiteral("Kwiecień "));
    Clock::setOverride(QDateTime());
}

TEST(SerialSignals, TheWindowClosesAsItsCloseDoes) {
    // The program as installed beside its settings, on the embedded sample; setup.ini lacks the key
    // "cien", which only a close writes.
    const QString folder = TestDb::createEmbeddedDatabase();
    const QString home = TestDb::newFolder();
    ASSERT_TRUE(QFile::copy(QString::fromLocal8Bit(qgetenv("QK_GUI")), home + "qkadmin"));
    QFile::setPermissions(home + "qkadmin",
                          QFileDevice::ExeOwner | QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        QFile::remove(home + "setup.ini");
        IniFile::writeString(home + "setup.ini", "Ogolne", "sciezka", folder.left(folder.size() - 1));
        IniFile::writeString(home + "setup.ini", "Ogolne", "protokol", "L");
        QProcess p;
        p.start(home + "qkadmin", {});
        ASSERT_TRUE(p.waitForStarted());
        ASSERT_TRUE(TestFiles::waitForSignalHandlers(p.processId()))
            << p.readAllStandardError().toStdString();
        ::kill(pid_t(p.processId()), signal);
        EXPECT_TRUE(p.waitForFinished(5000)) << "still running 5 s after signal " << signal;
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << signal;
        QFile saved(home + "setup.ini");
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
        EXPECT_TRUE(saved.readAll().contains("\r\ncien="))
            << "the close did not save the settings, signal " << signal;
    }
    // One company of an office: its own settings file read and written, the default left alone.
    const QByteArray defaults = TestFiles::read(home + "setup.ini");
    const QString company = TestDb::newFolder() + "firma1.ini";
    IniFile::writeString(company, "Ogolne", "sciezka", folder.left(folder.size() - 1));
    IniFile::writeString(company, "Ogolne", "protokol", "L");
    QProcess p;
    p.start(home + "qkadmin", {"--settings", company});
    ASSERT_TRUE(p.waitForStarted());
    ASSERT_TRUE(TestFiles::waitForSignalHandlers(p.processId()));
    ::kill(pid_t(p.processId()), SIGTERM);
    EXPECT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_TRUE(TestFiles::read(company).contains("\r\ncien=")) << TestFiles::read(company).toStdString();
    EXPECT_EQ(TestFiles::read(home + "setup.ini"), defaults);
}

TEST(SerialSignals, OneWhileTheWindowStartsClosesItOnceThere) {
    // SIGTERM as the embedded engine first opens the database, before the window is shown: the window
    // closes once it is there, instead of the client library shutting itself down and leaving it running.
    const QString folder = TestDb::createEmbeddedDatabase();
    const QString settings = TestDb::newFolder() + "firma1.ini";
    IniFile::writeString(settings, "Ogolne", "sciezka", folder.left(folder.size() - 1));
    IniFile::writeString(settings, "Ogolne", "protokol", "L");
    const QString trace = TestDb::newFolder() + "strace.log";
    QProcess p;
    p.start("strace", {"-f", "-o", trace, "-P", folder + "bazaqk.adb", "-e", "trace=openat", "-e",
                       "inject=openat:signal=SIGTERM:when=1", QString::fromLocal8Bit(qgetenv("QK_GUI")),
                       "--settings", settings});
    ASSERT_TRUE(p.waitForStarted());
    const bool ended = p.waitForFinished(10000);
    if (!ended)
        p.kill(), p.waitForFinished();
    ASSERT_TRUE(TestFiles::read(trace).contains("--- SIGTERM")) << TestFiles::read(trace).toStdString();
    EXPECT_TRUE(ended) << "still running 10 s after the signal";
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_TRUE(TestFiles::read(settings).contains("\r\ncien=")) << "not closed as its close does";
}

TEST(MainWindow, AFirstRunSaysWhatToSetAndTheNextStartWorks) {
    RecordedBoxes boxes;
    const QString settings = TestDb::newFolder(); // no setup.ini
    {
        TMainDm dm(settings);
        try {
            dm.DataModuleCreate();
            ADD_FAILURE();
        } catch (const QkError &e) {
            EXPECT_TRUE(
                e.message().startsWith("Nie wskazano folderu bazy danych (plik " + settings + "setup.ini"));
        }
        TMainForm w(dm);
        w.FormActivate();
        ASSERT_EQ(boxes.boxes.size(), 1);
        EXPECT_TRUE(boxes.boxes[0].text.startsWith(QStringLiteral("Nie wskazano folderu bazy danych")));
        const QString folder = TestDb::createDatabase();
        w.Edit1->setText(folder.left(folder.size() - 1));
        w.Edit3->setText(QStringLiteral("T"));
        w.close(); // saves the folder
    }
    TMainDm next(settings);
    EXPECT_NO_THROW(next.DataModuleCreate());
    next.shutDown();
}

TEST(MainWindow, AsRootAnEmbeddedDatabaseOthersMayWriteIsRefusedInOneBox) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "only a run as root (or as the units' user) refuses it; the suite runs as root";
    RecordedBoxes boxes;
    const QString folder = TestDb::createEmbeddedDatabase();
    ASSERT_EQ(::chmod(QFile::encodeName(folder.chopped(1)).constData(), 0777), 0);
    const QString settings = TestDb::newFolder();
    IniFile::writeString(settings + "setup.ini", "Ogolne", "sciezka", folder.chopped(1));
    IniFile::writeString(settings + "setup.ini", "Ogolne", "protokol", "L");
    TMainDm dm(settings);
    const QString said = "Bazę danych " + folder + "bazaqk.adb może zmienić lub podmienić ktoś inny niż root";
    try {
        dm.DataModuleCreate();
        ADD_FAILURE() << "opened";
    } catch (const QkError &e) {
        EXPECT_TRUE(e.message().startsWith(said)) << e.message().toStdString();
    }
    TMainForm w(dm);
    w.FormActivate();
    w.FormActivate(); // every box is followed by an activation: said once
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_TRUE(boxes.boxes[0].text.startsWith(said)) << boxes.boxes[0].text.toStdString();
    EXPECT_FALSE(dm.EmployeeDb.connected());
}

TEST(MainWindow, CloseSavesTheFourEditsOrStaysOpen) {
    RecordedBoxes boxes;
    const QString folder = TestDb::newFolder();
    const QString ini = folder + QStringLiteral("setup.ini");
    TMainDm dm(folder);
    dm.ReadSettings();
    dm.WriteD1(QStringLiteral("/x/bazaqk.shd"));
    TMainForm form(dm);
    form.show();
    form.Edit1->setText(QStringLiteral("/dane/qk"));
    form.Edit2->setText(QStringLiteral("SERWER"));
    form.Edit3->setText(QStringLiteral("L"));
    form.Edit4->setText(QStringLiteral("/cień"));
    EXPECT_TRUE(form.close());
    EXPECT_EQ(IniFile::readString(ini, "Ogolne", "sciezka"), QStringLiteral("/dane/qk"));
    EXPECT_EQ(IniFile::readString(ini, "Ogolne", "serwer"), QStringLiteral("SERWER"));
    EXPECT_EQ(IniFile::readString(ini, "Ogolne", "protokol"), QStringLiteral("L"));
    EXPECT_EQ(IniFile::readString(ini, "Ogolne", "cien"), QStringLiteral("/cień"));
    EXPECT_EQ(IniFile::readString(ini, "Ogolne", "d1"), QStringLiteral("/x/bazaqk.shd"));

    // A settings file that cannot be written: the error is shown, then the operator chooses whether to
    // close without saving. No keeps the window open; yes closes it.
    TMainDm gone(folder + QStringLiteral("brak/"));
    TMainForm form2(gone);
    form2.show();
    boxes.answers = {QMessageBox::Ok, QMessageBox::No};
    EXPECT_FALSE(form2.close());
    EXPECT_TRUE(form2.isVisible());
    ASSERT_GE(boxes.boxes.size(), 2); // then the activation's own error: this module has no database
    EXPECT_EQ(boxes.boxes[0].text,
              QStringLiteral("Unable to write to ") + folder + QStringLiteral("brak/setup.ini"));
    EXPECT_EQ(boxes.boxes[0].icon, QMessageBox::Critical);
    EXPECT_EQ(boxes.boxes[1].text,
              QStringLiteral(
                  "Nie można zapisać ustawień w pliku setup.ini.\nZamknąć program bez zapisania ustawień?"));
    EXPECT_EQ(boxes.boxes[1].icon, QMessageBox::Question);
    const qsizetype before = boxes.boxes.size();
    boxes.answers = {QMessageBox::Ok, QMessageBox::Yes};
    EXPECT_TRUE(form2.close());
    EXPECT_FALSE(form2.isVisible());
    ASSERT_EQ(boxes.boxes.size(), before + 2); // the error and the question, no activation after them
    EXPECT_EQ(boxes.boxes[before + 1].icon, QMessageBox::Question);
    EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("brak/setup.ini")));
}

TEST(MainWindow, BusyCursorDoesNotNest) {
    TMainDm dm(TestDb::newFolder());
    TMainForm form(dm);
    form.BeginBusy();
    form.BeginBusy();
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
    form.EndBusy();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}
