#pragma once

#include <QByteArray>
#include <QString>

// Whole files, for the tests' expectations and hand-made inputs.
namespace TestFiles {

// The file's bytes; "<missing>" when it cannot be read, so a failed expectation says why.
QByteArray read(const QString &path);
// Writes the bytes as they stand (no line-end translation); a failed write fails the test.
void write(const QString &path, const QByteArray &bytes);

} // namespace TestFiles
