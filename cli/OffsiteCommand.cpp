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
    "  check [--read-data PERCENT] [--restore]\n"
    "                              check the repository and fetch the newest copy through the digest and "
    "walk;\n"
    "                              --restore: also restore it into a scratch database and validate it\n"
    "  forget [ID]                 forget the company's copies zachowaj= no longer keeps (never the copy "
    "ID)\n"
    "  prune                       remove the data only forgotten copies hold (the repository alone: "
    "restic\n"
    "                              waits for, then refuses, a repository another run holds)\n";

QString summaryOf(const OffsiteOps::Copy &c) {
    return QStringLiteral("added=%1 snapshot=%2").arg(c.added).arg(c.snapshot);
}

const QStringList kSubcommands{QStringLiteral("init"),  QStringLiteral("copy"),  QStringLiteral("list"),
                               QStringLiteral("fetch"), QStringLiteral("check"), QStringLiteral("forget"),
                               QStringLiteral("prune")};

class Command : public Cli::OperationCommand {
public:
    const char *name() const override { return "offsite"; }
    const char *summary() const override {
        return "off-site copies on restic: init | copy | list | fetch [ID|latest] [--yes] | check "
               "[--read-data PERCENT] [--restore] | forget [ID] | prune";
    }
    void addOptions(QCommandLineParser &p) const override {
        p.setApplicationDescription(QString::fromLatin1(kUsage));
        p.addOption({QStringLiteral("yes"),
                     QStringLiteral("with fetch: do not ask before replacing the current backup")});
        p.addOption(
            {QStringLiteral("read-data"),
             QStringLiteral("with check: also read PERCENT of the repository's data (100: all of it)"),
             QStringLiteral("PERCENT")});
        p.addOption({QStringLiteral("restore"),
                     QStringLiteral("with check: restore the fetched copy into a scratch database beside the "
                                    "live one and validate it, as verify-backup does")});
        p.addPositionalArgument(QStringLiteral("SUBCOMMAND"),
                                QStringLiteral("init, copy, list, fetch, check, forget or prune"));
        p.addPositionalArgument(
            QStringLiteral("ID"),
            QStringLiteral("with fetch: the copy's id (or its start), or latest (default); with forget: the "
                           "copy that stays whatever the dates"),
            QStringLiteral("[ID|latest]"));
    }
    QString check(const QCommandLineParser &p) override;

protected:
    bool needsDatabase(const TMainDm &) const override { return false; } // a new machine has none
    bool assumeYes() const override { return m_yes; }
    int operate(TMainDm &dm, TerminalOperator &op, Cli::Produced &produced) override;

private:
    QString m_sub, m_which;
    bool m_yes = false;
    int m_percent = 0;
    bool m_restore = false;
};

QString Command::check(const QCommandLineParser &p) {
    const QStringList positional = p.positionalArguments();
    m_sub = positional.value(0);
    if (m_sub.isEmpty())
        return QStringLiteral("name the subcommand: init, copy, list, fetch, check, forget or prune");
    if (!kSubcommands.contains(m_sub))
        return QStringLiteral("unknown subcommand %1").arg(m_sub);
    const bool fetch = m_sub == QLatin1String("fetch"), check = m_sub == QLatin1String("check");
    const bool forget = m_sub == QLatin1String("forget");
    if (positional.size() > (fetch || forget ? 2 : 1))
        return QStringLiteral("unexpected ") + positional.last();
    m_which = positional.value(1, forget ? QString() : QStringLiteral("latest"));
    m_yes = p.isSet(QStringLiteral("yes"));
    if (m_yes && !fetch)
        return QStringLiteral("--yes goes with fetch");
    m_percent = 0;
    m_restore = p.isSet(QStringLiteral("restore"));
    if (m_restore && !check)
        return QStringLiteral("--restore goes with check");
    if (!p.isSet(QStringLiteral("read-data")))
        return {};
    if (!check)
        return QStringLiteral("--read-data goes with check");
    bool ok = false;
    m_percent = p.value(QStringLiteral("read-data")).toInt(&ok);
    return ok && m_percent >= 1 && m_percent <= 100
               ? QString()
               : QStringLiteral("--read-data takes a percentage from 1 to 100");
}

int Command::operate(TMainDm &dm, TerminalOperator &op, Cli::Produced &produced) {
    if (m_sub == QLatin1String("init")) {
        OffsiteOps::init(dm, op);
    } else if (m_sub == QLatin1String("copy")) {
        produced.files << dm.Settings.backupFileName()
                       << BackupDigest::fileName(dm.Settings.backupFileName());
        produced.extra = summaryOf(OffsiteOps::copy(dm, op));
    } else if (m_sub == QLatin1String("list")) {
        OffsiteOps::list(dm, op);
    } else if (m_sub == QLatin1String("fetch")) {
        produced.files << dm.Settings.backupFileName();
        if (!OffsiteOps::fetch(dm, op, m_which)) {
            op.error(
                QStringLiteral("Pobieranie przerwane: nie potwierdzono (bez terminala potwierdza --yes)."));
            return Cli::Failure;
        }
    } else if (m_sub == QLatin1String("check")) {
        return OffsiteOps::check(dm, op, m_percent, m_restore) ? Cli::Success : Cli::Failure;
    } else if (m_sub == QLatin1String("forget")) {
        produced.extra = QStringLiteral("forgotten=%1").arg(OffsiteOps::forget(dm, op, m_which));
    } else if (m_sub == QLatin1String("prune")) {
        OffsiteOps::prune(dm, op);
    }
    return Cli::Success;
}

} // namespace

std::unique_ptr<Cli::Command> command() {
    return std::make_unique<Command>();
}

QString afterBackup(TMainDm &dm, TerminalOperator &op, const BackupOps::Lock &held, bool retention) {
    const OffsiteOps::Copy c = OffsiteOps::copy(dm, op, held, retention);
    if (!c.retentionLeft)
        return summaryOf(c);
    return summaryOf(c) + QStringLiteral(" retention=") + OffsiteOps::repositoryKey(OffsiteOps::settings(dm));
}

} // namespace OffsiteCommand
