// The table of commands, and the ones that hand one operation its values.
#include "cli/BackupCommands.h"
#include "cli/Command.h"
#include "cli/HealthCommand.h"
#include "cli/OffsiteCommand.h"

#include "admin/AdminOps.h"
#include "backup/BackupOps.h"
#include "cli/TerminalOperator.h"
#include "core/MainD.h"
#include "exchange/ExchangeOps.h"
#include "platform/Clock.h"

#include <functional>

namespace Cli {

namespace {

// An operation that takes nothing but the data module and the terminal.
class PlainCommand : public OperationCommand {
public:
    using Operation = std::function<void(TMainDm &, Operator &)>;
    PlainCommand(const char *name, const char *summary, Operation operation, bool triggers = false)
        : m_name(name), m_summary(summary), m_operation(std::move(operation)), m_triggers(triggers) {}
    const char *name() const override { return m_name; }
    const char *summary() const override { return m_summary; }

protected:
    bool databaseTriggers() const override { return m_triggers; }
    int operate(TMainDm &dm, TerminalOperator &op, Produced &) override {
        m_operation(dm, op);
        return Success;
    }

private:
    const char *m_name, *m_summary;
    Operation m_operation;
    bool m_triggers;
};

// The month's exchange commands: export, import, check-input.
class MonthCommand : public OperationCommand {
public:
    void addOptions(QCommandLineParser &p) const override {
        p.addOption({QStringLiteral("month"), QStringLiteral("the month, 1 to 12"), QStringLiteral("N")});
    }
    QString check(const QCommandLineParser &p) override {
        QString error = noArguments(p);
        if (error.isEmpty())
            m_month = Options::month(p, error);
        return error;
    }

protected:
    int m_month = 0;
};

class ExportCommand : public MonthCommand {
public:
    const char *name() const override { return "export"; }
    const char *summary() const override {
        return "export one month's documents and entries and the three lists";
    }

protected:
    int operate(TMainDm &d, TerminalOperator &op, Produced &produced) override {
        produced.files = ExchangeOps::monthlyFiles(d.Settings.exchangeRoot(), m_month);
        ExchangeOps::exportMonth(d, op, m_month, QString::number(Clock::now().date().year()));
        return Success;
    }
};

class ImportCommand : public MonthCommand {
public:
    const char *name() const override { return "import"; }
    const char *summary() const override { return "import one month's documents and entries"; }
    void addOptions(QCommandLineParser &p) const override {
        MonthCommand::addOptions(p);
        p.addOption({QStringLiteral("clear"), QStringLiteral("empty the month first (Zerowanie Danych QK)")});
    }
    QString check(const QCommandLineParser &p) override {
        m_clear = p.isSet(QStringLiteral("clear"));
        return MonthCommand::check(p);
    }

protected:
    bool databaseTriggers() const override { return true; } // it changes the books
    int operate(TMainDm &d, TerminalOperator &op, Produced &) override {
        return ExchangeOps::importMonth(d, op, m_month, m_clear) ? Success : Failure;
    }

private:
    bool m_clear = false;
};

class CheckInputCommand : public MonthCommand {
public:
    const char *name() const override { return "check-input"; }
    const char *summary() const override { return "check that one month's import files are present"; }

protected:
    int operate(TMainDm &d, TerminalOperator &op, Produced &) override {
        return ExchangeOps::checkInput(d, op, m_month) ? Success : Failure;
    }
};

class ExportTransfersCommand : public OperationCommand {
public:
    const char *name() const override { return "export-transfers"; }
    const char *summary() const override { return "export the bank-transfer packages into paczki/"; }

protected:
    int operate(TMainDm &d, TerminalOperator &op, Produced &produced) override {
        produced.files = ExchangeOps::transferFiles(d.settingsFolder());
        ExchangeOps::exportTransfers(d, op, d.settingsFolder());
        return Success;
    }
};

std::vector<std::unique_ptr<Command>> makeCommands() {
    std::vector<std::unique_ptr<Command>> t;
    addBackupCommands(t);
    t.push_back(std::make_unique<PlainCommand>("validate", "have the server validate the database",
                                               BackupOps::validateDatabase));
    t.push_back(std::make_unique<PlainCommand>("reset-connections",
                                               "clear the workstation state left by a hung workstation",
                                               BackupOps::resetConnections, true));
    t.push_back(std::make_unique<ExportCommand>());
    t.push_back(std::make_unique<ImportCommand>());
    t.push_back(std::make_unique<CheckInputCommand>());
    t.push_back(std::make_unique<ExportTransfersCommand>());
    t.push_back(std::make_unique<PlainCommand>("stats", "database statistics", AdminOps::statistics));
    t.push_back(std::make_unique<PlainCommand>("log", "the server log", AdminOps::serverLog));
    t.push_back(
        std::make_unique<PlainCommand>("properties", "the server's properties", AdminOps::serverProperties));
    t.push_back(
        std::make_unique<PlainCommand>("users", "the users attached to the database", AdminOps::activeUsers));
    t.push_back(HealthCommand::command());
    t.push_back(OffsiteCommand::command());
    return t;
}

} // namespace

const std::vector<std::unique_ptr<Command>> &commands() {
    static const std::vector<std::unique_ptr<Command>> table = makeCommands();
    return table;
}

} // namespace Cli
