#include "platform/Restic.h"

#include "platform/RootFiles.h"
#include "platform/Signals.h"
#include "platform/Subprocess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <exception>
#include <poll.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace Restic {

namespace {

// Bytes in a descriptor of no file system (nothing written to any disk), for restic to read as /dev/fd/N.
int memoryFile(const char *name, const QByteArray &bytes) {
    const int fd = ::memfd_create(name, MFD_CLOEXEC);
    if (fd < 0)
        return -1;
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            return -1;
        }
        done += n;
    }
    return fd;
}

struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

// Splits what arrives into lines; the rest waits for the next piece.
struct Lines {
    QByteArray pending;
    template <typename F> void feed(const char *data, qint64 size, F line) {
        pending.append(data, size);
        qsizetype start = 0, end;
        while ((end = pending.indexOf('\n', start)) >= 0) {
            line(pending.mid(start, end - start));
            start = end + 1;
        }
        pending.remove(0, start);
    }
    template <typename F> void finish(F line) {
        if (!pending.isEmpty())
            line(pending);
        pending.clear();
    }
};

bool contains(const Result &r, const char *text) {
    for (const QString &l : r.errors)
        if (l.contains(QLatin1String(text), Qt::CaseInsensitive))
            return true;
    return false;
}

} // namespace

QString program() {
    return QStringLiteral("restic");
}

Result run(const Repository &repo, const QStringList &args, const Handlers &h, const Limits &limits,
           const QByteArray &secondKey) {
    Result r;
    r.stallSeconds = limits.stallSeconds;
    Descriptor location{memoryFile("restic-repository", repo.location.toUtf8())};
    Descriptor second{secondKey.isEmpty() ? -1 : memoryFile("restic-key", secondKey)};
    if (location.fd < 0 || (!secondKey.isEmpty() && second.fd < 0)) {
        r.errors << QStringLiteral("memfd_create: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return r;
    }
    Subprocess::Options o;
    o.program = program();
    o.arguments << QStringLiteral("--repository-file") << QStringLiteral("/dev/fd/3");
    if (repo.noCache)
        o.arguments << QStringLiteral("--no-cache");
    else if (!repo.cacheFolder.isEmpty())
        o.arguments << QStringLiteral("--cache-dir") << repo.cacheFolder;
    for (const QString &option : repo.options)
        o.arguments << QStringLiteral("-o") << option;
    o.arguments << args;
    o.output = Subprocess::Output::Pipe;
    o.pipeError = true;
    o.keptDescriptor = location.fd;
    if (second.fd >= 0)
        o.moreKept << second.fd;
    // The key's path for restic alone; whatever this process's environment says of restic is not used.
    o.environment = {QStringLiteral("RESTIC_PASSWORD_FILE=") + repo.keyFile,
                     QStringLiteral("RESTIC_PASSWORD="),
                     QStringLiteral("RESTIC_PASSWORD_COMMAND="),
                     QStringLiteral("RESTIC_REPOSITORY="),
                     QStringLiteral("RESTIC_REPOSITORY_FILE="),
                     QStringLiteral("RESTIC_PROGRESS_FPS=2"),
                     QStringLiteral("RESTIC_KEY_HINT=") + repo.keyHint};
    // Only what restic and the programs it runs (ssh, rclone) need: the system's, the locale, proxies and
    // the storage services' own credentials. The server's password and its user (ISC_PASSWORD,
    // ISC_USER) and every other secret of this process stay here.
    o.passedOn = {QStringLiteral("PATH"),
                  QStringLiteral("HOME"),
                  QStringLiteral("USER"),
                  QStringLiteral("LOGNAME"),
                  QStringLiteral("LANG"),
                  QStringLiteral("LANGUAGE"),
                  QStringLiteral("LC_*"),
                  QStringLiteral("TZ"),
                  QStringLiteral("TMPDIR"),
                  QStringLiteral("XDG_CACHE_HOME"),
                  QStringLiteral("XDG_CONFIG_HOME"),
                  QStringLiteral("SSH_AUTH_SOCK"),
                  QStringLiteral("SSL_CERT_FILE"),
                  QStringLiteral("SSL_CERT_DIR"),
                  QStringLiteral("http_proxy"),
                  QStringLiteral("https_proxy"),
                  QStringLiteral("no_proxy"),
                  QStringLiteral("HTTP_PROXY"),
                  QStringLiteral("HTTPS_PROXY"),
                  QStringLiteral("NO_PROXY"),
                  QStringLiteral("AWS_*"),
                  QStringLiteral("B2_*"),
                  QStringLiteral("AZURE_*"),
                  QStringLiteral("GOOGLE_*"),
                  QStringLiteral("OS_*"),
                  QStringLiteral("ST_*"),
                  QStringLiteral("RCLONE_*")};
    const Subprocess::Child child = Subprocess::spawn(o);
    if (child.pid < 0) {
        r.errors << QStringLiteral("nie można uruchomić programu %1").arg(o.program);
        return r;
    }
    r.started = true;

    QElapsedTimer clock, moved;
    clock.start();
    moved.start();
    qint64 stopAsked = -1; // when restic was sent SIGINT
    auto stop = [&] {
        if (stopAsked < 0) {
            ::kill(pid_t(child.pid), SIGINT);
            stopAsked = clock.elapsed();
        }
    };
    // A handler that throws (an operator that stops on a signal) stops restic first: it is never left
    // running unwaited. The exception goes on once restic has ended.
    std::exception_ptr thrown;
    auto guarded = [&](auto f) {
        if (thrown)
            return;
        try {
            f();
        } catch (...) {
            thrown = std::current_exception();
            r.stopped = true;
            stop();
        }
    };
    double lastDone = -1, lastFiles = -1;
    Lines outLines, errLines;
    QByteArray lastText;
    auto onOut = [&](const QByteArray &line) {
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        if (!doc.isObject()) {
            r.output += line + '\n';
            // A progress line ("[0:12] 10.00%  1 / 10 packs") repeated while restic waits on a dead server
            // moves nothing: only its text past the elapsed time counts.
            static const QRegularExpression elapsed(QStringLiteral("^\\[[0-9:]+\\]\\s*"));
            const QByteArray text = QString::fromUtf8(line).remove(elapsed).toUtf8();
            if (text != lastText)
                moved.restart();
            lastText = text;
            return;
        }
        const QJsonObject m = doc.object();
        if (m.value(QLatin1String("message_type")).toString() == QLatin1String("status")) {
            // restic repeats its status while it retries a dead server: only a change is progress.
            const double done = m.value(QLatin1String("bytes_done")).toDouble(),
                         files = m.value(QLatin1String("files_done")).toDouble();
            if (done != lastDone || files != lastFiles)
                moved.restart();
            lastDone = done;
            lastFiles = files;
        } else {
            moved.restart();
        }
        if (h.json)
            guarded([&] { h.json(m); });
        else
            r.output += line + '\n';
    };
    auto onErr = [&](const QByteArray &raw) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty())
            return;
        r.errors << line;
        if (r.errors.size() > 200)
            r.errors.removeFirst();
        if (!line.contains(QLatin1String("retrying"), Qt::CaseInsensitive))
            moved.restart();
        guarded([&] {
            if (h.error && !h.error(line) && stopAsked < 0) {
                r.stopped = true;
                stop();
            }
        });
    };

    int fds[2] = {child.output, child.error};
    char buf[65536];
    while (fds[0] >= 0 || fds[1] >= 0) {
        pollfd p[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
        const int n = ::poll(p, 2, 100);
        if (n < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i] < 0 || !(p[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t got = ::read(fds[i], buf, sizeof buf);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                ::close(fds[i]);
                fds[i] = -1;
                continue;
            }
            if (i == 1) {
                errLines.feed(buf, got, onErr);
            } else if (h.data) {
                moved.restart();
                guarded([&] {
                    if (!h.data(buf, got) && stopAsked < 0) {
                        r.stopped = true;
                        stop();
                    }
                });
            } else {
                outLines.feed(buf, got, onOut);
            }
        }
        if (stopAsked < 0) {
            if (Signals::received()) {
                r.interrupted = true;
                stop();
            } else if ((limits.stallSeconds > 0 && moved.elapsed() > qint64(limits.stallSeconds) * 1000) ||
                       (limits.totalMs > 0 && clock.elapsed() > limits.totalMs)) {
                r.stalled = true;
                stop();
            }
        } else if (clock.elapsed() - stopAsked > (r.stalled ? 5000 : 15000)) {
            // restic ends within moments of SIGINT; one that does not is held in a call that never returns
            // (removing its lock from a server that stopped answering).
            ::kill(pid_t(child.pid), SIGKILL);
            for (int &fd : fds)
                if (fd >= 0) {
                    ::close(fd);
                    fd = -1;
                }
        }
    }
    outLines.finish(onOut);
    errLines.finish(onErr);
    r.exitCode = Subprocess::wait(child.pid);
    if (thrown)
        std::rethrow_exception(thrown);
    return r;
}

bool unreachable(const Result &r) {
    if (r.stalled)
        return true;
    for (const char *t :
         {"connection refused", "no such host", "i/o timeout", "connection reset", "network is unreachable",
          "Connection closed", "ssh command exited", "subprocess ssh", "unable to start the sftp session",
          "broken pipe", "EOF", "context deadline exceeded", "no route to host", "503 Service Unavailable"})
        if (contains(r, t))
            return true;
    return false;
}

QString problem(const Result &r, const QString &shown, const QString &keyFile) {
    if (!r.started)
        return QStringLiteral("Nie można uruchomić programu restic (%1): zainstaluj pakiet restic.")
            .arg(r.errors.value(0));
    if (r.interrupted)
        return QStringLiteral(
                   "Przerwano sygnałem %1: restic zatrzymany (SIGINT), repozytorium %2 pozostaje spójne.")
            .arg(QLatin1String(Signals::name(Signals::received())), shown);
    if (contains(r, "wrong password or no key found"))
        return QStringLiteral("Klucz z pliku %1 nie otwiera repozytorium %2 (zły klucz).")
            .arg(keyFile, shown);
    if (contains(r, "no space left on device") || contains(r, "quota exceeded") ||
        contains(r, "insufficient storage"))
        return QStringLiteral("Brak miejsca w repozytorium %1: kopia nie została zapisana.").arg(shown);
    if (contains(r, "repository is already locked")) {
        // Stale locks (of runs that are gone) are removed before each run: this one's holder still runs.
        static const QRegularExpression holder(
            QStringLiteral("locked (?:exclusively )?by PID (\\d+) on (\\S+) by (\\S+)"));
        QString who;
        for (const QString &l : r.errors)
            if (const QRegularExpressionMatch m = holder.match(l); m.hasMatch())
                who = QStringLiteral(": proces %1 na komputerze %2, użytkownik %3")
                          .arg(m.captured(1), m.captured(2), m.captured(3));
        return QStringLiteral(
                   "Repozytorium %1 jest zablokowane przez operację, która wciąż trwa (inna kopia, "
                   "sprawdzanie lub usuwanie starych kopii%2). Spróbuj ponownie po jej zakończeniu.")
            .arg(shown, who);
    }
    if (contains(r, "read-only file system") || contains(r, "unable to create lock in backend"))
        return QStringLiteral(
                   "Repozytorium %1 jest tylko do odczytu (nie można w nim założyć blokady ani nic "
                   "zapisać): sprawdź, czy dysk lub udział sieciowy jest zamontowany do zapisu "
                   "i czy użytkownik %2 może w nim pisać.")
            .arg(shown, RootFiles::runningAs());
    if (r.stalled)
        return QStringLiteral(
                   "Repozytorium %1 nie odpowiada: przez %2 s nic nie zostało przesłane ani odczytane (sieć "
                   "lub serwer niedostępne). Przerwano.")
            .arg(shown)
            .arg(r.stallSeconds);
    const QString last = r.errors.isEmpty() ? QString() : r.errors.last();
    if (unreachable(r))
        return QStringLiteral("Repozytorium %1 jest nieosiągalne: %2").arg(shown, last);
    if (contains(r, "Is there a repository at the following location?") ||
        contains(r, "unable to open config file"))
        return QStringLiteral("Pod adresem %1 nie ma repozytorium kopii (załóż je poleceniem qkadmin-cli "
                              "offsite init): %2")
            .arg(shown, r.errors.value(0));
    if (contains(r, "config file already exists"))
        return QStringLiteral("Repozytorium %1 już istnieje: nie założono nowego.").arg(shown);
    if (r.exitCode < 0)
        return QStringLiteral("restic zakończony sygnałem %1: %2").arg(-r.exitCode).arg(last);
    return QStringLiteral("restic zakończył się kodem %1: %2").arg(r.exitCode).arg(last);
}

QString Snapshot::tag(const QString &name) const {
    const QString prefix = name + QLatin1Char('=');
    for (const QString &t : tags)
        if (t.startsWith(prefix))
            return t.mid(prefix.size());
    return {};
}

QDateTime parseTime(const QString &text) {
    // Qt reads milliseconds at most; restic writes nanoseconds.
    static const QRegularExpression fraction(QStringLiteral("(\\.\\d{1,3})\\d*"));
    QString t = text;
    t.replace(fraction, QStringLiteral("\\1"));
    QDateTime d = QDateTime::fromString(t, Qt::ISODateWithMs);
    if (!d.isValid())
        d = QDateTime::fromString(t, Qt::ISODate);
    return d;
}

QString timeArgument(const QDateTime &when) {
    return when.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

std::optional<QList<Snapshot>> parseSnapshots(const QByteArray &json) {
    QJsonParseError e{};
    const QJsonDocument doc = QJsonDocument::fromJson(json.trimmed().isEmpty() ? QByteArray("[]") : json, &e);
    if (e.error != QJsonParseError::NoError || !doc.isArray())
        return std::nullopt;
    QList<Snapshot> list;
    for (const QJsonValue &v : doc.array()) {
        const QJsonObject o = v.toObject();
        Snapshot s;
        s.id = o.value(QLatin1String("id")).toString();
        s.shortId = o.value(QLatin1String("short_id")).toString();
        if (s.shortId.isEmpty())
            s.shortId = s.id.left(8);
        s.time = parseTime(o.value(QLatin1String("time")).toString());
        s.hostname = o.value(QLatin1String("hostname")).toString();
        for (const QJsonValue &p : o.value(QLatin1String("paths")).toArray())
            s.paths << p.toString();
        for (const QJsonValue &t : o.value(QLatin1String("tags")).toArray())
            s.tags << t.toString();
        if (!s.id.isEmpty() && s.time.isValid())
            list << s;
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const Snapshot &a, const Snapshot &b) { return a.time > b.time; });
    return list;
}

std::optional<QList<Snapshot>> snapshots(const Repository &repo, const QStringList &tags,
                                         const Limits &limits, Result *result) {
    QStringList args{QStringLiteral("snapshots"), QStringLiteral("--json"), QStringLiteral("--no-lock")};
    if (!tags.isEmpty())
        args << QStringLiteral("--tag") << tags.join(QLatin1Char(','));
    const Result r = run(repo, args, {}, limits);
    if (result)
        *result = r;
    if (!r.ok())
        return std::nullopt;
    return parseSnapshots(r.output);
}

} // namespace Restic
