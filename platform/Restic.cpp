#include "platform/Restic.h"

#include "platform/RootFiles.h"
#include "platform/Signals.h"
#include "platform/Subprocess.h"
#include "platform/Supervisor.h"

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/mman.h>
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

// What a run of restic does, in Polish, for the operator's question whether to stop it.
QString stepName(const QStringList &args) {
    static const QHash<QString, QString> names{
        {QStringLiteral("backup"), QStringLiteral("wysyłanie kopii do repozytorium")},
        {QStringLiteral("dump"), QStringLiteral("pobieranie kopii z repozytorium")},
        {QStringLiteral("snapshots"), QStringLiteral("odczyt listy kopii w repozytorium")},
        {QStringLiteral("unlock"), QStringLiteral("usuwanie starych blokad repozytorium")},
        {QStringLiteral("forget"), QStringLiteral("usuwanie starych kopii z repozytorium")},
        {QStringLiteral("prune"), QStringLiteral("porządkowanie repozytorium")},
        {QStringLiteral("check"), QStringLiteral("sprawdzanie repozytorium")}};
    return names.value(args.value(0), QStringLiteral("praca programu restic"));
}

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
    double lastDone = -1, lastFiles = -1;
    QByteArray lastText;
    Supervisor *self = nullptr; // the handlers report progress and stops to it
    Supervisor::Handlers sh;
    sh.line = [&](const QByteArray &line) {
        r.output += line + '\n';
        // A progress line ("[0:12] 10.00%  1 / 10 packs") repeated while restic waits on a dead server
        // moves nothing: only its text past the elapsed time counts.
        static const QRegularExpression elapsed(QStringLiteral("^\\[[0-9:]+\\]\\s*"));
        const QByteArray text = QString::fromUtf8(line).remove(elapsed).toUtf8();
        if (text != lastText)
            self->progress();
        lastText = text;
    };
    if (h.json)
        sh.json = [&](const QJsonObject &m) {
            if (m.value(QLatin1String("message_type")).toString() == QLatin1String("status")) {
                // restic repeats its status while it retries a dead server: only a change is progress.
                const double done = m.value(QLatin1String("bytes_done")).toDouble(),
                             files = m.value(QLatin1String("files_done")).toDouble();
                if (done != lastDone || files != lastFiles)
                    self->progress();
                lastDone = done;
                lastFiles = files;
            } else {
                self->progress();
            }
            h.json(m);
        };
    if (h.data)
        sh.data = [&](const char *data, qint64 size) {
            self->progress();
            if (!h.data(data, size)) {
                r.stopped = true;
                self->stop();
            }
        };
    sh.error = [&](const QByteArray &raw) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty())
            return;
        r.errors << line;
        if (r.errors.size() > 200)
            r.errors.removeFirst();
        if (!line.contains(QLatin1String("retrying"), Qt::CaseInsensitive))
            self->progress();
        if (h.error && !h.error(line)) {
            r.stopped = true;
            self->stop();
        }
    };
    // restic ends within moments of SIGINT; one that does not is held in a call that never returns
    // (removing its lock from a server that stopped answering).
    Supervisor child(o, {SIGINT, 10000, false, stepName(args)},
                     {qint64(std::max(0, limits.stallSeconds)) * 1000, qint64(std::max(0, limits.totalMs))},
                     sh);
    self = &child;
    if (!child.started()) {
        r.errors << QStringLiteral("nie można uruchomić programu %1").arg(o.program);
        return r;
    }
    r.started = true;
    // A handler that throws (an operator that stops on a signal) stops restic first: it is never left
    // running unwaited. The exception goes on once restic has ended.
    r.exitCode = child.run();
    r.stalled = child.end() == Supervisor::End::Stalled || child.end() == Supervisor::End::PastLimit;
    r.interrupted = child.end() == Supervisor::End::Signal;
    r.cancelled = child.end() == Supervisor::End::Cancelled;
    r.stopped = r.stopped || child.end() == Supervisor::End::Stopped;
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

bool gone(const Result &r) {
    for (const char *t : {"Is there a repository at the following location?", "unable to open config file",
                          "permission denied"})
        if (contains(r, t))
            return true;
    // A missing file of the repository's own frame, not of its data (a missing pack is damage).
    if (contains(r, "no such file or directory"))
        for (const char *t : {"/locks", "/keys", "/config"})
            if (contains(r, t))
                return true;
    return false;
}

QString problem(const Result &r, const QString &shown, const QString &keyFile, bool recorded) {
    if (!r.started)
        return QStringLiteral("Nie można uruchomić programu restic (%1): zainstaluj pakiet restic.")
            .arg(r.errors.value(0));
    if (r.cancelled)
        return QStringLiteral("Przerwano na polecenie operatora: restic zatrzymany (SIGINT), repozytorium %1 "
                              "pozostaje spójne, pliki na tym komputerze bez zmian.")
            .arg(shown);
    if (r.interrupted)
        return QStringLiteral(
                   "Przerwano sygnałem %1: restic zatrzymany (SIGINT), repozytorium %2 pozostaje spójne.")
            .arg(QLatin1String(Signals::name(Signals::received())), shown);
    const QString last = r.errors.isEmpty() ? QString() : r.errors.last();
    // restic's own words follow, for whoever looks after the repository.
    const QString restic = last.isEmpty() ? QString() : QStringLiteral("\r(restic: %1)").arg(last);
    if (contains(r, "wrong password or no key found"))
        return QStringLiteral("Klucz z pliku %1 nie otwiera repozytorium %2 (zły klucz).%3")
            .arg(keyFile, shown, restic);
    if (contains(r, "no space left on device") || contains(r, "quota exceeded") ||
        contains(r, "insufficient storage"))
        return QStringLiteral("Brak miejsca w repozytorium %1 (pełny dysk): kopia nie została zapisana, nic "
                              "więcej nie da się w nim zapisać.%2")
            .arg(shown, restic);
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
                   "sprawdzanie lub usuwanie starych kopii%2). Spróbuj ponownie po jej zakończeniu.%3")
            .arg(shown, who, restic);
    }
    if (contains(r, "read-only file system") || contains(r, "unable to create lock in backend"))
        return QStringLiteral(
                   "Repozytorium %1 jest tylko do odczytu (nie można w nim założyć blokady ani nic "
                   "zapisać): sprawdź, czy dysk lub udział sieciowy jest zamontowany do zapisu "
                   "i czy użytkownik %2 może w nim pisać.%3")
            .arg(shown, RootFiles::runningAs(), restic);
    if (r.stalled)
        return QStringLiteral(
                   "Repozytorium %1 nie odpowiada: przez %2 s nic nie zostało przesłane ani odczytane (sieć "
                   "lub serwer niedostępne). Przerwano.")
            .arg(shown)
            .arg(r.stallSeconds);
    if (unreachable(r))
        return QStringLiteral("Repozytorium %1 jest nieosiągalne (sieć lub serwer niedostępne).%2")
            .arg(shown, restic);
    if (contains(r, "config file already exists"))
        return QStringLiteral("Repozytorium %1 już istnieje: nie założono nowego.%2").arg(shown, restic);
    if (contains(r, "permission denied"))
        return QStringLiteral("Brak uprawnień do repozytorium %1: program nie może w nim czytać lub pisać "
                              "(właściciel i prawa folderu albo konto na serwerze).%2")
            .arg(shown, restic);
    if (contains(r, "config cannot be loaded"))
        return QStringLiteral("Repozytorium %1 nie daje się otworzyć: jego pliku config nie można wczytać "
                              "(uszkodzony albo to nie jest repozytorium kopii).%2")
            .arg(shown, restic);
    if (gone(r))
        return recorded ? QStringLiteral("Repozytorium %1 nie jest tam, gdzie było, choć kopie były do niego "
                                         "wysyłane: czy dysk jest podłączony, serwer włączony?%2")
                              .arg(shown, restic)
                        : QStringLiteral("Pod adresem %1 nie ma repozytorium kopii (załóż je poleceniem "
                                         "qkadmin-cli offsite init).%2")
                              .arg(shown, restic);
    if (r.exitCode < 0)
        return QStringLiteral("restic zakończony sygnałem %1.%2").arg(-r.exitCode).arg(restic);
    return QStringLiteral("restic zakończył się kodem %1.%2").arg(r.exitCode).arg(restic);
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
