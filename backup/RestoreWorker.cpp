#include "backup/RestoreWorker.h"

#include "core/MainD.h"
#include "core/ServiceRun.h"
#include "db/Services.h"
#include "platform/Errors.h"
#include "platform/Subprocess.h"

#include <QFile>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace RestoreWorker {

namespace {

// The worker speaks in lines: "L" an output line, "E" the engine's error, "F1" or "F0" whether the
// restore reached its end. Line breaks inside a text travel as carriage returns (the boxes' break).
void say(char kind, const QString &text)
{
    QByteArray b = text.toUtf8();
    b.replace('\n', '\r');
    std::fputc(kind, stdout);
    std::fwrite(b.constData(), 1, size_t(b.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int work(const QString &backupFile, const QString &target)
{
    try {
        RestoreService r(QStringLiteral("WorkerRestore"));
        r.protocol = Service::Protocol::Local;
        r.setParams({QStringLiteral("user_name=") + TMainDm::adminUser().toLower(),
                     QStringLiteral("password=") + TMainDm::adminPassword()});
        r.verbose = true;
        r.options = Spb::ResCreate; // a new file: never a replace
        r.databaseNames = {target};
        r.backupFiles = {backupFile};
        bool finished = false;
        {
            DetachOnExit detach(r);
            r.attach();
            r.serviceStart();
            finished = readRestoreOutput(r, [](const QString &l) { say('L', l); });
        }
        say('F', finished ? QStringLiteral("1") : QStringLiteral("0"));
    } catch (const std::exception &e) {
        say('E', QString::fromUtf8(e.what()));
    }
    return 0;
}

QString signalName(int sig)
{
    const char *d = ::sigdescr_np(sig);
    return QStringLiteral("%1%2").arg(sig).arg(d ? QStringLiteral(" ") + QString::fromUtf8(d) : QString());
}

// The worker is ended and waited for however the caller leaves (an interrupted operation too).
class Reaper {
public:
    Reaper(qint64 pid, int fd) : m_pid(pid), m_fd(fd) {}
    ~Reaper()
    {
        ::close(m_fd);
        if (m_pid > 0) {
            ::kill(pid_t(m_pid), SIGKILL);
            Subprocess::wait(m_pid);
        }
    }
    int wait()
    {
        const int status = Subprocess::wait(m_pid);
        m_pid = -1;
        return status;
    }

private:
    qint64 m_pid;
    int m_fd;
};

} // namespace

int runIfAsked(int argc, char **argv)
{
    if (argc != 4 || std::strcmp(argv[1], kFlag) != 0)
        return -1;
    // A parent that has gone away leaves nobody to read: end with it.
    std::signal(SIGPIPE, SIG_DFL);
    // File names arrive as the parent encoded them (QFile::encodeName) and reach the engine as UTF-8
    // whatever the locale: the client library's loading makes the process's character set UTF-8.
    // The tests' stand-in for an engine that crashes: the worker dies by the signal named here before
    // the engine starts (a real crash in the middle can leave the engine's shared lock files held).
    if (const char *dies = std::getenv("QK_WORKER_DIES"))
        std::raise(std::atoi(dies));
    const int rc = work(QFile::decodeName(argv[2]), QFile::decodeName(argv[3]));
    // The verdict is said and the service detached; the engine's own teardown at exit, racing its
    // worker threads, now and then crashes a process that has nothing left to do: leave without it.
    std::fflush(stdout);
    ::_exit(rc);
}

bool restore(const QString &backupFile, const QString &target, const std::function<void(const QString &)> &line)
{
    const Subprocess::Child child =
        Subprocess::start(Subprocess::selfExecutable(), {QString::fromLatin1(kFlag), backupFile, target});
    if (child.pid < 0)
        throw QkError(QStringLiteral("Nie można uruchomić procesu odtwarzania (%1).\rBaza nie została zmieniona.")
                          .arg(QString::fromLocal8Bit(std::strerror(errno))));
    Reaper reaper(child.pid, child.output);
    QByteArray pending;
    QString error;
    int finished = -1;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(child.output, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        pending.append(buf, n);
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QByteArray l = pending.left(end);
            pending.remove(0, end + 1);
            if (l.isEmpty())
                continue;
            const QString text = QString::fromUtf8(l.mid(1));
            switch (l[0]) {
            case 'L': line(text); break;
            case 'E': error = text; break;
            case 'F': finished = text == QLatin1String("1"); break;
            default: break;
            }
        }
    }
    const int status = reaper.wait();
    if (status < 0)
        throw QkError(QStringLiteral("Silnik bazy danych przerwał pracę podczas odtwarzania kopii (proces odtwarzania "
                                     "zakończony sygnałem %1).\rBaza nie została zmieniona.")
                          .arg(signalName(-status)));
    if (!error.isEmpty())
        throw QkError(error);
    if (status != 0 || finished < 0)
        throw QkError(QStringLiteral("Proces odtwarzania zakończył się bez wyniku (kod %1).\rBaza nie została zmieniona.")
                          .arg(status));
    return finished == 1;
}

} // namespace RestoreWorker
