#pragma once

#include "cli/Command.h"

namespace Cli {

// backup, verify-backup, inspect-backup, restore, dearchive.
void addBackupCommands(std::vector<std::unique_ptr<Command>> &table);

} // namespace Cli
