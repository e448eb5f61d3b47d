#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class TMainDm;
class TerminalOperator;

// qkadmin-cli offsite init | copy | list | fetch [ID|latest] [--yes] | check [--read-data PERCENT], and
// the off-site step of backup --offsite.
namespace OffsiteCommand {

// What a run adds to its summary line.
struct Summary {
    QStringList files; // the files it sent or brought
    QString extra;     // "added=N" after a copy
};

// args: what follows "offsite". watchSignals is called once the client library has set its handlers.
// The exit status: 0 success, 1 failure, 2 a usage error.
int run(const QStringList &args, const QString &settingsFile, const std::function<void()> &watchSignals,
        Summary &summary);

// backup --offsite, after the local backup (and its verification): the copy, or a QkError.
void afterBackup(TMainDm &dm, TerminalOperator &op, Summary &summary);

} // namespace OffsiteCommand
