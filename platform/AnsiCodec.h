#pragma once

#include <QByteArray>
#include <QString>

// The workstation's 8-bit code page (Windows-1250): one byte per character, both ways.
// Everything that crosses the client library or lands in an exchange file goes through here.
namespace AnsiCodec {

// A character the code page cannot hold is written as '?', so widths in characters stay widths in bytes.
QByteArray encode(const QString &text);
QString decode(const char *data, qsizetype size);
inline QString decode(const QByteArray &bytes) {
    return decode(bytes.constData(), bytes.size());
}

} // namespace AnsiCodec
