#include "platform/Archiver.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTimer>

#ifdef Q_OS_WIN
#include <QProcess>
#else
#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>
extern char **environ;
#endif

namespace {

bool startAndWatch(const Archiver::Launch &l, Archiver::Finished finished)
{
    const qint64 pid = Archiver::spawn(l);
    if (pid < 0)
        return false;
    Archiver::watch(pid, std::move(finished));
    return true;
}

std::function<bool(const Archiver::Launch &, Archiver::Finished)> &launcher()
{
    static std::function<bool(const Archiver::Launch &, Archiver::Finished)> f = startAndWatch;
    return f;
}

#ifndef Q_OS_WIN
// The exit code of a waited-for status; -1 for a process that was killed.
int exitCode(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

} // namespace

Archiver::Launch Archiver::command(const QStringList &arguments, const QString &workingDirectory)
{
#ifdef Q_OS_WIN
    return {QStringLiteral("cmd.exe"), QStringList{QStringLiteral("/c"), QStringLiteral("arj.exe")} + arguments,
            workingDirectory};
#else
    return {QStringLiteral("arj"), arguments, workingDirectory};
#endif
}

QString Archiver::archiveFileName(const QString &stamp)
{
#ifdef Q_OS_WIN
    return stamp + QStringLiteral(".ARJ");
#else
    return stamp + QStringLiteral(".arj"); // Debian's arj names its archives in lower case
#endif
}

bool Archiver::isArchiveCopyName(const QString &fileName)
{
    static const QRegularExpression stamped(QStringLiteral("^[0-9]{8}\\.arj$"), QRegularExpression::CaseInsensitiveOption);
    return stamped.match(fileName).hasMatch();
}

bool Archiver::launch(const QStringList &arguments, const QString &workingDirectory, Finished finished, int heldLock)
{
    Launch l = command(arguments, workingDirectory);
    l.heldLock = heldLock;
    return launcher()(l, std::move(finished));
}

int Archiver::run(const QStringList &arguments, const QString &workingDirectory)
{
#ifdef Q_OS_WIN
    const Launch l = command(arguments, workingDirectory);
    QProcess p;
    p.setWorkingDirectory(l.workingDirectory);
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(l.program, l.arguments);
    if (!p.waitForStarted() || !p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit)
        return -1;
    return p.exitCode();
#else
    const qint64 pid = spawn(command(arguments, workingDirectory), Output::Discard);
    if (pid < 0)
        return -1;
    int status = 0;
    while (waitpid(pid_t(pid), &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return exitCode(status);
#endif
}

qint64 Archiver::spawn(const Launch &l, Output output)
{
#ifdef Q_OS_WIN
    Q_UNUSED(output);
    qint64 pid = -1;
    return QProcess::startDetached(l.program, l.arguments, l.workingDirectory, &pid) ? pid : -1;
#else
    std::vector<QByteArray> bytes{QFile::encodeName(l.program)};
    for (const QString &a : l.arguments)
        bytes.push_back(QFile::encodeName(a));
    std::vector<char *> argv;
    for (QByteArray &b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    const QByteArray dir = QFile::encodeName(l.workingDirectory);

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return -1;
    // Nobody answers the archiver's questions; its progress, drawn with backspaces, is no log's business.
    bool ok = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0;
    if (ok && output == Output::Discard)
        ok = posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0) == 0;
    // A lock the archiver holds for the program: the same open file, so the lock lasts until it ends.
    if (l.heldLock >= 0)
        ok = ok && posix_spawn_file_actions_adddup2(&actions, l.heldLock, 3) == 0;
    ok = ok && posix_spawn_file_actions_addclosefrom_np(&actions, l.heldLock >= 0 ? 4 : 3) == 0;
    if (ok && !dir.isEmpty())
        ok = posix_spawn_file_actions_addchdir_np(&actions, dir.constData()) == 0;
    pid_t pid = -1;
    // A missing program or working directory fails here: the child reports the failed exec.
    if (ok)
        ok = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    return ok ? qint64(pid) : -1;
#endif
}

void Archiver::watch(qint64 pid, Finished finished)
{
#ifdef Q_OS_WIN
    Q_UNUSED(pid);
    Q_UNUSED(finished); // detached on Windows: nobody is told
#else
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return; // no event loop to tell: the process is left to itself
    // Polled from the event loop, so the window stays responsive; the timer also reaps the process.
    auto *timer = new QTimer(app);
    timer->setInterval(100);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, pid, finished = std::move(finished)] {
        int status = 0;
        const pid_t r = waitpid(pid_t(pid), &status, WNOHANG);
        if (r == 0 || (r < 0 && errno == EINTR))
            return;
        timer->stop();
        timer->deleteLater();
        if (finished)
            finished(r == pid_t(pid) ? exitCode(status) : -1);
    });
    timer->start();
#endif
}

void Archiver::setLauncher(std::function<bool(const Launch &, Finished)> l)
{
    launcher() = l ? std::move(l) : startAndWatch;
}
