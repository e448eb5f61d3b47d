// The profile-file layer: what setup.ini and jn.ini rely on.
#include "platform/IniFile.h"
#include "common/TestDb.h"
#include "common/TestFiles.h"
#include "db/Errors.h"

#include <gtest/gtest.h>

TEST(IniFile, MissingFileSectionOrKeyReadsTheDefault) {
    const QString f = TestDb::newFolder() + QStringLiteral("setup.ini");
    EXPECT_EQ(IniFile::readString(f, "Ogolne", "sciezka"), QString());
    EXPECT_EQ(IniFile::readString(f, "Ogolne", "sciezka", "x"), QStringLiteral("x"));
    EXPECT_TRUE(IniFile::sectionNames(f).isEmpty());
    TestFiles::write(f, "[Ogolne]\r\nsciezka=C:\\qk\r\n");
    EXPECT_EQ(IniFile::readString(f, "Inne", "sciezka", "d"), QStringLiteral("d"));
    EXPECT_EQ(IniFile::readString(f, "Ogolne", "cien", "d"), QStringLiteral("d"));
}

TEST(IniFile, NewFileSectionAndKeysAreWrittenWithCrLf) {
    const QString f = TestDb::newFolder() + QStringLiteral("setup.ini");
    IniFile::writeString(f, "Ogolne", "sciezka", "");
    IniFile::writeString(f, "Ogolne", "serwer", "");
    EXPECT_EQ(TestFiles::read(f), QByteArray("[Ogolne]\r\nsciezka=\r\nserwer=\r\n"));
    IniFile::writeString(f, "Inne", "a", "1");
    EXPECT_EQ(TestFiles::read(f), QByteArray("[Ogolne]\r\nsciezka=\r\nserwer=\r\n\r\n[Inne]\r\na=1\r\n"));
    IniFile::writeString(f, "ogolne", "cien", "/x");
    EXPECT_EQ(TestFiles::read(f),
              QByteArray("[Ogolne]\r\nsciezka=\r\nserwer=\r\ncien=/x\r\n\r\n[Inne]\r\na=1\r\n"));
}

TEST(IniFile, NamesMatchWithoutRegardToCase) {
    const QString f = TestDb::newFolder() + QStringLiteral("jn.ini");
    TestFiles::write(f, "[JAN]\r\nDATA=1\r\n");
    EXPECT_EQ(IniFile::readString(f, "jan", "data"), QStringLiteral("1"));
    IniFile::writeString(f, "Jan", "Data", "2");
    EXPECT_EQ(TestFiles::read(f), QByteArray("[JAN]\r\nDATA=2\r\n"));
}

TEST(IniFile, UntouchedLinesStayByteForByte) {
    const QString f = TestDb::newFolder() + QStringLiteral("setup.ini");
    const QByteArray before =
        "; ustawienia QK\n[Ogolne]\r\nsciezka = C:\\qk_inter\\\r\n; komentarz\r\nd1=x\n\r\n"
        "[Obce]\r\nklucz=w=z\r\nd2";
    TestFiles::write(f, before);
    IniFile::writeString(f, "Ogolne", "serwer", "SERWER1");
    EXPECT_EQ(TestFiles::read(f),
              QByteArray("; ustawienia QK\n[Ogolne]\r\nsciezka = C:\\qk_inter\\\r\n; komentarz\r\nd1=x\n"
                         "serwer=SERWER1\r\n\r\n[Obce]\r\nklucz=w=z\r\nd2"));
    EXPECT_EQ(IniFile::readString(f, "Ogolne", "sciezka"), QStringLiteral("C:\\qk_inter\\"));
    EXPECT_EQ(IniFile::readString(f, "Obce", "klucz"), QStringLiteral("w=z"));
    EXPECT_EQ(IniFile::sectionNames(f), QStringList({"Ogolne", "Obce"}));
    EXPECT_EQ(IniFile::sectionLines(f, "ogolne"),
              QStringList({"sciezka = C:\\qk_inter\\", "d1=x", "serwer=SERWER1"}));
    // A file without a final line end gets one before a line is appended.
    IniFile::writeString(f, "Obce", "nowy", "1");
    EXPECT_TRUE(TestFiles::read(f).endsWith("[Obce]\r\nklucz=w=z\r\nd2\r\nnowy=1\r\n"));
}

TEST(IniFile, ValuesTravelInWindows1250) {
    const QString f = TestDb::newFolder() + QStringLiteral("setup.ini");
    IniFile::writeString(f, "Ogolne", "sciezka", QStringLiteral("C:\\Księgowość\\Łódź"));
    EXPECT_EQ(TestFiles::read(f), QByteArray("[Ogolne]\r\nsciezka=C:\\Ksi\xEAgowo\x9C\xE6\\\xA3\xF3"
                                             "d\x9F\r\n"));
    EXPECT_EQ(IniFile::readString(f, "Ogolne", "sciezka"), QStringLiteral("C:\\Księgowość\\Łódź"));
}

TEST(IniFile, AFileAUtf8EditorWroteStaysUtf8) {
    const QString f = TestDb::newFolder() + QStringLiteral("setup.ini");
    const QByteArray utf8 =
        QStringLiteral("[Ogolne]\r\nsciezka=/srv/Księgowość/Firma ABC\r\nprotokol=L\r\n").toUtf8();
    TestFiles::write(f, utf8);
    EXPECT_EQ(IniFile::readString(f, "Ogolne", "sciezka"), QStringLiteral("/srv/Księgowość/Firma ABC"));
    // Written back as it was read: the same value leaves the bytes as they were, a new one goes in UTF-8.
    IniFile::writeString(f, "Ogolne", "sciezka", QStringLiteral("/srv/Księgowość/Firma ABC"));
    EXPECT_EQ(TestFiles::read(f), utf8);
    IniFile::writeString(f, "Ogolne", "cien", QStringLiteral("/srv/Łódź"));
    EXPECT_EQ(TestFiles::read(f), utf8 + QStringLiteral("cien=/srv/Łódź\r\n").toUtf8());
    // A file in the code page stays in it, also when its bytes happen to pair up.
    TestFiles::write(f, "[Ogolne]\r\nsciezka=C:\\Ksi\xEAgowo\x9C\xE6\r\n");
    IniFile::writeString(f, "Ogolne", "cien", QStringLiteral("Łódź"));
    EXPECT_EQ(TestFiles::read(f), QByteArray("[Ogolne]\r\nsciezka=C:\\Ksi\xEAgowo\x9C\xE6\r\ncien=\xA3\xF3"
                                             "d\x9F\r\n"));
    // A letter of the code page at the very end is no cut UTF-8 sequence.
    TestFiles::write(f, "[\xCD");
    IniFile::writeString(f, "Ogolne", "cien", QStringLiteral("Łódź"));
    EXPECT_EQ(IniFile::readString(f, "Ogolne", "cien"), QStringLiteral("Łódź"));
}

TEST(IniFile, AFailedWriteNamesTheFile) {
    const QString f = TestDb::newFolder() + QStringLiteral("brak/setup.ini");
    try {
        IniFile::writeString(f, "Ogolne", "sciezka", "x");
        FAIL();
    } catch (const FileError &e) {
        EXPECT_EQ(e.message(), QStringLiteral("Unable to write to ") + f);
    }
}
