#pragma once

#include <QString>

// What an operation may say to the operator, in the operation's own terms: message boxes and
// questions, the lock flag, the connection counter, the stage and activity of a long step, lines of
// a log, the result of a year-end step, the busy cursor. The window maps each to its control, the
// command line to the terminal, tests to a record.
class Operator {
public:
    enum class Box { Information, Warning, Error };
    // The logs the operations write to: the backup's and restore's service output (and the checks
    // of a verification), the statistics and the server log, the server's properties, the users
    // attached to the database.
    enum class Log { Backup, Statistics, Properties, Attachments };
    // The long steps that show their stage and an activity indicator.
    enum class Activity { Export, Import, Transfers };
    // The year-end results shown beside their controls: the deletion categories (in the order of
    // YearEndOps::categories()), the shadow, the opening balance, the package tables, and the
    // schema upgrade steps.
    enum class YearEnd {
        Entries,
        Documents,
        Turnovers,
        OpeningBalanceDeleted,
        Zplk,
        Zpuk,
        Contractors,
        VatRegister,
        Structures,
        Expenses,
        Income,
        DocumentTypes,
        BudgetPlans,
        ShadowDropped,
        Shadow,
        OpeningBalance,
        PackageTables,
        Upgrade221,
        Upgrade226,
        Upgrade236a,
        Upgrade236b,
        Upgrade242a,
        Upgrade242b,
        Upgrade242c,
    };

    virtual ~Operator() = default;

    // A modal message; a lone CR breaks the line.
    virtual void message(Box kind, const QString &text) = 0;
    // A message that arrives on its own (the end of a program started earlier), not from the operation
    // that is running: the window holds it until no operation runs.
    virtual void notice(Box kind, const QString &text) { message(kind, text); }
    // A yes/no question; true for yes.
    virtual bool confirm(const QString &text) = 0;
    // The database lock flag of the control row: set ('T') or clear ('N').
    virtual void showLockFlag(bool locked) = 0;
    // The connection counter of the control row, as read.
    virtual void showConnectionCount(const QString &count) = 0;
    // A long step's stage (empty: done) and its activity, 0 to 100 and again.
    virtual void setStage(Activity activity, const QString &text) = 0;
    virtual void setActivity(Activity activity, int value) = 0;
    virtual void clearLog(Log log) = 0;
    virtual void appendLine(Log log, const QString &line) = 0;
    // A year-end step's result text (empty: cleared).
    virtual void showResult(YearEnd item, const QString &text) = 0;
    // Hourglass on and off; they don't nest: one endBusy restores the default cursor.
    virtual void beginBusy() = 0;
    virtual void endBusy() = 0;
    // Lets what was just set show (window repaint) before a long step.
    virtual void processEvents() = 0;
    // Ends the program after an operation that requires it (a restore); the window saves its settings first.
    virtual void endProgram() = 0;
};
