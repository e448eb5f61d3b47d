#include "users/PasswordHistory.h"

#include "core/Operator.h"
#include "db/Errors.h"
#include "platform/IniFile.h"
#include "users/PasswordRules.h"

#include <QFileInfo>

char PasswordHistoryResult = '0';

namespace {

// Each user's last six passwords, scrambled reversibly: for the owner's eyes only.
constexpr IniFile::Access kPrivate = IniFile::Access::OwnerOnly;

int hexValue(const QString &digits)
{
    bool ok = false;
    const int v = digits.toInt(&ok, 16);
    if (!ok || digits.startsWith(QLatin1Char('-')) || digits.startsWith(QLatin1Char('+')))
        throw QkError(QStringLiteral("'$%1' is not a valid integer value").arg(digits));
    return v;
}

QString xorWithKey(const QString &text, const QString &key)
{
    QString out = text;
    if (key.isEmpty())
        return out;
    for (qsizetype i = 0; i < out.size(); ++i)
        out[i] = QChar(char16_t(out[i].unicode() ^ key[i % key.size()].unicode()));
    return out;
}

} // namespace

QString TextToHexCodes(const QString &text)
{
    QString out;
    out.reserve(text.size() * 2);
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u <= 0xFF)
            out += QStringLiteral("%1").arg(u, 2, 16, QLatin1Char('0')).toUpper();
        else
            out += QLatin1Char('X') + QStringLiteral("%1").arg(u, 4, 16, QLatin1Char('0')).toUpper();
    }
    return out;
}

QString HexCodesToText(const QString &codes)
{
    QString out;
    qsizetype i = 0;
    const qsizetype n = codes.size();
    while (i < n) {
        if (codes[i] == QLatin1Char('X')) {
            if (i + 5 > n)
                break;
            out += QChar(char16_t(hexValue(codes.mid(i + 1, 4))));
            i += 5;
        } else {
            if (i + 2 > n)
                break; // a last odd character is ignored
            out += QChar(char16_t(hexValue(codes.mid(i, 2))));
            i += 2;
        }
    }
    return out;
}

QString ScramblePassword(const QString &text, const QString &key)
{
    return TextToHexCodes(xorWithKey(TrimPassword(text), key));
}

QString UnscramblePassword(const QString &value, const QString &key)
{
    return xorWithKey(HexCodesToText(TrimPassword(value)), key);
}

void CheckPasswordHistory(const QString &historyFile, const QString &userName, const QString &passwordEditText,
                          Operator &op)
{
    if (!QFileInfo::exists(historyFile))
        IniFile::writeString(historyFile, QStringLiteral("AAA"), QStringLiteral("1"), QStringLiteral("1"), kPrivate);
    PasswordHistoryResult = '0';
    const QString password = TrimPassword(passwordEditText);

    QString section;
    for (const QString &s : IniFile::sectionNames(historyFile))
        if (s.compare(userName, Qt::CaseInsensitive) == 0) {
            section = s;
            break;
        }
    if (section.isNull()) {
        IniFile::writeString(historyFile, userName, QStringLiteral("1"), ScramblePassword(password, kHistoryKey), kPrivate);
        PasswordHistoryResult = '1';
        return;
    }

    const QStringList entries = IniFile::sectionLines(historyFile, section);
    const qsizetype n = entries.size();
    const qsizetype oldest = n >= 6 ? n - 6 : 0;
    for (qsizetype i = n - 1; i >= oldest; --i) {
        const QString &line = entries[i];
        const QString stored = line.mid(line.indexOf(QLatin1Char('=')) + 1).left(50).trimmed();
        if (UnscramblePassword(stored, kHistoryKey) == password) {
            PasswordHistoryResult = '0';
            op.message(Operator::Box::Information,
                       n <= 5 ? QStringLiteral("Błąd!!!  ...  Takie samo hasło już było używane do 6 haseł wstecz ...")
                              : QStringLiteral("Błąd!!!  ...  Takie hasło już było używane do 6 haseł wstecz ..."));
            return;
        }
    }
    IniFile::writeString(historyFile, section, QString::number(n + 1), ScramblePassword(password, kHistoryKey),
                         kPrivate);
    PasswordHistoryResult = '1';
    op.message(Operator::Box::Information,
               QStringLiteral("Nowe hasło jest prawidłowe, spełnia wszystkie obowiązujące zasady ..."));
}
