#include "platform/IniFile.h"
#include "platform/Paths.h"

#include "platform/AnsiCodec.h"
#include "platform/Errors.h"

#include <QFile>

#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <algorithm>

#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct Line {
    QByteArray text; // without its end
    QByteArray end;  // "\r\n", "\n", "\r" or empty for a last line without one
};

QByteArray readFile(const QString &file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

std::vector<Line> splitLines(const QByteArray &all) {
    std::vector<Line> lines;
    qsizetype start = 0;
    const qsizetype n = all.size();
    while (start < n) {
        qsizetype i = start;
        while (i < n && all[i] != '\n' && all[i] != '\r')
            ++i;
        Line l{all.mid(start, i - start), {}};
        if (i < n) {
            if (all[i] == '\r' && i + 1 < n && all[i + 1] == '\n')
                l.end = "\r\n";
            else
                l.end = QByteArray(1, all[i]);
        }
        start = i + l.end.size();
        lines.push_back(std::move(l));
    }
    return lines;
}

// A file that is valid UTF-8 with bytes above 127 was written by a UTF-8 editor (a Linux one): it is read
// as UTF-8 and written back so. Any other file is in the 8-bit code page, as the system has always
// written it. Each IniText call settles the file's encoding and hands it to the helpers below.

bool readsAsUtf8(const QByteArray &text) {
    if (std::none_of(text.begin(), text.end(),
                     [](char c) { return (static_cast<unsigned char>(c) & 0x80) != 0; }))
        return false;
    // Stateless: a sequence cut at the end is an error too, not one left waiting for more bytes.
    QStringDecoder d(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decodedText = d.decode(text); // the decoding runs when its result is taken
    return !d.hasError();
}

QString decoded(const QByteArray &b, bool utf8) {
    return utf8 ? QString::fromUtf8(b) : AnsiCodec::decode(b);
}

QByteArray encoded(const QString &s, bool utf8) {
    return utf8 ? s.toUtf8() : AnsiCodec::encode(s);
}

// "[name]" gives the name, trimmed.
std::optional<QString> sectionOf(const QByteArray &text, bool utf8) {
    const QString t = decoded(text, utf8).trimmed();
    if (t.size() < 2 || !t.startsWith(QLatin1Char('[')))
        return std::nullopt;
    const qsizetype close = t.indexOf(QLatin1Char(']'));
    if (close < 0)
        return std::nullopt;
    return t.mid(1, close - 1).trimmed();
}

bool isComment(const QString &t) {
    return t.startsWith(QLatin1Char(';'));
}

// Key and value of a "key=value" line; nullopt for anything else.
std::optional<std::pair<QString, QString>> entryOf(const QByteArray &text, bool utf8) {
    const QString t = decoded(text, utf8);
    const QString trimmed = t.trimmed();
    if (trimmed.isEmpty() || isComment(trimmed) || trimmed.startsWith(QLatin1Char('[')))
        return std::nullopt;
    const qsizetype eq = t.indexOf(QLatin1Char('='));
    if (eq < 0)
        return std::nullopt;
    return std::make_pair(t.left(eq).trimmed(), t.mid(eq + 1).trimmed());
}

bool sameName(const QString &a, const QString &b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

QString IniFile::readString(const QString &file, const QString &section, const QString &key,
                            const QString &def) {
    return IniText::readString(readFile(file), section, key, def);
}

QString IniText::readString(const QByteArray &text, const QString &section, const QString &key,
                            const QString &def) {
    const bool utf8 = readsAsUtf8(text);
    bool inSection = false;
    for (const Line &l : splitLines(text)) {
        if (const auto s = sectionOf(l.text, utf8)) {
            inSection = sameName(*s, section);
            continue;
        }
        if (!inSection)
            continue;
        if (const auto e = entryOf(l.text, utf8); e && sameName(e->first, key))
            return e->second;
    }
    return def;
}

QStringList IniFile::sectionNames(const QString &file) {
    return IniText::sectionNames(readFile(file));
}

QStringList IniText::sectionNames(const QByteArray &text) {
    const bool utf8 = readsAsUtf8(text);
    QStringList names;
    for (const Line &l : splitLines(text))
        if (const auto s = sectionOf(l.text, utf8))
            names << *s;
    return names;
}

QStringList IniFile::sectionLines(const QString &file, const QString &section) {
    return IniText::sectionLines(readFile(file), section);
}

QStringList IniText::sectionLines(const QByteArray &text, const QString &section) {
    const bool utf8 = readsAsUtf8(text);
    QStringList out;
    bool inSection = false;
    for (const Line &l : splitLines(text)) {
        if (const auto s = sectionOf(l.text, utf8)) {
            inSection = sameName(*s, section);
            continue;
        }
        if (inSection && entryOf(l.text, utf8))
            out << decoded(l.text, utf8).trimmed();
    }
    return out;
}

namespace {

// A folder whose group is set on new files (set-group-id: an installed program's settings folder,
// shared by the operators' group) gets files its group may write; elsewhere a file is its owner's.
bool sharedFolder(const QString &file) {
    struct stat st {};
    return ::stat(QFile::encodeName(QFileInfo(file).absolutePath()).constData(), &st) == 0 &&
           (st.st_mode & S_ISGID);
}

// Gives the file the mode unless it has it already (a file another operator owns may not be changed,
// and needs no change when its mode is right).
bool ensureMode(const QString &file, mode_t mode) {
    const QByteArray name = QFile::encodeName(file);
    struct stat st {};
    if (::stat(name.constData(), &st) == 0 && (st.st_mode & 0777) == mode)
        return true;
    return ::chmod(name.constData(), mode) == 0;
}

} // namespace

void IniFile::writeString(const QString &file, const QString &section, const QString &key,
                          const QString &value, Access access) {
    writeStrings(file, section, {{key, value}}, access);
}

void IniFile::writeStrings(const QString &file, const QString &section,
                           const QList<std::pair<QString, QString>> &entries, Access access) {
    QByteArray out = readFile(file);
    for (const auto &[key, value] : entries)
        out = IniText::writeString(out, section, key, value);
    const bool shared = sharedFolder(file);
    const bool existed = QFileInfo::exists(file);
    const mode_t privateMode = shared ? 0660 : 0600;
    if (access == Access::OwnerOnly) {
        // Made private before the first byte goes in; the save below keeps the permissions it finds.
        bool ok = true;
        if (existed) {
            ok = ensureMode(file, privateMode);
        } else {
            const int fd = ::open(QFile::encodeName(file).constData(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, privateMode);
            ok = fd >= 0 && ::fchmod(fd, privateMode) == 0; // whatever the umask
            if (fd >= 0)
                ::close(fd);
        }
        if (!ok)
            throw FileError(QStringLiteral("Unable to write to %1").arg(file));
    }
    QSaveFile f(file);
    f.setDirectWriteFallback(true);
    if (!f.open(QIODevice::WriteOnly) || f.write(out) != out.size() || !Paths::commitWhole(f))
        throw FileError(QStringLiteral("Unable to write to %1").arg(file));
    Paths::syncFolderOf(file); // the new file is synced by its save, its name here
    const bool modeOk = access == Access::OwnerOnly ? ensureMode(file, privateMode)
                                                    : (existed || !shared || ensureMode(file, 0660));
    if (!modeOk)
        throw FileError(QStringLiteral("Unable to write to %1").arg(file));
}

QByteArray IniText::writeString(const QByteArray &text, const QString &section, const QString &key,
                                const QString &value) {
    const bool utf8 = readsAsUtf8(text);
    std::vector<Line> lines = splitLines(text);
    const QByteArray entry = encoded(key + QLatin1Char('=') + value, utf8);
    const QByteArray crlf("\r\n");

    // Find the section, and in it the key or the place after its last entry.
    qsizetype sectionLine = -1;
    qsizetype keyLine = -1;
    qsizetype lastEntry = -1;
    bool inSection = false;
    for (qsizetype i = 0; i < qsizetype(lines.size()); ++i) {
        if (const auto s = sectionOf(lines[size_t(i)].text, utf8)) {
            if (inSection)
                break; // the section ended
            inSection = sameName(*s, section);
            if (inSection) {
                sectionLine = i;
                lastEntry = i;
            }
            continue;
        }
        if (!inSection)
            continue;
        if (const auto e = entryOf(lines[size_t(i)].text, utf8)) {
            lastEntry = i;
            if (sameName(e->first, key)) {
                keyLine = i;
                break;
            }
        } else if (!decoded(lines[size_t(i)].text, utf8).trimmed().isEmpty()) {
            lastEntry = i; // a comment belongs to the section's body
        }
    }

    auto insertAt = [&](qsizetype pos, Line l) {
        if (pos > 0 && lines[size_t(pos - 1)].end.isEmpty())
            lines[size_t(pos - 1)].end = crlf; // a last line without its end gets one
        lines.insert(lines.begin() + pos, std::move(l));
    };
    if (keyLine >= 0) {
        const auto e = entryOf(lines[size_t(keyLine)].text, utf8);
        lines[size_t(keyLine)].text = encoded(e->first + QLatin1Char('=') + value, utf8);
        if (lines[size_t(keyLine)].end.isEmpty())
            lines[size_t(keyLine)].end = crlf;
    } else if (sectionLine >= 0) {
        insertAt(lastEntry + 1, Line{entry, crlf});
    } else {
        qsizetype pos = qsizetype(lines.size());
        if (pos > 0 && !decoded(lines.back().text, utf8).trimmed().isEmpty()) {
            insertAt(pos, Line{QByteArray(), crlf});
            ++pos;
        }
        insertAt(pos, Line{encoded(QLatin1Char('[') + section + QLatin1Char(']'), utf8), crlf});
        insertAt(pos + 1, Line{entry, crlf});
    }

    QByteArray out;
    for (const Line &l : lines)
        out += l.text + l.end;
    return out;
}
