// Profile files edited by hand into odd shapes, or not writable: sensible reads, clear errors, nothing lost.
#include "common/RecordingOperator.h"
#include "common/TestDb.h"
#include "common/TestFiles.h"
#include "db/Errors.h"
#include "platform/BackupDigest.h"
#include "platform/IniFile.h"
#include "users/PasswordHistory.h"

#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>

TEST(IniFaults, OddShapesReadSensibly) {
    const QString f = TestDb::newFolder() + QStringLiteral("setup.ini");
    // Keys before any section, a duplicate key, mixed line ends, undefined Windows-1250 bytes, no final end.
    TestFiles::write(f, "sciezka=/poza\n[Ogolne]\r\nsciezka=/pierwsza\nsciezka=/druga\r\n[ Ogolne "
                        "]\r\ncien=\x81\x98\xB3\r\nx");
    EXPECT_EQ(IniFile::readString(f, "Ogolne", "sciezka"), QStringLiteral("/pierwsza"));
    EXPECT_EQ(IniFile::readString(f, "Ogolne", "cien"), QString::fromUtf16(u"\u0081\u0098ł"));
    IniFile::writeString(f, "Ogolne", "sciezka", "/nowa");
    const QByteArray after = TestFiles::read(f);
    EXPECT_EQ(after, QByteArray("sciezka=/poza\n[Ogolne]\r\nsciezka=/nowa\nsciezka=/druga\r\n[ Ogolne "
                                "]\r\ncien=\x81\x98\xB3\r\nx"));
    // The undefined bytes come back unchanged when the line is written again.
    IniFile::writeString(f, "Ogolne", "cien", IniFile::readString(f, "Ogolne", "cien"));
    EXPECT_TRUE(TestFiles::read(f).contains("\x81\x98\xB3"));

    // A file with no section at all gets one; its foreign lines stay.
    const QString g = TestDb::newFolder() + QStringLiteral("setup.ini");
    TestFiles::write(g, "; tylko komentarz");
    IniFile::writeString(g, "Ogolne", "d1", "");
    EXPECT_EQ(TestFiles::read(g), QByteArray("; tylko komentarz\r\n\r\n[Ogolne]\r\nd1=\r\n"));
}

TEST(IniFaults, UnwritableHistoryLosesNoEntry) {
    const QString folder = TestDb::newFolder();
    const QString file = folder + QStringLiteral("jn.ini");
    RecordingOperator op;
    CheckPasswordHistory(file, "Jan", "Pierwsze#1", op);
    const QByteArray before = TestFiles::read(file);
    // The file can no longer be replaced: its folder is gone from under it (a directory in its place).
    const QString blocked = folder + QStringLiteral("zablokowany/jn.ini");
    QDir().mkpath(blocked); // jn.ini is a directory here
    try {
        CheckPasswordHistory(blocked, "Jan", "Drugie#22", op);
        FAIL();
    } catch (const FileError &e) {
        EXPECT_EQ(e.message(), QStringLiteral("Unable to write to ") + blocked);
    }
    EXPECT_EQ(PasswordHistoryResult, '0');
    EXPECT_EQ(TestFiles::read(file), before);
}

namespace {

// A small file system of its own that is full: every write into it fails with ENOSPC.
struct FullDisk {
    QString folder = TestDb::newFolder() + QStringLiteral("pelny/");
    FullDisk() {
        QDir().mkpath(folder);
        mounted = QProcess::execute(QStringLiteral("mount"),
                                    {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                     QStringLiteral("size=256k"), QStringLiteral("tmpfs"), folder}) == 0;
    }
    // Fills what is left, once the files the test needs are there.
    void fill() const {
        QFile filler(folder + QStringLiteral("wypelnienie"));
        if (filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            while (filler.write(QByteArray(4096, 'x')) > 0) {
            }
    }
    ~FullDisk() {
        if (mounted)
            QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), folder});
    }
    bool mounted = false;
};

} // namespace

// A save on a full disk fails and says so; the file it would replace stays whole, every key of it.
TEST(IniFaults, AFullDiskLeavesThePreviousFilesWhole) {
    FullDisk disk;
    ASSERT_TRUE(disk.mounted) << "this test mounts a tmpfs (it runs as root)";
    const QString ini = disk.folder + QStringLiteral("setup.ini");
    IniFile::writeStrings(ini, "Ogolne",
                          {{"sciezka", "/srv/qk"}, {"serwer", "ksiegowosc"}, {"protokol", "T"}});
    const QString backup = disk.folder + QStringLiteral("bazaqk.abk");
    TestFiles::write(backup, QByteArray(2048, 'k'));
    BackupDigest::write(backup);
    const QByteArray settings = TestFiles::read(ini), digest = TestFiles::read(backup + ".sha256");
    disk.fill();

    EXPECT_THROW(IniFile::writeStrings(ini, "Ogolne", {{"cien", QString(200, 'c')}, {"d1", "x"}}), FileError);
    EXPECT_EQ(TestFiles::read(ini), settings);
    EXPECT_THROW(BackupDigest::write(backup), FileError);
    EXPECT_EQ(TestFiles::read(backup + ".sha256"), digest);
    // Nothing half-written is left beside them.
    EXPECT_EQ(QDir(disk.folder).entryList(QDir::Files | QDir::Hidden).size(), 4)
        << QDir(disk.folder).entryList(QDir::Files | QDir::Hidden).join(' ').toStdString();
}
