#include "backup/RestoreWorker.h"

#include "core/MainD.h"
#include "core/ServiceRun.h"
#include "db/Services.h"
#include "platform/Errors.h"
#include "platform/Subprocess.h"
#include "platform/Supervisor.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/prctl.h>
#include <unistd.h>

namespace RestoreWorker {

namespace {

// The worker speaks in lines: "L" an output line, "E" the engine's error, "F1" or "F0" whether the
// restore reached its end. Line breaks inside a text travel as carriage returns (the boxes' break).
void say(char kind, const QString &text) {
    QByteArray b = text.toUtf8();
    b.replace("\r\n", "\r"); // the engine's lines are joined so: one break each, not two
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
    const qint64 limit = job.limitSeconds > 0 ? job.limitSeconds : limitFor(QFileInfo(job.backupFile).size());
    const Subprocess::Options o{.program = Subprocess::selfExecutable(),
                                .arguments = {QString::fromLatin1(kFlag), job.backupFile, job.target},
                                .output = Subprocess::Output::Pipe,
                                .keptDescriptor = job.heldLock,
                                .newSession = true,
                                // No worker outlives its parent from its first instruction on: it then
                                // makes that SIGINT, so its engine still aborts cleanly.
                                .dieWithParent = true};
    QString error;
    int finished = -1;
    Supervisor::Handlers h;
    h.line = [&](const QByteArray &l) {
        if (l.isEmpty())
            return;
        const QString text = QString::fromUtf8(l.mid(1));
        switch (l[0]) {
        case 'L':
            if (job.line)
                job.line(text);
            break;
        case 'E':
            error = text;
            break;
        case 'F':
            finished = text == QLatin1String("1");
            break;
        default:
            break;
        }
    };
    // SIGINT: its engine aborts the restore cleanly and the worker removes its file; half a minute later
    // it is killed. However this ends (a throw from the idle call too), it is never left running.
    Supervisor worker(o, {SIGINT, 30000, false, QStringLiteral("odtwarzanie kopii bazy")}, {0, limit * 1000},
                      h);
    if (!worker.started())
        throw QkError(
            QStringLiteral("Nie można uruchomić procesu odtwarzania (%1).\rBaza nie została zmieniona.")
                .arg(QString::fromLocal8Bit(std::strerror(errno))));
    const int status = worker.run(job.idle);
    if (worker.end() == Supervisor::End::PastLimit)
        throw QkError(
            QStringLiteral(
                "Odtwarzanie kopii nie zakończyło się w wyznaczonym czasie (%1 s) i zostało przerwane.\r"
                "Baza nie została zmieniona.")
                .arg(limit));
    if (worker.end() == Supervisor::End::Cancelled)
        throw QkError(QStringLiteral("Odtwarzanie kopii przerwane na polecenie operatora.\rBaza nie została "
                                     "zmieniona, żaden plik na tym komputerze nie został zmieniony."));
    if (status < 0)
        throw QkError(
            QStringLiteral("Silnik bazy danych przerwał pracę podczas odtwarzania kopii (proces odtwarzania "
                           "zakończony sygnałem %1).\rBaza nie została zmieniona.")
                .arg(signalName(-status)));
    if (!error.isEmpty())
        throw QkError(error);
    if (status != 0 || finished < 0)
        throw QkError(
            QStringLiteral(
                "Proces odtwarzania zakończył się bez wyniku (kod %1).\rBaza nie została zmieniona.")
                .arg(status));
    return finished == 1;
}

} // namespace RestoreWorker
