// Every text the window shows is shown whole at the window's font: at creation, for every month name,
// and whenever an operation changes a label.
#include "common/WindowHarness.h"
#include "exchange/Formatters.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>

#include <gtest/gtest.h>

#include <functional>

namespace {

// The width a control's text needs, and the width it has for it; both zero for a control without text.
struct Fit {
    int needed = 0, available = 0;
};

int textWidth(const QWidget *w, QString text) {
    text.remove(QLatin1Char('&'));
    int widest = 0;
    for (const QString &line : text.split(QLatin1Char('\n'))) // trailing blanks show nothing
        widest = std::max(widest, w->fontMetrics().horizontalAdvance(line.trimmed()));
    return widest;
}

Fit fitOf(const QWidget *w) {
    if (!w->isVisibleTo(w->window()))
        return {};
    if (auto *l = qobject_cast<const QLabel *>(w))
        return {textWidth(l, l->text()), l->contentsRect().width() - 2 * l->margin()};
    if (auto *b = qobject_cast<const QCheckBox *>(w))
        return {b->sizeHint().width(), b->width()};
    if (auto *b = qobject_cast<const QRadioButton *>(w))
        return {b->sizeHint().width(), b->width()};
    if (auto *b = qobject_cast<const QPushButton *>(w)) {
        const int margin = b->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, b);
        return {textWidth(b, b->text()) + margin, b->width()};
    }
    if (auto *g = qobject_cast<const QGroupBox *>(w))
        return {textWidth(g, g->title()) + 8, g->width()};
    return {};
}

// Every control whose text does not fit, as "name: needed > available", on every tab.
QStringList cutOff(TMainForm &form) {
    QStringList cut;
    const int current = form.PageControl1->currentIndex();
    for (int tab = 0; tab < form.PageControl1->count(); ++tab) {
        form.PageControl1->setCurrentIndex(tab);
        for (const QWidget *w : form.PageControl1->widget(tab)->findChildren<QWidget *>()) {
            const Fit f = fitOf(w);
            if (f.needed > f.available)
                cut << QStringLiteral("%1 \"%2\": %3 > %4")
                           .arg(w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className())
                                                          : w->objectName())
                           .arg(qobject_cast<const QLabel *>(w) ? qobject_cast<const QLabel *>(w)->text()
                                                                : QString())
                           .arg(f.needed)
                           .arg(f.available);
        }
    }
    form.PageControl1->setCurrentIndex(current);
    return cut;
}

} // namespace

TEST(TextFit, EveryControlShowsItsTextWhole) {
    RecordedBoxes boxes;
    TMainDm dm(TestDb::newFolder());
    TMainForm form(dm);
    form.show();
    EXPECT_EQ(cutOff(form), QStringList());
}

TEST(TextFit, EveryMonthNameAndEveryLabelAnOperationSets) {
    RecordedBoxes boxes;
    TMainDm dm(TestDb::newFolder());
    TMainForm form(dm);
    form.show();
    for (int month = 0; month <= 12; ++month) {
        form.Edit5->setText(QString::number(month));
        form.Edit6->setText(QString::number(month));
        EXPECT_EQ(form.Label33->text(), MonthName(month));
        EXPECT_EQ(cutOff(form), QStringList()) << month;
    }
    // The longest texts the operations put in labels.
    using A = Operator::Activity;
    using Y = Operator::YearEnd;
    const std::pair<const char *, std::function<void()>> texts[] = {
        {"export stage",
         [&] {
             form.setStage(A::Export, QStringLiteral("tworzenie pliku /var/lib/qkadmin/dane/EX12D.TXT"));
         }},
        {"import stage",
         [&] { form.setStage(A::Import, QStringLiteral("wczytanie numewi z Dokum do IMPORT_D")); }},
        {"upgrade done",
         [&] {
             form.showResult(Y::Upgrade242c,
                             QStringLiteral("Tworzenie wersji v.2.42(3) zakończono pomyślnie"));
         }},
        {"upgrade table",
         [&] { form.showResult(Y::Upgrade242c, QStringLiteral("Tworzenie tabeli TA_PACZP ..... OK")); }},
        {"documents", [&] { form.showResult(Y::Documents, QStringLiteral("OK  ...")); }},
        {"lock flag", [&] { form.showLockFlag(true); }},
        {"connections", [&] { form.showConnectionCount(QStringLiteral("12345")); }},
    };
    for (const auto &[what, show] : texts) {
        show();
        EXPECT_EQ(cutOff(form), QStringList()) << what;
    }
}
