#pragma once

#include "core/Operator.h"
#include "db/Database.h"
#include "db/Service.h"
#include "platform/Signals.h"
#include "platform/Supervisor.h"

#include <QThread>

#include <exception>
#include <functional>

// Detaches a service, first letting an action that failed come to its end: the query after the
// failure repeats its error, the next says it no longer runs. The embedded engine's worker thread
// goes on tearing down a little after that, and a detach in the meantime now and then crashed the
// process (measured: about one run in ten of a restore from a file that is no backup): it is given
// that moment too. A program a signal is ending does not wait for an action still running: it detaches
// (the server's backup then goes on into the work folder, removed after it), and its end shuts the
// library down, which aborts what the embedded engine runs.
inline void detachWhenEnded(Service &service) {
    if (std::uncaught_exceptions() > 0 && service.active() && !Signals::received()) {
        // Two refusals in a row: the service can no longer be asked (the library was shut down, as the
        // restore worker's is on SIGINT), and there is nothing left to wait for.
        for (int i = 0, refused = 0; i < 500 && refused < 2; ++i) {
            try {
                if (!service.isRunning())
                    break;
                refused = 0;
            } catch (...) {
                ++refused;
            }
            QThread::msleep(10);
            try {
                Supervisor::Idle::ifDue(); // called from destructors: nothing may leave here
            } catch (...) {
            }
        }
        if (service.protocol == Service::Protocol::Local)
            QThread::msleep(200);
    }
    try {
        service.detach();
    } catch (...) {
        // The operation's own error, if any, is the one the operator sees.
    }
}

// The clean-up every service operation ends with, however it ends: detach the service, then the
// normal cursor.
class ServiceRun {
public:
    ServiceRun(Service &service, Operator &op) : m_service(service), m_op(op) {}
    ~ServiceRun() {
        detachWhenEnded(m_service);
        m_op.endBusy();
    }
    ServiceRun(const ServiceRun &) = delete;
    ServiceRun &operator=(const ServiceRun &) = delete;

private:
    Service &m_service;
    Operator &m_op;
};

// Detaches the service however the block ends (no cursor to restore).
class DetachOnExit {
public:
    explicit DetachOnExit(Service &service) : m_service(service) {}
    ~DetachOnExit() { detachWhenEnded(m_service); }
    DetachOnExit(const DetachOnExit &) = delete;
    DetachOnExit &operator=(const DetachOnExit &) = delete;

private:
    Service &m_service;
};

// For an operation that must close the connection while a service works on the database: opens it
// again however the operation ends, where the database can be reached, so that the activation after
// the operation's box reads the control row instead of failing on a closed connection. A failure to
// open is left to that activation to report.
class ReopenOnExit {
public:
    explicit ReopenOnExit(Database &db) : m_db(db) {}
    ~ReopenOnExit() { reopen(); }
    void reopen() {
        try {
            m_db.open();
        } catch (...) {
        }
    }
    ReopenOnExit(const ReopenOnExit &) = delete;
    ReopenOnExit &operator=(const ReopenOnExit &) = delete;

private:
    Database &m_db;
};

// Reads a restore's verbose output to its end, handing each line to line, then waits for the action to
// end. True when the output reached the restore's closing line: a truncated backup ends the server's
// restore quietly, without an error, as if the next volume were awaited, and only that line tells a whole
// backup from a part of one.
inline bool readRestoreOutput(Service &restore, const std::function<void(const QString &)> &line) {
    bool finished = false;
    while (!restore.eof()) {
        const QString text = restore.nextLine();
        finished = finished || text.contains(QLatin1String("finishing, closing, and going home"));
        line(text);
    }
    restore.waitWhileRunning(10);
    return finished;
}

// Hands every line of the action's output to the memo as it arrives, the closing empty line included,
// letting the memo repaint after each.
inline void copyOutput(Service &service, Operator &op, Operator::Log memo) {
    while (!service.eof()) {
        op.appendLine(memo, service.nextLine());
        op.processEvents();
    }
}
