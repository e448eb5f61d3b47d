// backup, verify-backup, inspect-backup, restore, dearchive.
#include "cli/BackupCommands.h"

#include "backup/BackupGate.h"
#include "backup/BackupOps.h"
#include "backup/BackupVerification.h"
#include "backup/FirstRestore.h"
#include "backup/NewArchive.h"
#include "cli/BackupAllCommand.h"
#include "cli/OffsiteCommand.h"
#include "cli/TerminalOperator.h"
#include "core/MainD.h"
#include "platform/Errors.h"
#include "platform/FolderLock.h"
#include "platform/Signals.h"

#include <QFileInfo>

#include <memory>
#include <utility>

namespace Cli {

namespace {

// The backup file a command names, else the database folder's.
QString backupFileOf(const QStringList &positional, const TMainDm &dm) {
    return positional.isEmpty() ? dm.Settings.backupFileName()
                                : QFileInfo(positional.first()).absoluteFilePath();
}

class BackupCommand : public OperationCommand {
public:
    const char *name() const override { return "backup"; }
    const char *summary() const override { return "back up the database to bazaqk.abk under the lock flag"; }
    void addOptions(QCommandLineParser &p) const override {
        p.addOption(
            {QStringLiteral("verify"),
             QStringLiteral("restore the new backup into a scratch database and check it "
                            "before it replaces the previous one (an archive copy is made meanwhile and kept "
                            "only when it passes)")});
        p.addOption({QStringLiteral("archive"),
                     QStringLiteral("also file the backup into a new dated archive copy")});
        p.addOption({QStringLiteral("keep"),
                     QStringLiteral("with --archive: keep the N newest dated archives, delete older ones"),
                     QStringLiteral("N")});
        p.addOption({QStringLiteral("offsite"),
                     QStringLiteral("then send the backup off-site (section [Zewnetrzna]; after "
                                    "--verify and --archive)")});
    }
    QString check(const QCommandLineParser &p) override {
        if (const QString error = noArguments(p); !error.isEmpty())
            return error;
        return checkChain(p);
    }
    // The chain's options alone (backup --all passes them on to each company's run).
    QString checkChain(const QCommandLineParser &p) {
        m_child = p.isSet(BackupAll::kChildOption);
        m_verify = p.isSet(QStringLiteral("verify"));
        m_keep = 0;
        m_archive = p.isSet(QStringLiteral("archive"));
        m_offsite = p.isSet(QStringLiteral("offsite"));
        if (!p.isSet(QStringLiteral("keep")))
            return {};
        if (!m_archive)
            return QStringLiteral("--keep goes with --archive");
        bool ok = false;
        m_keep = p.value(QStringLiteral("keep")).toInt(&ok);
        return ok && m_keep >= 1 ? QString() : QStringLiteral("--keep takes a number of archives, 1 or more");
    }
    BackupAll::Chain chain() const { return {m_verify, m_archive, m_offsite, m_keep, m_child}; }

protected:
    // A company of backup --all whose folder a run still holds (last night's, an operator's restore) is
    // said busy before anything: on the embedded engine that run also holds the database, and connecting
    // would only fail with the engine's own words.
    void beforeConnecting(TMainDm &d) override {
        if (m_child && FolderLock::isHeld(d.Settings.DatabaseFolder))
            BackupOps::takeFolderLock(d.Settings.DatabaseFolder); // says who holds it (FolderBusy)
    }
    int operate(TMainDm &d, TerminalOperator &op, Produced &produced) override {
        // One lock from the backup to the last pruned archive: no de-archiving slips in between.
        const BackupOps::Lock held = BackupOps::takeFolderLock(d.Settings.DatabaseFolder);
        produced.files << d.Settings.backupFileName();
        BackupOps::NewBackup written = BackupOps::backupDatabase(d, op, {held, !m_verify});
        QString archive;
        if (m_verify) {
            written.writeDigest();
            // The archive copy is made while the backup is verified, and kept only when it passes.
            std::unique_ptr<NewArchive> alongside;
            QString unprepared;
            if (m_archive)
                try {
                    alongside = std::make_unique<NewArchive>(d, written.file(), held);
                    alongside->startIfRoom(op);
                } catch (const std::exception &e) {
                    unprepared = QString::fromUtf8(e.what()); // said once the backup is in place
                }
            if (!verified(d, op, written, alongside ? alongside->backup() : written.file(), held)) {
                if (m_keep > 0) // the kept failures within the same bounds as the archives
                    BackupOps::pruneFailedBackups(d, op, m_keep);
                return Failure;
            }
            if (!unprepared.isEmpty())
                throw QkError(QStringLiteral("Archiwizacja kopii nie powiodła się: ") + unprepared);
            if (alongside)
                archive = alongside->place(op);
        } else if (m_archive) {
            archive = BackupOps::archiveBackup(d, op, held);
        }
        if (m_archive) {
            produced.files << archive;
            if (m_keep > 0)
                BackupOps::pruneArchives(d, op, m_keep, held, QFileInfo(archive).fileName());
        }
        if (m_offsite)
            produced.extra = OffsiteCommand::afterBackup(d, op, held, !m_child);
        return Success;
    }

private:
    // Verified before it replaces anything: a backup that does not restore never becomes the only one.
    // file: the new backup's name the verification reads (the archive copy's link of it, when one is made).
    bool verified(TMainDm &d, TerminalOperator &op, BackupOps::NewBackup &written, const QString &file,
                  const BackupOps::Lock &held) const {
        if (BackupVerification::verify(d, op, file, held)) {
            if (const QString note = written.publish(); !note.isEmpty())
                op.appendLine(Operator::Log::Backup, note);
            return true;
        }
        if (Signals::received() != 0) { // stopped, not failed: nothing is known of the new backup, which goes
            op.error(
                QStringLiteral("Sprawdzenie kopii przerwane: poprzednia kopia %1 pozostaje bez zmian, nowa "
                               "(niesprawdzona) usunięta%2.")
                    .arg(d.Settings.backupFileName(),
                         m_archive ? QStringLiteral("; kopii archiwalnej nie utworzono") : QString()));
            return false;
        }
        const QString aside = written.setAside();
        op.error(QStringLiteral("Kopia nie przeszła sprawdzenia: poprzednia kopia %1 pozostaje bez zmian, "
                                "nowa zachowana jako %2%3.")
                     .arg(d.Settings.backupFileName(), aside,
                          m_archive ? QStringLiteral("; kopii archiwalnej nie utworzono") : QString()));
        return false;
    }

    bool m_verify = false, m_archive = false, m_offsite = false;
    bool m_child = false; // one company of backup --all
    int m_keep = 0;
};

// backup: the company of the settings given, or with --all every company of a folder, each in a process
// of its own running the one above.
class BackupEntry : public Command {
public:
    const char *name() const override { return m_one.name(); }
    const char *summary() const override {
        return "back up the database to bazaqk.abk under the lock flag; --all: every company";
    }
    void addOptions(QCommandLineParser &p) const override {
        m_one.addOptions(p);
        BackupAll::addOptions(p);
    }
    QString check(const QCommandLineParser &p) override {
        m_all = p.isSet(QStringLiteral("all"));
        if (!m_all)
            return BackupAll::onlyWithAll(p).isEmpty() ? m_one.check(p) : BackupAll::onlyWithAll(p);
        if (const QString error = m_one.checkChain(p); !error.isEmpty())
            return error;
        return BackupAll::check(p, m_one.chain(), m_request);
    }
    int run(const Context &c) override {
        if (m_all)
            return BackupAll::run(m_request, c.produced);
        const int rc = m_one.run(c);
        // backup --all reads what this company's backup came to from the summary line.
        if (m_one.chain().child && rc == Success && !c.produced.files.isEmpty())
            c.produced.extra =
                (c.produced.extra +
                 QStringLiteral(" backup_bytes=%1").arg(QFileInfo(c.produced.files.first()).size()))
                    .trimmed();
        return rc;
    }

private:
    BackupCommand m_one;
    bool m_all = false;
    BackupAll::Request m_request;
};

// A command over one backup file, given or the database folder's; the live database is not needed.
class BackupFileCommand : public OperationCommand {
public:
    void addOptions(QCommandLineParser &p) const override { Options::backupFile(p); }
    QString check(const QCommandLineParser &p) override {
        m_positional = p.positionalArguments();
        return m_positional.size() > 1 ? QStringLiteral("unexpected ") + m_positional.last() : QString();
    }

protected:
    bool needsDatabase(const TMainDm &) const override { return false; }
    QStringList m_positional;
};

class VerifyBackupCommand : public BackupFileCommand {
public:
    const char *name() const override { return "verify-backup"; }
    const char *summary() const override {
        return "restore a backup (default bazaqk.abk) into a scratch database, check it, remove it";
    }

protected:
    int operate(TMainDm &d, TerminalOperator &op, Produced &) override {
        return BackupVerification::verify(d, op, backupFileOf(m_positional, d)) ? Success : Failure;
    }
};

class InspectBackupCommand : public BackupFileCommand {
public:
    const char *name() const override { return "inspect-backup"; }
    const char *summary() const override {
        return "read a backup (default bazaqk.abk) without an engine: tables, whether it is whole, its "
               "digest";
    }

protected:
    int operate(TMainDm &d, TerminalOperator &op, Produced &) override {
        const QString file = backupFileOf(m_positional, d);
        const BackupGate::Inspection i = BackupGate::inspect(file);
        for (const QString &line : BackupGate::report(i, file))
            op.appendLine(Operator::Log::Backup, line);
        if (i.passes())
            return Success;
        // Why it may not be restored, last before the summary (a backup of another database, a part missing).
        op.error(QStringLiteral("Kopia %1 nie nadaje się do odtworzenia: %2.").arg(file, i.problem()));
        return Failure;
    }
};

const QString kNotConfirmed = QStringLiteral("przerwane: nie potwierdzono (bez terminala potwierdza --yes).");

class RestoreCommand : public OperationCommand {
public:
    const char *name() const override { return "restore"; }
    const char *summary() const override {
        return "restore the database from bazaqk.abk and file the backup into an archive copy";
    }
    void addOptions(QCommandLineParser &p) const override { p.addOption(Options::yes()); }
    QString check(const QCommandLineParser &p) override {
        m_yes = p.isSet(Options::kYes);
        return noArguments(p);
    }

protected:
    bool assumeYes() const override { return m_yes; }
    // A folder with no database yet (a new machine after a disaster): nothing to connect to.
    bool needsDatabase(const TMainDm &dm) const override { return !FirstRestore::needed(dm); }
    // The lock before the connection: a restore started during a backup (whose embedded engine holds the
    // database) is told of the backup, not refused by the engine.
    void beforeConnecting(TMainDm &d) override {
        m_held.reset(); // a run in this process that failed to connect
        if (QFileInfo(d.Settings.DatabasePath).isDir())
            m_held = BackupOps::takeFolderLock(d.Settings.DatabaseFolder);
    }
    int operate(TMainDm &d, TerminalOperator &op, Produced &produced) override {
        const BackupOps::Lock held = std::exchange(m_held, {});
        produced.files << d.Settings.fullDatabaseName();
        const bool first = FirstRestore::needed(d);
        if (first ? FirstRestore::restore(d, op, held) : BackupOps::restoreDatabase(d, op, {held, true})) {
            // Returned, not thrown: the restored database is in place whatever a signal stopped after it,
            // and the restore said what was not finished.
            if (first || !Signals::received())
                return Success;
            produced.result = QStringLiteral("unfinished");
            return Unfinished;
        }
        op.error(QStringLiteral("Odtwarzanie ") + kNotConfirmed);
        return Failure;
    }

private:
    bool m_yes = false;
    BackupOps::Lock m_held;
};

class DearchiveCommand : public OperationCommand {
public:
    const char *name() const override { return "dearchive"; }
    const char *summary() const override {
        return "bring the backup and its digest back from a dated archive copy as bazaqk.abk (checked first; "
               "the "
               "current backup kept aside)";
    }
    void addOptions(QCommandLineParser &p) const override {
        p.addOption(Options::yes());
        p.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("the archive copy (YYMMDDHH.arj)"));
    }
    QString check(const QCommandLineParser &p) override {
        m_yes = p.isSet(Options::kYes);
        const QStringList positional = p.positionalArguments();
        if (positional.size() != 1)
            return positional.isEmpty() ? QStringLiteral("name the archive (FILE)")
                                        : QStringLiteral("unexpected ") + positional.last();
        m_archive = QFileInfo(positional.first()).absoluteFilePath();
        return {};
    }

protected:
    bool needsDatabase(const TMainDm &) const override { return false; }
    bool assumeYes() const override { return m_yes; }
    int operate(TMainDm &d, TerminalOperator &op, Produced &produced) override {
        produced.files << d.Settings.backupFileName();
        if (BackupOps::dearchive(d, op, m_archive))
            return Success;
        if (!op.errorShown())
            op.error(QStringLiteral("Dearchiwizacja ") + kNotConfirmed);
        return Failure;
    }

private:
    bool m_yes = false;
    QString m_archive;
};

} // namespace

void addBackupCommands(std::vector<std::unique_ptr<Command>> &table) {
    table.push_back(std::make_unique<BackupEntry>());
    table.push_back(std::make_unique<VerifyBackupCommand>());
    table.push_back(std::make_unique<InspectBackupCommand>());
    table.push_back(std::make_unique<RestoreCommand>());
    table.push_back(std::make_unique<DearchiveCommand>());
}

} // namespace Cli
