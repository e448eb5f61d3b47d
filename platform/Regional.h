#pragma once

#include <QDate>
#include <QString>

// The regional formats the operator reads, always Polish: the system serves Polish regional settings
// whatever the machine's own locale is (a server's is often C or English).
namespace Regional {

// The Polish short date, "8.12.2026".
QString shortDate(const QDate &date);

} // namespace Regional
