#pragma once

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

class TMainDm;
class TerminalOperator;

// The commands of qkadmin-cli, each a unit of its own: its name and summary, its options, the check of
// what it was given, its run. The table of them is commands(); run() only finds one and hands it over.
namespace Cli {

// Unfinished: the operation's work was done and stays done (a restore's database in place), a signal
// stopped what was to follow it (the archive copy); the run said what was not finished.
enum Exit { Success = 0, Failure = 1, Usage = 2, Unfinished = 4 };

// What a run produced, for its summary line.
struct Produced {
    QStringList files;
    QString result; // the summary's result where it is not ok or failed (health)
    QString extra;  // the end of the summary line a command adds ("added=N" of an off-site copy)
    bool summaryToStderr = false; // standard output carries metrics, which a summary would spoil
};

// What a command runs with.
struct Context {
    QString settingsFile; // --settings, absolute; empty: setup.ini in the settings folder
    std::FILE *out = stdout;
    std::FILE *err = stderr;
    Produced &produced;
    // Called once the client library is loaded (it installs signal handlers of its own): the program's
    // own go in after it.
    std::function<void()> clientLoaded = [] {};
};

// "unexpected ARG" when the command line holds a positional argument, else empty.
QString noArguments(const QCommandLineParser &p);

class Command {
public:
    virtual ~Command() = default;
    virtual const char *name() const = 0;
    virtual const char *summary() const = 0;
    // Its options and positional arguments.
    virtual void addOptions(QCommandLineParser &) const {}
    // Reads what the parser found; a usage error's text (without the command's name), else empty. A
    // command takes no positional argument unless it says so.
    virtual QString check(const QCommandLineParser &p) { return noArguments(p); }
    // The exit status of a wrong command line (health: UNKNOWN, as monitoring reads it).
    virtual int usageStatus(Produced &) const { return Usage; }
    // The exit status.
    virtual int run(const Context &c) = 0;
};

// A command that runs one operation on the data module, with the terminal as its operator: the data
// module made and connected as the command needs, the shared transaction committed after (as the
// window's next activation would), any error said as the error box would say it and a failure.
class OperationCommand : public Command {
public:
    int run(const Context &c) final;

protected:
    // Whether the live database is connected to before the operation, the module configured (false:
    // it is neither needed nor touched).
    virtual bool needsDatabase(const TMainDm &) const { return true; }
    // The database's own triggers (on connect, on transaction) run only for a command that changes the books.
    virtual bool databaseTriggers() const { return false; }
    // Called once the module is configured, before the database is connected to: what the operation must
    // hold first (the folder's lock), so that a second run meets that, not the engine's refusal; a QkError
    // here ends the run as operate's would.
    virtual void beforeConnecting(TMainDm &) {}
    virtual bool assumeYes() const { return false; }
    virtual int operate(TMainDm &dm, TerminalOperator &op, Produced &produced) = 0;
};

// Every command, in the order the usage lists them.
const std::vector<std::unique_ptr<Command>> &commands();

// The whole command line (the program's name first): the global options, then one command with its
// own. command is set to the command's name once it is known. The exit status.
int run(const QStringList &args, const Context &c, QString &command);

// The options every command shares.
namespace Options {
inline const QString kYes = QStringLiteral("yes");
QCommandLineOption yes();
// [FILE], the backup file (default bazaqk.abk in the database folder).
void backupFile(QCommandLineParser &p);
// A month, 1 to 12; 0 and the error's text when it is not one.
int month(const QCommandLineParser &p, QString &error);
} // namespace Options

} // namespace Cli
