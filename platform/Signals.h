#pragma once

#include <csignal>

// SIGTERM, SIGINT and SIGHUP for a program that ends itself in order. The client library installs
// handlers of its own for the first two once it is loaded (they shut the library down in a thread of its
// own while the program goes on): these are installed after it, in its place, and tell the program
// through a descriptor it can watch; the program's own end shuts the library down
// (FbClient::endAfterSignal), which aborts what the embedded engine still runs.
namespace Signals {

// Installs the handlers; the reading end of a pipe that gets one byte per signal received. Called first
// thing in main (loading the client library puts them back in front of its own, FbClient::load); a later
// call puts them back where another's took their place and returns the same pipe.
int install();
// The last signal received, 0 before any.
int received();
// "SIGTERM", "SIGINT", "SIGHUP".
const char *name(int signal);

// A child gets, as signal (0: as received, SIGHUP as SIGTERM), every signal the program receives while
// this lives: it is asked to stop cleanly, and whoever ends the program waits for it (forwarding() says
// whether one is registered). A signal that came before is forwarded at once.
class Forward {
public:
    explicit Forward(long pid, int signal = SIGINT);
    ~Forward();
    Forward(const Forward &) = delete;
    Forward &operator=(const Forward &) = delete;

private:
    int m_slot = -1;
};
bool forwarding();

} // namespace Signals
