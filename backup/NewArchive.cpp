#include "backup/NewArchive.h"

#include "backup/BackupVerification.h"
#include "core/MainD.h"
#include "core/Operator.h"
#include "platform/Archiver.h"
#include "platform/BackupDigest.h"
#include "platform/Clock.h"
#include "platform/Errors.h"
#include "platform/FolderLock.h"
#include "platform/Paths.h"
#include "platform/WorkFolder.h"

#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <unistd.h>

namespace {

const QString kBackupName = QStringLiteral("bazaqk.abk");

} // namespace

NewArchive::NewArchive(TMainDm &dm, const QString &newBackup, const BackupOps::Lock &held)
    : m_dm(dm), m_lock(BackupOps::takeFolderLock(dm.Settings.DatabaseFolder, held)),
      m_work(std::make_unique<WorkFolder>(dm.Settings.DatabaseFolder, WorkFolder::Access::OwnerOnly)),
      m_stamp(BackupOps::archiveStamp(Clock::now())),
      m_name(Archiver::newArchiveName(dm.Settings.DatabaseFolder, m_stamp)) {
    const QString linked = backup();
    // A second link names the file the engine wrote whatever its own name names later; a file this
    // process may not link (a server's, as an operator) is copied, and the verification then proves
    // the copy against the digest.
    if (::link(QFile::encodeName(newBackup).constData(), QFile::encodeName(linked).constData()) != 0) {
        QFile source(newBackup);
        if (!source.copy(linked))
            throw FileError(
                QStringLiteral("Unable to copy %1 to %2: %3").arg(newBackup, linked, source.errorString()));
    }
    const BackupDigest::Recorded digest = BackupDigest::read(newBackup);
    if (!digest.hex.isEmpty()) {
        BackupDigest::write(linked, digest.hex);
        m_withDigest = true;
    }
}

NewArchive::~NewArchive() = default;

QString NewArchive::backup() const {
    return m_work->file(kBackupName);
}

void NewArchive::start() {
    if (m_arj)
        return;
    QStringList args{QStringLiteral("a"), m_name, kBackupName};
    if (m_withDigest)
        args << QFileInfo(BackupDigest::fileName(backup())).fileName();
    // Its temporary archive (ARJTEMP.$00) goes beside the archive, in the work folder too.
    Archiver::Launch launch = Archiver::command(args, m_work->path());
    launch.heldLock = m_lock->descriptor();
    m_arj = std::make_unique<Archiver::Running>(launch);
}

bool NewArchive::startIfRoom(Operator &op) {
    // At worst arj's archive is as big as the backup it holds (and its temporary one becomes it).
    const qint64 size = QFileInfo(backup()).size();
    const qint64 needed = BackupVerification::roomNeeded(m_dm, size) + size;
    const qint64 room = QStorageInfo(m_dm.Settings.DatabaseFolder).bytesAvailable();
    if (room >= 0 && room < needed) {
        op.appendLine(
            Operator::Log::Backup,
            QStringLiteral("Za mało miejsca w katalogu %1 na kopię archiwalną razem z bazą próbną (wolne %2 "
                           "MB, potrzeba około %3 MB): kopia archiwalna powstanie po sprawdzeniu kopii.")
                .arg(m_dm.Settings.DatabaseFolder)
                .arg(room / (1024 * 1024))
                .arg((needed + 1024 * 1024 - 1) / (1024 * 1024)));
        return false;
    }
    start();
    return true;
}

QString NewArchive::place(Operator &op) {
    start();
    const int rc = m_arj->wait();
    const QString made = m_work->file(Archiver::archiveFileName(m_name));
    if (rc != 0 || !QFileInfo(made).isFile())
        throw QkError(QStringLiteral("Archiwizacja kopii nie powiodła się (arj: %1)").arg(rc));
    // Under the lock no other run makes an archive here; a name that appeared meanwhile (made by hand, a
    // link) is passed over, never replaced.
    const QString first = m_dm.Settings.DatabaseFolder + Archiver::archiveFileName(m_name);
    QString placed = first;
    for (int n = 2; !Paths::placeNew(made, placed); ++n) {
        if (n > 1000)
            throw FileError(QStringLiteral("Unable to find a free name for %1").arg(first));
        placed = Paths::numbered(m_dm.Settings.DatabaseFolder + Archiver::archiveFileName(m_stamp), n);
    }
    const QString name = QFileInfo(placed).fileName();
    op.message(Operator::Box::Information, QStringLiteral("Powstał dodatkowy plik kopii o nazwie ") + name);
    return placed;
}
