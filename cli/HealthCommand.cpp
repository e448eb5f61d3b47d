#include "cli/HealthCommand.h"

#include "admin/HealthMetrics.h"
#include "core/MainD.h"
#include "platform/Paths.h"
#include "platform/Subprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <csignal>
#include <cstdio>
#include <optional>
#include <poll.h>
#include <unistd.h>

namespace HealthCommand {

namespace {

// Concurrent companies: enough to hide each one's waits on the server, few enough for two cores.
constexpr int kConcurrent = 8;

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
    // The textfile collector must never read a half-written file: a temporary file renamed.
    QSaveFile f(output);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
        std::fprintf(stderr, "qkadmin-cli health: cannot write %s: %s\n", qPrintable(output), qPrintable(f.errorString()));
        return false;
    }
    return true;
}

struct Outcome {
    QString name, file;
    QStringList lines;     // the findings as printed
    QByteArray metrics;    // the company's exposition
    Health::Level level = Health::Level::Unknown;
    bool judged = false;
};

// Reads a child's output: the finding lines, "---", the metrics.
Outcome readChild(const QString &name, const QString &file, const QByteArray &out)
{
    Outcome o{name, file, {}, {}, Health::Level::Unknown, false};
    const qsizetype cut = out.indexOf("\n---\n");
    const QByteArray lines = cut < 0 ? out : out.left(cut);
    if (cut >= 0)
        o.metrics = out.mid(cut + 5);
    for (const QByteArray &l : lines.split('\n'))
        if (!l.isEmpty() && !l.startsWith("qkadmin-cli: summary"))
            o.lines << QString::fromUtf8(l);
    int worst = -1;
    for (const QString &l : o.lines) {
        for (int level = 0; level <= 3; ++level)
            if (l.startsWith(Health::levelName(Health::Level(level)) + QLatin1Char(' ')))
                worst = std::max(worst, level);
    }
    o.judged = worst >= 0 && worst < 3;
    o.level = worst < 0 ? Health::Level::Unknown : Health::Level(worst);
    return o;
}

QString hoursText(const QHash<QString, double> &m, const QString &company)
{
    const auto it = m.constFind(QStringLiteral("qkadmin_backup_age_seconds{company=\"%1\"}").arg(company));
    return it == m.constEnd() ? QStringLiteral("-") : QString::number(*it / 3600.0, 'f', 1) + QStringLiteral(" h");
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

int runOne(TMainDm &dm, const Request &r, QString &result)
{
    const QString company = companyName(r.settingsFile);
    // The watchdog works on copies: it may fire while this function is anywhere.
    const auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread([done, r, company] {
        for (int i = 0; i < r.timeoutSeconds * 10 && !*done; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (*done)
            return;
        const QByteArray metrics = HealthMetrics::exposition({{company, nullptr, {}}});
        if (r.format == QLatin1String("prometheus")) {
            writeOut(r.output, metrics);
        } else {
            std::printf("UNKNOWN baza: brak odpowiedzi w ciągu %d s\n", r.timeoutSeconds);
            if (r.format == QLatin1String("child"))
                std::printf("---\n%s", metrics.constData());
        }
        std::fflush(nullptr);
        if (r.atTimeout)
            r.atTimeout(int(Health::Level::Unknown));
        ::_exit(int(Health::Level::Unknown));
    }).detach();
    struct Done {
        std::shared_ptr<std::atomic<bool>> flag;
        ~Done() { *flag = true; }
    } finished{done};
    // Read only: a missing settings file is not made.
    dm.createMissingSettings = false;
    if (!QFileInfo::exists(dm.settingsFile())) {
        result = QStringLiteral("unknown");
        std::printf("UNKNOWN baza: brak pliku ustawień %s\n", qPrintable(dm.settingsFile()));
        return int(Health::Level::Unknown);
    }
    Health::Level level = Health::Level::Unknown;
    QStringList lines;
    std::optional<Health::Facts> facts;
    QList<Health::Finding> findings;
    try {
        dm.Configure();
        dm.checkDatabaseFile();
        facts = Health::gather(dm, false, std::nullopt, r.timeoutSeconds);
        findings = Health::evaluate(*facts, r.limits);
        for (const Health::Finding &f : findings)
            lines << Health::line(f);
        level = Health::worst(findings);
    } catch (const std::exception &e) {
        lines << QStringLiteral("UNKNOWN baza: ") + oneLine(QString::fromUtf8(e.what()));
    }
    result = Health::levelName(level).toLower();
    const QByteArray metrics = HealthMetrics::exposition({{company, facts ? &*facts : nullptr, findings}});
    if (r.format == QLatin1String("prometheus"))
        return writeOut(r.output, metrics) ? int(level) : int(Health::Level::Unknown);
    for (const QString &l : lines)
        std::fprintf(stdout, "%s\n", l.toLocal8Bit().constData());
    if (r.format == QLatin1String("child")) {
        std::fputs("---\n", stdout);
        std::fwrite(metrics.constData(), 1, size_t(metrics.size()), stdout);
    }
    return int(level);
}

int runAll(const Request &r, QString &result)
{
    const QStringList files = companyFiles(r.folder, Paths::settingsFolder());
    struct Running {
        qsizetype index;
        Subprocess::Child child;
        QByteArray out;
        qint64 deadline;
    };
    QList<Outcome> outcomes(files.size());
    QList<Running> running;
    qsizetype next = 0;
    QElapsedTimer clock;
    clock.start();
    const QString self = Subprocess::selfExecutable();
    while (next < files.size() || !running.isEmpty()) {
        while (next < files.size() && running.size() < kConcurrent) {
            const QStringList args{QStringLiteral("--settings"), files[next], QStringLiteral("health"), QStringLiteral("--format"),
                                   QStringLiteral("child"), QStringLiteral("--backup-age"), QString::number(r.limits.backupAgeHours),
                                   QStringLiteral("--gap"), QString::number(r.limits.gap)};
            const Subprocess::Child c = Subprocess::start(self, args);
            if (c.pid < 0)
                outcomes[next] = {companyName(files[next]), files[next], {QStringLiteral("UNKNOWN baza: nie można uruchomić sprawdzenia")}, {}, Health::Level::Unknown, false};
            else
                running.append({next, c, {}, clock.elapsed() + qint64(r.timeoutSeconds) * 1000});
            ++next;
        }
        std::vector<pollfd> fds;
        for (const Running &x : running)
            fds.push_back({x.child.output, POLLIN, 0});
        qint64 wait = 1000;
        for (const Running &x : running)
            wait = std::min(wait, std::max<qint64>(0, x.deadline - clock.elapsed()));
        if (!fds.empty())
            ::poll(fds.data(), nfds_t(fds.size()), int(wait));
        for (qsizetype i = running.size() - 1; i >= 0; --i) {
            Running &x = running[i];
            bool ended = false;
            if (fds[size_t(i)].revents & (POLLIN | POLLHUP | POLLERR)) {
                char buf[8192];
                const ssize_t n = ::read(x.child.output, buf, sizeof buf);
                if (n > 0)
                    x.out.append(buf, n);
                else
                    ended = true;
            }
            const QString name = companyName(files[x.index]);
            if (ended) {
                ::close(x.child.output);
                Subprocess::wait(x.child.pid);
                outcomes[x.index] = readChild(name, files[x.index], x.out);
                if (outcomes[x.index].lines.isEmpty())
                    outcomes[x.index].lines << QStringLiteral("UNKNOWN baza: sprawdzenie nie dało wyniku");
                running.removeAt(i);
            } else if (clock.elapsed() >= x.deadline) {
                ::kill(pid_t(x.child.pid), SIGKILL);
                ::close(x.child.output);
                Subprocess::wait(x.child.pid);
                outcomes[x.index] = {name, files[x.index],
                                     {QStringLiteral("UNKNOWN baza: brak odpowiedzi w ciągu %1 s").arg(r.timeoutSeconds)},
                                     {}, Health::Level::Unknown, false};
                running.removeAt(i);
            }
        }
    }

    // An unreachable company counts as critical beside the others: its books cannot be looked after.
    int worst = -1;
    for (const Outcome &o : outcomes)
        worst = std::max(worst, o.judged ? int(o.level) : int(Health::Level::Critical));
    const bool anyJudged = std::any_of(outcomes.begin(), outcomes.end(), [](const Outcome &o) { return o.judged; });
    const Health::Level level = anyJudged ? Health::Level(worst) : Health::Level::Unknown;
    result = Health::levelName(level).toLower();

    if (r.format == QLatin1String("prometheus")) {
        QList<QByteArray> parts;
        for (const Outcome &o : outcomes)
            parts << (o.metrics.isEmpty() ? HealthMetrics::exposition({{o.name, nullptr, {}}}) : o.metrics);
        return writeOut(r.output, HealthMetrics::merge(parts)) ? int(level) : int(Health::Level::Unknown);
    }
    for (const Outcome &o : outcomes) {
        std::printf("== %s (%s)\n", o.name.toLocal8Bit().constData(), o.file.toLocal8Bit().constData());
        for (const QString &l : o.lines)
            std::printf("%s\n", l.toLocal8Bit().constData());
        std::printf("\n");
    }
    std::printf("%-24s %-9s %-10s %-8s %s\n", "firma", "stan", "kopia", "blokada", "wolne miejsce");
    for (const Outcome &o : outcomes) {
        const QHash<QString, double> m = HealthMetrics::parse(o.metrics);
        const QString company = HealthMetrics::escapeLabel(o.name);
        const auto lock = m.constFind(QStringLiteral("qkadmin_lock_flag{company=\"%1\"}").arg(company));
        const auto free = m.constFind(QStringLiteral("qkadmin_free_bytes{company=\"%1\"}").arg(company));
        std::printf("%-24s %-9s %-10s %-8s %s\n", o.name.toLocal8Bit().constData(),
                    Health::levelName(o.judged ? o.level : Health::Level::Unknown).toLocal8Bit().constData(),
                    hoursText(m, company).toLocal8Bit().constData(),
                    lock == m.constEnd() ? "-" : (*lock > 0 ? "TAK" : "NIE"),
                    free == m.constEnd() ? "-" : QString::number(*free / (1024.0 * 1024.0), 'f', 0).append(QStringLiteral(" MB")).toLocal8Bit().constData());
    }
    return int(level);
}

} // namespace HealthCommand
