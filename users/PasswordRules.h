#pragma once

#include <QString>
#include <QStringList>

class Operator;

// The eight composition rules a new server password must pass.

// Leading and trailing characters at or below U+0020 removed.
QString TrimPassword(const QString &text);
// The messages of the failed rules, in the rules' order; empty when all pass.
QStringList PasswordRuleFailures(const QString &trimmedPassword, const QString &userName,
                                 const QString &firstName, const QString &lastName);
// Shows one box per failed rule; true when all eight pass.
bool CheckPasswordRules(const QString &trimmedPassword, const QString &userName, const QString &firstName,
                        const QString &lastName, Operator &op);
