#pragma once

#include <QColor>
#include <QString>

// What an operation may say to the operator: message boxes, labels, progress bars, memo lines and
// the busy cursor. The window maps it to its named controls, the command line to the terminal,
// tests to a record. Controls are named as on the window ("Label43", "ProgressBar1", "BuMemo").
class Operator {
public:
    enum class Box { Information, Warning, Error };

    virtual ~Operator() = default;

    // A modal message; a lone CR breaks the line.
    virtual void message(Box kind, const QString &text) = 0;
    // A yes/no question; true for yes.
    virtual bool confirm(const QString &text) = 0;
    // An invalid colour keeps the label's current one.
    virtual void setLabel(const QString &label, const QString &text, const QColor &color = QColor()) = 0;
    virtual void setProgress(const QString &bar, int value) = 0;
    virtual void clearMemo(const QString &memo) = 0;
    virtual void appendLine(const QString &memo, const QString &line) = 0;
    // Hourglass on and off; they don't nest: one endBusy restores the default cursor.
    virtual void beginBusy() = 0;
    virtual void endBusy() = 0;
    // Lets what was just set show (window repaint) before a long step.
    virtual void processEvents() = 0;
};
