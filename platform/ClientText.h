#pragma once

#include <QByteArray>
#include <QString>

// Texts of the client library's parameter blocks (file names, user names, passwords, names) and of the
// service manager's replies. The client library takes them in the operating system's code page and
// converts them itself: on Windows that is the ANSI code page; elsewhere the process's locale decides,
// and a Windows-1250 byte would be refused. There they travel as UTF-8, marked so in each block,
// whatever the locale. Statement texts and column values are not these: they stay in the 8-bit code
// page of the accounting data (AnsiCodec).
namespace ClientText {

// True where the blocks carry the UTF-8 mark (isc_dpb_utf8_filename, isc_spb_utf8_filename).
bool markedUtf8();
QByteArray encode(const QString &text);
QString decode(const QByteArray &bytes);

// A name marked UTF-8 is still converted by the library to the process's character set (that of
// LC_CTYPE) before it is used, by the embedded engine and by the client's own side of a remote
// attachment alike: with no locale (cron, a unit on a machine without one, env -i) that is ASCII and a
// Polish letter fails ("Cannot transliterate character between character sets"). Names are UTF-8
// on this system, as Qt takes them: this makes the process's character type UTF-8 (the environment's
// language in UTF-8, else C.UTF-8) when it is not, before the library first converts a name; the
// rest of the locale is left alone. Returns the character set now in force.
QString useUtf8CharacterSet();

} // namespace ClientText
