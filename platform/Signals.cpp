#include "platform/Signals.h"

#include <cerrno>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

const int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
int g_pipe[2] = {-1, -1};
std::atomic<int> g_received{0};
// The workers that get the program's signals; a plain array of atomics, as a handler may read it.
constexpr int kForwarded = 16;
std::atomic<long> g_forwarded[kForwarded];
std::atomic<int> g_forwardedAs[kForwarded]; // the signal each gets; 0: the one received

int passedOn(int as, int received) {
    if (as != 0)
        return as;
    return received == SIGHUP ? SIGTERM : received;
}

void forwardAll(int received) {
    for (int i = 0; i < kForwarded; ++i)
        if (const long pid = g_forwarded[i].load(); pid > 0)
            ::kill(pid_t(pid), passedOn(g_forwardedAs[i].load(), received));
}

// What was there before is not called: the client library's handler would shut the library down in a
// thread of its own while this program's thread still uses and frees its handles. The program stops at
// its next step instead, releases what it holds itself, and shuts the library down in its own thread.
void onSignal(int signal, siginfo_t *, void *) {
    const int savedErrno = errno; // the interrupted code may be about to read it
    g_received.store(signal);
    forwardAll(signal);
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

int Signals::install() {
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return -1;
    for (int i = 0; i < 3; ++i) {
        // Again after a library that put its own in place (the client library once loaded): that one
        // becomes the one called first.
        struct sigaction current {};
        ::sigaction(kSignals[i], nullptr, &current);
        if ((current.sa_flags & SA_SIGINFO) && current.sa_sigaction == onSignal)
            continue;
        struct sigaction a {};
        a.sa_sigaction = onSignal;
        a.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&a.sa_mask);
        ::sigaction(kSignals[i], &a, nullptr);
    }
    return g_pipe[0];
}

int Signals::received() {
    return g_received.load();
}

const char *Signals::name(int signal) {
    switch (signal) {
    case SIGTERM:
        return "SIGTERM";
    case SIGINT:
        return "SIGINT";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "?";
    }
}

Signals::Forward::Forward(long pid, int signal) {
    for (int i = 0; i < kForwarded && m_slot < 0; ++i) {
        long free = 0;
        // Reserved first (a handler skips it), then its signal, then its process id.
        if (g_forwarded[i].compare_exchange_strong(free, -1)) {
            g_forwardedAs[i].store(signal);
            g_forwarded[i].store(pid);
            m_slot = i;
        }
    }
    if (const int received = g_received.load(); received != 0 && pid > 0)
        ::kill(pid_t(pid), passedOn(signal, received));
}

Signals::Forward::~Forward() {
    if (m_slot >= 0)
        g_forwarded[m_slot].store(0);
}

bool Signals::forwarding() {
    for (const std::atomic<long> &p : g_forwarded)
        if (p.load() > 0)
            return true;
    return false;
}
