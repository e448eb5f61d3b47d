#include "platform/Subprocess.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace Subprocess {

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
    // The same open file as the caller's: a lock on it lasts until the child ends too. Each is first
    // copied above the numbers it goes to, so that no move overwrites a descriptor still to be moved.
    std::vector<int> kept;
    if (o.keptDescriptor >= 0) {
        kept.push_back(::fcntl(o.keptDescriptor, F_DUPFD_CLOEXEC, 64));
        for (int fd : o.moreKept)
            kept.push_back(::fcntl(fd, F_DUPFD_CLOEXEC, 64));
    }
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
    for (int fd : {out[1], err[1]})
        if (fd >= 0)
            ::close(fd);
    for (int fd : kept)
        if (fd >= 0)
            ::close(fd);
    if (!ok) {
        for (int fd : {out[0], err[0]})
            if (fd >= 0)
                ::close(fd);
        return {};
    }
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
