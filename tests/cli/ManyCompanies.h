#pragma once

// What the tests of the runs over many companies (health --all, backup --all) share.
#include "common/TestFiles.h"
#include "platform/IniFile.h"

#include <QDir>
#include <QList>
#include <QString>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace TestCli {

// The processes whose parent is pid.
inline QList<qint64> childrenOf(qint64 pid) {
    QList<qint64> children;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 candidate = entry.toLongLong(&number);
        if (!number)
            continue;
        const QByteArray stat = TestFiles::read(QStringLiteral("/proc/%1/stat").arg(candidate));
        // "pid (name) state ppid ...": the name may hold blanks, the fields after it do not.
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == pid)
            children << candidate;
    }
    return children;
}

// A listener on a port of its own on 127.0.0.1 that takes connections into its backlog and never
// answers, as a server that has stopped answering does.
struct SilentServer {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    quint16 port = 0;
    SilentServer() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof a;
        if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 && ::listen(fd, 16) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &n) == 0)
            port = ntohs(a.sin_port);
    }
    ~SilentServer() { ::close(fd); }
};

// A settings file naming a database on a server that takes the connection and never answers.
inline QString silentCompany(const QString &folder, quint16 port) {
    const QString ini = folder + "cicha.ini";
    IniFile::writeString(ini, "Ogolne", "sciezka", QStringLiteral("127.0.0.1/%1:/srv/qk/cicha").arg(port));
    IniFile::writeString(ini, "Ogolne", "protokol", "T");
    return ini;
}

} // namespace TestCli
