// Profile files edited by hand into odd shapes, or not writable: sensible reads, clear errors, nothing lost.
#include "common/RecordingOperator.h"
#include "common/TestDb.h"
#include "common/TestFiles.h"
#include "db/Errors.h"
#include "platform/IniFile.h"
#include "users/PasswordHistory.h"

#include <QDir>

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
