// qkadmin-cli: the administration operations for schedulers and scripts, with no window.
#include "backup/RestoreWorker.h"
#include "admin/AdminOps.h"
#include "admin/Health.h"
#include "core/MainD.h"
#include "backup/BackupGate.h"
#include "backup/BackupOps.h"
#include "backup/BackupVerification.h"
#include "backup/FirstRestore.h"
#include "cli/HealthCommand.h"
#include "cli/OffsiteCommand.h"
#include "cli/TerminalOperator.h"
#include "db/Errors.h"
#include "db/FbClient.h"
#include "exchange/ExchangeOps.h"
#include "platform/Clock.h"
#include "platform/Paths.h"
#include "platform/Signals.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

enum Exit { Success = 0, Failure = 1, Usage = 2 };

// What a command takes besides --help.
enum Takes : unsigned {
    Month = 1,    // --month N
    Clear = 2,    // --clear
    Archive = 4,  // --archive, --keep N
    Yes = 8,      // --yes
    Verify = 16,  // --verify
    FileArg = 32, // [FILE]
    Limits = 64,  // --backup-age HOURS, --gap N
    HealthOptions = 128, // --format, --output, --all [FOLDER], --timeout
    OffsiteCopy = 256,   // --offsite
};

struct Command {
    const char *name;
    const char *summary;
    unsigned takes;
};

const Command kCommands[] = {
    {"backup", "back up the database to bazaqk.abk under the lock flag", Archive | Verify | OffsiteCopy},
    {"verify-backup", "restore a backup (default bazaqk.abk) into a scratch database, check it, remove it", FileArg},
    {"inspect-backup", "read a backup (default bazaqk.abk) without an engine: tables, whether it is whole, its digest", FileArg},
    {"restore", "restore the database from bazaqk.abk and file the backup into an archive copy", Yes},
    {"validate", "have the server validate the database", 0},
    {"reset-connections", "clear the workstation state left by a hung workstation", 0},
    {"export", "export one month's documents and entries and the three lists", Month},
    {"import", "import one month's documents and entries", Month | Clear},
    {"check-input", "check that one month's import files are present", Month},
    {"export-transfers", "export the bank-transfer packages into paczki/", 0},
    {"stats", "database statistics", 0},
    {"log", "the server log", 0},
    {"properties", "the server's properties", 0},
    {"users", "the users attached to the database", 0},
    {"health", "check the backup's age, the lock flag, writes, free space, transactions and the server "
               "(exit 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN); --all: every company", Limits | HealthOptions},
    {"offsite", "off-site copies on restic: init | copy | list | fetch [ID|latest] [--yes] | check [--read-data PERCENT]", 0},
};

void usage(std::FILE *f)
{
    std::fputs("usage: qkadmin-cli [--settings FILE] COMMAND [options]\n\ncommands:\n", f);
    for (const Command &c : kCommands)
        std::fprintf(f, "  %-18s %s\n", c.name, c.summary);
    std::fputs("\n'qkadmin-cli COMMAND --help' describes one command.\n"
               "Exit status: 0 success, 1 the operation failed, 2 usage error.\n"
               "Every run ends with one line 'qkadmin-cli: summary command=... result=... seconds=...' (and the\n"
               "file it produced with its size), for logs and monitoring.\n",
               f);
}

// The files a run produced, for its summary line.
QElapsedTimer g_clock; // since the start of the run, for the summary line

struct Produced {
    QStringList files;
    QString result; // the summary's result where it is not ok or failed (health)
    bool summaryToStderr = false; // standard output carries metrics, which a summary would spoil
    QString extra; // the end of the summary line a command adds ("added=N" of an off-site copy)
};

// One line at the end of every run: command, result, duration and what it produced.
void printSummary(const QString &command, int rc, qint64 ms, const Produced &produced)
{
    const QString result = !produced.result.isEmpty() ? produced.result
                           : rc == Success            ? QStringLiteral("ok")
                           : rc == Usage              ? QStringLiteral("usage")
                                                      : QStringLiteral("failed");
    QString line = QStringLiteral("qkadmin-cli: summary command=%1 result=%2 exit=%3 seconds=%4")
                       .arg(command.isEmpty() ? QStringLiteral("-") : command, result)
                       .arg(rc)
                       .arg(double(ms) / 1000.0, 0, 'f', 2);
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

void sayInterrupted()
{
    std::fprintf(stderr, "qkadmin-cli: przerwano sygnałem %s\n", Signals::name(Signals::received()));
}

// A signal ends the run as a failure: the operation stops at its next step (the terminal operator
// throws), and a run held in one long server call is ended after a grace period with the same summary
// line (its connections and services are dropped with the process, as a crash would).
void watchSignals(int fd, const QString &command, const Produced &produced)
{
    if (fd < 0)
        return;
    // The thread keeps copies: main's own may change meanwhile, or be gone once main has returned.
    std::thread([fd, command, produced] {
        pollfd p{fd, POLLIN, 0};
        while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
        }
        std::this_thread::sleep_for(std::chrono::seconds(3));
        sayInterrupted();
        // A health check that could not end has judged nothing: UNKNOWN, as monitoring reads it.
        const int rc = command == QLatin1String("health") ? 3 : Failure;
        printSummary(command, rc, g_clock.elapsed(), produced);
        std::fflush(nullptr);
        ::_exit(rc);
    }).detach();
}

int run(const QStringList &args, QString &commandName, Produced &produced)
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
    commandName = name;
    // Monitoring reads an exit of health it cannot judge as UNKNOWN (3), a wrong command line too.
    auto usageError = [&] {
        if (name != QLatin1String("health"))
            return int(Usage);
        produced.result = QStringLiteral("unknown");
        return 3;
    };
    auto takes = [&](Takes t) { return (command->takes & t) != 0; };
    if (name == QLatin1String("offsite")) {
        OffsiteCommand::Summary summary;
        const int rc = OffsiteCommand::run(args.mid(i + 1), settings,
                                           [&] { watchSignals(Signals::install(), commandName, produced); }, summary);
        produced.files = summary.files;
        produced.extra = summary.extra;
        return rc;
    }

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("qkadmin-cli %1: %2").arg(name, QLatin1String(command->summary)));
    p.addHelpOption();
    if (takes(Month))
        p.addOption({QStringLiteral("month"), QStringLiteral("the month, 1 to 12"), QStringLiteral("N")});
    if (takes(Clear))
        p.addOption({QStringLiteral("clear"), QStringLiteral("empty the month first (Zerowanie Danych QK)")});
    if (takes(Verify))
        p.addOption({QStringLiteral("verify"), QStringLiteral("restore the new backup into a scratch database and check it "
                                                              "(before any archive copy)")});
    if (takes(Archive)) {
        p.addOption({QStringLiteral("archive"), QStringLiteral("also file the backup into a dated archive copy")});
        p.addOption({QStringLiteral("keep"), QStringLiteral("with --archive: keep the N newest dated archives, delete older ones"),
                     QStringLiteral("N")});
    }
    if (takes(Yes))
        p.addOption({QStringLiteral("yes"), QStringLiteral("do not ask for confirmation")});
    if (takes(OffsiteCopy))
        p.addOption({QStringLiteral("offsite"), QStringLiteral("then send the backup off-site (section [Zewnetrzna]; after "
                                                               "--verify and --archive)")});
    if (takes(Limits)) {
        p.addOption({QStringLiteral("backup-age"), QStringLiteral("a backup older than HOURS is a warning, twice that "
                                                                  "critical (default 26)"), QStringLiteral("HOURS")});
        p.addOption({QStringLiteral("gap"), QStringLiteral("more transactions than N between the oldest interesting or "
                                                           "active one and the next is a warning (default 100000)"),
                     QStringLiteral("N")});
    }
    if (takes(HealthOptions)) {
        p.addOption({QStringLiteral("format"), QStringLiteral("lines (default) or prometheus (the node exporter's text format)"),
                     QStringLiteral("FORMAT")});
        p.addOption({QStringLiteral("output"), QStringLiteral("write the metrics to FILE (a temporary file renamed)"), QStringLiteral("FILE")});
        p.addOption({QStringLiteral("all"), QStringLiteral("every company: each settings file of FOLDER (default the settings "
                                                           "folder and /etc/qkadmin), one block each, then a summary table")});
        p.addOption({QStringLiteral("timeout"), QStringLiteral("one company's limit in seconds, its connection included (default 10)"),
                     QStringLiteral("SECONDS")});
        p.addPositionalArgument(QStringLiteral("FOLDER"), QStringLiteral("with --all: the folder of the settings files"),
                                QStringLiteral("[FOLDER]"));
    }
    if (takes(FileArg))
        p.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("the backup file (default bazaqk.abk in the database folder)"),
                                QStringLiteral("[FILE]"));
    QStringList commandArgs{args[0] + QLatin1Char(' ') + name};
    commandArgs += args.mid(i + 1);
    if (!p.parse(commandArgs)) {
        std::fprintf(stderr, "qkadmin-cli %s: %s\n", qPrintable(name), qPrintable(p.errorText()));
        return usageError();
    }
    if (p.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(p.helpText()), stdout);
        return Success;
    }
    const QStringList positional = p.positionalArguments();
    const bool all = takes(HealthOptions) && p.isSet(QStringLiteral("all"));
    if (positional.size() > ((takes(FileArg) || all) ? 1 : 0)) {
        std::fprintf(stderr, "qkadmin-cli %s: unexpected %s\n", qPrintable(name), qPrintable(positional.last()));
        return usageError();
    }
    int month = 0;
    if (takes(Month)) {
        bool ok = false;
        month = p.value(QStringLiteral("month")).toInt(&ok);
        if (!ok || month < 1 || month > 12) {
            std::fprintf(stderr, "qkadmin-cli %s: --month takes a month from 1 to 12\n", qPrintable(name));
            return usageError();
        }
    }
    int keep = 0;
    if (takes(Archive) && p.isSet(QStringLiteral("keep"))) {
        bool ok = false;
        keep = p.value(QStringLiteral("keep")).toInt(&ok);
        if (!p.isSet(QStringLiteral("archive"))) {
            std::fprintf(stderr, "qkadmin-cli %s: --keep goes with --archive\n", qPrintable(name));
            return usageError();
        }
        if (!ok || keep < 1) {
            std::fprintf(stderr, "qkadmin-cli %s: --keep takes a number of archives, 1 or more\n", qPrintable(name));
            return usageError();
        }
    }
    const bool yes = takes(Yes) && p.isSet(QStringLiteral("yes"));
    Health::Options limits;
    if (takes(Limits)) {
        bool ok = true;
        if (p.isSet(QStringLiteral("backup-age")))
            limits.backupAgeHours = p.value(QStringLiteral("backup-age")).toInt(&ok);
        if (ok && p.isSet(QStringLiteral("gap")))
            limits.gap = p.value(QStringLiteral("gap")).toLongLong(&ok);
        if (!ok || limits.backupAgeHours < 1 || limits.gap < 1) {
            std::fprintf(stderr, "qkadmin-cli %s: --backup-age and --gap take whole numbers, 1 or more\n", qPrintable(name));
            return usageError();
        }
    }

    HealthCommand::Request health;
    if (takes(HealthOptions)) {
        health.limits = limits;
        health.all = all;
        health.folder = positional.value(0);
        health.settingsFile = settings;
        health.output = p.value(QStringLiteral("output"));
        health.format = p.isSet(QStringLiteral("format")) ? p.value(QStringLiteral("format")) : QStringLiteral("lines");
        bool ok = true;
        if (p.isSet(QStringLiteral("timeout")))
            health.timeoutSeconds = p.value(QStringLiteral("timeout")).toInt(&ok);
        if (!ok || health.timeoutSeconds < 1 ||
            !QStringList{QStringLiteral("lines"), QStringLiteral("prometheus"), QStringLiteral("child")}.contains(health.format) ||
            (!health.output.isEmpty() && health.format != QLatin1String("prometheus"))) {
            std::fprintf(stderr, "qkadmin-cli %s: --format lines|prometheus, --output with prometheus, --timeout 1 or more\n",
                         qPrintable(name));
            return usageError();
        }
        produced.summaryToStderr = health.format == QLatin1String("prometheus") && health.output.isEmpty();
        health.atTimeout = [name, produced](int status) {
            Produced copy = produced;
            copy.result = QStringLiteral("unknown");
            printSummary(name, status, g_clock.elapsed(), copy);
        };
        if (all)
            return HealthCommand::runAll(health, produced.result);
    }

    TerminalOperator op(stdout, stderr, yes);
    std::unique_ptr<TMainDm> dm;
    bool firstRestore = false; // a restore into a folder that has no database yet
    try {
        dm = std::make_unique<TMainDm>(Paths::settingsFolder(), settings);
        watchSignals(Signals::install(), commandName, produced); // after the client library has set its own
        if (name == QLatin1String("health"))
            return HealthCommand::runOne(*dm, health, produced.result);
        if (name == QLatin1String("restore")) {
            dm->Configure();
            firstRestore = FirstRestore::needed(*dm);
        }
        if (name == QLatin1String("verify-backup") || name == QLatin1String("inspect-backup") || firstRestore) {
            dm->Configure(); // the live database is neither needed nor touched
        } else {
            dm->DataModuleCreate();
            if (dm->EmployeeTran.active())
                dm->EmployeeTran.commit();
        }
    } catch (const std::exception &e) {
        op.error(QString::fromUtf8(e.what()));
        return Failure;
    }

    int rc = Success;
    try {
        TMainDm &d = *dm;
        const QString c = name;
        const QString root = d.Settings.exchangeRoot();
        if (c == QLatin1String("backup")) {
            // One lock from the backup to the last pruned archive: no de-archiving slips in between.
            const BackupOps::HeldFolder held(d.Settings.DatabaseFolder);
            produced.files << d.Settings.backupFileName();
            BackupOps::backupDatabase(d, op);
            if (p.isSet(QStringLiteral("verify")) && !BackupVerification::verify(d, op, d.Settings.backupFileName())) {
                op.error(QStringLiteral("Kopia nie przeszła sprawdzenia%1.")
                             .arg(p.isSet(QStringLiteral("archive")) ? QStringLiteral(": kopii archiwalnej nie utworzono")
                                                                     : QString()));
                rc = Failure;
            } else if (p.isSet(QStringLiteral("archive"))) {
                produced.files << BackupOps::archiveBackup(d, op);
                if (keep > 0)
                    BackupOps::pruneArchives(d, op, keep);
            }
            if (rc == Success && p.isSet(QStringLiteral("offsite"))) {
                OffsiteCommand::Summary summary;
                OffsiteCommand::afterBackup(d, op, summary);
                produced.extra = summary.extra;
            }
        } else if (c == QLatin1String("verify-backup")) {
            const QString file = positional.isEmpty() ? d.Settings.backupFileName() : QFileInfo(positional.first()).absoluteFilePath();
            rc = BackupVerification::verify(d, op, file) ? Success : Failure;
        } else if (c == QLatin1String("inspect-backup")) {
            const QString file = positional.isEmpty() ? d.Settings.backupFileName() : QFileInfo(positional.first()).absoluteFilePath();
            const BackupGate::Inspection i = BackupGate::inspect(file);
            for (const QString &line : BackupGate::report(i, file))
                op.appendLine(QStringLiteral("BuMemo"), line);
            rc = i.passes() ? Success : Failure;
        } else if (c == QLatin1String("restore")) {
            produced.files << d.Settings.fullDatabaseName();
            if (!(firstRestore ? FirstRestore::restore(d, op) : BackupOps::restoreDatabase(d, op))) {
                op.error(QStringLiteral("Odtwarzanie przerwane: nie potwierdzono (bez terminala potwierdza --yes)."));
                rc = Failure;
            }
        } else if (c == QLatin1String("validate")) {
            BackupOps::validateDatabase(d, op);
        } else if (c == QLatin1String("reset-connections")) {
            BackupOps::resetConnections(d, op);
        } else if (c == QLatin1String("export")) {
            produced.files = ExchangeOps::monthlyFiles(root, month);
            ExchangeOps::exportMonth(d, op, month, QString::number(Clock::now().date().year()));
        } else if (c == QLatin1String("import")) {
            rc = ExchangeOps::importMonth(d, op, month, p.isSet(QStringLiteral("clear"))) ? Success : Failure;
        } else if (c == QLatin1String("check-input")) {
            rc = ExchangeOps::checkInput(d, op, month) ? Success : Failure;
        } else if (c == QLatin1String("export-transfers")) {
            produced.files = ExchangeOps::transferFiles(d.settingsFolder());
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
    // The embedded engine's restore runs in this same program, started again as a worker.
    if (const int rc = RestoreWorker::runIfAsked(argc, argv); rc >= 0)
        return rc;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qkadmin-cli"));
    g_clock.start();
    QString command;
    Produced produced;
    int rc = Failure;
    try {
        rc = run(app.arguments(), command, produced);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "qkadmin-cli: %s\n", e.what());
    }
    if (Signals::received()) {
        sayInterrupted();
        rc = command == QLatin1String("health") ? 3 : Failure;
    }
    const QStringList args = app.arguments();
    if (!args.contains(QStringLiteral("--help")) && !args.contains(QStringLiteral("-h")))
        printSummary(command, rc, g_clock.elapsed(), produced);
    if (Signals::received())
        FbClient::endAfterSignal(rc);
    return rc;
}
