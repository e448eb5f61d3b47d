#include "platform/Archiver.h"
#include "platform/Paths.h"
#include "platform/Subprocess.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>

#ifdef Q_OS_WIN
#include <QProcess>
#else
#include <cerrno>
#include <sys/wait.h>
#endif

namespace {

bool startAndWatch(const Archiver::Launch &l, Archiver::Finished finished) {
    const qint64 pid = Archiver::spawn(l, Archiver::Output::Discard);
    if (pid < 0)
        return false;
    Archiver::watch(pid, std::move(finished));
    return true;
}

std::function<bool(const Archiver::Launch &, Archiver::Finished)> &launcher() {
    static std::function<bool(const Archiver::Launch &, Archiver::Finished)> f = startAndWatch;
    return f;
}

#ifndef Q_OS_WIN
// The exit code of a waited-for status; -1 for a process that was killed.
int exitCode(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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

bool Archiver::launch(const QStringList &arguments, const QString &workingDirectory, Finished finished,
                      int heldLock) {
    Launch l = command(arguments, workingDirectory);
    l.heldLock = heldLock;
    return launcher()(l, std::move(finished));
}

int Archiver::run(const QStringList &arguments, const QString &workingDirectory) {
#ifdef Q_OS_WIN
    const Launch l = command(arguments, workingDirectory);
    QProcess p;
    p.setWorkingDirectory(l.workingDirectory);
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(l.program, l.arguments);
    if (!p.waitForStarted() || !p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit)
        return -1;
    return p.exitCode();
#else
    const qint64 pid = spawn(command(arguments, workingDirectory), Output::Discard);
    if (pid < 0)
        return -1;
    const int status = Subprocess::wait(pid);
    return status < 0 ? -1 : status; // killed
#endif
}

qint64 Archiver::spawn(const Launch &l, Output output) {
#ifdef Q_OS_WIN
    Q_UNUSED(output);
    qint64 pid = -1;
    return QProcess::startDetached(l.program, l.arguments, l.workingDirectory, &pid) ? pid : -1;
#else
    // Nobody answers the archiver's questions; its progress, drawn with backspaces, is no log's business.
    return Subprocess::spawn(
               {l.program, l.arguments, l.workingDirectory,
                output == Output::Discard ? Subprocess::Output::Discard : Subprocess::Output::Inherit,
                l.heldLock, false})
        .pid;
#endif
}

void Archiver::watch(qint64 pid, Finished finished) {
#ifdef Q_OS_WIN
    Q_UNUSED(pid);
    Q_UNUSED(finished); // detached on Windows: nobody is told
#else
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return; // no event loop to tell: the process is left to itself
    // Polled from the event loop, so the window stays responsive; the timer also reaps the process.
    auto *timer = new QTimer(app);
    timer->setInterval(100);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, pid, finished = std::move(finished)] {
        int status = 0;
        const pid_t r = waitpid(pid_t(pid), &status, WNOHANG);
        if (r == 0 || (r < 0 && errno == EINTR))
            return;
        timer->stop();
        timer->deleteLater();
        if (finished)
            finished(r == pid_t(pid) ? exitCode(status) : -1);
    });
    timer->start();
#endif
}

void Archiver::setLauncher(std::function<bool(const Launch &, Finished)> l) {
    launcher() = l ? std::move(l) : startAndWatch;
}
