#pragma once

#include "backup/BackupOps.h"
#include "cli/Command.h"

#include <QString>

class TMainDm;
class TerminalOperator;

// qkadmin-cli offsite init | copy | list | fetch [ID|latest] [--yes] | check [--read-data PERCENT] | forget
// [ID] | prune, and the off-site step of backup --offsite.
namespace OffsiteCommand {

std::unique_ptr<Cli::Command> command();

// backup --offsite, after the local backup (and its verification): the copy, or a QkError. The end of the
// summary line it adds ("added=N snapshot=ID"; without retention, where the company has one, also
// "retention=KEY": the repository, by OffsiteOps::repositoryKey, where backup --all forgets and prunes at
// its end).
QString afterBackup(TMainDm &dm, TerminalOperator &op, const BackupOps::Lock &held, bool retention = true);

} // namespace OffsiteCommand
