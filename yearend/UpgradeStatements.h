#pragma once

#include <QString>

// The statements that bring an older accounting database up to later schema versions, and the
// declarations of the transfer external tables. Texts are exactly what the server receives.
namespace UpgradeStatements {

QString importR();
QString komunR();
// The account-plan external table over ZPLK.TXT at the root of the exchange files.
QString taZplk(const QString &driveRoot);
QString importP();
QString paczka();
QString przelewy();
QString importPa();
QString importPp();
// The package and transfers external tables over "paczki" in the given folder (ending with the separator).
QString taPacz(const QString &folder);
QString taPaczp(const QString &folder);

} // namespace UpgradeStatements
