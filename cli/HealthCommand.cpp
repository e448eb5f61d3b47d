#include "cli/HealthCommand.h"
#include "cli/Summary.h"

#include "admin/HealthMetrics.h"
#include "core/MainD.h"
#include "db/FbClient.h"
#include "platform/ChildPool.h"
#include "platform/Paths.h"
#include "platform/Signals.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace HealthCommand {

namespace {

// Concurrent companies: enough to hide each one's waits on the server and the client library's own at exit
// (50 ms), few enough for two cores and the signal forwarder's slots.
constexpr int kConcurrent = 16;
// A check at its limit on the embedded engine first shuts the engine down, within this: a process ended
// inside the engine can leave its shared tables locked, which stops every engine and server on the machine.
constexpr int kEngineStopMs = 2000;
// What health --all grants a check past its own limit (its own stop included) before asking it to stop,
// and a check asked to stop (it detaches as after any signal, within three seconds) before it is killed.
constexpr qint64 kChildGraceMs = kEngineStopMs + 500;
constexpr qint64 kStopGraceMs = 5000;

QString oneLine(QString text) {
    text.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text.simplified();
}

bool writeOut(const QString &output, const QByteArray &bytes) {
    if (output.isEmpty()) {
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        return true;
    }
    // The textfile collector must never read a half-written file: a temporary file renamed. It runs
    // as another user, who must be able to read it whatever this process's umask.
    QSaveFile f(output);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || ::fchmod(f.handle(), 0644) != 0 ||
        !Paths::commitWhole(f)) {
        std::fprintf(stderr, "qkadmin-cli health: cannot write %s: %s\n", qPrintable(output),
                     qPrintable(f.errorString()));
        return false;
    }
    return true;
}

// The exit status of a run that wrote the metrics to a file: whether the file was written.
int fileStatus(bool written) {
    return written ? 0 : 1;
}

QString hoursText(const QHash<QString, double> &m, const QString &company) {
    const auto it = m.constFind(QStringLiteral("qkadmin_backup_age_seconds{company=\"%1\"}").arg(company));
    return it == m.constEnd() ? QStringLiteral("-")
                              : QString::number(*it / 3600.0, 'f', 1) + QStringLiteral(" h");
}

Report notJudged(const QString &file, const QString &line) {
    return {companyName(file), file, {line}, {}, Health::Level::Unknown, false};
}

} // namespace

QString companyName(const QString &settingsFile) {
    if (settingsFile.isEmpty())
        return QStringLiteral("setup");
    QString name = QFileInfo(settingsFile).fileName();
    if (name.endsWith(QLatin1String(".ini"), Qt::CaseInsensitive))
        name.chop(4);
    return name;
}

QStringList companyFiles(const QString &folder, const QString &settingsFolder) {
    const QStringList folders =
        folder.isEmpty() ? QStringList{settingsFolder, QStringLiteral("/etc/qkadmin")} : QStringList{folder};
    QStringList files;
    for (const QString &f : folders) {
        const QDir dir(f);
        for (const QFileInfo &i :
             dir.entryInfoList({QStringLiteral("*.ini")}, QDir::Files | QDir::Readable, QDir::Name))
            if (i.fileName().compare(QLatin1String("jn.ini"), Qt::CaseInsensitive) != 0)
                files << i.absoluteFilePath();
    }
    return files;
}

QStringList childArguments(const QString &settingsFile, const Request &r) {
    return {QStringLiteral("--settings"),
            settingsFile,
            QStringLiteral("health"),
            QStringLiteral("--format"),
            QStringLiteral("child"),
            QStringLiteral("--backup-age"),
            QString::number(r.limits.backupAgeHours),
            QStringLiteral("--gap"),
            QString::number(r.limits.gap),
            QStringLiteral("--timeout"),
            QString::number(r.timeoutSeconds)};
}

QByteArray childOutput(const QStringList &lines, const QByteArray &metrics) {
    QByteArray out;
    for (const QString &l : lines)
        out += l.toUtf8() + '\n';
    return out + "---\n" + metrics;
}

Report readChild(const QString &name, const QString &file, const QByteArray &output, int status) {
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

Health::Level officeLevel(const QList<Report> &reports) {
    Health::Level level = Health::Level::Ok;
    bool anyJudged = false;
    for (const Report &r : reports) {
        anyJudged = anyJudged || r.judged;
        level = Health::worse(level, r.judged ? r.level : Health::Level::Critical);
    }
    return anyJudged ? level : Health::Level::Unknown;
}

namespace {

// Whoever takes the mutex first says the result: the watchdog (and the process ends with it) or the check.
struct Watch {
    std::mutex said;
    bool done = false;
    std::atomic<bool> embedded{false};
};

// A check past its limit says UNKNOWN and ends the process (its embedded engine stopped first). The
// watchdog works on copies: it may fire while the check is anywhere.
void startWatchdog(const std::shared_ptr<Watch> &watch, const Request &r, const QString &company) {
    std::thread([watch, r, company] {
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
        const QString line =
            QStringLiteral("UNKNOWN baza: brak odpowiedzi w ciągu %1 s").arg(r.timeoutSeconds);
        int status = int(Health::Level::Unknown);
        if (r.format == QLatin1String("prometheus")) {
            const bool written = writeOut(r.output, metrics);
            if (!r.output.isEmpty())
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
}

} // namespace

int runOne(TMainDm &dm, const Request &r, QString &result) {
    const QString company = companyName(r.settingsFile);
    const bool toFile = !r.output.isEmpty();
    const auto watch = std::make_shared<Watch>();
    startWatchdog(watch, r, company);

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
            facts = Health::gather(dm, false, std::nullopt, r.timeoutSeconds);
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

namespace {

// The checks of health --all, each a process of its own, at most kConcurrent at once, each within its
// limit; a signal to this program passed on to every one that runs.
class OfficeChecks {
public:
    OfficeChecks(const Request &r, QStringList files)
        : m_request(r), m_files(std::move(files)), m_reports(m_files.size()),
          // Asked first (the client library in a check ends its work cleanly on SIGINT or SIGTERM, not on
          // SIGHUP): the check detaches, and the embedded engine lets go of its tables.
          m_pool({kConcurrent, qint64(r.timeoutSeconds) * 1000 + kChildGraceMs,
                  Supervisor::Rule{SIGTERM, kStopGraceMs, true}}) {}
    // Runs them all; a report per settings file, in their order.
    QList<Report> run();
    // The signal that stopped the run, 0 when none did.
    int stoppedBy() const { return m_pool.stoppedBy(); }

private:
    void finish(qsizetype index, const ChildPool::Finished &x);
    QString interrupted() const {
        return QStringLiteral("UNKNOWN baza: sprawdzenie przerwane sygnałem %1")
            .arg(QLatin1String(Signals::name(stoppedBy())));
    }

    const Request &m_request;
    const QStringList m_files;
    QList<Report> m_reports;
    ChildPool m_pool;
};

void OfficeChecks::finish(qsizetype index, const ChildPool::Finished &x) {
    const QString &file = m_files[index];
    if (!x.started) {
        m_reports[index] = notJudged(file, QStringLiteral("UNKNOWN baza: nie można uruchomić sprawdzenia"));
        return;
    }
    if (x.end == Supervisor::End::PastLimit) {
        m_reports[index] = notJudged(
            file, QStringLiteral("UNKNOWN baza: brak odpowiedzi w ciągu %1 s").arg(m_request.timeoutSeconds));
        return;
    }
    Report &o = m_reports[index];
    o = readChild(companyName(file), file, x.out, x.status);
    if (stoppedBy()) {
        if (x.out.trimmed().isEmpty())
            o.lines.clear(); // it had found nothing yet
        o.lines << interrupted();
        o.level = Health::Level::Unknown;
        o.judged = false;
    }
}

QList<Report> OfficeChecks::run() {
    m_pool.run(m_files.size(),
               [this](qsizetype i, const ChildPool::Finished *end) -> std::optional<QStringList> {
                   if (!end)
                       return childArguments(m_files[i], m_request);
                   finish(i, *end);
                   return std::nullopt;
               });
    for (qsizetype i = 0; i < m_files.size(); ++i)
        if (!m_pool.begun(i))
            m_reports[i] = notJudged(m_files[i], interrupted());
    return m_reports;
}

// One block per company, then the table.
void printOffice(const QList<Report> &reports) {
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
        std::printf(
            "%-24s %-9s %-10s %-8s %s\n", o.name.toUtf8().constData(),
            Health::levelName(o.judged ? o.level : Health::Level::Unknown).toUtf8().constData(),
            hoursText(m, company).toUtf8().constData(),
            lock == m.constEnd() ? "-" : (*lock > 0 ? "TAK" : "NIE"),
            free == m.constEnd()
                ? "-"
                : QString::number(*free / 1e6, 'f', 0).append(QStringLiteral(" MB")).toUtf8().constData());
    }
}

} // namespace

int runAll(const Request &r, QString &result) {
    // Before the first check starts: a signal is then passed on to every check that runs.
    Signals::install();
    OfficeChecks checks(r, companyFiles(r.folder, Paths::settingsFolder()));
    const QList<Report> reports = checks.run();
    const bool stopped = checks.stoppedBy() != 0;
    const Health::Level level = stopped ? Health::Level::Unknown : officeLevel(reports);
    result = Health::levelName(level).toLower();
    if (r.format != QLatin1String("prometheus")) {
        printOffice(reports);
        return int(level);
    }
    const bool toFile = !r.output.isEmpty();
    if (stopped) // an interrupted run leaves the last complete metrics as they were
        return toFile ? fileStatus(false) : int(level);
    QList<QByteArray> parts;
    for (const Report &o : reports)
        parts << (o.metrics.isEmpty() ? HealthMetrics::exposition({{o.name, nullptr, {}}}) : o.metrics);
    const bool written = writeOut(r.output, HealthMetrics::merge(parts));
    return toFile ? fileStatus(written) : written ? int(level) : int(Health::Level::Unknown);
}

namespace {

class Command : public Cli::Command {
public:
    const char *name() const override { return "health"; }
    const char *summary() const override {
        return "check the backup's age, the lock flag, writes, free space, transactions and the server (exit "
               "0 OK, 1 "
               "WARNING, 2 CRITICAL, 3 UNKNOWN); --all: every company";
    }
    void addOptions(QCommandLineParser &p) const override;
    QString check(const QCommandLineParser &p) override;
    // Monitoring reads an exit of health it cannot judge as UNKNOWN (3), a wrong command line too.
    int usageStatus(Cli::Produced &produced) const override {
        produced.result = QStringLiteral("unknown");
        return int(Health::Level::Unknown);
    }
    int run(const Cli::Context &c) override;

private:
    Request m_request;
};

void Command::addOptions(QCommandLineParser &p) const {
    p.addOption({QStringLiteral("backup-age"),
                 QStringLiteral("a backup older than HOURS is a warning, twice that critical (default 26)"),
                 QStringLiteral("HOURS")});
    p.addOption({QStringLiteral("gap"),
                 QStringLiteral("more transactions than N between the oldest interesting or active one and "
                                "the next is a warning (default 100000)"),
                 QStringLiteral("N")});
    p.addOption({QStringLiteral("format"),
                 QStringLiteral("lines (default) or prometheus (the node exporter's text format)"),
                 QStringLiteral("FORMAT")});
    p.addOption({QStringLiteral("output"),
                 QStringLiteral("write the metrics to FILE (a temporary file renamed)"),
                 QStringLiteral("FILE")});
    p.addOption(
        {QStringLiteral("all"),
         QStringLiteral("every company: each settings file of FOLDER (default the settings folder and "
                        "/etc/qkadmin), one block each, then a summary table")});
    p.addOption({QStringLiteral("timeout"),
                 QStringLiteral("one company's limit in seconds, its connection included (default 10)"),
                 QStringLiteral("SECONDS")});
    p.addPositionalArgument(QStringLiteral("FOLDER"),
                            QStringLiteral("with --all: the folder of the settings files"),
                            QStringLiteral("[FOLDER]"));
}

QString Command::check(const QCommandLineParser &p) {
    Request r;
    r.all = p.isSet(QStringLiteral("all"));
    const QStringList positional = p.positionalArguments();
    if (positional.size() > (r.all ? 1 : 0))
        return QStringLiteral("unexpected ") + positional.last();
    r.folder = positional.value(0);
    bool ok = true;
    if (p.isSet(QStringLiteral("backup-age")))
        r.limits.backupAgeHours = p.value(QStringLiteral("backup-age")).toInt(&ok);
    if (ok && p.isSet(QStringLiteral("gap")))
        r.limits.gap = p.value(QStringLiteral("gap")).toLongLong(&ok);
    if (!ok || r.limits.backupAgeHours < 1 || r.limits.gap < 1)
        return QStringLiteral("--backup-age and --gap take whole numbers, 1 or more");
    r.output = p.value(QStringLiteral("output"));
    r.format =
        p.isSet(QStringLiteral("format")) ? p.value(QStringLiteral("format")) : QStringLiteral("lines");
    if (p.isSet(QStringLiteral("timeout")))
        r.timeoutSeconds = p.value(QStringLiteral("timeout")).toInt(&ok);
    if (!ok || r.timeoutSeconds < 1 ||
        !QStringList{QStringLiteral("lines"), QStringLiteral("prometheus"), QStringLiteral("child")}.contains(
            r.format) ||
        (!r.output.isEmpty() && r.format != QLatin1String("prometheus")))
        return QStringLiteral("--format lines|prometheus, --output with prometheus, --timeout 1 or more");
    m_request = r;
    return {};
}

int Command::run(const Cli::Context &c) {
    Request r = m_request;
    r.settingsFile = c.settingsFile;
    c.produced.summaryToStderr = r.format == QLatin1String("prometheus") && r.output.isEmpty();
    r.atTimeout = [produced = c.produced](int status) {
        Cli::Produced copy = produced;
        copy.result = QStringLiteral("unknown");
        Cli::Summary::print(QStringLiteral("health"), status, copy);
    };
    if (r.all)
        return runAll(r, c.produced.result);
    std::unique_ptr<TMainDm> dm;
    try {
        dm = std::make_unique<TMainDm>(Paths::settingsFolder(), r.settingsFile);
        dm->databaseTriggers = false; // it only looks
        dm->onlyLooks = true;
        c.clientLoaded();
    } catch (const std::exception &e) {
        std::fprintf(c.err, "%s\n", e.what());
        return usageStatus(c.produced); // judged nothing: UNKNOWN
    }
    return runOne(*dm, r, c.produced.result);
}

} // namespace

std::unique_ptr<Cli::Command> command() {
    return std::make_unique<Command>();
}

} // namespace HealthCommand
