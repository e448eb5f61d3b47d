#pragma once

#include "cli/Command.h"

#include <QString>

// The one line every run of qkadmin-cli ends with, for logs and monitoring.
namespace Cli::Summary {

// Starts the run's clock.
void start();
qint64 elapsedMs();
// "qkadmin-cli: summary command=... result=... exit=... seconds=..." with the file(s) the run produced and
// their size, printed once whoever asks first (the run's end, or a watchdog that ends the process).
void print(const QString &command, int rc, const Produced &produced);

} // namespace Cli::Summary
