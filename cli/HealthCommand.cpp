#include "cli/HealthCommand.h"

#include "admin/HealthMetrics.h"
#include "core/MainD.h"
#include "db/FbClient.h"
#include "platform/Paths.h"
#include "platform/Signals.h"
#include "platform/Subprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace HealthCommand {

namespace {

// Concurrent companies: enough to hide each one's waits on the server, few enough for two cores.
constexpr int kConcurrent = 8;
// A check at its limit on the embedded engine first shuts the engine down, within this: a process ended
// inside the engine can leave its shared tables locked, which stops every engine and server on the machine.
constexpr int kEngineStopMs = 2000;
// What health --all grants a check past its own limit (its own stop included) before asking it to stop,
// and a check asked to stop (it detaches as after any signal, within three seconds) before it is killed.
constexpr qint64 kChildGraceMs = kEngineStopMs + 500;
constexpr qint64 kStopGraceMs = 5000;

QString oneLine(QString text)
{
    text.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text.simplified();
}

bool writeOut(const QString &output, const QByteArray &bytes)
{
    if (output.isEmpty()) {
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        return true;
    }
    // The textfile collector must never read a half-written file: a temporary file renamed. It runs
    // as another user, who must be able to read it whatever this process's umask.
    QSaveFile f(output);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || ::fchmod(f.handle(), 0644) != 0 ||
        !f.commit()) {
        std::fprintf(stderr, "qkadmin-cli health: cannot write %s: %s\n", qPrintable(output), qPrintable(f.errorString()));
        return false;
    }
    return true;
}

// The exit status of a run that wrote the metrics to a file: whether the file was written.
int fileStatus(bool written)
{
    return written ? 0 : 1;
}

QString hoursText(const QHash<QString, double> &m, const QString &company)
{
    const auto it = m.constFind(QStringLiteral("qkadmin_backup_age_seconds{company=\"%1\"}").arg(company));
    return it == m.constEnd() ? QStringLiteral("-") : QString::number(*it / 3600.0, 'f', 1) + QStringLiteral(" h");
}

Report notJudged(const QString &file, const QString &line)
{
    return {companyName(file), file, {line}, {}, Health::Level::Unknown, false};
}

} // namespace

QString companyName(const QString &settingsFile)
{
    if (settingsFile.isEmpty())
        return QStringLiteral("setup");
    QString name = QFileInfo(settingsFile).fileName();
    if (name.endsWith(QLatin1String(".ini"), Qt::CaseInsensitive))
        name.chop(4);
    return name;
}

QStringList companyFiles(const QString &folder, const QString &settingsFolder)
{
    const QStringList folders = folder.isEmpty() ? QStringList{settingsFolder, QStringLiteral("/etc/qkadmin")} : QStringList{folder};
    QStringList files;
    for (const QString &f : folders) {
        const QDir dir(f);
        for (const QFileInfo &i : dir.entryInfoList({QStringLiteral("*.ini")}, QDir::Files | QDir::Readable, QDir::Name))
            if (i.fileName().compare(QLatin1String("jn.ini"), Qt::CaseInsensitive) != 0)
                files << i.absoluteFilePath();
    }
    return files;
}

QStringList childArguments(const QString &settingsFile, const Request &r)
{
    return {QStringLiteral("--settings"), settingsFile, QStringLiteral("health"), QStringLiteral("--format"), QStringLiteral("child"),
            QStringLiteral("--backup-age"), QString::number(r.limits.backupAgeHours), QStringLiteral("--gap"),
            QString::number(r.limits.gap), QStringLiteral("--timeout"), QString::number(r.timeoutSeconds)};
}

QByteArray childOutput(const QStringList &lines, const QByteArray &metrics)
{
    QByteArray out;
    for (const QString &l : lines)
        out += l.toUtf8() + '\n';
    return out + "---\n" + metrics;
}

Report readChild(const QString &name, const QString &file, const QByteArray &output, int status)
{
    Report o{name, file, {}, {}, Health::Level::Unknown, false};
    const qsizetype cut = output.startsWith("---\n") ? 0 : output.indexOf("\n---\n");
    const QByteArray lines = cut < 0 ? output : output.left(cut);
    if (cut >= 0)
        o.metrics = output.mid(cut == 0 ? 4 : cut + 5);
    for (const QByteArray &l : lines.split('\n'))
        if (!l.isEmpty() && !l.startsWith("qkadmin-cli: summary"))
            o.lines << QString::fromUtf8(l);
    if (o.lines.isEmpty()) {
        o.lines << QStringLiteral("UNKNOWN baza: sprawdzenie nie dało wyniku");
        return o;
    }
    // The child ranked its own findings: its exit status is the company's state.
    if (status >= 0 && status <= 3)
        o.level = Health::Level(status);
    o.judged = o.level != Health::Level::Unknown;
    return o;
}

Health::Level officeLevel(const QList<Report> &reports)
{
    Health::Level level = Health::Level::Ok;
    bool anyJudged = false;
    for (const Report &r : reports) {
        anyJudged = anyJudged || r.judged;
        level = Health::worse(level, r.judged ? r.level : Health::Level::Critical);
    }
    return anyJudged ? level : Health::Level::Unknown;
}

int runOne(TMainDm &dm, const Request &r, QString &result)
{
    const QString company = companyName(r.settingsFile);
    const bool toFile = !r.output.isEmpty();
    // The watchdog works on copies: it may fire while this function is anywhere. Whoever takes the
    // mutex first says the result: the watchdog (and the process ends with it) or the check.
    struct Watch {
        std::mutex said;
        bool done = false;
        std::atomic<bool> embedded{false};
    };
    const auto watch = std::make_shared<Watch>();
    std::thread([watch, r, company, toFile] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(r.timeoutSeconds);
        while (std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            const std::lock_guard<std::mutex> lock(watch->said);
            if (watch->done)
                return;
        }
        watch->said.lock(); // held until the process ends: the check says nothing after this
        if (watch->done) {
            watch->said.unlock();
            return;
        }
        const QByteArray metrics = HealthMetrics::exposition({{company, nullptr, {}}});
        const QString line = QStringLiteral("UNKNOWN baza: brak odpowiedzi w ciągu %1 s").arg(r.timeoutSeconds);
        int status = int(Health::Level::Unknown);
        if (r.format == QLatin1String("prometheus")) {
            const bool written = writeOut(r.output, metrics);
            if (toFile)
                status = fileStatus(written);
        } else if (r.format == QLatin1String("child")) {
            const QByteArray out = childOutput({line}, metrics);
            std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
        } else {
            std::printf("%s\n", line.toUtf8().constData());
        }
        std::fflush(nullptr);
        if (watch->embedded)
            FbClient::shutDownWithin(kEngineStopMs);
        if (r.atTimeout)
            r.atTimeout(status);
        ::_exit(status);
    }).detach();

    // Read only: a missing settings file is not made.
    dm.createMissingSettings = false;
    Health::Level level = Health::Level::Unknown;
    QStringList lines;
    std::optional<Health::Facts> facts;
    QList<Health::Finding> findings;
    if (!QFileInfo::exists(dm.settingsFile())) {
        lines << QStringLiteral("UNKNOWN baza: brak pliku ustawień %1").arg(dm.settingsFile());
    } else {
        try {
            dm.Configure();
            watch->embedded = dm.Settings.ServiceProtocol == Service::Protocol::Local &&
                              !TMainDm::hasServerPrefix(dm.Settings.DatabasePath);
            dm.checkDatabaseFile();
            facts = Health::gather(dm, false);
            findings = Health::evaluate(*facts, r.limits);
            for (const Health::Finding &f : findings)
                lines << Health::line(f);
            level = Health::worst(findings);
        } catch (const std::exception &e) {
            lines << QStringLiteral("UNKNOWN baza: ") + oneLine(QString::fromUtf8(e.what()));
        }
    }
    const std::lock_guard<std::mutex> lock(watch->said);
    watch->done = true;
    result = Health::levelName(level).toLower();
    const QByteArray metrics = HealthMetrics::exposition({{company, facts ? &*facts : nullptr, findings}});
    if (r.format == QLatin1String("prometheus")) {
        const bool written = writeOut(r.output, metrics);
        return toFile ? fileStatus(written) : written ? int(level) : int(Health::Level::Unknown);
    }
    if (r.format == QLatin1String("child")) {
        const QByteArray out = childOutput(lines, metrics);
        std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    } else {
        for (const QString &l : lines)
            std::printf("%s\n", l.toUtf8().constData());
    }
    return int(level);
}

int runAll(const Request &r, QString &result)
{
    // Before the first check starts: a signal is then passed on to every check that runs.
    const int signalFd = Signals::install();
    const QStringList files = companyFiles(r.folder, Paths::settingsFolder());
    struct Running {
        qsizetype index;
        Subprocess::Child child;
        QByteArray out;
        qint64 deadline; // past it the check is asked to stop
        qint64 killAt = -1; // once asked: past this it is killed
        bool timedOut = false;
    };
    QList<Report> reports(files.size());
    QList<Running> running;
    qsizetype next = 0;
    int stoppedBy = 0;
    QElapsedTimer clock;
    clock.start();
    const QString self = Subprocess::selfExecutable();
    auto interrupted = [&] {
        return QStringLiteral("UNKNOWN baza: sprawdzenie przerwane sygnałem %1").arg(QLatin1String(Signals::name(stoppedBy)));
    };
    while ((next < files.size() && !stoppedBy) || !running.isEmpty()) {
        while (!stoppedBy && next < files.size() && running.size() < kConcurrent) {
            const Subprocess::Child c = Subprocess::start(self, childArguments(files[next], r));
            if (c.pid < 0)
                reports[next] = notJudged(files[next], QStringLiteral("UNKNOWN baza: nie można uruchomić sprawdzenia"));
            else
                running.append({next, c, {}, clock.elapsed() + qint64(r.timeoutSeconds) * 1000 + kChildGraceMs});
            ++next;
        }
        std::vector<pollfd> fds;
        for (const Running &x : running)
            fds.push_back({x.child.output, POLLIN, 0});
        fds.push_back({signalFd, POLLIN, 0});
        qint64 wait = 1000;
        for (const Running &x : running)
            wait = std::min(wait, std::max<qint64>(0, (x.killAt >= 0 ? x.killAt : x.deadline) - clock.elapsed()));
        ::poll(fds.data(), nfds_t(fds.size()), int(wait));
        if (signalFd >= 0 && (fds.back().revents & POLLIN)) {
            char bytes[16];
            while (::read(signalFd, bytes, sizeof bytes) > 0) {
            }
            if (!stoppedBy && Signals::received()) {
                stoppedBy = Signals::received();
                // The client library in a check ends its work cleanly on SIGINT or SIGTERM (not on SIGHUP).
                const int passOn = stoppedBy == SIGINT ? SIGINT : SIGTERM;
                for (Running &x : running) {
                    ::kill(pid_t(x.child.pid), passOn);
                    x.killAt = clock.elapsed() + kStopGraceMs;
                }
            }
        }
        for (qsizetype i = running.size() - 1; i >= 0; --i) {
            Running &x = running[i];
            bool ended = false;
            if (fds[size_t(i)].revents & (POLLIN | POLLHUP | POLLERR)) {
                char buf[8192];
                const ssize_t n = ::read(x.child.output, buf, sizeof buf);
                if (n > 0)
                    x.out.append(buf, n);
                else if (n == 0 || errno != EINTR)
                    ended = true;
            }
            const bool overdue = !ended && x.killAt >= 0 && clock.elapsed() >= x.killAt;
            if (!ended && !overdue) {
                if (x.killAt < 0 && clock.elapsed() >= x.deadline) {
                    // Asked first: the check detaches, and the embedded engine lets go of its tables.
                    ::kill(pid_t(x.child.pid), SIGTERM);
                    x.killAt = clock.elapsed() + kStopGraceMs;
                    x.timedOut = true;
                }
                continue;
            }
            if (overdue)
                ::kill(pid_t(x.child.pid), SIGKILL);
            ::close(x.child.output);
            const int status = Subprocess::wait(x.child.pid);
            const QString &file = files[x.index];
            if (x.timedOut) {
                reports[x.index] = notJudged(file, QStringLiteral("UNKNOWN baza: brak odpowiedzi w ciągu %1 s").arg(r.timeoutSeconds));
            } else {
                reports[x.index] = readChild(companyName(file), file, x.out, status);
                if (stoppedBy) {
                    Report &o = reports[x.index];
                    if (x.out.trimmed().isEmpty())
                        o.lines.clear(); // it had found nothing yet
                    o.lines << interrupted();
                    o.level = Health::Level::Unknown;
                    o.judged = false;
                }
            }
            running.removeAt(i);
        }
    }
    for (qsizetype i = next; i < files.size(); ++i)
        reports[i] = notJudged(files[i], interrupted());

    const Health::Level level = stoppedBy ? Health::Level::Unknown : officeLevel(reports);
    result = Health::levelName(level).toLower();
    const bool toFile = !r.output.isEmpty();
    if (r.format == QLatin1String("prometheus")) {
        if (stoppedBy) // an interrupted run leaves the last complete metrics as they were
            return toFile ? fileStatus(false) : int(level);
        QList<QByteArray> parts;
        for (const Report &o : reports)
            parts << (o.metrics.isEmpty() ? HealthMetrics::exposition({{o.name, nullptr, {}}}) : o.metrics);
        const bool written = writeOut(r.output, HealthMetrics::merge(parts));
        return toFile ? fileStatus(written) : written ? int(level) : int(Health::Level::Unknown);
    }
    for (const Report &o : reports) {
        std::printf("== %s (%s)\n", o.name.toUtf8().constData(), o.file.toUtf8().constData());
        for (const QString &l : o.lines)
            std::printf("%s\n", l.toUtf8().constData());
        std::printf("\n");
    }
    std::printf("%-24s %-9s %-10s %-8s %s\n", "firma", "stan", "kopia", "blokada", "wolne miejsce");
    for (const Report &o : reports) {
        const QHash<QString, double> m = HealthMetrics::parse(o.metrics);
        const QString company = HealthMetrics::escapeLabel(o.name);
        const auto lock = m.constFind(QStringLiteral("qkadmin_lock_flag{company=\"%1\"}").arg(company));
        const auto free = m.constFind(QStringLiteral("qkadmin_free_bytes{company=\"%1\"}").arg(company));
        std::printf("%-24s %-9s %-10s %-8s %s\n", o.name.toUtf8().constData(),
                    Health::levelName(o.judged ? o.level : Health::Level::Unknown).toUtf8().constData(),
                    hoursText(m, company).toUtf8().constData(), lock == m.constEnd() ? "-" : (*lock > 0 ? "TAK" : "NIE"),
                    free == m.constEnd() ? "-"
                                         : QString::number(*free / (1024.0 * 1024.0), 'f', 0).append(QStringLiteral(" MB")).toUtf8().constData());
    }
    return int(level);
}

} // namespace HealthCommand
