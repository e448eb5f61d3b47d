#pragma once

#include "admin/Health.h"
#include "cli/Command.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class TMainDm;

// qkadmin-cli health: one company (the settings given), or every company of a folder at once.
namespace HealthCommand {

struct Request {
    Health::Options limits;
    QString format = QStringLiteral("lines"); // lines, prometheus; child: lines, "---", then metrics
    // The metrics written here atomically (mode 0644) instead of stdout; the exit status then says
    // whether the file was written (0) or not (1), the state being in the file.
    QString output;
    bool all = false;
    QString folder;          // with all: where the settings files are (default: see companyFiles)
    int timeoutSeconds = 10; // one company's limit, its connection included
    QString settingsFile;    // the company's settings file (empty: the default setup.ini)
    // One company's check past timeoutSeconds (a server that does not answer, a hung network mount):
    // said UNKNOWN, then this ends the run with the status.
    std::function<void(int status)> atTimeout;
};

// The exit status (0 OK ... 3 UNKNOWN); result is the summary's result word.
int runOne(TMainDm &dm, const Request &r, QString &result);
// Every company in a process of its own. SIGTERM, SIGINT and SIGHUP are passed on to the checks that
// run and waited for; the run then ends as UNKNOWN (the caller says so).
int runAll(const Request &r, QString &result);

// The settings files of the companies: every *.ini in folder but jn.ini, or when folder is empty those
// of the settings folder and of /etc/qkadmin, where the backup units keep theirs.
QStringList companyFiles(const QString &folder, const QString &settingsFolder);

// A company's name: its settings file's name without .ini.
QString companyName(const QString &settingsFile);

// One company as health --all reads it from the process that checked it.
struct Report {
    QString name, file;
    QStringList lines;  // the findings as printed
    QByteArray metrics; // the company's exposition
    Health::Level level = Health::Level::Unknown;
    bool judged = false; // its state is known (not UNKNOWN)
};

// The command line of the check of one company that health --all starts: its settings, the format
// "child", and the request's limits and timeout.
QStringList childArguments(const QString &settingsFile, const Request &r);
// What a check in the format "child" prints: the finding lines, "---", the metrics.
QByteArray childOutput(const QStringList &lines, const QByteArray &metrics);
// A child's output and exit status: the status is the company's state (health's own ranking of its
// findings), a signal or any other status UNKNOWN; the summary line is left out.
Report readChild(const QString &name, const QString &file, const QByteArray &output, int status);
// The office's state: the worst company, one that could not be judged counting as CRITICAL beside the
// others (its books cannot be looked after); UNKNOWN only when none could be judged.
Health::Level officeLevel(const QList<Report> &reports);

// The command qkadmin-cli health, with its options.
std::unique_ptr<Cli::Command> command();

} // namespace HealthCommand
