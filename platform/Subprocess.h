#pragma once

#include <QString>
#include <QStringList>

// The one start of a child process (restic, the archiver, the program's own workers, which run in a
// session of their own: no controlling terminal, so nothing in them waits for an answer on one).
// Nothing but platform/Supervisor calls it: the supervisor owns what it returns.
namespace Subprocess {

struct Child {
    qint64 pid = -1;
    int output = -1; // the read end of its standard output, with Output::Pipe
    int error = -1;  // the read end of its standard error, with pipeError
};

enum class Output { Inherit, Discard, Pipe };

struct Options {
    QString program; // searched in PATH when it has no slash
    QStringList arguments;
    QString workingDirectory{}; // empty: this process's
    Output output = Output::Inherit;
    int keptDescriptor = -1; // a descriptor the child keeps, as its descriptor 3 (a lock it holds)
    bool newSession = false;
    QList<int> moreKept{};  // further descriptors the child keeps, as its 4, 5, ... (with keptDescriptor set)
    bool pipeError = false; // its standard error piped to the caller too
    // "NAME=value" entries added to (or replacing in) this process's environment, for the child alone:
    // what only it may know (the path of a key) never enters this process's own environment.
    QStringList environment{};
    // When not empty: only these names of this process's environment reach the child ("AWS_*": every
    // name so starting), the rest (the server's password, the administrator's name) never does.
    QStringList passedOn{};
    // The child is killed (SIGKILL) when this process ends, a kill -9 included, and never starts when
    // this process has already gone: nothing it does then (an archive half-written, a restore nobody
    // waits for) outlives the run that started it.
    bool dieWithParent = false;
};

// Standard input from /dev/null, no other descriptor of this process but standard output and error
// (and the kept one): a child must not hold the embedded engine's database and lock files. Child{}
// (pid -1) when it cannot be started; a missing working directory or program fails here.
Child spawn(const Options &options);

// The running program's executable, to start it again in another mode.
QString selfExecutable();

// Waits for the child; the exit code, or -(signal number) when a signal ended it.
int wait(qint64 pid);

} // namespace Subprocess
