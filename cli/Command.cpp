#include "cli/Command.h"

#include "cli/TerminalOperator.h"
#include "core/MainD.h"
#include "platform/Errors.h"
#include "platform/Paths.h"
#include "platform/Signals.h"

#include <QFileInfo>

namespace Cli {

namespace {

void usage(std::FILE *f) {
    std::fputs("usage: qkadmin-cli [--settings FILE] COMMAND [options]\n\ncommands:\n", f);
    for (const auto &c : commands())
        std::fprintf(f, "  %-18s %s\n", c->name(), c->summary());
    std::fputs(
        "\n'qkadmin-cli COMMAND --help' describes one command.\n"
        "Exit status: 0 success, 1 the operation failed, 2 usage error, 4 done but a signal stopped what\n"
        "was to follow (a restore in place, its archive copy not made).\n"
        "Every run ends with one line 'qkadmin-cli: summary command=... result=... seconds=...' (and the\n"
        "file it produced with its size), for logs and monitoring.\n",
        f);
}

// The command's own part of the command line, parsed and checked; the exit status when it is not to run
// (its help, a usage error), else -1.
int parse(Command &command, const QStringList &args, const Context &c) {
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("qkadmin-cli %1: %2")
                                    .arg(QLatin1String(command.name()), QLatin1String(command.summary())));
    p.addHelpOption();
    command.addOptions(p);
    auto usageError = [&](const QString &text) {
        std::fprintf(c.err, "qkadmin-cli %s: %s\n", command.name(), qPrintable(text));
        return command.usageStatus(c.produced);
    };
    if (!p.parse(args))
        return usageError(p.errorText());
    if (p.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(p.helpText()), c.out);
        return Success;
    }
    if (const QString error = command.check(p); !error.isEmpty())
        return usageError(error);
    return -1;
}

} // namespace

int OperationCommand::run(const Context &c) {
    TerminalOperator op(c.out, c.err, assumeYes());
    std::unique_ptr<TMainDm> dm;
    try {
        dm = std::make_unique<TMainDm>(Paths::settingsFolder(), c.settingsFile);
        dm->databaseTriggers = databaseTriggers();
        c.clientLoaded();
        dm->Configure();
        beforeConnecting(*dm);
        if (needsDatabase(*dm)) {
            dm->OpenFirstConnection();
            if (dm->EmployeeTran.active())
                dm->EmployeeTran.commit();
        }
    } catch (const std::exception &e) {
        op.error(QString::fromUtf8(e.what()));
        if (dynamic_cast<const FolderBusy *>(&e))
            c.produced.result = QStringLiteral("busy");
        return Failure;
    }
    int rc = Failure;
    try {
        rc = operate(*dm, op, c.produced);
        // What the window's next activation would commit.
        if (dm->EmployeeTran.active())
            dm->EmployeeTran.commit();
        if (op.errorShown())
            rc = Failure;
    } catch (const std::exception &e) {
        op.error(QString::fromUtf8(e.what()));
        rc = Failure;
        // Another run works on the folder: said apart, for whoever runs many (backup --all).
        if (dynamic_cast<const FolderBusy *>(&e))
            c.produced.result = QStringLiteral("busy");
        if (!Signals::received() && dm->EmployeeTran.active()) {
            try {
                dm->EmployeeTran.rollback();
            } catch (...) {
            }
        }
    }
    // After SIGTERM or SIGINT the program ends through the library's shutdown (main), which detaches
    // what is left; a call the server has not answered may still hold the connection, and only the
    // watch on the signal ends that.
    if (Signals::received()) {
        (void)dm.release();
        return rc == Unfinished ? Unfinished : Failure;
    }
    dm->shutDown();
    return rc;
}

int run(const QStringList &args, const Context &c, QString &commandName) {
    // Global options come before the command.
    Context context = c;
    qsizetype i = 1;
    while (i < args.size() && args[i].startsWith(QLatin1String("--"))) {
        if (args[i] == QLatin1String("--help") || args[i] == QLatin1String("-h")) {
            usage(c.out);
            return Success;
        }
        // --settings FILE and --settings=FILE, as every command's own options take them.
        if (args[i].startsWith(QLatin1String("--settings="))) {
            context.settingsFile = args[i].mid(11);
            i += 1;
        } else if (args[i] == QLatin1String("--settings")) {
            context.settingsFile = i + 1 < args.size() ? args[i + 1] : QString();
            i += 2;
        } else {
            std::fprintf(c.err, "qkadmin-cli: unknown option %s\n", qPrintable(args[i]));
            usage(c.err);
            return Usage;
        }
        if (context.settingsFile.isEmpty()) {
            std::fprintf(c.err, "qkadmin-cli: --settings needs a settings file (--settings FILE)\n");
            usage(c.err);
            return Usage;
        }
        context.settingsFile = QFileInfo(context.settingsFile).absoluteFilePath();
        continue;
    }
    if (i >= args.size()) {
        usage(c.err);
        return Usage;
    }
    Command *command = nullptr;
    for (const auto &candidate : commands())
        if (args[i] == QLatin1String(candidate->name()))
            command = candidate.get();
    if (!command) {
        std::fprintf(c.err, "qkadmin-cli: unknown command %s\n", qPrintable(args[i]));
        usage(c.err);
        return Usage;
    }
    commandName = args[i];
    const int parsed =
        parse(*command, QStringList{args[0] + QLatin1Char(' ') + args[i]} + args.mid(i + 1), context);
    return parsed >= 0 ? parsed : command->run(context);
}

QString noArguments(const QCommandLineParser &p) {
    return p.positionalArguments().isEmpty() ? QString()
                                             : QStringLiteral("unexpected ") + p.positionalArguments().last();
}

namespace Options {

QCommandLineOption yes() {
    return {kYes, QStringLiteral("do not ask for confirmation")};
}

void backupFile(QCommandLineParser &p) {
    p.addPositionalArgument(QStringLiteral("FILE"),
                            QStringLiteral("the backup file (default bazaqk.abk in the database folder)"),
                            QStringLiteral("[FILE]"));
}

int month(const QCommandLineParser &p, QString &error) {
    bool ok = false;
    const int m = p.value(QStringLiteral("month")).toInt(&ok);
    if (ok && m >= 1 && m <= 12)
        return m;
    error = QStringLiteral("--month takes a month from 1 to 12");
    return 0;
}

} // namespace Options

} // namespace Cli
