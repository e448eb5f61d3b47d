#pragma once

#include <QByteArray>
#include <QString>

// The SHA-256 digest kept beside every backup this program writes, as bazaqk.abk.sha256 in the form
// `sha256sum -c` reads (an operator can check a backup by hand), with a comment line giving the
// backup's size, which a cheap check compares with the file without reading it. The backup format
// itself has no checksum: one changed byte restores as success.
namespace BackupDigest {

QString fileName(const QString &backupFile);

// The engine writes a backup in whole blocks of this many bytes.
constexpr qint64 kBlock = 512;
// What a backup's size alone says is wrong with it (another size than its digest records, not whole
// blocks: cut or changed), in Polish; empty when nothing. Reads only the digest file.
QString sizeDefect(const QString &backupFile, qint64 size);

// The digest file's text for a backup of size bytes whose name (without folder) is name.
QByteArray text(const QByteArray &hex, const QString &name, qint64 size);

struct Recorded {
    bool present = false;
    QByteArray hex;   // 64 lower-case hex digits; empty when the file does not hold a digest line
    qint64 size = -1; // -1 when the file gives none
    QString problem;  // why the digest file cannot be used, in Polish; empty when it can
};
// What the digest file beside backupFile records.
Recorded read(const QString &backupFile);

// Incremental SHA-256 (the machine's OpenSSL).
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;
    void add(const char *data, qint64 size);
    QByteArray hex(); // lower case; ends the digest

private:
    void *m_ctx;
};

// The digest of a whole file; throws FileError when it cannot be read.
QByteArray ofFile(const QString &file);

// Puts a new backup in place with its digest, so that the pair never disagrees: the digest of
// partial is written beside it, the old digest goes, the backup takes backupFile's place, then its
// digest. A crash in between leaves a backup without a digest, never one with another's. A backup
// this process cannot read is put in place without a digest; the text returned says so (else empty).
// hex: the partial's digest when the caller has it already (else it is read here).
QString publish(const QString &partial, const QString &backupFile, const QByteArray &hex = {});
// Writes the digest file beside file, for file under its own name (hex: its digest when known, else
// read here); its digest. Throws FileError when it cannot.
QByteArray write(const QString &file, const QByteArray &hex = {});
// Puts a backup checked elsewhere (de-archived, fetched) in place with its digest file newDigest (empty:
// it has none), the same way; the previous backup and its digest are kept as aside and aside's digest
// when aside is given (else they go). Throws FileError when it cannot.
void replace(const QString &newBackup, const QString &newDigest, const QString &backupFile,
             const QString &aside);

} // namespace BackupDigest
