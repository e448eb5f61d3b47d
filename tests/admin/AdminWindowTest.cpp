// The configuration tab's controls run their changes; the report buttons fill their memos.
#include "common/WindowHarness.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

TEST(AdminWindow, RadioItemsAndButtonsRunTheirChanges) {
    const QString folder = TestDb::createDatabase();
    Window win(folder, QStringLiteral("T"), Window::Shown::Yes);
    TMainForm &form = win.form;
    TestModule &module = win.module;
    RecordedBoxes &boxes = win.boxes;
    form.PageControl1->setCurrentWidget(form.ConfigTab);
    QCoreApplication::processEvents();

    auto items = form.AsynchRg->findChildren<QRadioButton *>();
    ASSERT_EQ(items.size(), 2);
    QTest::mouseClick(items[0], Qt::LeftButton, {}, QPoint(6, items[0]->height() / 2)); // near the indicator
    EXPECT_EQ(form.AsynchRg->itemIndex(), 0);
    module.dm->EmployeeDb.close();
    EXPECT_EQ(TestDb::scalar(folder, "select MON$FORCED_WRITES from MON$DATABASE").trimmed(),
              QStringLiteral("0"));

    form.PageBufEdit->clear();
    form.PageBufBtnClick();
    ASSERT_FALSE(boxes.boxes.isEmpty());
    EXPECT_EQ(boxes.boxes[0].text, QStringLiteral("'''' is not a valid integer value"));

    form.Button8Click(); // opens the closed connection and lists the system's user
    EXPECT_TRUE(form.Memo1->toPlainText().split('\n').contains(QStringLiteral("SYSDBA")));
    form.PropertiesBtnClick();
    EXPECT_TRUE(form.PropMemo->toPlainText().startsWith(QStringLiteral("Number of attachments: ")));
    form.StatsBtnClick();
    EXPECT_TRUE(form.StatsMemo->toPlainText().contains(QStringLiteral("FJ_BAZA (")));
    module.dm->shutDown();
}
