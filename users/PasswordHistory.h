#pragma once

#include <QString>

class Operator;

// The history of each user's last passwords in jn.ini, stored as salted hashes; entries of the older,
// reversibly scrambled form are read and converted.

// '1' after a password was accepted and recorded, '0' otherwise; meaningful right after the check.
extern char PasswordHistoryResult;

inline const QString kHistoryKey = QStringLiteral("sowaiklon2");

// Each code unit as upper-case hexadecimal: two digits for units up to 0xFF (the stored form the
// accounting installations already have), and "X" with four digits for a unit above 0xFF.
QString TextToHexCodes(const QString &text);
// The inverse; pairs of digits, or "X" and four digits. A trailing incomplete group is ignored.
// A group that is not hexadecimal raises the conversion error naming it.
QString HexCodesToText(const QString &codes);
QString ScramblePassword(const QString &text, const QString &key);
QString UnscramblePassword(const QString &value, const QString &key);

// Checks the trimmed password against the user's last six entries and records it when new.
void CheckPasswordHistory(const QString &historyFile, const QString &userName,
                          const QString &passwordEditText, Operator &op);
