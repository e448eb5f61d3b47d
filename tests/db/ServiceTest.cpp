// Service sessions against the real server's service manager.
#include "common/TestDb.h"
#include "db/Database.h"
#include "db/Errors.h"
#include "db/Services.h"

#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

const QStringList kParams{QStringLiteral("user_name=sysdba"), QStringLiteral("password=quillstep")};

template <typename S> void prepare(S &s) {
    s.serverName = QStringLiteral("localhost");
    s.protocol = Service::Protocol::TCP;
    s.setParams(kParams);
}

} // namespace

TEST(ServiceAddress, PerProtocol) {
    EXPECT_EQ(Service::address(QStringLiteral("localhost"), Service::Protocol::TCP),
              QStringLiteral("localhost:service_mgr"));
    EXPECT_EQ(Service::address(QStringLiteral("localhost"), Service::Protocol::SPX),
              QStringLiteral("localhost@service_mgr"));
    EXPECT_EQ(Service::address(QStringLiteral("localhost"), Service::Protocol::NamedPipe),
              QStringLiteral("\\\\localhost\\service_mgr"));
    EXPECT_EQ(Service::address(QStringLiteral("localhost"), Service::Protocol::Local),
              QStringLiteral("service_mgr"));
    EXPECT_EQ(Service::address(QString(), Service::Protocol::Local), QStringLiteral("service_mgr"));
}

TEST(ServiceSession, AttachDetachRules) {
    LogService log(QStringLiteral("IBLog"));
    log.setParams(kParams);
    log.protocol = Service::Protocol::TCP;
    try {
        log.attach();
        FAIL();
    } catch (const LayerError &e) {
        EXPECT_EQ(e.message(), QStringLiteral("Server Name Missing"));
    }
    EXPECT_FALSE(log.active());
    try {
        log.serviceStart();
        FAIL();
    } catch (const LayerError &e) {
        EXPECT_EQ(e.message(), QStringLiteral("Cannot perform operation -- service is not attached"));
    }
    log.detach(); // detached: nothing, no error

    // Local ignores the server name, even an empty one, and reaches the service manager.
    log.protocol = Service::Protocol::Local;
    log.attach();
    EXPECT_TRUE(log.active());
    log.detach();
    EXPECT_FALSE(log.active());
    log.detach();
}

TEST(ServiceSession, QueriesBeforeAnyActionAndGenericConfigStart) {
    LogService log(QStringLiteral("IBLog"));
    prepare(log);
    log.attach();
    try {
        log.nextLine();
        FAIL();
    } catch (const LayerError &e) {
        EXPECT_EQ(e.message(), QStringLiteral("Query Parameters missing or incorrect"));
    }
    log.detach();

    ConfigService cfg(QStringLiteral("IBConfigService"));
    prepare(cfg);
    cfg.attach();
    try {
        cfg.serviceStart();
        FAIL();
    } catch (const LayerError &e) {
        EXPECT_EQ(
            e.message(),
            QStringLiteral(
                "Generic ServiceStart not applicable: Use Specific Procedures to set configuration params"));
    }
    cfg.detach();
}

TEST(ServiceSession, VerboseBackupReadLineByLineToTheEnd) {
    const QString folder = TestDb::createDatabase();
    BackupService b(QStringLiteral("IBBackup"));
    prepare(b);
    b.databaseName = folder + QStringLiteral("bazaqk.adb");
    b.backupFiles = {folder + QStringLiteral("bazaqk.abk")};
    b.verbose = true;
    b.attach();
    b.serviceStart();
    EXPECT_EQ(b.action(), 1);
    QStringList lines;
    while (!b.eof())
        lines << b.nextLine();
    b.detach();
    ASSERT_GE(lines.size(), 3);
    EXPECT_TRUE(lines.first().startsWith(QStringLiteral("gbak:")));
    EXPECT_EQ(lines.last(), QString()); // the caller receives one empty line at the very end
    EXPECT_TRUE(lines[lines.size() - 2].contains(QStringLiteral("closing file, committing, and finishing")));
    EXPECT_FALSE(lines[lines.size() - 2].endsWith(QLatin1Char(' ')));
    EXPECT_TRUE(lines.contains(QStringLiteral("gbak:    writing data for table FJ_BAZA")));
    EXPECT_EQ(b.nextLine(), QString()); // after the end: no server call, the empty text
    EXPECT_TRUE(QFileInfo(folder + QStringLiteral("bazaqk.abk")).size() > 0);
}

TEST(ServiceSession, FailingActionReportsFromStart) {
    BackupService b(QStringLiteral("IBBackup"));
    prepare(b);
    const QString folder = TestDb::newFolder();
    b.databaseName = folder + QStringLiteral("missing.adb");
    b.backupFiles = {folder + QStringLiteral("x.abk")};
    b.verbose = true;
    b.attach();
    EXPECT_THROW(
        {
            b.serviceStart();
            while (!b.eof())
                b.nextLine();
        },
        EngineError);
    b.detach();
    EXPECT_FALSE(b.active());
}

TEST(ServiceSession, StatisticsLogAndProperties) {
    const QString folder = TestDb::createDatabase();
    StatisticsService st(QStringLiteral("IBStat"));
    prepare(st);
    st.databaseName = folder + QStringLiteral("bazaqk.adb");
    st.options = Spb::StsDataPages | Spb::StsIdxPages;
    st.attach();
    st.serviceStart();
    QStringList lines;
    while (!st.eof())
        lines << st.nextLine();
    st.detach();
    const QString text = lines.join(QLatin1Char('\n'));
    EXPECT_TRUE(text.contains(QStringLiteral("FJ_DOK3 (")));
    EXPECT_TRUE(text.contains(QStringLiteral("Index FJ_DOK3_KEY")));

    StatisticsService none(QStringLiteral("IBStat"));
    prepare(none);
    none.attach();
    EXPECT_THROW(none.serviceStart(), LayerError);
    none.detach();

    Database db;
    TestDb::connect(db, folder);
    PropertiesService p(QStringLiteral("IBProperties"));
    prepare(p);
    p.attach();
    const Spb::ServerDbInfo info = p.fetchDatabaseInfo();
    EXPECT_GE(info.attachments, 1);
    EXPECT_GE(info.databases, 1);
    EXPECT_TRUE(info.names.contains(folder + QStringLiteral("bazaqk.adb")));
    const Spb::ServerVersion v = p.fetchVersionInfo();
    EXPECT_TRUE(v.serverVersion.contains(QStringLiteral("Firebird 3")));
    EXPECT_FALSE(v.implementation.isEmpty());
    const Spb::ServerConfig c = p.fetchConfigParams();
    EXPECT_FALSE(c.baseFolder.isEmpty());
    p.detach();
    db.close();
}

TEST(ServiceSession, SecurityAddDisplayModifyDelete) {
    SecurityService sec(QStringLiteral("IBSecurity"));
    prepare(sec);
    sec.attach();
    const QString name = QStringLiteral("QKTEST_SVC");
    try {
        sec.setUserName(name);
        sec.deleteUser();
    } catch (const EngineError &) {
        // not there from an earlier run
    }
    sec.detach();
    sec.attach();
    sec.setUserName(name);
    sec.setPassword(QStringLiteral("Haslo#2026"));
    sec.setFirstName(QString()); // an empty first name sends no item at all
    sec.setLastName(QStringLiteral("Kowalska"));
    sec.addUser();
    EXPECT_TRUE(sec.fields().password.isEmpty()); // the user fields are emptied after the request
    EXPECT_TRUE(sec.fields().lastName.isEmpty());
    sec.detach();

    sec.attach();
    auto users = sec.displayUser(name);
    sec.detach();
    ASSERT_EQ(users.size(), 1);
    EXPECT_EQ(users[0].userName, name);
    EXPECT_EQ(users[0].lastName, QStringLiteral("Kowalska"));

    sec.attach();
    sec.setUserName(name);
    sec.setFirstName(QStringLiteral("Zofia"));
    sec.modifyUser();
    sec.detach();
    sec.attach();
    users = sec.displayUser(name);
    sec.detach();
    ASSERT_EQ(users.size(), 1);
    EXPECT_EQ(users[0].firstName, QStringLiteral("Zofia"));
    EXPECT_EQ(users[0].lastName, QStringLiteral("Kowalska")); // untouched fields stay

    sec.attach();
    sec.setUserName(name);
    sec.setPassword(QStringLiteral("Haslo#2026"));
    EXPECT_THROW(sec.addUser(), EngineError); // a duplicate
    sec.detach();
    sec.attach();
    sec.setUserName(name);
    sec.deleteUser();
    sec.detach();
    sec.attach();
    EXPECT_TRUE(sec.displayUser(name).isEmpty());
    sec.setUserName(name);
    EXPECT_THROW(sec.deleteUser(), EngineError);
    sec.detach();
}
