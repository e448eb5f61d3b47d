#pragma once

#include "platform/Supervisor.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <functional>
#include <optional>

// Many runs of this program at once, each a child process of its own under the supervisor (the checks
// of health --all, the companies of backup --all): at most `concurrent` at once, in the jobs' order, each
// child within its limit and stopped by one rule past it; a signal to this program is passed on to every
// child that runs (they are waited for) and no further child starts. One child's failure, hang or crash
// never stops or slows the others: each is only a slot while it runs.
class ChildPool {
public:
    struct Options {
        int concurrent = 1;
        qint64 limitMs = 0; // one child's whole run at most this long; 0: no such limit
        // How a child is asked to stop, past its limit or after a signal (passed on as received).
        Supervisor::Rule rule{SIGTERM, 5000, true};
        bool pipeError = false; // its standard error read too (Finished::err), not inherited
    };
    // One child's end.
    struct Finished {
        bool started = false;
        QByteArray out, err; // what it wrote to standard output (and error, with pipeError)
        int status = -1;     // its exit code, or -(signal)
        Supervisor::End end = Supervisor::End::Exited;
        qint64 ms = 0; // from its start to its reaping
    };
    // A job's next child: the program's arguments (the program is this one), or nothing when the job is
    // done. Called with previous null for its first child, then with each child's end in turn (a job may
    // be several children one after another, in the same slot).
    using Next = std::function<std::optional<QStringList>(qsizetype job, const Finished *previous)>;

    explicit ChildPool(Options options) : m_options(std::move(options)) {}
    // Runs jobs 0 to count - 1; returns once every child it started has been reaped. After a signal a
    // child's end is still handed to next, but what next returns then is not started, nor any job not yet
    // begun: begun(job) says which were.
    void run(qsizetype count, const Next &next);
    bool begun(qsizetype job) const { return job < m_begun; }
    // The signal that stopped the run, 0 when none did.
    int stoppedBy() const { return m_stoppedBy; }

private:
    Options m_options;
    qsizetype m_begun = 0;
    int m_stoppedBy = 0;
};
