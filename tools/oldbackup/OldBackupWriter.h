#pragma once

#include <QByteArray>
#include <QString>

// Backup files as the backup program of an older server wrote them (formats 6 to 9: InterBase 6 and
// Firebird 1.x, 2.0, 2.1, 2.5; and 10, Firebird 3's own), for a small accounting database with a
// record of every kind the walk reads: the control table FJ_BAZA with its row LP = 1, domains with a
// default and a check, a table with a column of every type (blobs, an array, a computed column), an
// external table, a view, indexes, constraints, a generator, an exception, a procedure, a trigger,
// an external function, a role and privileges. Each format gets the attributes its server wrote and
// no later ones; Firebird 3's own restore is the judge of every file written.
namespace OldBackupWriter {

struct Options {
    int format = 9;
    bool transportable = true; // the data in XDR, as gbak writes by default
    bool compressed = true;
    QString externalFile; // the file of the external table TA_EXD
    // Attributes a later format frames as text or BLR written into this older format's records as the
    // restore of this format reads them (one-byte lengths) and skips them.
    bool laterAttributes = false;
    // Only the control table and six columns of the other, two rows, no view, external table or
    // privileges: a file small enough to seed the fuzzer.
    bool small = false;
};

QByteArray write(const Options &o);

// What the written backup holds, to be found again in the restored database.
QString sourceDatabase(int format);
QString backupDate(int format);
// The exception's message: longer than 255 bytes from Firebird 2.0 on (within 78 before).
QByteArray exceptionMessage(int format);
constexpr int kGeneratorValue = 42;
int rowsOfTable(const Options &o); // rows of TA_WSZ
constexpr int kLargeBlobBytes = 70000;

} // namespace OldBackupWriter
