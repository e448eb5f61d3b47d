// Operations name the window's controls by text; a name the window lacks would show nothing.
#include "common/WindowHarness.h"

#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>

#include <gtest/gtest.h>

TEST(ControlNames, EveryNameAnOperationUsesIsOnTheWindow)
{
    TMainDm dm(TestDb::newFolder());
    TMainForm form(dm);
    const QRegularExpression named(QStringLiteral("\"((Label|ProgressBar)\\d+|[A-Za-z]*Memo\\d*)\""));
    int seen = 0;
    for (const char *folder : {"core", "admin", "backup", "users", "yearend", "exchange"}) {
        QDirIterator it(QStringLiteral(QK_SOURCE_DIR "/") + QLatin1String(folder), {"*.cpp", "*.h"}, QDir::Files);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
            const QString text = QString::fromUtf8(f.readAll());
            for (auto m = named.globalMatch(text); m.hasNext();) {
                const QString name = m.next().captured(1);
                ++seen;
                const bool found = name.startsWith(QLatin1String("Label"))
                                       ? form.findChild<QLabel *>(name) != nullptr
                                   : name.startsWith(QLatin1String("ProgressBar"))
                                       ? form.findChild<QProgressBar *>(name) != nullptr
                                       : form.findChild<QPlainTextEdit *>(name) != nullptr;
                EXPECT_TRUE(found) << name.toStdString() << " in " << path.toStdString();
            }
        }
    }
    EXPECT_GT(seen, 40); // the scan found the operations' names at all
}

TEST(ControlNames, ThePasswordIsNotShownAsTyped)
{
    TMainDm dm(TestDb::newFolder());
    TMainForm form(dm);
    EXPECT_EQ(form.PasswordEdit->echoMode(), QLineEdit::Password);
    form.PasswordEdit->setText(QStringLiteral("Tajne#Haslo1"));
    EXPECT_EQ(form.PasswordEdit->text(), QStringLiteral("Tajne#Haslo1")); // what the operations read
    EXPECT_FALSE(form.PasswordEdit->displayText().contains(QStringLiteral("Tajne")));
}
