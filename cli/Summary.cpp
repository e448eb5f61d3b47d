#include "cli/Summary.h"

#include <QElapsedTimer>
#include <QFileInfo>

#include <atomic>
#include <cstdio>

namespace Cli::Summary {

namespace {
QElapsedTimer g_clock;
} // namespace

void start() {
    g_clock.start();
}

qint64 elapsedMs() {
    return g_clock.isValid() ? g_clock.elapsed() : 0;
}

void print(const QString &command, int rc, const Produced &produced) {
    static std::atomic<bool> printed{false};
    if (printed.exchange(true))
        return;
    const QString result = !produced.result.isEmpty() ? produced.result
                           : rc == Success            ? QStringLiteral("ok")
                           : rc == Usage              ? QStringLiteral("usage")
                                                      : QStringLiteral("failed");
    QString line = QStringLiteral("qkadmin-cli: summary command=%1 result=%2 exit=%3 seconds=%4")
                       .arg(command.isEmpty() ? QStringLiteral("-") : command, result)
                       .arg(rc)
                       .arg(double(elapsedMs()) / 1000.0, 0, 'f', 2);
    qint64 bytes = 0;
    QStringList present;
    for (const QString &f : produced.files)
        if (QFileInfo(f).isFile()) {
            present << f;
            bytes += QFileInfo(f).size();
        }
    if (present.size() == 1)
        line += QStringLiteral(" file=%1 bytes=%2").arg(present.first()).arg(bytes);
    else if (present.size() > 1)
        line += QStringLiteral(" files=%1 bytes=%2").arg(present.size()).arg(bytes);
    if (!produced.extra.isEmpty())
        line += QLatin1Char(' ') + produced.extra;
    std::fflush(stderr);
    std::fprintf(produced.summaryToStderr ? stderr : stdout, "%s\n", line.toLocal8Bit().constData());
    std::fflush(nullptr);
}

} // namespace Cli::Summary
