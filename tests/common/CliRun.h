#pragma once

#include "common/TestDb.h"
#include "platform/IniFile.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// The command-line companion run as a scheduler runs it, for the tests of what it does.
namespace TestCli {

struct CliRun {
    int exitCode = -1; // -1: it crashed or did not end within five minutes
    QString out, err;
};

// Runs qkadmin-cli (QK_CLI) with --settings when given, no terminal, PATH replaced when path is given.
inline CliRun cli(const QStringList &args, const QString &settings = QString(),
                  const QString &path = QString()) {
    QProcess p;
    if (!path.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PATH"), path);
        p.setProcessEnvironment(env);
    }
    QStringList all;
    if (!settings.isEmpty())
        all << QStringLiteral("--settings") << settings;
    all << args;
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(QString::fromLocal8Bit(qgetenv("QK_CLI")), all);
    if (!p.waitForFinished(300000))
        return {};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAllStandardOutput()),
            QString::fromLocal8Bit(p.readAllStandardError())};
}

// The command line with no environment at all, as cron or env -i starts it.
inline CliRun bareCli(const QStringList &args, const QString &settings) {
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.start(QStringLiteral("env"),
            QStringList{"-i", QString::fromLocal8Bit(qgetenv("QK_CLI")), "--settings", settings} + args);
    if (!p.waitForFinished(300000))
        return {};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

// setup.ini for the command line, naming the database folder.
inline QString settingsFor(const QString &folder, const QString &protocol = QStringLiteral("T")) {
    const QString ini = TestDb::newFolder() + QStringLiteral("setup.ini");
    IniFile::writeString(ini, "Ogolne", "sciezka", folder.left(folder.size() - 1));
    IniFile::writeString(ini, "Ogolne", "protokol", protocol);
    return ini;
}

// The last line of a run's output: its summary.
inline QString summaryOf(const CliRun &r) {
    const QStringList lines = r.out.trimmed().split(QLatin1Char('\n'));
    return lines.last();
}

} // namespace TestCli
