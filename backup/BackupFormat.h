#pragma once

#include "platform/BackupDigest.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// The engine's backup file read without an engine, from the header through every record to the end
// record. The engine's restore trusts the file it is given: a cut one makes it commit what it has
// (and a cut inside an external table's columns crashes it), a segment longer than its stated maximum
// overruns its buffer. A file that does not walk whole to its end record never reaches the engine.
// Each record's attributes are read as Firebird 3's restore reads them for the file's format: an older
// format frames some of them otherwise.
namespace BackupFormat {

// The format this server (Firebird 3) writes, and the oldest it is given to restore: those of
// InterBase 6 and Firebird 1.0 to 2.5, which its own restore reads as they were written. A newer
// server's backup it cannot restore.
constexpr int kFormatVersion = 10;
constexpr int kOldestFormat = 6;

// The server generation that writes a format, in Polish: "Firebird 2.5", "Firebird 4 lub 5" ...
QString serverOf(int format);
// A format this server restores that an older server wrote.
bool olderThanThisServer(int format);

struct Table {
    QString name;
    qint64 records = 0;
};

struct Walk {
    bool whole = false; // every record read, up to the end record, and the file's size in whole blocks
    QString stop;       // where and why the walk stopped, in Polish; empty when whole
    qint64 stopOffset = -1;
    int format = 0;
    bool transportable = false;
    bool compressed = false;
    qint64 blockSize = 0;
    QString backupDate;     // as the header gives it
    QString sourceDatabase; // the database the backup was made of
    int pageSize = 0;
    QList<Table> tables;   // every table with data, in the file's order
    QStringList relations; // every table and view the backup defines, with data or without
    qint64 endRecordOffset = -1;
    qint64 fileSize = 0; // bytes read, the padding after the end record included
};

// Hands out the file's bytes a piece at a time: fills buf with up to size bytes and returns how many
// it gave, 0 at the end of the file, -1 when the file cannot be read.
using Reader = std::function<qint64(char *buf, qint64 size)>;

// Reads until the end of the file (the padding after the end record too, so that a reader that
// digests what it hands out sees every byte); never more than one piece in memory.
Walk walk(const Reader &read);
// The same, asking for at most piece bytes at a time.
Walk walk(const Reader &read, qint64 piece);
Walk walk(const QByteArray &bytes);

// The backup's size must be a whole number of these (the engine writes whole blocks).
constexpr qint64 kBlock = BackupDigest::kBlock;

} // namespace BackupFormat
