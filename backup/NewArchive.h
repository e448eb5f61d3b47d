#pragma once

#include "backup/BackupOps.h"

#include <QString>

#include <memory>

namespace Archiver {
class Running;
}

// The dated archive copy of a new backup, made while that backup is verified and kept only when it
// passes. arj files the very file the verification reads: a second link of the new backup (a copy where
// it cannot be linked) and its digest, under the names they are published under, in a work folder of
// the run's own, where nobody else can rename another file over them. Its archive is made in that
// folder too, and takes a dated name in the database folder only through place(); one that goes
// unplaced is dropped: arj stopped by its rule and reaped, the folder removed with whatever arj made.
class NewArchive {
public:
    // newBackup: the new backup's file, its digest beside it when it has one. held: the chain's folder
    // lock, which arj keeps as long as it runs. Throws FileError when the folder or the link cannot be
    // made.
    NewArchive(TMainDm &dm, const QString &newBackup, const BackupOps::Lock &held);
    ~NewArchive();
    NewArchive(const NewArchive &) = delete;
    NewArchive &operator=(const NewArchive &) = delete;

    // The backup's name in the work folder: the file to verify.
    QString backup() const;
    // Starts arj now when the database folder has room for its archive and the verification's scratch
    // database at once; else says so (the archive is then made after the verification). Whether it started.
    bool startIfRoom(Operator &op);
    // Waits for arj (started now when it was not) and puts its archive in the database folder under a new
    // dated name, on disk before and after; its path. Throws QkError when arj failed: nothing is placed.
    QString place(Operator &op);

private:
    void start();

    TMainDm &m_dm;
    BackupOps::Lock m_lock;
    std::unique_ptr<WorkFolder> m_work;
    QString m_stamp, m_name;
    bool m_withDigest = false;
    std::unique_ptr<Archiver::Running> m_arj; // goes before the folder it works in
};
