#include "platform/Offsite.h"
#include "platform/Paths.h"

#include "platform/Errors.h"
#include "platform/IniFile.h"
#include "platform/RootFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Offsite {

namespace {

const QString kSection = QStringLiteral("Zewnetrzna");

// The key a unit was given as a credential (LoadCredential=offsite-key:...), readable by its user alone.
QString credentialKey() {
    const QString dir = qEnvironmentVariable("CREDENTIALS_DIRECTORY");
    if (dir.isEmpty())
        return {};
    const QString file = dir + QStringLiteral("/offsite-key");
    return QFileInfo::exists(file) ? file : QString();
}

} // namespace

QString companyName(const QString &settingsFile) {
    QString name = QFileInfo(settingsFile).fileName();
    if (name.endsWith(QLatin1String(".ini"), Qt::CaseInsensitive))
        name.chop(4);
    return name.isEmpty() ? QStringLiteral("setup") : name;
}

QString companyTag(const QString &company) {
    // restic splits a tag list at commas.
    QString c = company;
    c.replace(QLatin1Char(','), QLatin1Char('_'));
    return QStringLiteral("firma=") + c;
}

std::optional<QStringList> retentionOptions(const QString &retention, QString *problem) {
    QStringList options;
    static const QRegularExpression item(QStringLiteral("^(\\d{1,6})([hdwmy]?)$"));
    for (const QString &word : retention.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch m = item.match(word.toLower());
        const int n = m.hasMatch() ? m.captured(1).toInt() : 0;
        if (n < 1) {
            if (problem)
                *problem =
                    QStringLiteral(
                        "nie można odczytać \"zachowaj=%1\" (%2): zapis to liczby z literą h (godzin), "
                        "d (dni), w (tygodni), m (miesięcy), y (lat) lub sama liczba ostatnich kopii, "
                        "np. 7d 4w 12m")
                        .arg(retention, word);
            return std::nullopt;
        }
        static const QHash<QString, QString> flags{{QStringLiteral("h"), QStringLiteral("--keep-hourly")},
                                                   {QStringLiteral("d"), QStringLiteral("--keep-daily")},
                                                   {QStringLiteral("w"), QStringLiteral("--keep-weekly")},
                                                   {QStringLiteral("m"), QStringLiteral("--keep-monthly")},
                                                   {QStringLiteral("y"), QStringLiteral("--keep-yearly")},
                                                   {QString(), QStringLiteral("--keep-last")}};
        const QString flag = flags.value(m.captured(2));
        if (options.contains(flag)) {
            if (problem)
                *problem = QStringLiteral("\"zachowaj=%1\" podaje %2 dwa razy").arg(retention, word);
            return std::nullopt;
        }
        options << flag << QString::number(n);
    }
    return options;
}

QString keyFileProblem(const QString &keyFile) {
    if (keyFile.isEmpty())
        return QStringLiteral("nie wskazano pliku klucza repozytorium (klucz=)");
    struct stat st {};
    if (::stat(QFile::encodeName(keyFile).constData(), &st) != 0)
        return QStringLiteral("brak pliku klucza repozytorium %1 (%2)")
            .arg(keyFile, QString::fromLocal8Bit(std::strerror(errno)));
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("plik klucza %1 nie jest zwykłym plikiem").arg(keyFile);
    if (st.st_mode & 077)
        return QStringLiteral(
                   "plik klucza %1 mogą czytać lub zmieniać inni niż jego właściciel (uprawnienia %2): klucz "
                   "otwiera wszystkie kopie firmy. Ustaw: chmod 600 %1")
            .arg(keyFile, QString::number(st.st_mode & 07777, 8));
    // A privileged run sends the key's file to restic by its path: no one else may own it or swap it.
    if (RootFiles::privilegedRun()) {
        if (st.st_uid != 0 && st.st_uid != ::geteuid())
            return QStringLiteral("plik klucza %1 nie należy do użytkownika %2 ani do roota: program "
                                  "uruchomiony jako %2 go nie używa. Ustaw: chown %2 %1; chmod 600 %1")
                .arg(keyFile, RootFiles::runningAs());
        if (const QString why = RootFiles::othersMayReplace(keyFile, ::geteuid()); !why.isEmpty())
            return QStringLiteral("plik klucza %1 może podmienić ktoś inny niż %2 (%3)")
                .arg(keyFile, RootFiles::runningAs(), why);
    }
    if (::access(QFile::encodeName(keyFile).constData(), R_OK) != 0)
        return QStringLiteral("nie można odczytać pliku klucza %1 (%2)")
            .arg(keyFile, QString::fromLocal8Bit(std::strerror(errno)));
    if (st.st_size == 0)
        return QStringLiteral("plik klucza %1 jest pusty").arg(keyFile);
    return {};
}

bool holdsBackup(const Restic::Snapshot &s) {
    bool backup = false, digest = false;
    for (const QString &p : s.paths) {
        const QString name = QFileInfo(p).fileName();
        backup = backup || name == QLatin1String("bazaqk.abk");
        digest = digest || name == QLatin1String("bazaqk.abk.sha256");
    }
    return backup && digest && s.tags.contains(QLatin1String(kProgramTag));
}

QDateTime backupTime(const Restic::Snapshot &s) {
    const QDateTime t = QDateTime::fromString(s.tag(QLatin1String(kBackupTimeTag)), Qt::ISODate);
    return t.isValid() ? t : s.time;
}

QStringList forgotten(const QList<Restic::Snapshot> &copies, const QStringList &keepOptions) {
    if (keepOptions.isEmpty())
        return {};
    QSet<QString> kept;
    for (qsizetype i = 0; i + 1 < keepOptions.size(); i += 2) {
        const QString &flag = keepOptions[i];
        int left = keepOptions[i + 1].toInt();
        // The bucket a copy falls in, in local time as restic has it.
        auto bucket = [&flag](const QDateTime &when) -> qint64 {
            const QDateTime t = when.toLocalTime();
            const QDate d = t.date();
            if (flag == QLatin1String("--keep-hourly"))
                return qint64(d.toJulianDay()) * 24 + t.time().hour();
            if (flag == QLatin1String("--keep-daily"))
                return d.toJulianDay();
            if (flag == QLatin1String("--keep-weekly")) {
                int year = 0;
                const int week = d.weekNumber(&year);
                return qint64(year) * 100 + week;
            }
            if (flag == QLatin1String("--keep-monthly"))
                return qint64(d.year()) * 100 + d.month();
            if (flag == QLatin1String("--keep-yearly"))
                return d.year();
            return -1; // --keep-last: every copy a bucket of its own
        };
        std::optional<qint64> last;
        for (const Restic::Snapshot &c : copies) {
            if (left <= 0)
                break;
            const qint64 b = bucket(c.time);
            if (b >= 0 && last && *last == b)
                continue;
            last = b;
            kept.insert(c.id);
            --left;
        }
    }
    QStringList out;
    for (const Restic::Snapshot &c : copies)
        if (!kept.contains(c.id))
            out << c.id;
    return out;
}

QString shownLocation(const QString &repository) {
    static const QRegularExpression password(QStringLiteral("^([a-z0-9]+:[a-z]+://[^/@:]*:)[^/@]*@"));
    QString shown = repository;
    shown.replace(password, QStringLiteral("\\1***@"));
    return shown;
}

QString keyHintOf(const QByteArray &text, const QString &repository) {
    // One line per repository the key opens: "ID REPOSITORY-DIGEST" (the location itself may hold a
    // password).
    const QByteArray digest =
        QCryptographicHash::hash(repository.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{8,64}$"));
    for (const QByteArray &line : text.split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() == 2 && words[1] == digest && hex.match(QString::fromLatin1(words[0])).hasMatch())
            return QString::fromLatin1(words[0]);
    }
    return {};
}

QByteArray withKeyHint(const QByteArray &text, const QString &repository, const QString &id) {
    const QByteArray digest =
        QCryptographicHash::hash(repository.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    QByteArray out;
    for (const QByteArray &line : text.split('\n'))
        if (!line.trimmed().isEmpty() && !line.trimmed().endsWith(' ' + digest))
            out += line.trimmed() + '\n';
    return out + id.toLatin1() + ' ' + digest + '\n';
}

bool keyWithheld() {
    return !qEnvironmentVariable("CREDENTIALS_DIRECTORY").isEmpty() && credentialKey().isEmpty();
}

QString cacheFolder() {
    const QString unit = qEnvironmentVariable("CACHE_DIRECTORY").section(QLatin1Char(':'), 0, 0);
    if (!unit.isEmpty())
        return unit;
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (base.isEmpty())
        base = QDir::tempPath();
    return base + QStringLiteral("/qkadmin/restic");
}

QString optionsProblem(const QStringList &options) {
    const uid_t me = ::geteuid();
    for (const QString &option : options) {
        const QString key = option.section(QLatin1Char('='), 0, 0).trimmed();
        const QStringList words =
            option.section(QLatin1Char('='), 1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        QStringList files;
        // sftp.command, rclone.program: the first word is a program restic runs.
        if (!words.isEmpty() &&
            (key.endsWith(QLatin1String(".command")) || key.endsWith(QLatin1String(".program")))) {
            const QString program = words.first().contains(QLatin1Char('/'))
                                        ? words.first()
                                        : QStandardPaths::findExecutable(words.first());
            files << (program.isEmpty() ? words.first() : program);
        }
        // Any file named, also as -Ffile or key=/file.
        static const QRegularExpression named(QStringLiteral("(?:^|=|^-[A-Za-z])(/[^\\s'\"]*)"));
        for (const QString &w : words) {
            const QRegularExpressionMatch m = named.match(w);
            if (m.hasMatch())
                files << m.captured(1);
        }
        for (const QString &file : files) {
            if (!file.startsWith(QLatin1Char('/')))
                return QStringLiteral("opcja \"%1\" uruchamia program %2, którego nie ma w PATH")
                    .arg(option, file);
            if (const QString why = RootFiles::othersMayReplace(file, me); !why.isEmpty())
                return QStringLiteral("opcja \"%1\" uruchamia lub czyta %2, który może zmienić lub podmienić "
                                      "ktoś inny niż %3 (%4): program uruchomiony jako %3 jej nie wykona")
                    .arg(option, file, RootFiles::runningAs(), why);
        }
    }
    return {};
}

Settings read(const QString &settingsFile) {
    QFile f(settingsFile);
    return fromText(f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray(), settingsFile);
}

Settings fromText(const QByteArray &text, const QString &settingsFile) {
    Settings s;
    s.company = companyName(settingsFile);
    auto value = [&](const char *key) {
        return IniText::readString(text, kSection, QString::fromLatin1(key));
    };
    s.repository = value("repozytorium");
    s.configured = !s.repository.isEmpty();
    if (!s.configured)
        return s;
    QString named = value("klucz");
    if (!named.isEmpty() && QFileInfo(named).isRelative())
        named = QFileInfo(QFileInfo(settingsFile).absolutePath(), named).absoluteFilePath();
    const QString credential = credentialKey();
    s.keyFile = credential.isEmpty() ? named : credential;
    // A repository has two keys (the second on the recovery sheet); restic tries each in turn, a key
    // derivation of half a second apiece, unless told which one opens it.
    if (!named.isEmpty()) {
        s.keyHintFile = named + QStringLiteral(".id");
        QFile hint(s.keyHintFile);
        if (hint.open(QIODevice::ReadOnly) && hint.size() < 65536)
            s.keyHint = keyHintOf(hint.readAll(), s.repository);
    }
    s.retention = value("zachowaj");
    for (const QString &o : value("opcje").split(QLatin1Char(';'), Qt::SkipEmptyParts))
        if (!o.trimmed().isEmpty())
            s.options << o.trimmed();
    auto number = [&](const char *key, int &target, int minimum) {
        const QString text = value(key);
        if (text.isEmpty())
            return;
        bool ok = false;
        const int n = text.toInt(&ok);
        if (!ok || n < minimum)
            s.problem = QStringLiteral("\"%1=%2\" nie jest liczbą całkowitą od %3 w górę")
                            .arg(QLatin1String(key), text)
                            .arg(minimum);
        else
            target = n;
    };
    number("ostrzegaj", s.warnHours, 1);
    number("limit", s.stallSeconds, 5);
    QString retentionProblem;
    if (s.problem.isEmpty() && !retentionOptions(s.retention, &retentionProblem))
        s.problem = retentionProblem;
    if (s.problem.isEmpty() && RootFiles::privilegedRun()) {
        // What the file orders (a key, a program to run) is root's only if no one else could have put the
        // file there: its folders too.
        if (const QString why = RootFiles::othersMayReplace(settingsFile, ::geteuid()); !why.isEmpty())
            s.problem = QStringLiteral("plik ustawień może podmienić ktoś inny niż %1 (%2): program "
                                       "uruchomiony jako %1 nie wykonuje z niego kopii poza siedzibą")
                            .arg(RootFiles::runningAs(), why);
        else
            s.problem = optionsProblem(s.options);
    }
    if (!s.problem.isEmpty())
        s.problem += QStringLiteral(" (plik %1, sekcja [%2])").arg(settingsFile, kSection);
    return s;
}

QString recordFileName(const QString &backupFile) {
    return backupFile + QStringLiteral(".poza");
}

std::optional<Record> readRecord(const QString &backupFile) {
    QFile f(recordFileName(backupFile));
    if (!f.open(QIODevice::ReadOnly) || f.size() > 4096)
        return std::nullopt;
    Record r;
    for (const QByteArray &raw : f.readAll().split('\n')) {
        const QByteArray line = raw.trimmed();
        const qsizetype eq = line.indexOf('=');
        if (eq < 0)
            continue;
        const QByteArray key = line.left(eq), value = line.mid(eq + 1);
        if (key == "migawka")
            r.snapshot = QString::fromLatin1(value);
        else if (key == "czas")
            r.time = QDateTime::fromString(QString::fromLatin1(value), Qt::ISODate);
        else if (key == "dodano")
            r.added = value.toLongLong();
        else if (key == "razem")
            r.total = value.toLongLong();
    }
    if (r.snapshot.isEmpty() || !r.time.isValid())
        return std::nullopt;
    return r;
}

void writeRecord(const QString &backupFile, const Record &r) {
    const QByteArray text =
        "# the last off-site copy made on this machine (qkadmin-cli offsite copy)\nmigawka=" +
        r.snapshot.toLatin1() + "\nczas=" + r.time.toString(Qt::ISODate).toLatin1() +
        "\ndodano=" + QByteArray::number(r.added) + "\nrazem=" + QByteArray::number(r.total) + '\n';
    QSaveFile f(recordFileName(backupFile));
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size() || !Paths::commitWhole(f))
        throw FileError(QStringLiteral("Unable to write %1: %2").arg(f.fileName(), f.errorString()));
}

QString localFolder(const QString &repository) {
    QString path = repository.trimmed();
    if (path.startsWith(QLatin1String("local:")))
        path = path.mid(6);
    else if (!path.startsWith(QLatin1Char('/')) && !path.startsWith(QLatin1Char('.')) &&
             path.contains(QLatin1Char(':')))
        return {}; // sftp:, rest:, s3:, rclone: ...
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

} // namespace Offsite
