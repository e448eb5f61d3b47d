#pragma once

#include <QString>

#include <memory>

// One backup operation at a time on one database folder: backup, restore, backup verification and
// de-archiving each hold an exclusive lock on one file in the folder while they run, whichever
// process or window runs them. The system releases the lock however its holder ends, also when the
// process is killed, so a crash never leaves the folder locked.
class FolderLock {
public:
    // The lock file's name in the folder.
    static QString fileName();
    // Takes the lock of folder (ending with the separator); nullptr when someone else holds it, this
    // process included. A folder that does not exist needs no lock. Throws FileError when the lock
    // file can be neither opened nor created.
    static std::shared_ptr<FolderLock> tryTake(const QString &folder);
    // Whether someone holds the lock of folder now; creates nothing (a missing lock file is no lock).
    static bool isHeld(const QString &folder);
    // The lock's descriptor (-1 for a folder that needed none), for a child that keeps the lock.
    int descriptor() const { return m_fd; }
    ~FolderLock();
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;

private:
    explicit FolderLock(int fd) : m_fd(fd) {}
    int m_fd;
};
