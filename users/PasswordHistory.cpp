#include "users/PasswordHistory.h"

#include "core/Operator.h"
#include "db/Errors.h"
#include "platform/IniFile.h"
#include "users/PasswordRules.h"

#include <QFileInfo>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

char PasswordHistoryResult = '0';

namespace {

// Each user's last six passwords, as salted hashes (PBKDF2-HMAC-SHA256): a history says whether a
// password was used, never what it was. Still for the owner's eyes only.
constexpr IniFile::Access kPrivate = IniFile::Access::OwnerOnly;
const QString kHashedMark = QStringLiteral("$p$");
constexpr int kIterations = 20000;
constexpr auto kBase64 = QByteArray::Base64Encoding | QByteArray::OmitTrailingEquals;

QByteArray derive(const QString &password, const QByteArray &salt, int iterations) {
    const QByteArray text = password.toUtf8();
    QByteArray out(32, '\0');
    if (PKCS5_PBKDF2_HMAC(text.constData(), int(text.size()),
                          reinterpret_cast<const unsigned char *>(salt.constData()), int(salt.size()),
                          iterations, EVP_sha256(), int(out.size()),
                          reinterpret_cast<unsigned char *>(out.data())) != 1)
        throw QkError(QStringLiteral("PBKDF2 is not available"));
    return out;
}

// "$p$<iterations>$<salt>$<hash>", base64 without padding.
QString hashed(const QString &password) {
    QByteArray salt(16, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char *>(salt.data()), int(salt.size())) != 1)
        throw QkError(QStringLiteral("No random bytes for the password history"));
    return kHashedMark + QString::number(kIterations) + QLatin1Char('$') +
           QString::fromLatin1(salt.toBase64(kBase64)) + QLatin1Char('$') +
           QString::fromLatin1(derive(password, salt, kIterations).toBase64(kBase64));
}

bool isHashed(const QString &stored) {
    return stored.startsWith(kHashedMark);
}

// Whether a stored entry is this password: a hash recomputed with its salt, or an entry of the old
// scrambled form (read as it always was: its first 50 digits).
bool sameAs(const QString &stored, const QString &password) {
    if (!isHashed(stored))
        return UnscramblePassword(stored.left(50).trimmed(), kHistoryKey) == password;
    const QStringList parts = stored.mid(kHashedMark.size()).split(QLatin1Char('$'));
    bool ok = false;
    const int iterations = parts.value(0).toInt(&ok);
    if (parts.size() != 3 || !ok || iterations < 1 || iterations > 10000000)
        return false;
    const QByteArray salt = QByteArray::fromBase64(parts[1].toLatin1(), kBase64);
    const QByteArray want = QByteArray::fromBase64(parts[2].toLatin1(), kBase64);
    const QByteArray got = derive(password, salt, iterations);
    return want.size() == got.size() &&
           CRYPTO_memcmp(want.constData(), got.constData(), size_t(got.size())) == 0;
}

// Entries of the old, reversible form become hashes the first time the file is read (the seed entry
// "1=1" of AAA stays: it is no password).
void convertScrambled(const QString &historyFile) {
    for (const QString &section : IniFile::sectionNames(historyFile))
        for (const QString &line : IniFile::sectionLines(historyFile, section)) {
            const qsizetype eq = line.indexOf(QLatin1Char('='));
            const QString key = line.left(eq).trimmed(), value = line.mid(eq + 1).trimmed();
            if (isHashed(value) || (section.compare(QLatin1String("AAA"), Qt::CaseInsensitive) == 0 &&
                                    key == QLatin1String("1")))
                continue;
            IniFile::writeString(historyFile, section, key,
                                 hashed(UnscramblePassword(value.left(50).trimmed(), kHistoryKey)), kPrivate);
        }
}

int hexValue(const QString &digits) {
    bool ok = false;
    const int v = digits.toInt(&ok, 16);
    if (!ok || digits.startsWith(QLatin1Char('-')) || digits.startsWith(QLatin1Char('+')))
        throw QkError(QStringLiteral("'$%1' is not a valid integer value").arg(digits));
    return v;
}

QString xorWithKey(const QString &text, const QString &key) {
    QString out = text;
    if (key.isEmpty())
        return out;
    for (qsizetype i = 0; i < out.size(); ++i)
        out[i] = QChar(char16_t(out[i].unicode() ^ key[i % key.size()].unicode()));
    return out;
}

} // namespace

QString TextToHexCodes(const QString &text) {
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

QString HexCodesToText(const QString &codes) {
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

QString ScramblePassword(const QString &text, const QString &key) {
    return TextToHexCodes(xorWithKey(TrimPassword(text), key));
}

QString UnscramblePassword(const QString &value, const QString &key) {
    return xorWithKey(HexCodesToText(TrimPassword(value)), key);
}

void CheckPasswordHistory(const QString &historyFile, const QString &userName,
                          const QString &passwordEditText, Operator &op) {
    if (!QFileInfo::exists(historyFile))
        IniFile::writeString(historyFile, QStringLiteral("AAA"), QStringLiteral("1"), QStringLiteral("1"),
                             kPrivate);
    PasswordHistoryResult = '0';
    const QString password = TrimPassword(passwordEditText);
    convertScrambled(historyFile);

    QString section;
    for (const QString &s : IniFile::sectionNames(historyFile))
        if (s.compare(userName, Qt::CaseInsensitive) == 0) {
            section = s;
            break;
        }
    if (section.isNull()) {
        IniFile::writeString(historyFile, userName, QStringLiteral("1"), hashed(password), kPrivate);
        PasswordHistoryResult = '1';
        return;
    }

    const QStringList entries = IniFile::sectionLines(historyFile, section);
    const qsizetype n = entries.size();
    const qsizetype oldest = n >= 6 ? n - 6 : 0;
    for (qsizetype i = n - 1; i >= oldest; --i) {
        const QString &line = entries[i];
        const QString stored = line.mid(line.indexOf(QLatin1Char('=')) + 1).trimmed();
        if (sameAs(stored, password)) {
            PasswordHistoryResult = '0';
            op.message(
                Operator::Box::Information,
                n <= 5
                    ? QStringLiteral("Błąd!!!  ...  Takie samo hasło już było używane do 6 haseł wstecz ...")
                    : QStringLiteral("Błąd!!!  ...  Takie hasło już było używane do 6 haseł wstecz ..."));
            return;
        }
    }
    IniFile::writeString(historyFile, section, QString::number(n + 1), hashed(password), kPrivate);
    PasswordHistoryResult = '1';
    op.message(Operator::Box::Information,
               QStringLiteral("Nowe hasło jest prawidłowe, spełnia wszystkie obowiązujące zasady ..."));
}
