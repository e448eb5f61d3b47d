#pragma once

#include <QString>
#include <QStringList>

#include <utility>

// Windows profile files ("setup.ini", "jn.ini") with the semantics the system relies on: sections and
// keys match without regard to letter case; values are plain text (no quotes, no escapes); lines not
// written stay byte for byte, in their order; new lines end with CR LF; the file is in the 8-bit code
// page (a file a UTF-8 editor wrote, valid UTF-8 with letters beyond ASCII, is read and written back in
// UTF-8). Each call opens the file, reads or writes it, and releases it before returning.
namespace IniFile {

// The value, blanks trimmed at both ends; def when the file, section or key is missing.
QString readString(const QString &file, const QString &section, const QString &key,
                   const QString &def = QString());
// Who may read and write a file the calls create: everyone the system lets, or its owner alone (a
// file of secrets; an existing one is made so, its bytes unchanged).
enum class Access { Shared, OwnerOnly };
// Creates the file, section or key as needed. Throws FileError "Unable to write to <file>".
void writeString(const QString &file, const QString &section, const QString &key, const QString &value,
                 Access access = Access::Shared);
// Several keys of one section in one rewrite of the file: all of them or, when the write fails, none
// (the previous file stays).
void writeStrings(const QString &file, const QString &section,
                  const QList<std::pair<QString, QString>> &entries, Access access = Access::Shared);
// Section names in file order.
QStringList sectionNames(const QString &file);
// The "key=value" lines of one section in file order (comments and blank lines left out).
QStringList sectionLines(const QString &file, const QString &section);

} // namespace IniFile

// The same, over the file's bytes: what the file functions read and write.
namespace IniText {

QString readString(const QByteArray &text, const QString &section, const QString &key,
                   const QString &def = QString());
QByteArray writeString(const QByteArray &text, const QString &section, const QString &key,
                       const QString &value);
QStringList sectionNames(const QByteArray &text);
QStringList sectionLines(const QByteArray &text, const QString &section);

} // namespace IniText
