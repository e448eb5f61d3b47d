// qkadmin-cli: the administration operations for schedulers and scripts, with no window.
#include "backup/RestoreWorker.h"
#include "cli/Command.h"
#include "cli/Summary.h"
#include "db/FbClient.h"
#include "platform/Signals.h"

#include <QCoreApplication>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <poll.h>
#include <thread>

namespace {

void sayInterrupted() {
    std::fprintf(stderr, "qkadmin-cli: przerwano sygnałem %s\n", Signals::name(Signals::received()));
}

// A signal ends the run as a failure: the operation stops at its next step (the terminal operator
// throws), and a run held in one long server call is ended after a grace period with the same summary
// line (its connections and services are dropped with the process, as a crash would).
void watchSignals(int fd, const QString &command, const Cli::Produced &produced) {
    if (fd < 0)
        return;
    // The thread keeps copies: main's own may change meanwhile, or be gone once main has returned.
    std::thread([fd, command, produced] {
        pollfd p{fd, POLLIN, 0};
        while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
        }
        std::this_thread::sleep_for(std::chrono::seconds(3));
        // A worker that got the signal is waited for (it stops its engine and removes its file), up
        // to the half minute after which its parent kills it.
        if (Signals::forwarding()) {
            for (int i = 0; Signals::forwarding() && i < 400; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            std::this_thread::sleep_for(std::chrono::seconds(1)); // the run's own end after it
        }
        sayInterrupted();
        // A health check that could not end has judged nothing: UNKNOWN, as monitoring reads it.
        const bool health = command == QLatin1String("health");
        Cli::Produced said = produced;
        if (health)
            said.result = QStringLiteral("unknown");
        const int rc = health ? 3 : Cli::Failure;
        Cli::Summary::print(command, rc, said);
        std::fflush(nullptr);
        ::_exit(rc);
    }).detach();
}

} // namespace

int main(int argc, char **argv) {
    // The embedded engine's restore runs in this same program, started again as a worker.
    if (const int rc = RestoreWorker::runIfAsked(argc, argv); rc >= 0)
        return rc;
    // Before anything can change: a signal from now on is noted, never the default death (exit 143, no
    // summary). The operation stops at its next step; the watch starts once the command is known.
    Signals::install();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qkadmin-cli"));
    Cli::Summary::start();
    QString command;
    Cli::Produced produced;
    Cli::Context context{QString(), stdout, stderr, produced};
    // The watch starts once the client library is loaded (which leaves these handlers in front of its own).
    context.clientLoaded = [&] { watchSignals(Signals::install(), command, produced); };
    int rc = Cli::Failure;
    try {
        rc = Cli::run(app.arguments(), context, command);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "qkadmin-cli: %s\n", e.what());
    }
    // A run whose work was done before the signal said so, and what was not finished, itself.
    if (Signals::received() && rc != Cli::Unfinished) {
        sayInterrupted();
        rc = command == QLatin1String("health") ? 3 : Cli::Failure;
    }
    const QStringList args = app.arguments();
    if (!args.contains(QStringLiteral("--help")) && !args.contains(QStringLiteral("-h")))
        Cli::Summary::print(command, rc, produced);
    if (Signals::received())
        FbClient::endAfterSignal(rc);
    return rc;
}
