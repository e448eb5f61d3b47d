#pragma once

#include <QByteArray>
#include <QStringList>

class Database;

// Information about the attached database: the user name of every attachment.
class DatabaseInfo {
public:
    explicit DatabaseInfo(Database *db = nullptr) : database(db) {}
    Database *database;

    // One line per attachment, in reply order; requires an open connection.
    QStringList userNames();

    // The header page's transaction counters and the database's modes, as gstat -h shows them.
    struct Header {
        qint64 oldestInteresting = 0, oldestActive = 0, oldestSnapshot = 0, next = 0;
        qint64 pageSize = 0, pages = 0;
        bool forcedWrites = true, readOnly = false;
    };
    Header header();
    // The reply to the items of header(): each item, a u16 length, an integer of that many bytes, low
    // byte first; until 01.
    static Header parseHeader(const QByteArray &reply);

    // The attachments to the database other than this connection and the server's own workers, read
    // in a transaction of its own (a long-running one may hold an older view).
    int otherAttachments();

    // The reply of isc_info_user_names: entries 35 <u16 len> <u8 n> NAME, until 01 or the end.
    static QStringList parseUserNames(const QByteArray &reply);

private:
    // The reply to the items, on the open connection.
    QByteArray query(const QByteArray &items, int replySize);
};
