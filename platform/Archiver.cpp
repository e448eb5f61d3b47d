#include "platform/Archiver.h"
#include "platform/Paths.h"
#include "platform/Signals.h"
#include "platform/Subprocess.h"
#include "platform/Supervisor.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>

#ifdef Q_OS_WIN
#include <QProcess>
#endif

#include <memory>

namespace {

bool startAndWatch(const Archiver::Launch &l, Archiver::Finished finished) {
    return Archiver::start(l, std::move(finished));
}

std::function<bool(const Archiver::Launch &, Archiver::Finished)> &launcher() {
    static std::function<bool(const Archiver::Launch &, Archiver::Finished)> f = startAndWatch;
    return f;
}

#ifndef Q_OS_WIN
// waited: the run waits for it, and it dies with the run (a kill -9 included) rather than go on with
// no lock held and its archive never synced.
Subprocess::Options options(const Archiver::Launch &l, bool waited) {
    // Nobody answers the archiver's questions; its progress, drawn with backspaces, is no log's business.
    return {.program = l.program,
            .arguments = l.arguments,
            .workingDirectory = l.workingDirectory,
            .output = Subprocess::Output::Discard,
            .keptDescriptor = l.heldLock,
            .dieWithParent = waited};
}

// SIGINT: arj ends as on a break from the keyboard.
const Supervisor::Rule kRule{SIGINT, 10000};

// The exit code; -1 for one that was killed or never started.
int exitCode(const Supervisor &s) {
    return s.started() && s.status() >= 0 ? s.status() : -1;
}
#endif

} // namespace

Archiver::Launch Archiver::command(const QStringList &arguments, const QString &workingDirectory) {
#ifdef Q_OS_WIN
    return {QStringLiteral("cmd.exe"),
            QStringList{QStringLiteral("/c"), QStringLiteral("arj.exe")} + arguments, workingDirectory};
#else
    // By its full name: arj finds itself through its argv[0] and the PATH, and dies on a null pointer
    // when a job starts it with no PATH (cron's env -i, a bare unit) under a bare name.
    QString program = QStringLiteral("arj");
    const QByteArray path = qgetenv("PATH");
    for (const QString &dir :
         QString::fromLocal8Bit(path.isEmpty() ? QByteArray("/usr/local/bin:/usr/bin:/bin") : path)
             .split(QLatin1Char(':'), Qt::SkipEmptyParts))
        if (QFileInfo(dir + QStringLiteral("/arj")).isExecutable()) {
            program = dir + QStringLiteral("/arj");
            break;
        }
    return {program, arguments, workingDirectory};
#endif
}

QString Archiver::archiveFileName(const QString &stamp) {
#ifdef Q_OS_WIN
    return stamp + QStringLiteral(".ARJ");
#else
    return stamp + QStringLiteral(".arj"); // Debian's arj names its archives in lower case
#endif
}

QDateTime Archiver::archiveCopyTime(const QString &fileName) {
    static const QRegularExpression stamped(QStringLiteral("^([0-9]{8})(-[1-9][0-9]{0,5})?\\.arj$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = stamped.match(fileName);
    if (!m.hasMatch())
        return {};
    const QString stamp = m.captured(1);
    const QDate date(2000 + stamp.left(2).toInt(), stamp.mid(2, 2).toInt(), stamp.mid(4, 2).toInt());
    const int hour = stamp.mid(6, 2).toInt();
    if (!date.isValid() || hour > 23)
        return {};
    return QDateTime(date, QTime(hour, 0));
}

bool Archiver::isArchiveCopyName(const QString &fileName) {
    return archiveCopyTime(fileName).isValid();
}

QString Archiver::newArchiveName(const QString &folder, const QString &stamp) {
    const QString file = Paths::firstFree(folder + archiveFileName(stamp));
    const QString name = file.mid(folder.size());
    return name.left(name.size() - archiveFileName(QString()).size());
}

bool Archiver::archiveCopyBefore(const QString &a, const QString &b) {
    auto number = [](const QString &name) {
        return name.size() > 9 && name[8] == QLatin1Char('-')
                   ? name.mid(9, name.indexOf(QLatin1Char('.')) - 9).toInt()
                   : 1;
    };
    const QDateTime ta = archiveCopyTime(a), tb = archiveCopyTime(b);
    if (ta != tb)
        return ta < tb;
    return number(a) < number(b);
}

QStringList Archiver::memberNames(const QString &archiveFile) {
    QFile f(archiveFile);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    auto u16 = [](const QByteArray &b, qsizetype at) {
        return int(quint8(b[at])) | int(quint8(b[at + 1])) << 8;
    };
    QStringList names;
    // Each header: 0x60 0xEA, its size (0 ends the archive), the header, its CRC, extended headers (each
    // sized, 0 ends them); a file's compressed bytes follow its headers. The first header is the
    // archive's own.
    for (bool archiveHeader = true;; archiveHeader = false) {
        const QByteArray start = f.read(4);
        if (start.size() != 4 || quint8(start[0]) != 0x60 || quint8(start[1]) != 0xEA)
            return {};
        const int size = u16(start, 2);
        if (size == 0)
            return names;
        const QByteArray header = f.read(size + 4); // with its CRC
        if (size > 2600 || header.size() != size + 4 || quint8(header[0]) > size)
            return {};
        for (;;) {
            const QByteArray ext = f.read(2);
            if (ext.size() != 2)
                return {};
            if (u16(ext, 0) == 0)
                break;
            if (!f.seek(f.pos() + u16(ext, 0) + 4))
                return {};
        }
        if (archiveHeader)
            continue;
        if (size < 16)
            return {};
        const qsizetype nameAt = quint8(header[0]), nameEnd = header.indexOf('\0', nameAt);
        if (nameEnd < 0 || nameEnd > size)
            return {};
        names << QString::fromLocal8Bit(header.mid(nameAt, nameEnd - nameAt))
                     .replace(QLatin1Char('\\'), QLatin1Char('/'));
        const qint64 packed = qint64(u16(header, 12)) | qint64(u16(header, 14)) << 16;
        if (!f.seek(f.pos() + packed))
            return {};
    }
}

bool Archiver::launch(const QStringList &arguments, const QString &workingDirectory, Finished finished,
                      int heldLock) {
    Launch l = command(arguments, workingDirectory);
    l.heldLock = heldLock;
    return launcher()(l, std::move(finished));
}

int Archiver::run(const QStringList &arguments, const QString &workingDirectory) {
    return runLaunch(command(arguments, workingDirectory));
}

int Archiver::runLaunch(const Launch &l) {
    return Running(l).wait();
}

#ifdef Q_OS_WIN
Archiver::Running::Running(const Launch &l) : m_launch(l) {}

Archiver::Running::~Running() = default;

bool Archiver::Running::started() const {
    return true;
}

int Archiver::Running::wait() { // started here: the archiver is not watched alongside another child
    QProcess p;
    p.setWorkingDirectory(m_launch.workingDirectory);
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(m_launch.program, m_launch.arguments);
    if (!p.waitForStarted() || !p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit)
        return -1;
    return p.exitCode();
}
#else
Archiver::Running::Running(const Launch &l)
    : m_child(std::make_unique<Supervisor>(options(l, true), kRule, Supervisor::Limits{},
                                           Supervisor::Handlers{})) {}

Archiver::Running::~Running() {
    if (m_child->started() && !m_child->ended())
        m_child->stop(Signals::received() != 0 ? Supervisor::End::Signal : Supervisor::End::Stopped);
    m_child.reset(); // reaped, SIGKILL past the grace
}

bool Archiver::Running::started() const {
    return m_child->started();
}

int Archiver::Running::wait() {
    m_child->run();
    return exitCode(*m_child);
}
#endif

bool Archiver::start(const Launch &l, Finished finished) {
#ifdef Q_OS_WIN
    Q_UNUSED(finished); // detached on Windows: nobody is told
    return QProcess::startDetached(l.program, l.arguments, l.workingDirectory);
#else
    Supervisor::Rule alone = kRule;
    alone.alone = true;
    auto child =
        std::make_unique<Supervisor>(options(l, false), alone, Supervisor::Limits{}, Supervisor::Handlers{});
    if (!child->started())
        return false;
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return true; // no event loop to tell: it goes on alone
    // Looked at from the event loop, so the window stays responsive; the supervisor also reaps it. Left
    // to itself (never stopped) when the program ends first: the supervisor is released then, not ended.
    auto *timer = new QTimer(app);
    timer->setInterval(100);
    QObject::connect(timer, &QTimer::timeout, timer,
                     [timer, s = child.release(), finished = std::move(finished)] {
                         Supervisor::turn(
                             {s}, [] {}, 0);
                         if (!s->ended())
                             return;
                         timer->stop();
                         timer->deleteLater();
                         const int code = exitCode(*s);
                         delete s;
                         if (finished)
                             finished(code);
                     });
    timer->start();
    return true;
#endif
}

void Archiver::setLauncher(std::function<bool(const Launch &, Finished)> l) {
    launcher() = l ? std::move(l) : startAndWatch;
}
