#pragma once

#include "platform/Subprocess.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <csignal>
#include <exception>
#include <functional>
#include <memory>

namespace Signals {
class Forward;
}

// The one supervisor of every child process this program runs (restic, the restore worker, the checks
// of health --all, the archiver): it starts the child through Subprocess::spawn, owns its descriptors,
// hands its output on as it comes, calls an idle function at least every 100 ms whatever the child
// prints, gives up a child that shows no progress for its limit, stops a child by one rule (its polite
// signal, then SIGKILL after the grace), passes the program's signals on, and always reaps it.
class Supervisor {
public:
    // How this child is asked to stop.
    struct Rule {
        int signal = SIGINT;    // the polite request it understands (SIGINT lets restic remove its lock)
        qint64 graceMs = 10000; // past this after the request: SIGKILL
        bool passOnAsReceived = false; // a signal to this program reaches it as received (SIGHUP as SIGTERM)
        // The step it does, in Polish ("wysyłanie kopii do repozytorium"): the operator may stop it
        // (cancelRunning) and is asked about it by this name. Empty: only a limit or a signal stops it.
        QString step{};
        // It goes on alone, also past this program's end (an archive copy started after a restore): a
        // signal to this program is not passed on to it.
        bool alone = false;
    };
    struct Limits {
        qint64 stallMs = 0; // no progress() for this long: given up; 0: no such limit
        qint64 totalMs = 0; // the whole run at most this long; 0: no such limit
    };
    // Called from the loop, on the caller's thread. A handler that throws stops the child; the exception
    // goes on from run() once the child has been reaped.
    struct Handlers {
        std::function<void(const QByteArray &line)> line{};   // each line of standard output, without its end
        std::function<void(const QJsonObject &)> json{};      // with it: the lines that are JSON objects
        std::function<void(const char *data, qint64)> data{}; // standard output as it comes, instead of lines
        std::function<void(const QByteArray &line)> error{};  // each line of standard error (with pipeError)
    };
    enum class End {
        Exited,    // it ended by itself
        Stalled,   // stopped: no progress within the limit
        PastLimit, // stopped: past the whole run's limit
        Signal,    // stopped: this program got a signal
        Stopped,   // stopped by the caller (a handler)
        Cancelled, // stopped: the operator asked (cancelRunning)
    };

    // Starts the child; started() says whether it could be.
    Supervisor(const Subprocess::Options &options, Rule rule, Limits limits, Handlers handlers);
    // One still running is stopped by its rule and reaped: never left behind unwaited.
    ~Supervisor();
    Supervisor(const Supervisor &) = delete;
    Supervisor &operator=(const Supervisor &) = delete;

    bool started() const { return m_started; }
    qint64 pid() const { return m_pid; }
    bool ended() const { return m_reaped; }
    // Why it ended (Exited until it was stopped), and its exit code or -(signal) once reaped.
    End end() const { return m_end; }
    int status() const { return m_status; }

    // The child moved (what counts as progress is the caller's to say): the stall limit starts again.
    void progress();
    // Asks it to stop by its rule; why is what end() says afterwards (the first reason stays).
    void stop(End why = End::Stopped);

    // Runs the loop until the child has ended and been reaped; its status. idle, or the ambient one
    // (Idle) when it is empty, is called at least every 100 ms.
    int run(const std::function<void()> &idle = {});

    // One turn over several children at once (health --all): waits for their output at most waitMs
    // (100 at most), hands it on, applies the limits and the signals, reaps the
    // ones that ended, calls idle. A throw from idle stops them all and goes on from here.
    static void turn(const QList<Supervisor *> &children, const std::function<void()> &idle = {},
                     int waitMs = 100);

    // While this lives, the idle function of every loop on this thread that was given none: the window's
    // event processing during an operation. Scopes nest; the innermost applies.
    class Idle {
    public:
        explicit Idle(std::function<void()> idle);
        ~Idle();
        Idle(const Idle &) = delete;
        Idle &operator=(const Idle &) = delete;

        // A call that blocks inside a library with nothing to poll (a service query that waits for the
        // server's next line, a statement waiting on a lock): run on a worker thread while this thread
        // calls the ambient idle function at least every kEveryMs. With no ambient idle function (the
        // command line) it runs here. The call's exception goes on from here; so does one from the idle
        // function, but only once the call has returned: what it works on lives on this thread.
        static void whileBlocked(const std::function<void()> &call);
        // With a step, the operator may stop it as a child with that step: a cancelRunning() while it blocks
        // (not one before it) has cancel asked once, on this thread, and the call is expected to fail soon.
        struct Stop {
            QString step{};
            std::function<void()> cancel{};
        };
        static void whileBlocked(const std::function<void()> &call, const Stop &stop);
        // Calls the ambient idle function when kEveryMs have passed since it last ran on this thread:
        // cheap enough for every row of a loop.
        static void ifDue();
        static constexpr qint64 kEveryMs = 50;

    private:
        std::function<void()> m_previous;
    };

    // The operator's stop, on this thread: every child with a step whose run() loop runs now or starts
    // before clearCancel() is stopped by its rule (End::Cancelled). Children looked at by turn() alone
    // (an archive copy that goes on by itself, the checks of health --all) are not the operation's.
    static void cancelRunning();
    static void clearCancel();
    static bool cancelled();
    // The step of the innermost child the operator may stop whose run() loop runs on this thread; empty
    // when there is none.
    static QString stoppableStep();

private:
    void readAvailable(int &fd, bool isError, bool untilEmpty);
    void takeLines(QByteArray &pending, bool isError, bool all);
    void handLine(const QByteArray &line, bool isError);
    void watch();       // limits, signals, the operator's stop, the kill after the grace
    bool reapIfEnded(); // true once reaped
    void guarded(const std::function<void()> &f);
    void closeAll();

    Rule m_rule;
    Limits m_limits;
    Handlers m_handlers;
    bool m_started = false;
    qint64 m_pid = -1;
    int m_out = -1, m_err = -1;
    QByteArray m_pendingOut, m_pendingErr;
    QElapsedTimer m_clock, m_moved, m_asked;
    End m_end = End::Exited;
    bool m_stopping = false;
    bool m_killed = false;
    bool m_reaped = false;
    int m_status = -1;
    std::exception_ptr m_thrown;
    std::unique_ptr<Signals::Forward> m_forward;
};
