#pragma once

// For the tests that drive the window: scripted message boxes and a data module over a test database.
#include "common/TestDb.h"
#include "common/TestModule.h"
#include "core/MainD.h"
#include "gui/MainF.h"
#include "platform/IniFile.h"

#include <QFile>
#include <QList>

#include <memory>

// Records every box the window shows and answers it (Ok, or the next scripted answer).
struct RecordedBoxes {
    struct Box {
        QMessageBox::Icon icon;
        QString text;
    };
    QList<Box> boxes;
    QList<QMessageBox::StandardButton> answers;
    std::function<void(const Box &)> onShow;

    RecordedBoxes() {
        TMainForm::boxDisplay = [this](QWidget *, QMessageBox::Icon icon, const QString &,
                                       const QString &text, QMessageBox::StandardButtons buttons) {
            boxes.append({icon, text});
            if (onShow)
                onShow(boxes.last());
            if (!answers.isEmpty())
                return answers.takeFirst();
            return (buttons & QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
        };
    }
    ~RecordedBoxes() {
        // Never a real modal box in a test: it would wait for a click nobody makes.
        TMainForm::boxDisplay = [](QWidget *, QMessageBox::Icon, const QString &, const QString &,
                                   QMessageBox::StandardButtons) { return QMessageBox::Ok; };
    }
    QStringList texts() const {
        QStringList t;
        for (const Box &b : boxes)
            t << b.text;
        return t;
    }
};

// The window over a test database, its boxes recorded, after its first activation (as at the first
// show: it ends the start-up transaction).
struct Window {
    enum class Shown { No, Yes };
    RecordedBoxes boxes;
    TestModule module;
    TMainForm form;
    explicit Window(const QString &folder, const QString &protocol = QStringLiteral("T"),
                    Shown shown = Shown::No)
        : module(folder, protocol), form(*module.dm) {
        if (shown == Shown::Yes)
            form.show();
        form.FormActivate();
    }
};
