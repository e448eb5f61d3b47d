#pragma once

#include <QString>
#include <QStringList>

// A folder of this process's own inside a database folder, made fresh (never one that was there), where
// the engine reads and writes the files this program hands it: nobody else can put a file or a link
// under one of its names, so what the engine opens is what the program chose, as root too.
class WorkFolder {
public:
    // OwnerOnly (0700) for the embedded engine, which runs as this process; ServerEnters (0711) when a
    // server running as another user must open a file in it by name (it may neither list nor add);
    // ServerWrites (0700, and an access list entry for the server's user alone) when that server must
    // create a file in it: no one else may enter, and what the server creates there this process and the
    // database folder's group may read, as they could the server's files beside the database.
    enum class Access { OwnerOnly, ServerEnters, ServerWrites };
    // The user the local server runs as (Debian's package makes it).
    static constexpr const char *kServerUser = "firebird";
    // Throws FileError when the folder cannot be made.
    WorkFolder(const QString &parentFolder, Access access);
    // Removes what is in it (never through a link) and the folder.
    ~WorkFolder();
    WorkFolder(const WorkFolder &) = delete;
    WorkFolder &operator=(const WorkFolder &) = delete;
    // Ends with the separator.
    const QString &path() const { return m_path; }
    QString file(const QString &name) const { return m_path + name; }

    // Work folders of runs that were killed, in parentFolder (ending with the separator): removed, with
    // what they held (this process's own stay); their names. Only under the folder lock, when no other run
    // can be using one.
    static QStringList removeLeftovers(const QString &parentFolder);
    // Whether a name in a database folder is a work folder's.
    static bool isWorkFolderName(const QString &name);

private:
    QString m_path;
};
