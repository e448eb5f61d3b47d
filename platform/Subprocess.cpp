#include "platform/Subprocess.h"

#include <QFile>

#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <linux/close_range.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace Subprocess {

namespace {

// The program's path as posix_spawnp would find it: as given with a slash, else the first executable of
// that name in PATH (the default path without one).
QByteArray programPath(const QString &program) {
    if (program.contains(QLatin1Char('/')))
        return QFile::encodeName(program);
    const QByteArray path = qgetenv("PATH");
    for (const QByteArray &dir :
         (path.isEmpty() ? QByteArray("/usr/local/bin:/usr/bin:/bin") : path).split(':'))
        if (!dir.isEmpty() && QFileInfo(QFile::decodeName(dir + '/') + program).isExecutable())
            return dir + '/' + QFile::encodeName(program);
    return QFile::encodeName(program);
}

struct ChildSetUp {
    const char *path;
    char *const *argv;
    char *const *envp;
    const char *dir; // nullptr: this process's
    int out, err;    // the write ends to become its 1 and 2, -1 for none
    bool discard, newSession;
    const std::vector<int> &kept;
    pid_t parent;
    int report; // the write end of the pipe that carries exec's errno back
    sigset_t mask;
};

// Between fork and exec: only calls that are safe in a child of a threaded process. Whatever fails
// sends its errno back and ends the child before it ran anything.
[[noreturn]] void sendErrno(int report) {
    const int e = errno;
    (void)!::write(report, &e, sizeof e);
    ::_exit(127);
}

[[noreturn]] void becomeChild(const ChildSetUp &c) {
    auto fail = [&c] { sendErrno(c.report); };
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0)
        fail();
    if (::getppid() != c.parent) // the parent ended before the line above took effect
        ::_exit(127);
    // The program's own handlers (forwarding to its children) must never run here; what it ignores
    // stays ignored, as across posix_spawn.
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN && old.sa_handler != SIG_DFL) {
            struct sigaction dfl {};
            dfl.sa_handler = SIG_DFL;
            ::sigaction(sig, &dfl, nullptr);
        }
    }
    if (c.newSession && ::setsid() < 0)
        fail();
    const int null = ::open("/dev/null", O_RDWR);
    if (null < 0 || ::dup2(null, 0) < 0 || (c.discard && ::dup2(null, 1) < 0))
        fail();
    if (null > 2)
        ::close(null);
    if ((c.out >= 0 && ::dup2(c.out, 1) < 0) || (c.err >= 0 && ::dup2(c.err, 2) < 0))
        fail();
    for (size_t k = 0; k < c.kept.size(); ++k)
        if (::dup2(c.kept[k], int(3 + k)) < 0)
            fail();
    // Nothing else of this process: everything from the last kept one up, the report's pipe aside (it
    // closes on exec).
    const unsigned first = unsigned(3 + c.kept.size()), report = unsigned(c.report);
    if (report > first && ::syscall(SYS_close_range, first, report - 1, 0) != 0)
        fail();
    if (::syscall(SYS_close_range, std::max(first, report + 1), ~0U, 0) != 0)
        fail();
    if (c.dir && ::chdir(c.dir) != 0)
        fail();
    ::sigprocmask(SIG_SETMASK, &c.mask, nullptr);
    ::execve(c.path, c.argv, c.envp);
    sendErrno(c.report);
}

// fork and exec, for a child that must die with this process (posix_spawn cannot ask for that).
pid_t forkChild(ChildSetUp &c) {
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return -1;
    // Above every number the child moves descriptors to, so that no move overwrites it.
    c.report = ::fcntl(report[1], F_DUPFD_CLOEXEC, 64);
    ::close(report[1]);
    if (c.report < 0) {
        ::close(report[0]);
        return -1;
    }
    // No signal handler of ours runs in the child before it has put the defaults back.
    sigset_t all;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &c.mask);
    const pid_t pid = ::fork();
    if (pid == 0)
        becomeChild(c);
    const int forkErr = errno;
    ::pthread_sigmask(SIG_SETMASK, &c.mask, nullptr);
    ::close(c.report);
    if (pid < 0) {
        ::close(report[0]);
        errno = forkErr;
        return -1;
    }
    int childErr = 0;
    ssize_t n;
    while ((n = ::read(report[0], &childErr, sizeof childErr)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    if (n > 0) { // it never ran the program
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        errno = childErr;
        return -1;
    }
    return pid;
}

} // namespace

Child spawn(const Options &o) {
    std::vector<QByteArray> bytes{QFile::encodeName(o.program)};
    for (const QString &a : o.arguments)
        bytes.push_back(QFile::encodeName(a));
    std::vector<char *> argv;
    for (QByteArray &b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    const QByteArray dir = QFile::encodeName(o.workingDirectory);

    std::vector<QByteArray> envBytes;
    for (char **e = environ; *e; ++e) {
        const QByteArray entry(*e);
        const QByteArray name = entry.left(entry.indexOf('=') + 1);
        bool replaced = !o.passedOn.isEmpty();
        for (const QString &passed : o.passedOn)
            if (passed.endsWith(QLatin1Char('*')) ? name.startsWith(passed.chopped(1).toLocal8Bit())
                                                  : name == passed.toLocal8Bit() + '=')
                replaced = false;
        for (const QString &mine : o.environment)
            replaced = replaced || mine.toLocal8Bit().startsWith(name);
        if (!replaced)
            envBytes.push_back(entry);
    }
    for (const QString &mine : o.environment)
        envBytes.push_back(mine.toLocal8Bit());
    std::vector<char *> envp;
    for (QByteArray &b : envBytes)
        envp.push_back(b.data());
    envp.push_back(nullptr);

    int out[2] = {-1, -1}, err[2] = {-1, -1};
    if (o.output == Output::Pipe && ::pipe2(out, O_CLOEXEC) != 0)
        return {};
    if (o.pipeError && ::pipe2(err, O_CLOEXEC) != 0) {
        for (int fd : out)
            if (fd >= 0)
                ::close(fd);
        return {};
    }
    // The same open file as the caller's: a lock on it lasts until the child ends too. Each is first
    // copied above the numbers it goes to, so that no move overwrites a descriptor still to be moved.
    std::vector<int> kept;
    if (o.keptDescriptor >= 0) {
        kept.push_back(::fcntl(o.keptDescriptor, F_DUPFD_CLOEXEC, 64));
        for (int fd : o.moreKept)
            kept.push_back(::fcntl(fd, F_DUPFD_CLOEXEC, 64));
    }
    auto closeOurs = [&] {
        for (int fd : {out[1], err[1]})
            if (fd >= 0)
                ::close(fd);
        for (int fd : kept)
            if (fd >= 0)
                ::close(fd);
    };
    auto fail = [&] {
        const int e = errno;
        for (int fd : {out[0], err[0]})
            if (fd >= 0)
                ::close(fd);
        errno = e;
        return Child{};
    };
    if (o.dieWithParent) {
        const QByteArray path = programPath(o.program);
        ChildSetUp c{path.constData(),
                     argv.data(),
                     envp.data(),
                     dir.isEmpty() ? nullptr : dir.constData(),
                     out[1],
                     err[1],
                     o.output == Output::Discard,
                     o.newSession,
                     kept,
                     ::getpid(),
                     -1,
                     {}};
        const bool keptOk = std::all_of(kept.begin(), kept.end(), [](int fd) { return fd >= 0; });
        const pid_t pid = keptOk ? forkChild(c) : -1;
        const int e = errno;
        closeOurs();
        errno = e;
        if (pid < 0)
            return fail();
        return {qint64(pid), out[0], err[0]};
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    bool ok = posix_spawn_file_actions_init(&actions) == 0;
    ok = ok && posix_spawnattr_init(&attr) == 0;
    ok = ok && posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0;
    if (o.output == Output::Discard)
        ok = ok && posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0) == 0;
    if (o.output == Output::Pipe)
        ok = ok && posix_spawn_file_actions_adddup2(&actions, out[1], 1) == 0;
    if (o.pipeError)
        ok = ok && posix_spawn_file_actions_adddup2(&actions, err[1], 2) == 0;
    for (size_t k = 0; k < kept.size(); ++k)
        ok = ok && kept[k] >= 0 && posix_spawn_file_actions_adddup2(&actions, kept[k], int(3 + k)) == 0;
    ok = ok && posix_spawn_file_actions_addclosefrom_np(&actions, int(3 + kept.size())) == 0;
    if (!dir.isEmpty())
        ok = ok && posix_spawn_file_actions_addchdir_np(&actions, dir.constData()) == 0;
    if (o.newSession)
        ok = ok && posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID) == 0;
    pid_t pid = -1;
    if (ok)
        ok = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), envp.data()) == 0;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    closeOurs();
    if (!ok)
        return fail();
    return {qint64(pid), out[0], err[0]};
}

QString selfExecutable() {
    return QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
}

int wait(qint64 pid) {
    int status = 0;
    while (::waitpid(pid_t(pid), &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
}

} // namespace Subprocess
