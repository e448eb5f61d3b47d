// The window alone knows its controls: what an operation says reaches the control the design gives it.
#include "common/WindowHarness.h"
#include "gui/OperatorControls.h"
#include "yearend/YearEndOps.h"

#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <tuple>

TEST(ControlNames, OnlyTheWindowNamesItsControls) {
    // The operations, the command line and their tests speak in the operator's terms; a control's name
    // in a string anywhere else would tie them to the window's design again.
    const QRegularExpression named(QStringLiteral("\"((Label|Button|Edit|CheckBox|ProgressBar|RadioGroup|"
                                                  "ListBox|UpDown|GroupBox)\\d+|[A-Za-z]*Memo\\d*)\""));
    int files = 0;
    for (const char *folder :
         {"platform", "db", "core", "admin", "backup", "users", "yearend", "exchange", "cli", "tests/admin",
          "tests/backup", "tests/cli", "tests/common", "tests/core", "tests/db", "tests/exchange",
          "tests/platform", "tests/users", "tests/yearend"}) {
        QDirIterator it(QStringLiteral(QK_SOURCE_DIR "/") + QLatin1String(folder), {"*.cpp", "*.h"},
                        QDir::Files);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
            ++files;
            for (auto m = named.globalMatch(QString::fromUtf8(f.readAll())); m.hasNext();)
                ADD_FAILURE() << m.next().captured(1).toStdString() << " in " << path.toStdString();
        }
    }
    EXPECT_GT(files, 100); // the scan found the sources at all
}

TEST(ControlNames, EveryOperatorCallLandsOnItsControl) {
    TMainDm dm(TestDb::newFolder());
    TMainForm form(dm);
    for (const auto log : {Operator::Log::Backup, Operator::Log::Statistics, Operator::Log::Properties,
                           Operator::Log::Attachments}) {
        form.clearLog(log);
        form.appendLine(log, QStringLiteral("wiersz"));
        auto *memo = form.findChild<QPlainTextEdit *>(QString::fromUtf16(OperatorControls::memo(log)));
        ASSERT_NE(memo, nullptr) << int(log);
        EXPECT_EQ(memo->toPlainText(), QStringLiteral("wiersz"));
    }
    EXPECT_EQ(QString::fromUtf16(OperatorControls::memo(Operator::Log::Backup)), QStringLiteral("BuMemo"));
    using A = Operator::Activity;
    const std::tuple<A, const char *, const char *> activities[] = {
        {A::Export, "Label43", "ProgressBar1"},
        {A::Import, "Label42", "ProgressBar2"},
        {A::Transfers, "Label59", "ProgressBar3"}};
    for (const auto &[a, label, bar] : activities) {
        form.setStage(a, QStringLiteral("etap"));
        form.setActivity(a, 42);
        EXPECT_EQ(form.findChild<QLabel *>(QLatin1String(label))->text(), QStringLiteral("etap"));
        EXPECT_EQ(form.findChild<QProgressBar *>(QLatin1String(bar))->value(), 42);
    }
    // The deletion categories in their order, each by its check box and label; the other results and the
    // steps.
    using Y = Operator::YearEnd;
    const std::tuple<Y, const char *, const char *> results[] = {
        {Y::Entries, "Label12", "CheckBox10"},     {Y::Documents, "Label11", "CheckBox9"},
        {Y::Turnovers, "Label13", "CheckBox11"},   {Y::OpeningBalanceDeleted, "Label14", "CheckBox12"},
        {Y::Zplk, "Label15", "CheckBox13"},        {Y::Zpuk, "Label16", "CheckBox14"},
        {Y::Contractors, "Label17", "CheckBox15"}, {Y::VatRegister, "Label18", "CheckBox16"},
        {Y::Structures, "Label19", "CheckBox17"},  {Y::Expenses, "Label20", "CheckBox18"},
        {Y::Income, "Label21", "CheckBox19"},      {Y::DocumentTypes, "Label22", "CheckBox20"},
        {Y::BudgetPlans, "Label27", "CheckBox22"}, {Y::ShadowDropped, "Label29", "CheckBox23"},
        {Y::Shadow, "Label30", nullptr},           {Y::OpeningBalance, "Label28", nullptr},
        {Y::PackageTables, "Label54", nullptr},    {Y::Upgrade221, "Label44", "Button9"},
        {Y::Upgrade226, "Label45", "Button10"},    {Y::Upgrade236a, "Label48", "Button11"},
        {Y::Upgrade236b, "Label49", "Button12"},   {Y::Upgrade242a, "Label51", "Button15"},
        {Y::Upgrade242b, "Label52", "Button16"},   {Y::Upgrade242c, "Label53", "Button17"}};
    for (const auto &[y, label, control] : results) {
        form.showResult(y, QStringLiteral("OK ..."));
        EXPECT_EQ(form.findChild<QLabel *>(QLatin1String(label))->text(), QStringLiteral("OK ...")) << label;
        const char16_t *mapped = OperatorControls::resultControl(y);
        EXPECT_EQ(mapped ? QString::fromUtf16(mapped) : QString(), QLatin1String(control)) << label;
        if (control) {
            EXPECT_NE(form.findChild<QWidget *>(QLatin1String(control)), nullptr) << control;
        }
    }
    const auto &categories = YearEndOps::categories();
    for (size_t i = 0; i < categories.size(); ++i)
        EXPECT_EQ(categories[i].result, std::get<0>(results[i])) << i;
    form.showLockFlag(true);
    EXPECT_EQ(form.Label47->text(), QStringLiteral("TAK"));
    EXPECT_EQ(form.Label47->palette().color(QPalette::WindowText), QColor(Qt::red));
    form.showLockFlag(false);
    EXPECT_EQ(form.Label47->text(), QStringLiteral("NIE"));
    EXPECT_EQ(form.Label47->palette().color(QPalette::WindowText), QColor(Qt::black));
    form.showConnectionCount(QStringLiteral("3"));
    EXPECT_EQ(form.Label10->text(), QStringLiteral("3"));
    EXPECT_EQ(form.Label26->text(), QStringLiteral("3"));
}

TEST(ControlNames, ThePasswordIsNotShownAsTyped) {
    TMainDm dm(TestDb::newFolder());
    TMainForm form(dm);
    EXPECT_EQ(form.PasswordEdit->echoMode(), QLineEdit::Password);
    form.PasswordEdit->setText(QStringLiteral("Tajne#Haslo1"));
    EXPECT_EQ(form.PasswordEdit->text(), QStringLiteral("Tajne#Haslo1")); // what the operations read
    EXPECT_FALSE(form.PasswordEdit->displayText().contains(QStringLiteral("Tajne")));
}
