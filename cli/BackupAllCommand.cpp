#include "cli/BackupAllCommand.h"

#include "cli/HealthCommand.h"
#include "platform/Paths.h"
#include "platform/Signals.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <cstdio>
#include <thread>

namespace BackupAll {

namespace {

// A company asked to stop (past its limit, or the run got a signal) ends its step, lets its engine go and
// removes its unfinished files; a restore worker of its verification gets half a minute of that.
constexpr qint64 kStopGraceMs = 60000;

const QString kAll = QStringLiteral("all"), kJobs = QStringLiteral("jobs"),
              kTimeout = QStringLiteral("timeout"), kMetrics = QStringLiteral("metrics");

// The key=value words of a run's summary line ("qkadmin-cli: summary command=backup result=ok ...").
QHash<QString, QString> summaryOf(const QByteArray &out) {
    QHash<QString, QString> words;
    const qsizetype at = out.lastIndexOf("qkadmin-cli: summary ");
    if (at < 0 || (at > 0 && out[at - 1] != '\n'))
        return words;
    const qsizetype end = out.indexOf('\n', at);
    const QString line = QString::fromUtf8(out.mid(at, end < 0 ? -1 : end - at));
    for (const QString &w : line.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        if (const qsizetype eq = w.indexOf(QLatin1Char('=')); eq > 0)
            words.insert(w.left(eq), w.mid(eq + 1));
    return words;
}

QStringList linesOf(const QByteArray &bytes) {
    QStringList lines;
    for (QByteArray l : bytes.split('\n')) {
        // A progress line rewritten in place: its last state.
        if (const qsizetype cr = l.lastIndexOf('\r'); cr >= 0)
            l = l.mid(cr + 1);
        if (!l.trimmed().isEmpty() && !l.startsWith("qkadmin-cli: summary "))
            lines << QString::fromUtf8(l);
    }
    return lines;
}

QString metricsFile(const QString &folder, const QString &company) {
    return QDir(folder).filePath(QStringLiteral("qkadmin-%1.prom").arg(company));
}

QByteArray utf8(const QString &s) {
    return s.toUtf8();
}

} // namespace

int defaultJobs() {
    return std::clamp(int(std::thread::hardware_concurrency()), 1, kMostJobs);
}

void addOptions(QCommandLineParser &p) {
    p.addOption(
        {kAll, QStringLiteral("every company: each settings file of FOLDER (default the settings folder "
                              "and /etc/qkadmin, as health --all), each backed up by a process of its "
                              "own, then a table")});
    p.addOption({kJobs,
                 QStringLiteral("with --all: at most N companies at once, 1 to %1 (default the number of "
                                "processor cores, here %2)")
                     .arg(kMostJobs)
                     .arg(defaultJobs()),
                 QStringLiteral("N")});
    p.addOption({kTimeout,
                 QStringLiteral("with --all: one company's limit in seconds; past it the company is stopped "
                                "and said past its time, przekroczony czas (default 3600)"),
                 QStringLiteral("SECONDS")});
    p.addOption({kMetrics,
                 QStringLiteral("with --all: write each company's health metrics to FOLDER/qkadmin-NAME.prom "
                                "as soon as it is done (each file written whole)"),
                 QStringLiteral("FOLDER")});
    QCommandLineOption child(kChildOption);
    child.setFlags(QCommandLineOption::HiddenFromHelp);
    p.addOption(child);
    p.addPositionalArgument(QStringLiteral("FOLDER"),
                            QStringLiteral("with --all: the folder of the settings files"),
                            QStringLiteral("[FOLDER]"));
}

QString onlyWithAll(const QCommandLineParser &p) {
    for (const QString &o : {kJobs, kTimeout, kMetrics})
        if (p.isSet(o))
            return QStringLiteral("--%1 goes with --all").arg(o);
    return {};
}

QString check(const QCommandLineParser &p, const Chain &chain, Request &r) {
    r = Request{};
    r.chain = chain;
    if (chain.child)
        return QStringLiteral("--all runs the companies itself");
    const QStringList positional = p.positionalArguments();
    if (positional.size() > 1)
        return QStringLiteral("unexpected ") + positional.last();
    r.folder = positional.value(0);
    if (!r.folder.isEmpty() && !QFileInfo(r.folder).isDir())
        return QStringLiteral("no such folder %1").arg(r.folder);
    bool ok = true;
    r.jobs = p.isSet(kJobs) ? p.value(kJobs).toInt(&ok) : defaultJobs();
    if (!ok || r.jobs < 1 || r.jobs > kMostJobs)
        return QStringLiteral("--jobs takes a number from 1 to %1").arg(kMostJobs);
    if (p.isSet(kTimeout))
        r.timeoutSeconds = p.value(kTimeout).toInt(&ok);
    if (!ok || r.timeoutSeconds < 1)
        return QStringLiteral("--timeout takes seconds, 1 or more");
    r.metrics = p.value(kMetrics);
    if (p.isSet(kMetrics) && !QFileInfo(r.metrics).isDir())
        return QStringLiteral("--metrics names a folder that exists");
    return {};
}

QStringList childArguments(const QString &settingsFile, const Chain &chain) {
    QStringList a{QStringLiteral("--settings"), settingsFile, QStringLiteral("backup"),
                  QLatin1String("--") + kChildOption};
    if (chain.verify)
        a << QStringLiteral("--verify");
    if (chain.archive)
        a << QStringLiteral("--archive");
    if (chain.keep > 0)
        a << QStringLiteral("--keep") << QString::number(chain.keep);
    if (chain.offsite)
        a << QStringLiteral("--offsite");
    return a;
}

Company readChild(const QString &name, const QString &file, const ChildPool::Finished &end) {
    Company c{name, file};
    c.seconds = double(end.ms) / 1000.0;
    if (!end.started) {
        c.lines << QStringLiteral("Nie można uruchomić kopii tej firmy.");
        return c;
    }
    c.lines = linesOf(end.out);
    c.errors = linesOf(end.err);
    c.lines << c.errors;
    const QHash<QString, QString> words = summaryOf(end.out);
    switch (end.end) {
    case Supervisor::End::PastLimit:
        c.result = Result::PastLimit;
        return c;
    case Supervisor::End::Signal:
        c.result = Result::Interrupted;
        return c;
    default:
        break;
    }
    if (end.status == 0 && words.value(QStringLiteral("result")) == QLatin1String("ok")) {
        c.result = Result::Done;
        bool ok = false;
        const qint64 bytes = words.value(QStringLiteral("backup_bytes")).toLongLong(&ok);
        c.bytes = ok ? bytes : -1;
        c.snapshot = words.value(QStringLiteral("snapshot"));
        c.retention = words.value(QStringLiteral("retention"));
        return c;
    }
    c.result = words.value(QStringLiteral("result")) == QLatin1String("busy") ? Result::Busy : Result::Failed;
    if (end.status < 0)
        c.lines << QStringLiteral("Kopia tej firmy zakończona sygnałem %1.").arg(-end.status);
    return c;
}

QString resultText(Result r) {
    switch (r) {
    case Result::Done:
        return QStringLiteral("wykonana");
    case Result::Failed:
        return QStringLiteral("błąd");
    case Result::Busy:
        return QStringLiteral("zajęta");
    case Result::PastLimit:
        return QStringLiteral("przekroczony czas");
    case Result::Interrupted:
        return QStringLiteral("przerwana");
    case Result::NotRun:
        break;
    }
    return QStringLiteral("nie wykonana");
}

int exitStatus(const QList<Company> &companies, bool retentionFailed) {
    const bool allDone = std::all_of(companies.begin(), companies.end(), [](const Company &c) {
        return c.result == Result::Done && !c.metricsFailed;
    });
    return !companies.isEmpty() && allDone && !retentionFailed ? Cli::Success : Cli::Failure;
}

QStringList table(const QList<Company> &companies) {
    // Padded by characters, not bytes: the names and words are Polish.
    auto row = [](const QString &a, const QString &b, const QString &c, const QString &d, const QString &e) {
        return QStringLiteral("%1 %2 %3 %4 %5").arg(a, -24).arg(b, -18).arg(c, 9).arg(d, 14).arg(e).trimmed();
    };
    QStringList t{row(QStringLiteral("firma"), QStringLiteral("wynik"), QStringLiteral("sekundy"),
                      QStringLiteral("bajty kopii"), QStringLiteral("migawka poza siedzibą"))};
    for (const Company &c : companies)
        t << row(c.name,
                 resultText(c.result) + (c.metricsFailed ? QStringLiteral(", bez metryk") : QString()),
                 c.result == Result::NotRun && c.seconds == 0 ? QStringLiteral("-")
                                                              : QString::number(c.seconds, 'f', 1),
                 c.bytes < 0 ? QStringLiteral("-") : QString::number(c.bytes),
                 c.snapshot.isEmpty() ? QStringLiteral("-") : c.snapshot);
    return t;
}

QString summaryLine(const QList<Company> &companies) {
    QHash<Result, int> n;
    for (const Company &c : companies)
        ++n[c.result];
    QString line =
        QStringLiteral("Kopie firm: %1 z %2 wykonane").arg(n.value(Result::Done)).arg(companies.size());
    const std::pair<Result, const char *> others[] = {{Result::Failed, "błąd"},
                                                      {Result::Busy, "zajęte"},
                                                      {Result::PastLimit, "przekroczony czas"},
                                                      {Result::Interrupted, "przerwane"},
                                                      {Result::NotRun, "nie wykonane"}};
    for (const auto &[r, word] : others)
        if (n.value(r) > 0)
            line += QStringLiteral("; %1: %2").arg(QString::fromUtf8(word)).arg(n.value(r));
    return line + QLatin1Char('.');
}

namespace {

void print(const QString &text) {
    std::fputs(utf8(text + QLatin1Char('\n')).constData(), stdout);
}

void printBlock(const Company &c) {
    print(QStringLiteral("== %1 (%2): %3, %4 s")
              .arg(c.name, c.file, resultText(c.result), QString::number(c.seconds, 'f', 1)));
    for (const QString &l : c.lines)
        print(l);
    print(QString());
    std::fflush(stdout);
}

// Each repository the companies' copies went to, its steps one after another (each needs it alone): every
// company's retention, then one prune when any forgot a copy. Distinct repositories at once. False when a
// step failed or a signal stopped them.
bool tidyRepositories(const QList<Company> &companies, const Request &r, int &stoppedBy) {
    struct Repository {
        QString key;
        QList<const Company *> companies;
        qsizetype step = 0; // the next: a company's forget, then (index == companies.size()) the prune
        bool forgotten = false;
    };
    QList<Repository> repositories;
    for (const Company &c : companies) {
        if (c.retention.isEmpty())
            continue;
        auto it = std::find_if(repositories.begin(), repositories.end(),
                               [&](const Repository &x) { return x.key == c.retention; });
        if (it == repositories.end()) {
            repositories.append({c.retention, {}});
            it = repositories.end() - 1;
        }
        it->companies << &c;
    }
    bool failed = false;
    ChildPool pool(
        {r.jobs, qint64(r.timeoutSeconds) * 1000, Supervisor::Rule{SIGTERM, kStopGraceMs, true}, true});
    pool.run(
        repositories.size(), [&](qsizetype i, const ChildPool::Finished *end) -> std::optional<QStringList> {
            Repository &x = repositories[i];
            if (end) {
                const bool pruned = x.step > x.companies.size();
                const Company &c = *x.companies[pruned ? 0 : x.step - 1];
                const bool ok = end->started && end->end == Supervisor::End::Exited && end->status == 0;
                failed = failed || !ok;
                bool n = false;
                x.forgotten =
                    x.forgotten || summaryOf(end->out).value(QStringLiteral("forgotten")).toInt(&n) > 0;
                print((pruned
                           ? QStringLiteral(
                                 "== porządkowanie repozytorium kopii poza siedzibą %1 (ustawienia %2): %3")
                           : QStringLiteral("== usuwanie starych kopii poza siedzibą %1: %2: %3"))
                          .arg(pruned ? x.key : c.name, pruned ? c.file : x.key,
                               ok ? QStringLiteral("wykonane") : QStringLiteral("błąd")));
                for (const QString &l : linesOf(end->out) + linesOf(end->err))
                    print(l);
                print(QString());
                std::fflush(stdout);
                if (!ok) // what comes after a failed step waits for the next night
                    return std::nullopt;
            }
            if (x.step < x.companies.size()) {
                const Company &c = *x.companies[x.step++];
                return QStringList{QStringLiteral("--settings"), c.file, QStringLiteral("offsite"),
                                   QStringLiteral("forget"), c.snapshot};
            }
            if (x.step == x.companies.size() && x.forgotten) {
                ++x.step;
                return QStringList{QStringLiteral("--settings"), x.companies[0]->file,
                                   QStringLiteral("offsite"), QStringLiteral("prune")};
            }
            return std::nullopt;
        });
    stoppedBy = pool.stoppedBy();
    return !failed && !stoppedBy;
}

} // namespace

int run(const Request &r, Cli::Produced &produced) {
    // Before the first company starts: a signal is then passed on to every company that runs.
    Signals::install();
    const QStringList files = HealthCommand::companyFiles(r.folder, Paths::settingsFolder());
    QList<Company> companies;
    for (const QString &f : files)
        companies << Company{HealthCommand::companyName(f), f};
    if (files.isEmpty()) {
        std::fprintf(stderr, "Brak plików ustawień firm (*.ini) w %s: nie wykonano żadnej kopii.\n",
                     utf8(r.folder.isEmpty() ? Paths::settingsFolder() + QStringLiteral(" ani /etc/qkadmin")
                                             : r.folder)
                         .constData());
        return Cli::Failure;
    }
    ChildPool pool(
        {r.jobs, qint64(r.timeoutSeconds) * 1000, Supervisor::Rule{SIGTERM, kStopGraceMs, true}, true});
    // A job: the company's backup, then (with --metrics) its health metrics, in the same slot.
    pool.run(files.size(), [&](qsizetype i, const ChildPool::Finished *end) -> std::optional<QStringList> {
        Company &c = companies[i];
        if (!end)
            return childArguments(files[i], r.chain);
        // The backup's end leaves the company's result set: an end after it is the metrics'.
        const bool metricsStep = !r.metrics.isEmpty() && c.result != Result::NotRun;
        if (metricsStep) { // the metrics' own end
            c.metricsFailed = !end->started || end->end != Supervisor::End::Exited || end->status != 0;
            if (c.metricsFailed)
                c.lines << QStringLiteral("Nie zapisano metryk %1.").arg(metricsFile(r.metrics, c.name))
                        << linesOf(end->err);
            printBlock(c);
            return std::nullopt;
        }
        c = readChild(c.name, c.file, *end);
        if (c.result == Result::NotRun) // it could not be started: NotRun stays, with its reason
            c.seconds = 0;
        if (r.metrics.isEmpty() || c.result == Result::NotRun || c.result == Result::Interrupted) {
            printBlock(c);
            return std::nullopt;
        }
        return QStringList{QStringLiteral("--settings"),  files[i],
                           QStringLiteral("health"),      QStringLiteral("--format"),
                           QStringLiteral("prometheus"),  QStringLiteral("--output"),
                           metricsFile(r.metrics, c.name)};
    });
    int stoppedBy = pool.stoppedBy();
    bool retentionFailed = false;
    if (!stoppedBy)
        retentionFailed = !tidyRepositories(companies, r, stoppedBy);
    for (const QString &l : table(companies))
        print(l);
    const QString line = summaryLine(companies);
    print(line);
    std::fflush(stdout);
    int done = 0;
    for (const Company &c : companies)
        done += c.result == Result::Done ? 1 : 0;
    produced.extra = QStringLiteral("companies=%1 done=%2").arg(companies.size()).arg(done);
    return stoppedBy ? Cli::Failure : exitStatus(companies, retentionFailed);
}

} // namespace BackupAll
