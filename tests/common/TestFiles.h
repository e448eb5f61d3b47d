#pragma once

#include <QByteArray>
#include <QString>

// Whole files, for the tests' expectations and hand-made inputs.
namespace TestFiles {

// The file's bytes; "<missing>" when it cannot be read, so a failed expectation says why.
QByteArray read(const QString &path);
// Writes the bytes as they stand (no line-end translation); a failed write fails the test.
void write(const QString &path, const QByteArray &bytes);

// Waits (up to a minute) until the process pid catches SIGHUP: the program's own handlers are in
// place, so a signal now ends it in order rather than by the default action. False when it never does.
bool waitForSignalHandlers(qint64 pid);

} // namespace TestFiles
