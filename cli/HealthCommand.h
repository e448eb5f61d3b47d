#pragma once

#include "admin/Health.h"

#include <QString>
#include <QStringList>

#include <functional>

class TMainDm;

// qkadmin-cli health: one company (the settings given), or every company of a folder at once.
namespace HealthCommand {

struct Request {
    Health::Options limits;
    QString format = QStringLiteral("lines"); // lines, prometheus; child: lines, "---", then metrics
    QString output;                            // the metrics written here atomically instead of stdout
    bool all = false;
    QString folder;        // with all: where the settings files are (default: see companyFiles)
    int timeoutSeconds = 10; // one company's limit, its connection included
    QString settingsFile;  // the company's settings file (empty: the default setup.ini)
    // One company's check past timeoutSeconds (a server that does not answer, a hung network mount):
    // said UNKNOWN, then this ends the run with the status.
    std::function<void(int status)> atTimeout;
};

// The exit status (0 OK ... 3 UNKNOWN); result is the summary's result word.
int runOne(TMainDm &dm, const Request &r, QString &result);
int runAll(const Request &r, QString &result);

// The settings files of the companies: every *.ini in folder but jn.ini, or when folder is empty those
// of the settings folder and of /etc/qkadmin, where the backup units keep theirs.
QStringList companyFiles(const QString &folder, const QString &settingsFolder);

// A company's name: its settings file's name without .ini.
QString companyName(const QString &settingsFile);

} // namespace HealthCommand
