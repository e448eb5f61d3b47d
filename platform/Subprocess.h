#pragma once

#include <QString>
#include <QStringList>

// A child process of the program's own whose standard output the caller reads: standard input from
// /dev/null, no descriptor of the parent but standard error, a session of its own (no controlling
// terminal: nothing in it can wait for an answer on one).
namespace Subprocess {

struct Child {
    qint64 pid = -1;
    int output = -1; // the read end of its standard output
};

// Child{} (pid -1) when it cannot be started.
Child start(const QString &program, const QStringList &arguments);

// The running program's executable, to start it again in another mode.
QString selfExecutable();

// Waits for the child; the exit code, or -(signal number) when a signal ended it.
int wait(qint64 pid);

} // namespace Subprocess
