#include "common/TestFiles.h"

#include <QElapsedTimer>
#include <QThread>

#include <csignal>

#include <QFile>

#include <gtest/gtest.h>

QByteArray TestFiles::read(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void TestFiles::write(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        ADD_FAILURE() << "cannot write " << path.toStdString();
}

bool TestFiles::waitForSignalHandlers(qint64 pid) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 60000) {
        for (const QByteArray &line : read(QStringLiteral("/proc/%1/status").arg(pid)).split('\n'))
            if (line.startsWith("SigCgt:") &&
                (line.mid(7).trimmed().toULongLong(nullptr, 16) & (1ULL << (SIGHUP - 1))))
                return true;
        QThread::msleep(10);
    }
    return false;
}
