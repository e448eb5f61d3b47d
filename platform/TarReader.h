#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// A tar stream read as it arrives (restic's dump of a snapshot's folder): each regular file's name and
// size, then its bytes, handed on; everything else skipped. ustar with the PAX and GNU long-name records
// (a path with Polish letters or past 100 bytes comes in a record of its own), a size of 8 GiB or more from
// a PAX record (as restic writes it) or in GNU's base-256. Never more than one block held.
class TarReader {
public:
    // Called at each regular file; true to be handed its bytes.
    using Entry = std::function<bool(const QString &path, qint64 size)>;
    // Its bytes, a piece at a time; false stops the reading (a write that failed).
    using Data = std::function<bool(const char *data, qint64 size)>;

    TarReader(Entry entry, Data data) : m_entry(std::move(entry)), m_data(std::move(data)) {}

    // False once the stream is malformed or a handler refused; the reason in error().
    bool feed(const char *data, qint64 size);
    // The end records were read and no file is cut short.
    bool complete() const { return m_ended && m_error.isEmpty(); }
    const QString &error() const { return m_error; }

private:
    bool header();
    Entry m_entry;
    Data m_data;
    QByteArray m_block;  // a header block being gathered
    QByteArray m_record; // the long name or PAX record being gathered
    char m_recordType = 0;
    QString m_longName;    // the next entry's name from a PAX or GNU record
    qint64 m_paxSize = -1; // the next entry's size from a PAX record
    qint64 m_left = 0;     // bytes of the current entry's data still to come
    qint64 m_padding = 0;  // bytes up to the end of its last block
    bool m_taking = false; // the current entry's bytes go to data
    int m_zeroBlocks = 0;
    bool m_ended = false;
    QString m_error;
};
