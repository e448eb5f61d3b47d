// Start-up: the settings file, the protocol letter and the set-up of the connection and the services.
#include "common/TestFiles.h"
#include "common/WindowHarness.h"
#include "db/Errors.h"

#include <gtest/gtest.h>

TEST(Settings, FirstStartCreatesTheFileWithFourEmptyKeys) {
    const QString folder = TestDb::newFolder();
    TMainDm dm(folder);
    EXPECT_THROW(dm.DataModuleCreate(), QkError); // "/bazaqk.adb" cannot be attached
    EXPECT_EQ(TestFiles::read(folder + "setup.ini"),
              QByteArray("[Ogolne]\r\nsciezka=\r\nserwer=\r\nprotokol=\r\ncien=\r\n"));
    EXPECT_EQ(dm.Settings.ServiceProtocol, Service::Protocol::TCP);
    EXPECT_EQ(dm.Settings.fullDatabaseName(), QStringLiteral("/bazaqk.adb"));
    EXPECT_FALSE(dm.EmployeeDb.connected());
    // The services were configured before the attach failed.
    EXPECT_EQ(dm.IBBackup.databaseName, QStringLiteral("/bazaqk.adb"));
    EXPECT_EQ(dm.IBProperties.serverName, QStringLiteral("localhost"));
}

TEST(Settings, ProtocolLetters) {
    using P = Service::Protocol;
    // Off Windows there is no SPX and no named pipe: S and N reach the server over TCP.
    const std::pair<const char *, P> cases[] = {
        {"L", P::Local}, {"l", P::Local}, {"T", P::TCP}, {"t", P::TCP},   {"S", P::TCP},
        {"s", P::TCP},   {"N", P::TCP},   {"n", P::TCP}, {"TCP", P::TCP}, {"", P::TCP},
        {" ", P::TCP},   {"LL", P::TCP},  {" L", P::TCP}};
    for (const auto &[letter, protocol] : cases)
        EXPECT_EQ(TMainDm::protocolFromLetter(QString::fromLatin1(letter)), protocol) << letter;
}

TEST(Settings, ConnectionRouting) {
    // The program's own connections run none of the database's own triggers; a run on the books does.
    const QStringList local = TMainDm::connectionParams("l", "/data/bazaqk.adb");
    EXPECT_EQ(local, QStringList({"user_name=SYSDBA", "password=quillstep", "no_db_triggers=1",
                                  "config=Providers=Engine12"}));
    EXPECT_EQ(TMainDm::connectionParams("l", "/data/bazaqk.adb", true),
              QStringList({"user_name=SYSDBA", "password=quillstep", "config=Providers=Engine12"}));
    EXPECT_EQ(TMainDm::connectionParams("T", "/data/bazaqk.adb").last(),
              QStringLiteral("config=Providers=Remote,Loopback"));
    EXPECT_EQ(TMainDm::connectionParams("", "/data/bazaqk.adb").last(),
              QStringLiteral("config=Providers=Remote,Loopback"));
    // A name with its own server prefix is left to the client library.
    EXPECT_EQ(TMainDm::connectionParams("L", "serwer:/data/bazaqk.adb").size(), 3);
    EXPECT_EQ(TMainDm::connectionParams("T", "localhost/3050:/data/bazaqk.adb").size(), 3);
    EXPECT_FALSE(TMainDm::hasServerPrefix("C:\\qk_inter\\bazaqk.adb"));
    EXPECT_FALSE(TMainDm::hasServerPrefix("/data/a:b/bazaqk.adb"));
    EXPECT_TRUE(TMainDm::hasServerPrefix("\\\\serwer\\C:\\qk\\bazaqk.adb"));
}

TEST(Settings, StartUpConfiguresEveryService) {
    const QString dbFolder = TestDb::createDatabase();
    TestModule m(dbFolder + QStringLiteral("/"),
                 QStringLiteral("t")); // a folder already ending with the separator
    TMainDm &dm = *m.dm;
    const QString full = dbFolder + QStringLiteral("/bazaqk.adb");
    EXPECT_EQ(dm.Settings.DatabaseFolder, dbFolder + QStringLiteral("/"));
    EXPECT_EQ(dm.Settings.fullDatabaseName(), full); // two separators before the file name
    EXPECT_EQ(dm.Settings.ServerSetting, QStringLiteral("ksiegowosc"));
    for (Service *s :
         std::initializer_list<Service *>{&dm.IBConfigService, &dm.IBBackup, &dm.IBRestore, &dm.IBValidate,
                                          &dm.IBStat, &dm.IBLog, &dm.IBSecurity, &dm.IBProperties}) {
        EXPECT_EQ(s->serverName, QStringLiteral("localhost")) << s->objectName().toStdString();
        EXPECT_EQ(s->protocol, Service::Protocol::TCP);
        EXPECT_EQ(s->params(), QStringList({"user_name=sysdba", "password=quillstep"}));
        EXPECT_FALSE(s->active());
    }
    EXPECT_EQ(dm.IBConfigService.databaseName, full);
    EXPECT_EQ(dm.IBBackup.databaseName, full);
    EXPECT_EQ(dm.IBBackup.backupFiles, QStringList({dbFolder + QStringLiteral("/bazaqk.abk")}));
    EXPECT_TRUE(dm.IBBackup.verbose);
    EXPECT_EQ(dm.IBBackup.options, 0x8000u); // its attachment runs none of the database's own triggers
    EXPECT_EQ(dm.IBRestore.databaseNames, QStringList({full}));
    EXPECT_EQ(dm.IBRestore.backupFiles, QStringList({dbFolder + QStringLiteral("/bazaqk.abk")}));
    EXPECT_EQ(dm.IBRestore.options, 0x2000u); // create only
    EXPECT_TRUE(dm.IBValidate.validateDb && dm.IBValidate.validateFull);
    EXPECT_EQ(dm.IBStat.options, 9u);
    // Step 11 attached the connection and left the transaction and IBQuery2 open.
    EXPECT_TRUE(dm.EmployeeDb.connected());
    EXPECT_TRUE(dm.EmployeeTran.active());
    EXPECT_TRUE(dm.IBQuery2.isOpen());
    EXPECT_EQ(dm.IBQuery3.sql(), QStringList({"update FJ_BAZA", "set", "  ILE = 0", "where", " LP =1"}));
    EXPECT_EQ(dm.IBQuery4.sql(),
              QStringList({"UPDATE FJ_DKSI", "SET", "BLOK='N' ", "where", "TYPR  <>  ''"}));
}

TEST(Settings, WritersKeepOtherKeys) {
    const QString folder = TestDb::newFolder();
    const QString ini = folder + QStringLiteral("setup.ini");
    {
        QFile f(ini);
        f.open(QIODevice::WriteOnly);
        f.write("[Ogolne]\r\nsciezka=/a\r\nd1=/cien/bazaqk.shd\r\n; uwaga\r\nd2=x\r\n");
    }
    TMainDm dm(folder);
    dm.ReadSettings();
    EXPECT_EQ(dm.Settings.DatabasePath, QStringLiteral("/a"));
    EXPECT_EQ(dm.Settings.ShadowPath, QString()); // a missing key reads empty
    dm.WriteSettings("/b", "S1", "L", "/c");
    EXPECT_EQ(TestFiles::read(ini),
              QByteArray("[Ogolne]\r\nsciezka=/b\r\nd1=/cien/bazaqk.shd\r\n; uwaga\r\nd2=x\r\n"
                         "serwer=S1\r\nprotokol=L\r\ncien=/c\r\n"));
    dm.WriteD1(QString());
    dm.WriteD2(QString());
    EXPECT_EQ(IniFile::readString(ini, "Ogolne", "d1", "?"), QString());
    EXPECT_TRUE(TestFiles::read(ini).contains("; uwaga\r\nd2=\r\n"));
}
