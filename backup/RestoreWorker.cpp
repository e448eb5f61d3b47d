#include "backup/RestoreWorker.h"

#include "core/MainD.h"
#include "core/ServiceRun.h"
#include "db/Services.h"
#include "platform/Errors.h"
#include "platform/Signals.h"
#include "platform/Subprocess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace RestoreWorker {

namespace {

// The worker speaks in lines: "L" an output line, "E" the engine's error, "F1" or "F0" whether the
// restore reached its end. Line breaks inside a text travel as carriage returns (the boxes' break).
void say(char kind, const QString &text) {
    QByteArray b = text.toUtf8();
    b.replace('\n', '\r');
    std::fputc(kind, stdout);
    std::fwrite(b.constData(), 1, size_t(b.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int work(const QString &backupFile, const QString &target) {
    bool finished = false;
    try {
        RestoreService r(QStringLiteral("WorkerRestore"));
        r.protocol = Service::Protocol::Local;
        r.setParams({QStringLiteral("user_name=") + TMainDm::adminUser().toLower(),
                     QStringLiteral("password=") + TMainDm::adminPassword()});
        configureCreateOnly(r, backupFile, target);
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
    if (!finished)
        QFile::remove(target); // nobody may be left to: the parent can be gone
    return 0;
}

QString signalName(int sig) {
    const char *d = ::sigdescr_np(sig);
    return QStringLiteral("%1%2").arg(sig).arg(d ? QStringLiteral(" ") + QString::fromUtf8(d) : QString());
}

// The worker's own limit, for when nobody watches it any more: the engine is asked to abort, and
// half a minute later the worker goes.
void onAlarm(int) {
    static volatile sig_atomic_t asked = 0;
    if (asked) {
        ::_exit(3);
    }
    asked = 1;
    ::kill(::getpid(), SIGINT);
    ::alarm(30);
}

// Reads the worker's lines as they come, the caller's idle call between them; a verdict once it ends.
class Conversation {
public:
    // A signal to this program reaches the worker while it lives, and whoever ends the program waits for it.
    Conversation(const Job &job, qint64 pid, int fd)
        : m_job(job), m_pid(pid), m_fd(fd), m_forward(std::in_place, pid) {}
    ~Conversation() { stop(); }
    bool run();

private:
    void readLines(const char *buf, ssize_t n);
    void askToStop();
    void stop();
    // Reaps the worker once it has ended; the signals stop going to its process id first, which the
    // system may give to another process once it is reaped.
    int reap();

    const Job &m_job;
    qint64 m_pid;
    int m_fd;
    QByteArray m_pending;
    QString m_error;
    int m_finished = -1;
    bool m_timedOut = false;
    QElapsedTimer m_asked; // since the worker was asked to stop
    std::optional<Signals::Forward> m_forward;
};

int Conversation::reap() {
    siginfo_t info{};
    while (::waitid(P_PID, id_t(m_pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
    m_forward.reset();
    const int status = Subprocess::wait(m_pid);
    m_pid = -1;
    return status;
}

void Conversation::readLines(const char *buf, ssize_t n) {
    m_pending.append(buf, n);
    qsizetype end;
    while ((end = m_pending.indexOf('\n')) >= 0) {
        const QByteArray l = m_pending.left(end);
        m_pending.remove(0, end + 1);
        if (l.isEmpty())
            continue;
        const QString text = QString::fromUtf8(l.mid(1));
        switch (l[0]) {
        case 'L':
            if (m_job.line)
                m_job.line(text);
            break;
        case 'E':
            m_error = text;
            break;
        case 'F':
            m_finished = text == QLatin1String("1");
            break;
        default:
            break;
        }
    }
}

void Conversation::askToStop() {
    if (m_asked.isValid())
        return;
    ::kill(pid_t(m_pid), SIGINT);
    m_asked.start();
}

// However the caller leaves (an exception from the idle call too): the worker is asked to stop, waited
// for half a minute, then killed; it is never left running.
void Conversation::stop() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (m_pid <= 0)
        return;
    askToStop();
    siginfo_t info{};
    while (::waitid(P_PID, id_t(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0) {
        if (m_asked.elapsed() > 30000)
            ::kill(pid_t(m_pid), SIGKILL);
        ::usleep(20000);
    }
    reap();
}

bool Conversation::run() {
    const qint64 limit =
        m_job.limitSeconds > 0 ? m_job.limitSeconds : limitFor(QFileInfo(m_job.backupFile).size());
    QElapsedTimer clock;
    clock.start();
    char buf[65536];
    for (;;) {
        pollfd p{m_fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, 100);
        if (ready > 0) {
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            readLines(buf, n);
        }
        if (clock.elapsed() / 1000 >= limit && !m_timedOut) {
            m_timedOut = true;
            askToStop();
        }
        if (m_asked.isValid() && m_asked.elapsed() > 30000)
            ::kill(pid_t(m_pid), SIGKILL);
        if (m_job.idle)
            m_job.idle();
    }
    const int status = reap();
    if (m_timedOut)
        throw QkError(
            QStringLiteral(
                "Odtwarzanie kopii nie zakończyło się w wyznaczonym czasie (%1 s) i zostało przerwane.\r"
                "Baza nie została zmieniona.")
                .arg(limit));
    if (status < 0)
        throw QkError(
            QStringLiteral("Silnik bazy danych przerwał pracę podczas odtwarzania kopii (proces odtwarzania "
                           "zakończony sygnałem %1).\rBaza nie została zmieniona.")
                .arg(signalName(-status)));
    if (!m_error.isEmpty())
        throw QkError(m_error);
    if (status != 0 || m_finished < 0)
        throw QkError(
            QStringLiteral(
                "Proces odtwarzania zakończył się bez wyniku (kod %1).\rBaza nie została zmieniona.")
                .arg(status));
    return m_finished == 1;
}

} // namespace

void configureCreateOnly(RestoreService &restore, const QString &backupFile, const QString &target) {
    restore.options = Spb::ResCreate;
    restore.verbose = true;
    restore.databaseNames = {target};
    restore.backupFiles = {backupFile};
}

qint64 limitFor(qint64 backupBytes) {
    if (const QByteArray set = qgetenv("QK_RESTORE_LIMIT"); set.toLongLong() > 0)
        return set.toLongLong();
    return 3600 + std::max<qint64>(0, backupBytes) / (256 * 1024);
}

int runIfAsked(int argc, char **argv) {
    if (argc != 4 || std::strcmp(argv[1], kFlag) != 0)
        return -1;
    // A parent that has gone away leaves nobody to read, nor to wait: the engine is asked to stop.
    std::signal(SIGPIPE, SIG_DFL);
    ::prctl(PR_SET_PDEATHSIG, SIGINT);
    std::signal(SIGALRM, onAlarm);
    // File names arrive as the parent encoded them (QFile::encodeName) and reach the engine as UTF-8
    // whatever the locale: the client library's loading makes the process's character set UTF-8.
    const QString backupFile = QFile::decodeName(argv[2]);
    ::alarm(unsigned(limitFor(QFileInfo(backupFile).size()) + 60));
    // The tests' stand-ins: an engine that crashes (the worker dies by the signal named here before the
    // engine starts: a real crash in the middle can leave the engine's shared lock files held), and a
    // slow one (silent for the seconds named before it starts).
    if (const char *dies = std::getenv("QK_WORKER_DIES"))
        std::raise(std::atoi(dies));
    if (const char *slow = std::getenv("QK_WORKER_SLOW"))
        for (int left = std::atoi(slow); left > 0;)
            left = int(::sleep(unsigned(left)));
    const int rc = work(backupFile, QFile::decodeName(argv[3]));
    // The verdict is said and the service detached; the engine's own teardown at exit, racing its
    // worker threads, now and then crashes a process that has nothing left to do: leave without it.
    std::fflush(stdout);
    ::_exit(rc);
}

bool restore(const Job &job) {
    const Subprocess::Options o{.program = Subprocess::selfExecutable(),
                                .arguments = {QString::fromLatin1(kFlag), job.backupFile, job.target},
                                .output = Subprocess::Output::Pipe,
                                .keptDescriptor = job.heldLock,
                                .newSession = true};
    const Subprocess::Child child = Subprocess::spawn(o);
    if (child.pid < 0)
        throw QkError(
            QStringLiteral("Nie można uruchomić procesu odtwarzania (%1).\rBaza nie została zmieniona.")
                .arg(QString::fromLocal8Bit(std::strerror(errno))));
    Conversation conversation(job, child.pid, child.output);
    return conversation.run();
}

} // namespace RestoreWorker
