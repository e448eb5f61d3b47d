#include "cli/OffsiteCommand.h"

#include "backup/OffsiteOps.h"
#include "cli/TerminalOperator.h"
#include "core/MainD.h"
#include "platform/BackupDigest.h"
#include "platform/Paths.h"

#include <QCommandLineParser>

#include <cstdio>
#include <memory>

namespace OffsiteCommand {

namespace {

const char *const kUsage =
    "usage: qkadmin-cli [--settings FILE] offsite SUBCOMMAND [options]\n\n"
    "Off-site copies of bazaqk.abk and its digest in a restic repository (settings: section [Zewnetrzna]:\n"
    "repozytorium=, klucz=, zachowaj=, ostrzegaj=, limit=, opcje=).\n\n"
    "  init                        create the repository with a second key; prints the recovery sheet\n"
    "  copy                        send the current backup (it must pass its digest and walk), then "
    "retention\n"
    "  list                        the company's copies, newest first: date, size, source database, id\n"
    "  fetch [ID|latest] [--yes]   bring a copy back as bazaqk.abk with its digest (the current one kept "
    "aside)\n"
    "  check [--read-data PERCENT] check the repository and fetch the newest copy through the digest and "
    "walk\n";

void addCopy(const OffsiteOps::Copy &c, const TMainDm &dm, Summary &summary) {
    summary.files << dm.Settings.backupFileName() << BackupDigest::fileName(dm.Settings.backupFileName());
    summary.extra = QStringLiteral("added=%1 snapshot=%2").arg(c.added).arg(c.snapshot);
}

} // namespace

void afterBackup(TMainDm &dm, TerminalOperator &op, Summary &summary) {
    const OffsiteOps::Copy c = OffsiteOps::copy(dm, op);
    summary.extra = QStringLiteral("added=%1 snapshot=%2").arg(c.added).arg(c.snapshot);
}

int run(const QStringList &args, const QString &settingsFile, const std::function<void()> &watchSignals,
        Summary &summary) {
    const QString sub = args.value(0);
    if (sub.isEmpty() || sub == QLatin1String("--help") || sub == QLatin1String("-h")) {
        std::fputs(kUsage, sub.isEmpty() ? stderr : stdout);
        return sub.isEmpty() ? 2 : 0;
    }
    const QStringList known{QStringLiteral("init"), QStringLiteral("copy"), QStringLiteral("list"),
                            QStringLiteral("fetch"), QStringLiteral("check")};
    if (!known.contains(sub)) {
        std::fprintf(stderr, "qkadmin-cli offsite: unknown subcommand %s\n\n%s", qPrintable(sub), kUsage);
        return 2;
    }
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("qkadmin-cli offsite %1").arg(sub));
    p.addHelpOption();
    if (sub == QLatin1String("fetch")) {
        p.addOption(
            {QStringLiteral("yes"), QStringLiteral("do not ask before replacing the current backup")});
        p.addPositionalArgument(QStringLiteral("ID"),
                                QStringLiteral("the copy's id (or its start), or latest (default)"),
                                QStringLiteral("[ID|latest]"));
    }
    if (sub == QLatin1String("check"))
        p.addOption({QStringLiteral("read-data"),
                     QStringLiteral("also read PERCENT of the repository's data (100: all of it)"),
                     QStringLiteral("PERCENT")});
    QStringList parsed{QStringLiteral("qkadmin-cli offsite ") + sub};
    parsed += args.mid(1);
    if (!p.parse(parsed)) {
        std::fprintf(stderr, "qkadmin-cli offsite %s: %s\n", qPrintable(sub), qPrintable(p.errorText()));
        return 2;
    }
    if (p.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(p.helpText()), stdout);
        return 0;
    }
    const QStringList positional = p.positionalArguments();
    if (positional.size() > (sub == QLatin1String("fetch") ? 1 : 0)) {
        std::fprintf(stderr, "qkadmin-cli offsite %s: unexpected %s\n", qPrintable(sub),
                     qPrintable(positional.last()));
        return 2;
    }
    int percent = 0;
    if (sub == QLatin1String("check") && p.isSet(QStringLiteral("read-data"))) {
        bool ok = false;
        percent = p.value(QStringLiteral("read-data")).toInt(&ok);
        if (!ok || percent < 1 || percent > 100) {
            std::fprintf(stderr, "qkadmin-cli offsite check: --read-data takes a percentage from 1 to 100\n");
            return 2;
        }
    }

    const bool yes = sub == QLatin1String("fetch") && p.isSet(QStringLiteral("yes"));
    TerminalOperator op(stdout, stderr, yes);
    std::unique_ptr<TMainDm> dm;
    try {
        dm = std::make_unique<TMainDm>(Paths::settingsFolder(), settingsFile);
        dm->createMissingSettings = false;
        watchSignals();
        dm->Configure(); // no connection: the off-site copies need no database (a new machine has none)
        int rc = 0;
        if (sub == QLatin1String("init")) {
            OffsiteOps::init(*dm, op);
        } else if (sub == QLatin1String("copy")) {
            addCopy(OffsiteOps::copy(*dm, op), *dm, summary);
        } else if (sub == QLatin1String("list")) {
            OffsiteOps::list(*dm, op);
        } else if (sub == QLatin1String("fetch")) {
            summary.files << dm->Settings.backupFileName();
            if (!OffsiteOps::fetch(*dm, op, positional.value(0, QStringLiteral("latest")))) {
                op.error(QStringLiteral(
                    "Pobieranie przerwane: nie potwierdzono (bez terminala potwierdza --yes)."));
                rc = 1;
            }
        } else if (sub == QLatin1String("check")) {
            rc = OffsiteOps::check(*dm, op, percent) ? 0 : 1;
        }
        dm->shutDown();
        return op.errorShown() ? 1 : rc;
    } catch (const std::exception &e) {
        op.error(QString::fromUtf8(e.what()));
        if (dm)
            dm->shutDown();
        return 1;
    }
}

} // namespace OffsiteCommand
