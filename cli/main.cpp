// qkadmin-cli: the administration operations for schedulers and scripts, with no window.
#include "admin/AdminOps.h"
#include "core/MainD.h"
#include "backup/BackupOps.h"
#include "cli/TerminalOperator.h"
#include "db/Errors.h"
#include "exchange/ExchangeOps.h"
#include "platform/Clock.h"
#include "platform/Paths.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

enum Exit { Success = 0, Failure = 1, Usage = 2 };

struct Command {
    const char *name;
    const char *summary;
    bool month;   // --month N
    bool clear;   // --clear
    bool archive; // --archive
    bool yes;     // --yes
};

const Command kCommands[] = {
    {"backup", "back up the database to bazaqk.abk under the lock flag", false, false, true, false},
    {"restore", "restore the database from bazaqk.abk and file the backup into an archive copy", false, false, false, true},
    {"validate", "have the server validate the database", false, false, false, false},
    {"reset-connections", "clear the workstation state left by a hung workstation", false, false, false, false},
    {"export", "export one month's documents and entries and the three lists", true, false, false, false},
    {"import", "import one month's documents and entries", true, true, false, false},
    {"check-input", "check that one month's import files are present", true, false, false, false},
    {"export-transfers", "export the bank-transfer packages into paczki/", false, false, false, false},
    {"stats", "database statistics", false, false, false, false},
    {"log", "the server log", false, false, false, false},
    {"properties", "the server's properties", false, false, false, false},
    {"users", "the users attached to the database", false, false, false, false},
};

void usage(std::FILE *f)
{
    std::fputs("usage: qkadmin-cli [--settings FILE] COMMAND [options]\n\ncommands:\n", f);
    for (const Command &c : kCommands)
        std::fprintf(f, "  %-18s %s\n", c.name, c.summary);
    std::fputs("\n'qkadmin-cli COMMAND --help' describes one command.\n"
               "Exit status: 0 success, 1 the operation failed, 2 usage error.\n",
               f);
}

int run(const QStringList &args)
{
    // Global options come before the command.
    QString settings;
    qsizetype i = 1;
    while (i < args.size() && args[i].startsWith(QLatin1String("--"))) {
        if (args[i] == QLatin1String("--help") || args[i] == QLatin1String("-h")) {
            usage(stdout);
            return Success;
        }
        if (args[i] == QLatin1String("--settings") && i + 1 < args.size()) {
            settings = QFileInfo(args[i + 1]).absoluteFilePath();
            i += 2;
            continue;
        }
        std::fprintf(stderr, "qkadmin-cli: unknown option %s\n", qPrintable(args[i]));
        usage(stderr);
        return Usage;
    }
    if (i >= args.size()) {
        usage(stderr);
        return Usage;
    }
    const QString name = args[i];
    const Command *command = nullptr;
    for (const Command &c : kCommands)
        if (name == QLatin1String(c.name))
            command = &c;
    if (!command) {
        std::fprintf(stderr, "qkadmin-cli: unknown command %s\n", qPrintable(name));
        usage(stderr);
        return Usage;
    }

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("qkadmin-cli %1: %2").arg(name, QLatin1String(command->summary)));
    p.addHelpOption();
    if (command->month)
        p.addOption({QStringLiteral("month"), QStringLiteral("the month, 1 to 12"), QStringLiteral("N")});
    if (command->clear)
        p.addOption({QStringLiteral("clear"), QStringLiteral("empty the month first (Zerowanie Danych QK)")});
    if (command->archive)
        p.addOption({QStringLiteral("archive"), QStringLiteral("also file the backup into a dated archive copy")});
    if (command->yes)
        p.addOption({QStringLiteral("yes"), QStringLiteral("do not ask for confirmation")});
    QStringList commandArgs{args[0] + QLatin1Char(' ') + name};
    commandArgs += args.mid(i + 1);
    if (!p.parse(commandArgs)) {
        std::fprintf(stderr, "qkadmin-cli %s: %s\n", qPrintable(name), qPrintable(p.errorText()));
        return Usage;
    }
    if (p.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(p.helpText()), stdout);
        return Success;
    }
    if (!p.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "qkadmin-cli %s: unexpected %s\n", qPrintable(name), qPrintable(p.positionalArguments().first()));
        return Usage;
    }
    int month = 0;
    if (command->month) {
        bool ok = false;
        month = p.value(QStringLiteral("month")).toInt(&ok);
        if (!ok || month < 1 || month > 12) {
            std::fprintf(stderr, "qkadmin-cli %s: --month takes a month from 1 to 12\n", qPrintable(name));
            return Usage;
        }
    }
    const bool yes = command->yes && p.isSet(QStringLiteral("yes"));

    TerminalOperator op(stdout, stderr, yes);
    std::unique_ptr<TMainDm> dm;
    try {
        dm = std::make_unique<TMainDm>(Paths::executableFolder(), settings);
        dm->DataModuleCreate();
        if (dm->EmployeeTran.active())
            dm->EmployeeTran.commit();
    } catch (const std::exception &e) {
        op.error(QString::fromUtf8(e.what()));
        return Failure;
    }

    int rc = Success;
    try {
        TMainDm &d = *dm;
        const QString c = name;
        if (c == QLatin1String("backup")) {
            BackupOps::backupDatabase(d, op);
            if (p.isSet(QStringLiteral("archive")))
                BackupOps::archiveBackup(d, op);
        } else if (c == QLatin1String("restore")) {
            if (!BackupOps::restoreDatabase(d, op)) {
                op.error(QStringLiteral("Odtwarzanie przerwane: nie potwierdzono (bez terminala potwierdza --yes)."));
                rc = Failure;
            }
        } else if (c == QLatin1String("validate")) {
            BackupOps::validateDatabase(d, op);
        } else if (c == QLatin1String("reset-connections")) {
            BackupOps::resetConnections(d, op);
        } else if (c == QLatin1String("export")) {
            ExchangeOps::exportMonth(d, op, month, QString::number(Clock::now().date().year()));
        } else if (c == QLatin1String("import")) {
            rc = ExchangeOps::importMonth(d, op, month, p.isSet(QStringLiteral("clear"))) ? Success : Failure;
        } else if (c == QLatin1String("check-input")) {
            rc = ExchangeOps::checkInput(d, op, month) ? Success : Failure;
        } else if (c == QLatin1String("export-transfers")) {
            ExchangeOps::exportTransfers(d, op, d.settingsFolder());
        } else if (c == QLatin1String("stats")) {
            AdminOps::statistics(d, op);
        } else if (c == QLatin1String("log")) {
            AdminOps::serverLog(d, op);
        } else if (c == QLatin1String("properties")) {
            AdminOps::serverProperties(d, op);
        } else if (c == QLatin1String("users")) {
            AdminOps::activeUsers(d, op);
        }
        // What the window's next activation would commit.
        if (d.EmployeeTran.active())
            d.EmployeeTran.commit();
        if (op.errorShown())
            rc = Failure;
    } catch (const std::exception &e) {
        op.error(QString::fromUtf8(e.what()));
        if (dm->EmployeeTran.active()) {
            try {
                dm->EmployeeTran.rollback();
            } catch (...) {
            }
        }
        rc = Failure;
    }
    dm->shutDown();
    return rc;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qkadmin-cli"));
    try {
        return run(app.arguments());
    } catch (const std::exception &e) {
        std::fprintf(stderr, "qkadmin-cli: %s\n", e.what());
        return Failure;
    }
}
