#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// restic (Debian 12's 0.14), the program that keeps the off-site copies: encrypted on this machine,
// deduplicated, on a folder, an SFTP host, a REST server or a bucket. It runs as a child process of its
// own: its key reaches it only as the path of the key file in its own environment, a repository
// location only through a descriptor it reads (a password in a URL is on no command line), and it is
// stopped with SIGINT, which lets it remove its lock (SIGTERM leaves the lock behind).
namespace Restic {

struct Repository {
    QString location;     // restic's repository
    QString keyFile;      // the file holding its key
    QString keyHint;      // the id of the key that file holds, when known (restic tries it first)
    QStringList options;  // restic's extended options (-o key=value)
    QString cacheFolder;  // empty: restic's default
    bool noCache = false; // write nothing on this machine either (a read-only check)
};

struct Limits {
    int stallSeconds = 120; // nothing moved for this long (restic 0.14 retries a dead server for minutes)
    int totalMs = 0;        // the whole run at most this long; 0: no such limit
};

struct Handlers {
    // Each JSON line of its standard output (backup's progress and summary).
    std::function<void(const QJsonObject &)> json;
    // Its standard output as it comes, instead of lines (dump); false stops it.
    std::function<bool(const char *data, qint64 size)> data;
    // Each line of its standard error; false stops it (SIGINT).
    std::function<bool(const QString &line)> error;
};

struct Result {
    bool started = false;
    int exitCode = -1;        // restic's own, -(signal) when a signal ended it
    bool stalled = false;     // stopped: nothing moved within the limit, or past the whole run's limit
    bool interrupted = false; // stopped: this program was asked to end (a signal)
    bool stopped = false;     // stopped by a handler
    bool cancelled = false;   // stopped: the operator asked (Supervisor::cancelRunning)
    QStringList errors;       // the lines of its standard error (the last 200)
    QByteArray output;        // its standard output, without the JSON lines a handler took
    int stallSeconds = 0;     // the limit that applied
    bool ok() const { return started && exitCode == 0 && !stalled && !interrupted && !stopped && !cancelled; }
};

// Runs restic with args on repo (the repository, its options, the key and the cache are added here).
// secondKey, when given, is readable by restic as /dev/fd/4 (key add --new-password-file).
Result run(const Repository &repo, const QStringList &args, const Handlers &handlers = {},
           const Limits &limits = {}, const QByteArray &secondKey = {});

// Why a run failed, in Polish, for the operator, restic's own last line after it; shown names the
// repository (its password hidden). recorded: copies were sent there before, so a repository that is not
// there went away (an unmounted disk, a server off) and is never one to create anew.
QString problem(const Result &result, const QString &shown, const QString &keyFile, bool recorded = false);
// Whether it failed because the repository cannot be reached (the network, the server, a limit).
bool unreachable(const Result &result);
// Whether it failed because the repository is not where it is named (no folder or no config there, or
// no permission to it): unreachable or gone, not damaged.
bool gone(const Result &result);

struct Snapshot {
    QString id, shortId;
    QDateTime time;
    QString hostname;
    QStringList paths, tags;
    // The value of a "name=value" tag, empty when there is none.
    QString tag(const QString &name) const;
};

// restic's "snapshots --json": every snapshot, newest first; nullopt when the text is no such list.
std::optional<QList<Snapshot>> parseSnapshots(const QByteArray &json);
// restic's time ("2026-12-08T22:00:00.123456789+01:00").
QDateTime parseTime(const QString &text);
// The form restic's --time takes, in local time.
QString timeArgument(const QDateTime &when);

// The snapshots carrying every tag of tags, newest first, read without a lock (nothing is written to
// the repository); nullopt when they cannot be read, with the run in result.
std::optional<QList<Snapshot>> snapshots(const Repository &repo, const QStringList &tags,
                                         const Limits &limits, Result *result = nullptr);

// The program started: restic from PATH.
QString program();

} // namespace Restic
