#include "users/PasswordRules.h"

#include "core/Operator.h"

namespace {

bool isUpper(char16_t c) {
    return c >= 0x41 && c <= 0x5A;
}

bool isLower(char16_t c) {
    return c >= 0x61 && c <= 0x7A;
}

bool isDigit(char16_t c) {
    return c >= 0x30 && c <= 0x39;
}

// !"#$%&'()*,./:;@[]^_|
bool isSpecial(char16_t c) {
    return (c >= 0x21 && c <= 0x2A) || c == 0x2C || c == 0x2E || c == 0x2F || c == 0x3A || c == 0x3B ||
           c == 0x40 || c == 0x5B || c == 0x5D || c == 0x5E || c == 0x5F || c == 0x7C;
}

// Only a to z are upper-cased; accented letters stay as they are.
QString asciiUpper(const QString &s) {
    QString u = s;
    for (QChar &c : u)
        if (isLower(c.unicode()))
            c = QChar(char16_t(c.unicode() - 0x20));
    return u;
}

} // namespace

QString TrimPassword(const QString &text) {
    qsizetype b = 0, e = text.size();
    while (b < e && text[b].unicode() <= 0x20)
        ++b;
    while (e > b && text[e - 1].unicode() <= 0x20)
        --e;
    return text.mid(b, e - b);
}

QStringList PasswordRuleFailures(const QString &password, const QString &userName, const QString &firstName,
                                 const QString &lastName) {
    QStringList failed;
    const QString up = asciiUpper(password);
    if (up == asciiUpper(userName))
        failed << QStringLiteral("Błąd!!!  ...  Hasło nie może być identyczne z nazwą użytkownika ... ");
    if (up == asciiUpper(firstName))
        failed << QStringLiteral("Błąd!!!  ...  Hasło nie może być identyczne z imieniem użytkownika ... ");
    if (up == asciiUpper(lastName))
        failed << QStringLiteral("Błąd!!!  ...  Hasło nie może być identyczne z nazwiskiem użytkownika ... ");
    if (password.size() < 8)
        failed << QStringLiteral("Hasło musi mieć minimalną długość --> 8 znaków ...");
    int upper = 0, lower = 0, digits = 0, special = 0, equals = 0;
    for (QChar ch : password) {
        const char16_t c = ch.unicode();
        upper += isUpper(c);
        lower += isLower(c);
        digits += isDigit(c);
        special += isSpecial(c);
        equals += c == 0x3D;
    }
    if (upper == 0)
        failed << QStringLiteral("Błąd!!!  ...  Hasło musi zawierać duże litery, minimum jedną ...");
    if (lower == 0)
        failed << QStringLiteral("Błąd!!!  ...  Hasło musi zawierać małe litery, minimum jedną ...");
    if (digits == 0 && special == 0)
        failed << QStringLiteral(
            "Błąd!!!  ...  Hasło musi zawierać cyfry lub znaki specjalne, minimum jedną/jeden ...");
    if (equals > 0)
        failed << QStringLiteral("Błąd!!!  ...  Hasło nie może zawierać znaku równości   = ");
    return failed;
}

bool CheckPasswordRules(const QString &trimmedPassword, const QString &userName, const QString &firstName,
                        const QString &lastName, Operator &op) {
    const QStringList failed = PasswordRuleFailures(trimmedPassword, userName, firstName, lastName);
    for (const QString &m : failed)
        op.message(Operator::Box::Information, m);
    return failed.isEmpty();
}
