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

    // The reply of isc_info_user_names: entries 35 <u16 len> <u8 n> NAME, until 01 or the end.
    static QStringList parseUserNames(const QByteArray &reply);
};
