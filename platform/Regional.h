#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>

// The regional formats the operator reads, always Polish: the system serves Polish regional settings
// whatever the machine's own locale is (a server's is often C or English).
namespace Regional {

// The Polish short date, "8.12.2026".
QString shortDate(const QDate &date);

// A number with a decimal comma, "0,3" (fixed places), for Polish sentences; key=value lines for
// scripts keep the point.
QString decimal(double value, int places = 1);

// A size in megabytes of 10^6 bytes, as restic prints them: "12,6 MB". The one unit of every size shown.
QString megabytes(qint64 bytes);

// Hours ago with a decimal comma: "0,1 h temu".
QString hoursAgo(qint64 seconds);

// A date and time in a question or a line: "2026-12-10 05:54", the form every line of the program uses.
QString dateTime(const QDateTime &when);

// The engine's own date in a backup's header ("Thu Dec 10 05:54:00 2026", always English) in the form
// above; the text as it is when it is no such date.
QString engineDate(const QString &text);

} // namespace Regional
