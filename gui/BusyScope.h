#pragma once

#include "platform/Supervisor.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

class QWidget;

// The window's busy state, for as long as an operation runs: its controls unavailable and the busy
// cursor; its events handled from every supervised child's idle call (at least every 100 ms, whatever
// the child prints); every click and key on it refused, never queued for after the operation. One
// exception: Esc, or closing the window, asks whether to stop the step the operator may stop (an
// off-site step, a restore) and on yes stops its child by the supervisor's rule.
class BusyScope : public QObject {
public:
    // ask puts the question and says whether the answer was yes.
    BusyScope(QWidget *window, const QList<QWidget *> &controls, std::function<bool(const QString &)> ask);
    ~BusyScope() override;

    // The step the operator stopped; empty when none was.
    QString stoppedStep() const { return m_stopped; }
    // The question for a step, and the line that says it was stopped.
    static QString question(const QString &step);
    static QString stoppedLine(const QString &step);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void offerStop();

    QWidget *m_window;
    QList<QPointer<QWidget>> m_disabled;
    QPointer<QWidget> m_focus; // given back afterwards: disabling its tab took it away
    std::function<bool(const QString &)> m_ask;
    std::optional<Supervisor::Idle> m_idle;
    bool m_asking = false;
    QString m_stopped;
};
