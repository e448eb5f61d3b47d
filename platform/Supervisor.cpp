#include "platform/Supervisor.h"

#include "platform/Signals.h"

#include <QJsonDocument>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// Per thread: the window's idle function and its operator's stop never reach a loop on another thread
// (the off-site state read in the background).
thread_local std::function<void()> g_idle; // the ambient idle function (Supervisor::Idle)
thread_local QElapsedTimer g_idleRan;      // since the ambient function last ran (whileBlocked, ifDue)
thread_local bool g_inIdle = false;        // ifDue from within it does not call it again
thread_local bool g_cancel = false;
thread_local quint64 g_cancelRequests =
    0;                            // how often the operator asked: a blocked call heeds only later ones
thread_local QStringList g_steps; // the steps of the run() loops that run, innermost last

// The idle function is called every turn, but not more often than this while output pours in.
constexpr qint64 kIdleEveryMs = 20;

void nonBlocking(int fd) {
    if (fd >= 0)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

} // namespace

Supervisor::Supervisor(const Subprocess::Options &options, Rule rule, Limits limits, Handlers handlers)
    : m_rule(rule), m_limits(limits), m_handlers(std::move(handlers)) {
    const Subprocess::Child child = Subprocess::spawn(options);
    if (child.pid < 0)
        return;
    m_started = true;
    m_pid = child.pid;
    m_out = child.output;
    m_err = child.error;
    nonBlocking(m_out);
    nonBlocking(m_err);
    m_clock.start();
    m_moved.start();
    if (!rule.alone)
        m_forward = std::make_unique<Signals::Forward>(m_pid, rule.passOnAsReceived ? 0 : rule.signal);
}

Supervisor::~Supervisor() {
    if (!m_started || m_reaped)
        return;
    stop(End::Stopped);
    while (!reapIfEnded()) {
        pollfd p[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
        ::poll(p, 2, 20);
        readAvailable(m_out, false, false);
        readAvailable(m_err, true, false);
        watch();
    }
}

void Supervisor::progress() {
    m_moved.restart();
}

void Supervisor::stop(End why) {
    if (!m_started || m_reaped || m_stopping)
        return;
    m_end = why;
    m_stopping = true;
    m_asked.start();
    // A signal to this program has already reached it from the handler (Signals::Forward): a second
    // request could cut its own clean stop short.
    if (why != End::Signal)
        ::kill(pid_t(m_pid), m_rule.signal);
}

void Supervisor::guarded(const std::function<void()> &f) {
    if (m_thrown)
        return;
    try {
        f();
    } catch (...) {
        m_thrown = std::current_exception();
        stop(End::Stopped);
    }
}

void Supervisor::handLine(const QByteArray &line, bool isError) {
    if (isError) {
        if (m_handlers.error)
            guarded([&] { m_handlers.error(line); });
        return;
    }
    if (m_handlers.json && line.startsWith('{')) {
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        if (doc.isObject()) {
            guarded([&] { m_handlers.json(doc.object()); });
            return;
        }
    }
    if (m_handlers.line)
        guarded([&] { m_handlers.line(line); });
}

void Supervisor::takeLines(QByteArray &pending, bool isError, bool all) {
    qsizetype start = 0, end;
    while ((end = pending.indexOf('\n', start)) >= 0) {
        handLine(pending.mid(start, end - start), isError);
        start = end + 1;
    }
    pending.remove(0, start);
    if (all && !pending.isEmpty()) {
        const QByteArray rest = std::exchange(pending, {});
        handLine(rest, isError);
    }
}

void Supervisor::readAvailable(int &fd, bool isError, bool untilEmpty) {
    char buf[65536];
    while (fd >= 0) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (n <= 0) {
            ::close(fd);
            fd = -1;
            takeLines(isError ? m_pendingErr : m_pendingOut, isError, true);
            return;
        }
        if (!isError && m_handlers.data) {
            guarded([&] { m_handlers.data(buf, n); });
        } else {
            QByteArray &pending = isError ? m_pendingErr : m_pendingOut;
            pending.append(buf, n);
            takeLines(pending, isError, false);
        }
        if (!untilEmpty)
            return;
    }
}

void Supervisor::watch() {
    if (!m_started || m_reaped)
        return;
    if (m_stopping) {
        if (!m_killed && m_asked.elapsed() > m_rule.graceMs) {
            ::kill(pid_t(m_pid), SIGKILL);
            m_killed = true;
        }
        return;
    }
    if (Signals::received() != 0 && !m_rule.alone)
        stop(End::Signal);
    else if (m_limits.stallMs > 0 && m_moved.elapsed() > m_limits.stallMs)
        stop(End::Stalled);
    else if (m_limits.totalMs > 0 && m_clock.elapsed() > m_limits.totalMs)
        stop(End::PastLimit);
}

bool Supervisor::reapIfEnded() {
    if (!m_started || m_reaped)
        return true;
    siginfo_t info{};
    if (::waitid(P_PID, id_t(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        if (errno == EINTR)
            return false;
    } else if (info.si_pid == 0) {
        return false;
    }
    // The signals stop going to its process id first: the system may give it to another once reaped.
    m_forward.reset();
    // What it wrote before it ended; a process it left behind that still holds the pipes is not waited for.
    readAvailable(m_out, false, true);
    readAvailable(m_err, true, true);
    takeLines(m_pendingOut, false, true);
    takeLines(m_pendingErr, true, true);
    closeAll();
    m_status = Subprocess::wait(m_pid);
    m_reaped = true;
    return true;
}

void Supervisor::closeAll() {
    for (int *fd : {&m_out, &m_err})
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
}

void Supervisor::turn(const QList<Supervisor *> &children, const std::function<void()> &idle, int waitMs) {
    std::vector<pollfd> fds;
    std::vector<std::pair<Supervisor *, bool>> owners;
    bool withoutOutput = false;
    for (Supervisor *c : children) {
        if (!c->m_started || c->m_reaped)
            continue;
        for (const bool isError : {false, true})
            if (const int fd = isError ? c->m_err : c->m_out; fd >= 0) {
                fds.push_back({fd, POLLIN, 0});
                owners.emplace_back(c, isError);
            }
        withoutOutput = withoutOutput || (c->m_out < 0 && c->m_err < 0);
    }
    // A child whose output is not piped is looked at more often: its end shows only in waitid.
    const int wait = std::clamp(withoutOutput ? std::min(waitMs, 20) : waitMs, 0, 100);
    if (::poll(fds.data(), nfds_t(fds.size()), wait) > 0)
        for (size_t i = 0; i < fds.size(); ++i)
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                Supervisor *c = owners[i].first;
                c->readAvailable(owners[i].second ? c->m_err : c->m_out, owners[i].second, false);
            }
    for (Supervisor *c : children) {
        c->watch();
        c->reapIfEnded();
    }
    thread_local QElapsedTimer lastIdle;
    const std::function<void()> &call = idle ? idle : g_idle;
    if (call && (!lastIdle.isValid() || lastIdle.elapsed() >= kIdleEveryMs)) {
        lastIdle.start();
        try {
            call();
        } catch (...) {
            for (Supervisor *c : children)
                c->stop(End::Stopped);
            throw;
        }
    }
}

int Supervisor::run(const std::function<void()> &idle) {
    if (!m_started)
        return -1;
    const bool stoppable = !m_rule.step.isEmpty();
    if (stoppable)
        g_steps << m_rule.step;
    while (!m_reaped) {
        if (g_cancel && stoppable)
            stop(End::Cancelled);
        try {
            if (m_thrown) // the idle function too is not called again after a throw
                turn({this}, [] {});
            else
                turn({this}, idle);
        } catch (...) {
            m_thrown = std::current_exception();
        }
    }
    if (stoppable)
        g_steps.removeLast();
    if (m_thrown)
        std::rethrow_exception(std::exchange(m_thrown, nullptr));
    return m_status;
}

Supervisor::Idle::Idle(std::function<void()> idle) : m_previous(std::exchange(g_idle, std::move(idle))) {}

Supervisor::Idle::~Idle() {
    g_idle = std::move(m_previous);
}

namespace {

void runAmbientIdle() {
    const bool outer = !g_inIdle;
    g_inIdle = true;
    const auto done = qScopeGuard([outer] {
        if (outer)
            g_inIdle = false;
        g_idleRan.start();
    });
    g_idle();
}

} // namespace

void Supervisor::Idle::ifDue() {
    if (!g_idle || g_inIdle)
        return;
    if (g_idleRan.isValid() && g_idleRan.elapsed() < kEveryMs)
        return;
    runAmbientIdle();
}

void Supervisor::Idle::whileBlocked(const std::function<void()> &call) {
    whileBlocked(call, Stop{});
}

void Supervisor::Idle::whileBlocked(const std::function<void()> &call, const Stop &stop) {
    if (!g_idle) {
        call();
        return;
    }
    const bool stoppable = !stop.step.isEmpty() && stop.cancel;
    if (stoppable)
        g_steps.append(stop.step);
    const auto stepDone = qScopeGuard([stoppable] {
        if (stoppable)
            g_steps.removeLast();
    });
    // A stop asked before this call (of an off-site step earlier in the operation) is not this call's:
    // the clean-up after a stopped step must still run its statements.
    const quint64 requestsBefore = g_cancelRequests;
    bool cancelAsked = false;
    struct State {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
        std::exception_ptr thrown;
    } state;
    std::thread worker([&state, &call] {
        std::exception_ptr thrown;
        try {
            call();
        } catch (...) {
            thrown = std::current_exception();
        }
        const std::lock_guard lock(state.mutex);
        state.thrown = thrown;
        state.done = true;
        state.ended.notify_one();
    });
    std::exception_ptr idleThrew;
    std::unique_lock lock(state.mutex);
    while (!state.done) {
        // The idle function itself may take a while (the window's events, 50 ms at most): it runs
        // unlocked, and the wait between two of its calls is what is left of the interval.
        if (state.ended.wait_for(lock, std::chrono::milliseconds(kEveryMs / 2), [&] { return state.done; }))
            break;
        if (idleThrew)
            continue;
        lock.unlock();
        try {
            runAmbientIdle();
        } catch (...) {
            idleThrew = std::current_exception();
        }
        lock.lock();
        // The operator's stop (Esc in the idle call), unless the call has ended meanwhile.
        if (stoppable && g_cancelRequests != requestsBefore && !cancelAsked && !state.done && !idleThrew) {
            cancelAsked = true;
            lock.unlock();
            try {
                stop.cancel();
            } catch (...) {
                idleThrew = std::current_exception();
            }
            lock.lock();
        }
    }
    lock.unlock();
    worker.join();
    if (idleThrew)
        std::rethrow_exception(idleThrew);
    if (state.thrown)
        std::rethrow_exception(state.thrown);
}

void Supervisor::cancelRunning() {
    g_cancel = true;
    ++g_cancelRequests;
}

void Supervisor::clearCancel() {
    g_cancel = false;
}

bool Supervisor::cancelled() {
    return g_cancel;
}

QString Supervisor::stoppableStep() {
    return g_steps.isEmpty() ? QString() : g_steps.last();
}
