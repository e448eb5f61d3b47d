#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <sys/types.h>

// A run as root, or as the nightly units' user, acts with more rights than the operators have: the files
// it takes its orders from (settings, credentials) must be root's alone. The operators (the group
// qkadmin) write the shared settings folder and the database folders; a file of theirs must not make
// root's process open another database, send the administrator's password to another host, or do their
// bidding in any other way.
namespace RootFiles {

// The nightly units' user.
inline constexpr const char *kUnitUser = "qkbackup";

// True when this process runs as root or as the units' user.
bool privilegedRun();
// The user this process runs as, by name ("root", "qkbackup"), else its number.
QString runningAs();

// Why someone other than root, or alsoOwner, can change the file with this status, in Polish ("jego
// właścicielem jest jan", "grupa qkadmin może go zmieniać", "każdy może go zmieniać"); empty when no one
// else can. Plain: a function of the owner and the mode.
QString othersMayChange(uid_t owner, gid_t group, mode_t mode, uid_t alsoOwner = 0);

// The bytes of file as one read of one open file, checked on that same descriptor (so a file put in its
// place between the check and the read is never read): nullopt and why when someone other than root
// (or alsoOwner) may change it. A missing file reads as empty bytes.
std::optional<QByteArray> readRootsFile(const QString &file, QString &why, uid_t alsoOwner = 0);

// Why someone other than root, or alsoOwner, could put another file in path's place or change it: the file
// itself (a link followed), and each folder from it up to / (group- or other-writable without the sticky bit,
// or another owner's), in Polish; empty when no one else can. A missing file: its folders alone.
QString othersMayReplace(const QString &path, uid_t alsoOwner = 0);

// Why the file at this path may not be written by a privileged run: a link (whoever placed it chose its
// target), or a file someone else may change; empty when it may (a missing file too).
QString refusedForWriting(const QString &file);

} // namespace RootFiles
