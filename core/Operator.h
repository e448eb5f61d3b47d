#pragma once

#include <QString>

// What an operation may say to the operator: message boxes, labels, progress bars, memo lines and
// the busy cursor. The window maps it to its named controls, the command line to the terminal,
// tests to a record. Controls are named as on the window ("Label43", "ProgressBar1", "BuMemo").
class Operator {
public:
    enum class Box { Information, Warning, Error };
    // A label's text colour; Keep leaves the current one.
    enum class Tone { Keep, Red, Black };

    virtual ~Operator() = default;

    // A modal message; a lone CR breaks the line.
    virtual void message(Box kind, const QString &text) = 0;
    // A message that arrives on its own (the end of a program started earlier), not from the operation
    // that is running: the window holds it until no operation runs.
    virtual void notice(Box kind, const QString &text) { message(kind, text); }
    // A yes/no question; true for yes.
    virtual bool confirm(const QString &text) = 0;
    virtual void setLabel(const QString &label, const QString &text, Tone tone = Tone::Keep) = 0;
    virtual void setProgress(const QString &bar, int value) = 0;
    virtual void clearMemo(const QString &memo) = 0;
    virtual void appendLine(const QString &memo, const QString &line) = 0;
    // Hourglass on and off; they don't nest: one endBusy restores the default cursor.
    virtual void beginBusy() = 0;
    virtual void endBusy() = 0;
    // Lets what was just set show (window repaint) before a long step.
    virtual void processEvents() = 0;
    // Ends the program after an operation that requires it (a restore); the window saves its settings first.
    virtual void endProgram() = 0;
};
