#include "platform/BackupDigest.h"

#include "platform/Errors.h"
#include "platform/Paths.h"
#include "platform/Supervisor.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <openssl/evp.h>

#include <algorithm>
#include <unistd.h>
#include <vector>

namespace BackupDigest {

QString fileName(const QString &backupFile) {
    return backupFile + QStringLiteral(".sha256");
}

QString sizeDefect(const QString &backupFile, qint64 size) {
    const Recorded recorded = read(backupFile);
    if (recorded.size >= 0 && recorded.size != size)
        return QStringLiteral(
                   "plik ma %1 bajtów, a zapisana kopia miała %2 (%3): kopia obcięta lub zmieniona")
            .arg(size)
            .arg(recorded.size)
            .arg(QFileInfo(fileName(backupFile)).fileName());
    if (size % kBlock != 0)
        return QStringLiteral("rozmiar %1 bajtów nie jest wielokrotnością %2: kopia obcięta")
            .arg(size)
            .arg(kBlock);
    return {};
}

QByteArray text(const QByteArray &hex, const QString &name, qint64 size) {
    return "# " + QFile::encodeName(name) + ' ' + QByteArray::number(size) + " bytes\n" + hex + "  " +
           QFile::encodeName(name) + '\n';
}

Recorded read(const QString &backupFile) {
    Recorded r;
    QFile f(fileName(backupFile));
    if (!f.exists())
        return r;
    r.present = true;
    if (!f.open(QIODevice::ReadOnly) || f.size() > 4096) {
        r.problem = QStringLiteral("nie można odczytać pliku sumy kontrolnej %1").arg(f.fileName());
        return r;
    }
    const QByteArray name = QFile::encodeName(QFileInfo(backupFile).fileName());
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("# ")) {
            const QList<QByteArray> words = line.mid(2).split(' ');
            bool ok = false;
            if (words.size() == 3 && words[0] == name && words[2] == "bytes") {
                const qint64 size = words[1].toLongLong(&ok);
                if (ok)
                    r.size = size;
            }
        } else if (line.size() == 64 + 2 + name.size() &&
                   (line.mid(64, 2) == "  " || line.mid(64, 2) == " *") &&
                   line.mid(66) == name) { // text or binary mode (sha256sum -b): the same digest
            const QByteArray hex = line.left(64).toLower();
            if (std::all_of(hex.begin(), hex.end(),
                            [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }))
                r.hex = hex;
        }
    }
    if (r.hex.isEmpty())
        r.problem = QStringLiteral("plik %1 nie zawiera sumy SHA-256 pliku %2")
                        .arg(f.fileName(), QString::fromUtf8(name));
    return r;
}

Sha256::Sha256() : m_ctx(EVP_MD_CTX_new()) {
    if (!m_ctx || EVP_DigestInit_ex(static_cast<EVP_MD_CTX *>(m_ctx), EVP_sha256(), nullptr) != 1)
        throw QkError(QStringLiteral("SHA-256 is not available"));
}

Sha256::~Sha256() {
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX *>(m_ctx));
}

void Sha256::add(const char *data, qint64 size) {
    EVP_DigestUpdate(static_cast<EVP_MD_CTX *>(m_ctx), data, size_t(size));
}

QByteArray Sha256::hex() {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_DigestFinal_ex(static_cast<EVP_MD_CTX *>(m_ctx), md, &len);
    return QByteArray(reinterpret_cast<const char *>(md), int(len)).toHex();
}

QByteArray ofFile(const QString &file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        throw FileError(QStringLiteral("Unable to read %1: %2").arg(file, f.errorString()));
    Sha256 sha;
    std::vector<char> buf(1 << 20);
    for (;;) {
        const qint64 n = f.read(buf.data(), qint64(buf.size()));
        if (n < 0)
            throw FileError(QStringLiteral("Unable to read %1: %2").arg(file, f.errorString()));
        if (n == 0)
            break;
        sha.add(buf.data(), n);
        Supervisor::Idle::ifDue();
    }
    return sha.hex();
}

namespace {

// A second (hard) link where the file system has them, else a copy on disk.
void keepAs(const QString &file, const QString &as) {
    if (::link(QFile::encodeName(file).constData(), QFile::encodeName(as).constData()) == 0)
        return;
    if (!QFile::copy(file, as))
        throw FileError(QStringLiteral("Unable to keep %1 as %2").arg(file, as));
    Paths::syncFile(as);
}

// A new file in one piece, on disk (the save syncs it).
void writeText(const QString &file, const QByteArray &bytes) {
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !Paths::commitWhole(out))
        throw FileError(QStringLiteral("Unable to write %1: %2").arg(file, out.errorString()));
}

} // namespace

QString publish(const QString &partial, const QString &backupFile, const QByteArray &knownHex) {
    const QString digestPart = fileName(backupFile) + QStringLiteral(".part");
    QByteArray hex = knownHex;
    try {
        if (hex.isEmpty())
            hex = ofFile(partial);
    } catch (const FileError &) {
        QFile::remove(fileName(backupFile));
        Paths::replaceFile(partial, backupFile, false); // the server's backup syncs what it wrote
        return QStringLiteral("Kopia bez sumy kontrolnej: program nie może odczytać pliku %1")
            .arg(backupFile);
    }
    writeText(digestPart, text(hex, QFileInfo(backupFile).fileName(), QFileInfo(partial).size()));
    replace(partial, digestPart, backupFile, QString());
    return {};
}

QByteArray write(const QString &file, const QByteArray &knownHex) {
    const QByteArray hex = knownHex.isEmpty() ? ofFile(file) : knownHex;
    writeText(fileName(file), text(hex, QFileInfo(file).fileName(), QFileInfo(file).size()));
    Paths::syncFolderOf(file);
    return hex;
}

void replace(const QString &newBackup, const QString &newDigest, const QString &backupFile,
             const QString &aside) {
    const QString digest = fileName(backupFile);
    if (!aside.isEmpty() && QFileInfo::exists(backupFile)) {
        // A second name for each: the previous pair stays whole under the aside name.
        keepAs(backupFile, aside);
        if (const Recorded r = read(backupFile); !r.hex.isEmpty()) // the same digest, for the file's new name
            writeText(fileName(aside), text(r.hex, QFileInfo(aside).fileName(), QFileInfo(aside).size()));
        Paths::syncFolderOf(aside);
    }
    // The old digest is gone from the disk before the new backup is there: a power cut in between
    // leaves a backup without a digest, never one beside another backup's.
    if (QFile::exists(digest) && !QFile::remove(digest))
        throw FileError(QStringLiteral("Unable to delete %1").arg(digest));
    Paths::syncFolderOf(digest);
    Paths::replaceFile(newBackup, backupFile);
    if (!newDigest.isEmpty())
        Paths::replaceFile(newDigest, digest);
}

} // namespace BackupDigest
