#pragma once

#include "cli/Command.h"
#include "platform/ChildPool.h"

#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>

// qkadmin-cli backup --all: the nightly run of a bureau of many companies. Every company's settings file
// of the folder (the same ones as health --all) is backed up by the program started again with those
// settings, at most --jobs at once, each within --timeout; one company's failure never stops or slows the
// others. The companies' off-site copies go at once into a repository they share (restic's shared locks);
// what needs it alone, each company's retention (forget) and the prune, runs once all copies are made,
// one repository's steps after one another, one prune per repository.
namespace BackupAll {

// The hidden option of a company's own run: it leaves its off-site retention to the run of all and says
// the new backup's bytes on its summary line.
inline const QString kChildOption = QStringLiteral("one-of-all");
// At most this many companies at once: every child that runs gets the program's signals passed on.
constexpr int kMostJobs = 16;

// The chain's options, passed on to each company's run as given.
struct Chain {
    bool verify = false, archive = false, offsite = false;
    int keep = 0;
    bool child = false; // this is one company of a run of all
};

struct Request {
    Chain chain;
    QString folder; // empty: the settings folder and /etc/qkadmin (HealthCommand::companyFiles)
    int jobs = 1;   // companies at once
    int timeoutSeconds = 3600;
    QString metrics; // a folder: each company's health metrics written there as it finishes
};

// The number of the machine's processor cores, 1 to kMostJobs.
int defaultJobs();

// --all, --jobs, --timeout, --metrics and FOLDER (and the hidden child option).
void addOptions(QCommandLineParser &p);
// The error when an option of --all is given without it, else empty.
QString onlyWithAll(const QCommandLineParser &p);
// Reads the options of --all into r (chain: the chain's options, checked); a usage error's text.
QString check(const QCommandLineParser &p, const Chain &chain, Request &r);

// One company's command line: its settings, backup with the chain's options and the child option.
QStringList childArguments(const QString &settingsFile, const Chain &chain);

enum class Result {
    Done,        // backed up (and verified, archived, sent as asked)
    Failed,      // the run ended with an error
    Busy,        // another run holds the company's folder lock: not waited for
    PastLimit,   // stopped past --timeout
    Interrupted, // stopped by a signal to the run of all
    NotRun,      // not begun: the run of all was stopped first, or the program could not be started
};

// One company as the run of all reads it from the process that backed it up.
struct Company {
    QString name, file;
    Result result = Result::NotRun;
    double seconds = 0;
    qint64 bytes = -1;    // the new backup's size, when it was made
    QString snapshot{};   // the off-site copy's snapshot, when one was sent
    QString retention{};  // the repository whose retention it left to the end (OffsiteOps::repositoryKey)
    QStringList lines{};  // what it said: its log on standard output, then its errors
    QStringList errors{}; // its standard error alone
    bool metricsFailed = false;
};

// A company's run as it ended: its summary line read for the result, bytes, snapshot and retention.
Company readChild(const QString &name, const QString &file, const ChildPool::Finished &end);
// "wykonana", "błąd", "zajęta", "przekroczony czas", "przerwana", "nie wykonana".
QString resultText(Result r);
// 0 when every company was backed up (and its metrics written), else 1 (a failure); also 1 for no
// company at all: a night that backed up nothing is not a success.
int exitStatus(const QList<Company> &companies, bool retentionFailed);
// The table: one row per company, in the order of the settings files.
QStringList table(const QList<Company> &companies);
// "Kopie firm: 8 z 10 wykonane; błąd: 1; zajęte: 1."
QString summaryLine(const QList<Company> &companies);

// Runs them all, prints each company's block as it ends, then the table and the summary line; the exit
// status.
int run(const Request &r, Cli::Produced &produced);

} // namespace BackupAll
