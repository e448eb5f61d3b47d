#pragma once

#include "core/Operator.h"

#include <QElapsedTimer>
#include <QHash>

#include <cstdio>

// The operator on a terminal: messages and service output to standard output as they arrive, status
// lines too, and a count of rows done while a long loop runs (only when the output is a terminal).
class TerminalOperator : public Operator {
public:
    TerminalOperator(std::FILE *out, std::FILE *err, bool assumeYes);

    void message(Box kind, const QString &text) override;
    bool confirm(const QString &text) override;
    // The window's labels but a long step's stage have no place on a terminal.
    void showLockFlag(bool) override {}
    void showConnectionCount(const QString &) override {}
    void setStage(Activity activity, const QString &text) override;
    void setActivity(Activity activity, int value) override;
    void clearLog(Log) override {}
    void appendLine(Log log, const QString &line) override;
    void showResult(YearEnd, const QString &) override {}
    void beginBusy() override {}
    void endBusy() override {}
    // A signal received (SIGTERM, SIGINT, SIGHUP) ends the operation here, as a failure, once.
    void processEvents() override { stopOnSignal(); }
    void endProgram() override {}

    // An error, as the error box would show it.
    void error(const QString &text);
    // An operation reported an error in a box of its own (it may still have gone on to its end).
    bool errorShown() const { return m_errorShown; }

private:
    void stopOnSignal();
    void endProgressLine();
    static QString lines(const QString &text);

    std::FILE *m_out;
    std::FILE *m_err;
    bool m_assumeYes;
    bool m_tty;
    QString m_status;
    qint64 m_rows = 0;
    bool m_progressShown = false;
    bool m_errorShown = false;
    bool m_stopped = false;
    QElapsedTimer m_lastDraw;
};
