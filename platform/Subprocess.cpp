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

Child spawn(const Options &o)
{
    std::vector<QByteArray> bytes{QFile::encodeName(o.program)};
    for (const QString &a : o.arguments)
        bytes.push_back(QFile::encodeName(a));
    std::vector<char *> argv;
    for (QByteArray &b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    const QByteArray dir = QFile::encodeName(o.workingDirectory);

    int out[2] = {-1, -1};
    if (o.output == Output::Pipe && ::pipe2(out, O_CLOEXEC) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    bool ok = posix_spawn_file_actions_init(&actions) == 0;
    ok = ok && posix_spawnattr_init(&attr) == 0;
    ok = ok && posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0;
    if (o.output == Output::Discard)
        ok = ok && posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0) == 0;
    if (o.output == Output::Pipe)
        ok = ok && posix_spawn_file_actions_adddup2(&actions, out[1], 1) == 0;
    // The same open file as the caller's: a lock on it lasts until the child ends too.
    if (o.keptDescriptor >= 0)
        ok = ok && posix_spawn_file_actions_adddup2(&actions, o.keptDescriptor, 3) == 0;
    ok = ok && posix_spawn_file_actions_addclosefrom_np(&actions, o.keptDescriptor >= 0 ? 4 : 3) == 0;
    if (!dir.isEmpty())
        ok = ok && posix_spawn_file_actions_addchdir_np(&actions, dir.constData()) == 0;
    if (o.newSession)
        ok = ok && posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID) == 0;
    pid_t pid = -1;
    if (ok)
        ok = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (out[1] >= 0)
        ::close(out[1]);
    if (!ok) {
        if (out[0] >= 0)
            ::close(out[0]);
        return {};
    }
    return {qint64(pid), out[0]};
}

Child start(const QString &program, const QStringList &arguments)
{
    return spawn({program, arguments, QString(), Output::Pipe, -1, true});
}

QString selfExecutable()
{
    return QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
}

int wait(qint64 pid)
{
    int status = 0;
    while (::waitpid(pid_t(pid), &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
}

} // namespace Subprocess
