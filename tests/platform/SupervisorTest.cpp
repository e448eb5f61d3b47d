// The one supervisor of child processes, on small shell children: its stop rule and timing, its idle
// calls while a child says nothing, the descriptors, and a signal to the program passed on.
#include "platform/Supervisor.h"
#include "platform/Signals.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace {

Subprocess::Options shell(const char *script) {
    return {.program = QStringLiteral("sh"),
            .arguments = {QStringLiteral("-c"), QString::fromLatin1(script)},
            .output = Subprocess::Output::Pipe,
            .pipeError = true};
}

int openDescriptors() {
    return int(
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
}

} // namespace

TEST(Supervisor, AsksPolitelyThenKillsAfterTheGrace) {
    struct Case {
        const char *script;
        int status;
        qint64 atLeastMs, atMostMs;
    };
    // One that ends on the polite signal at once; one that ignores it and is killed past the grace (400 ms).
    for (const Case &c : {Case{"echo ready; exec sleep 30", -SIGINT, 0, 300},
                          Case{"trap '' INT; echo ready; exec sleep 30", -SIGKILL, 400, 2000}}) {
        Supervisor *self = nullptr;
        QElapsedTimer asked;
        Supervisor child(shell(c.script), {SIGINT, 400}, {}, {.line = [&](const QByteArray &l) {
                             if (l == "ready") {
                                 asked.start();
                                 self->stop();
                             }
                         }});
        self = &child;
        ASSERT_TRUE(child.started());
        EXPECT_EQ(child.run(), c.status) << c.script;
        EXPECT_TRUE(asked.isValid());
        EXPECT_GE(asked.elapsed(), c.atLeastMs) << c.script;
        EXPECT_LE(asked.elapsed(), c.atMostMs) << c.script;
        EXPECT_EQ(child.end(), Supervisor::End::Stopped);
    }
}

TEST(Supervisor, ASilentChildStillGetsIdleCallsAndIsGivenUpWithoutProgress) {
    QElapsedTimer clock, sinceIdle;
    clock.start();
    qint64 longestGap = 0;
    int calls = 0;
    Supervisor child(shell("exec sleep 30"), {SIGINT, 1000}, {.stallMs = 700}, {});
    ASSERT_TRUE(child.started());
    child.run([&] {
        if (sinceIdle.isValid())
            longestGap = std::max(longestGap, sinceIdle.elapsed());
        sinceIdle.start();
        ++calls;
    });
    EXPECT_EQ(child.end(), Supervisor::End::Stalled);
    EXPECT_EQ(child.status(), -SIGINT);
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_GE(calls, 6);
    EXPECT_LE(longestGap, 150);
}

TEST(Supervisor, NoDescriptorOfOursInTheChildAndNoneLeftAfterIt) {
    const int held = ::open("/proc/self/exe", O_RDONLY); // as the engine opens its files: no close-on-exec
    ASSERT_GE(held, 3);
    const int lock = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(lock, 3);
    const int before = openDescriptors();
    // Started by posix_spawn, and by fork and exec for a child that dies with its parent.
    for (const bool dieWithParent : {false, true}) {
        QSet<QByteArray> inChild;
        QByteArray errors;
        {
            // ls's own directory descriptor is the 4 it lists; the kept lock is its 3
            Subprocess::Options o = shell("ls /proc/self/fd; echo oops >&2");
            o.keptDescriptor = lock;
            o.dieWithParent = dieWithParent;
            Supervisor child(o, {}, {},
                             {.line = [&](const QByteArray &l) { inChild << l; },
                              .error = [&](const QByteArray &l) { errors += l; }});
            EXPECT_EQ(child.run(), 0);
        }
        EXPECT_EQ(inChild, QSet<QByteArray>({"0", "1", "2", "3", "4"})) << dieWithParent;
        EXPECT_EQ(errors, QByteArray("oops")) << dieWithParent;
        EXPECT_EQ(openDescriptors(), before) << dieWithParent;
    }
    ::close(held);
    ::close(lock);
    // Either way a program or working folder that is not there fails at the start, leaving nothing open.
    for (const bool dieWithParent : {false, true})
        for (const auto &[program, folder] :
             {std::pair("/nonexistent/arj", ""), std::pair("sh", "/nonexistent")}) {
            Subprocess::Options o = shell("exit 0");
            o.program = QString::fromLatin1(program);
            o.workingDirectory = QString::fromLatin1(folder);
            o.dieWithParent = dieWithParent;
            Supervisor child(o, {}, {}, {});
            EXPECT_FALSE(child.started()) << program << folder << dieWithParent;
            EXPECT_EQ(openDescriptors(), before - 2);
        }
}

TEST(Supervisor, ASignalToTheProgramReachesTheChildAsItsPoliteSignal) {
    // In a process of its own: the signal stays received for the rest of that process's life.
    EXPECT_EXIT(
        {
            Signals::install();
            QByteArray said;
            Supervisor child(
                shell("trap 'echo stopping; exit 7' INT; echo ready; while :; do sleep 0.05; done"),
                {SIGINT, 5000}, {}, {.line = [&](const QByteArray &l) {
                    said += l + ' ';
                    if (l == "ready")
                        ::raise(SIGTERM);
                }});
            const int status = child.run();
            ::_exit(status == 7 && child.end() == Supervisor::End::Signal && said == "ready stopping " ? 0
                                                                                                       : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(SupervisorIdle, ACallBlockedInTheKernelRunsOnAWorkerWhileThisThreadIdles) {
    // The call blocks in a read that another thread satisfies after 600 ms.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::thread writer([&] {
        ::usleep(600 * 1000);
        ASSERT_EQ(::write(fds[1], "x", 1), 1);
    });
    const std::thread::id here = std::this_thread::get_id();
    std::thread::id callThread;
    QElapsedTimer clock, sinceIdle;
    qint64 longestGap = 0;
    int calls = 0;
    {
        const Supervisor::Idle idle([&] {
            EXPECT_EQ(std::this_thread::get_id(), here);
            if (sinceIdle.isValid())
                longestGap = std::max(longestGap, sinceIdle.elapsed());
            sinceIdle.start();
            ++calls;
        });
        clock.start();
        Supervisor::Idle::whileBlocked([&] {
            callThread = std::this_thread::get_id();
            char c = 0;
            EXPECT_EQ(::read(fds[0], &c, 1), 1);
        });
    }
    writer.join();
    ::close(fds[0]);
    ::close(fds[1]);
    EXPECT_GE(clock.elapsed(), 550);
    EXPECT_NE(callThread, here);
    EXPECT_GE(calls, 6);
    EXPECT_LE(longestGap, 150);

    // Without an idle function (the command line) the call runs on the caller's thread.
    Supervisor::Idle::whileBlocked([&] { callThread = std::this_thread::get_id(); });
    EXPECT_EQ(callThread, here);
}

TEST(SupervisorIdle, ErrorsComeBackAfterTheCallHasEnded) {
    const Supervisor::Idle idle([] {});
    EXPECT_THROW(Supervisor::Idle::whileBlocked([] { throw std::runtime_error("engine"); }),
                 std::runtime_error);

    // An idle function that throws: the call still runs to its end before the error goes on.
    std::atomic<bool> callEnded = false;
    {
        const Supervisor::Idle failing([] { throw std::logic_error("idle"); });
        EXPECT_THROW(Supervisor::Idle::whileBlocked([&] {
                         ::usleep(300 * 1000);
                         callEnded = true;
                     }),
                     std::logic_error);
    }
    EXPECT_TRUE(callEnded);

    // A loop over rows gives the idle function its turn when it is due, not on every row.
    int calls = 0;
    qint64 shortestGap = Supervisor::Idle::kEveryMs;
    QElapsedTimer clock, sinceCall;
    const Supervisor::Idle counting([&] {
        if (sinceCall.isValid())
            shortestGap = std::min(shortestGap, sinceCall.elapsed());
        sinceCall.start();
        ++calls;
    });
    clock.start();
    while (clock.elapsed() < 400)
        Supervisor::Idle::ifDue();
    EXPECT_GE(calls, 3);
    EXPECT_GE(shortestGap, Supervisor::Idle::kEveryMs);
}

TEST(SupervisorIdle, TheOperatorsStopWhileTheCallBlocksCancelsItOnceAnEarlierOneNot) {
    int cancels = 0, idleCalls = 0;
    QString stepSeen;
    std::atomic<bool> cancelled = false;
    const Supervisor::Idle idle([&] {
        stepSeen = Supervisor::stoppableStep();
        if (++idleCalls == 3)
            Supervisor::cancelRunning(); // Esc, answered yes
    });
    const Supervisor::Idle::Stop stop{QStringLiteral("wykonywanie polecenia"), [&] {
                                          ++cancels;
                                          cancelled = true;
                                      }};
    QElapsedTimer clock;
    clock.start();
    Supervisor::Idle::whileBlocked(
        [&] {
            while (!cancelled && clock.elapsed() < 3000)
                ::usleep(1000);
        },
        stop);
    EXPECT_EQ(cancels, 1);
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(stepSeen, QStringLiteral("wykonywanie polecenia"));
    EXPECT_EQ(Supervisor::stoppableStep(), QString());

    // The clean-up after the stopped step runs to its end: the stop was asked before it.
    bool ended = false;
    Supervisor::Idle::whileBlocked(
        [&] {
            ::usleep(300 * 1000);
            ended = true;
        },
        stop);
    EXPECT_TRUE(ended);
    EXPECT_EQ(cancels, 1);
    Supervisor::clearCancel();
}
