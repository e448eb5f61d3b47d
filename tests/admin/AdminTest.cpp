// Database configuration and the read-only reports against the real server.
#include "admin/AdminOps.h"
#include "common/RecordingOperator.h"
#include "common/TestDb.h"
#include "common/TestModule.h"
#include "core/MainD.h"
#include "db/Errors.h"
#include "platform/IniFile.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <memory>

namespace {

struct Module : TestModule {
    Module() { started(); }
    // Read on a fresh attachment, after the module's own is closed: the header as the server sees it.
    QString mon(const QString &column) {
        dm->EmployeeDb.close();
        return value(QStringLiteral("select %1 from MON$DATABASE").arg(column));
    }
};

} // namespace

TEST(Configuration, WriteModeAccessModeAndReserveSpace) {
    Module m;
    RecordingOperator op;
    AdminOps::setWriteMode(*m.dm, op, 0);
    EXPECT_EQ(m.mon("MON$FORCED_WRITES"), QStringLiteral("0"));
    AdminOps::setWriteMode(*m.dm, op, 1);
    EXPECT_EQ(m.mon("MON$FORCED_WRITES"), QStringLiteral("1"));
    AdminOps::setReserveSpace(*m.dm, op, 1);
    EXPECT_EQ(m.mon("MON$RESERVE_SPACE"), QStringLiteral("0"));
    AdminOps::setReserveSpace(*m.dm, op, 0);
    EXPECT_EQ(m.mon("MON$RESERVE_SPACE"), QStringLiteral("1"));
    AdminOps::setAccessMode(*m.dm, op, 0);
    EXPECT_EQ(m.mon("MON$READ_ONLY"), QStringLiteral("1"));
    AdminOps::setAccessMode(*m.dm, op, 1);
    EXPECT_EQ(m.mon("MON$READ_ONLY"), QStringLiteral("0"));
    EXPECT_EQ(op.events.count("busy"), 6);
    EXPECT_FALSE(op.busy);
    EXPECT_FALSE(m.dm->IBConfigService.active());
    EXPECT_TRUE(op.messages.isEmpty()); // a change the server accepts is silent
}

TEST(Configuration, SqlDialectTwoSendsThree) {
    Module m;
    RecordingOperator op;
    AdminOps::setSqlDialect(*m.dm, op, 0);
    EXPECT_EQ(m.mon("MON$SQL_DIALECT"), QStringLiteral("1"));
    AdminOps::setSqlDialect(*m.dm, op, 1);
    EXPECT_EQ(m.mon("MON$SQL_DIALECT"), QStringLiteral("3"));
    AdminOps::setSqlDialect(*m.dm, op, 0);
    AdminOps::setSqlDialect(*m.dm, op, 2);
    EXPECT_EQ(m.mon("MON$SQL_DIALECT"), QStringLiteral("3"));
}

TEST(Configuration, PageBuffersAndSweepIntervalFromTheEdits) {
    Module m;
    RecordingOperator op;
    AdminOps::setPageBuffers(*m.dm, op, QStringLiteral("100"));
    EXPECT_EQ(m.mon("MON$PAGE_BUFFERS"), QStringLiteral("100"));
    AdminOps::setSweepInterval(*m.dm, op, QStringLiteral("1000"));
    EXPECT_EQ(m.mon("MON$SWEEP_INTERVAL"), QStringLiteral("1000"));

    for (const QString &bad : {QString(), QStringLiteral("12a"), QStringLiteral(" ")}) {
        RecordingOperator o;
        try {
            AdminOps::setPageBuffers(*m.dm, o, bad);
            FAIL();
        } catch (const QkError &e) {
            EXPECT_EQ(e.message(), QStringLiteral("''%1'' is not a valid integer value").arg(bad));
        }
        EXPECT_FALSE(o.busy);
        EXPECT_FALSE(m.dm->IBConfigService.active());
    }
    EXPECT_EQ(m.mon("MON$PAGE_BUFFERS"), QStringLiteral("100")); // nothing was sent
    EXPECT_THROW(AdminOps::setSweepInterval(*m.dm, op, QStringLiteral("mało")), QkError);
    EXPECT_EQ(m.mon("MON$SWEEP_INTERVAL"), QStringLiteral("1000"));
}

TEST(Configuration, ShutdownThenOnline) {
    Module m;
    RecordingOperator op;
    AdminOps::shutdownDatabase(*m.dm, op);
    EXPECT_EQ(m.mon("MON$SHUTDOWN_MODE"), QStringLiteral("1")); // multi-user maintenance: SYSDBA may attach
    AdminOps::bringDatabaseOnline(*m.dm, op);
    EXPECT_EQ(m.mon("MON$SHUTDOWN_MODE"), QStringLiteral("0"));
    EXPECT_FALSE(op.busy);
}

TEST(Configuration, RefusalsAreEngineErrorsAndCleanUp) {
    Module m;
    m.dm->IBConfigService.databaseName = m.folder + QStringLiteral("brak.adb");
    RecordingOperator op;
    EXPECT_THROW(AdminOps::setSweepInterval(*m.dm, op, QStringLiteral("-5")), EngineError);
    EXPECT_FALSE(op.busy);
    EXPECT_FALSE(m.dm->IBConfigService.active());
    m.dm->IBConfigService.serverName = QStringLiteral("127.0.0.2");
    EXPECT_THROW(AdminOps::bringDatabaseOnline(*m.dm, op), EngineError);
    EXPECT_FALSE(op.busy);
}

TEST(Reports, StatisticsThenLogLeavesOnlyTheLog) {
    Module m;
    RecordingOperator op;
    AdminOps::statistics(*m.dm, op);
    const QString stats = op.log(Operator::Log::Statistics).join('\n');
    EXPECT_TRUE(stats.contains(QStringLiteral("FJ_DOK3 (")));
    EXPECT_TRUE(stats.contains(QStringLiteral("Data pages:")));
    EXPECT_TRUE(stats.contains(QStringLiteral("Index FJ_ZAP3_NUMEWI")));
    EXPECT_EQ(op.log(Operator::Log::Statistics).last(), QString());
    AdminOps::serverLog(*m.dm, op);
    const QStringList log = op.log(Operator::Log::Statistics);
    EXPECT_FALSE(log.join('\n').contains(QStringLiteral("FJ_DOK3 (")));
    EXPECT_EQ(log.last(), QString());
    EXPECT_EQ(op.events, QStringList({"busy", "idle", "busy", "idle"}));
    EXPECT_TRUE(m.dm->EmployeeDb.connected()); // the reports don't touch the connection
}

TEST(Reports, StatisticsOfAMissingDatabase) {
    Module m;
    m.dm->IBStat.databaseName = m.folder + QStringLiteral("brak.adb");
    RecordingOperator op;
    EXPECT_THROW(AdminOps::statistics(*m.dm, op), EngineError);
    EXPECT_FALSE(op.busy);
    EXPECT_FALSE(m.dm->IBStat.active());
}

TEST(Reports, PropertiesCountTheSystemsAttachmentAndOpenItAgain) {
    Module m;
    m.dm->EmployeeDb.close();
    RecordingOperator op;
    AdminOps::serverProperties(*m.dm, op);
    const QStringList lines = op.log(Operator::Log::Properties);
    ASSERT_GE(lines.size(), 14);
    const QString sep(50, QLatin1Char('-'));
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("Number of attachments: ")));
    EXPECT_GE(lines[0].mid(23).toInt(), 1);
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("Number of databases: ")));
    EXPECT_EQ(lines[2], sep);
    EXPECT_EQ(lines[3], QStringLiteral("Database Files"));
    EXPECT_TRUE(lines.contains(m.folder + QStringLiteral("bazaqk.adb")));
    const qsizetype base = lines.indexOf(QRegularExpression(QStringLiteral("^Base File Folder: .+")));
    ASSERT_GT(base, 4);
    EXPECT_EQ(lines[base - 1], sep);
    EXPECT_TRUE(lines[base + 1].startsWith(QStringLiteral("Lock File Folder: ")));
    EXPECT_TRUE(lines[base + 2].startsWith(QStringLiteral("Message File Folder: ")));
    EXPECT_TRUE(lines[base + 3].startsWith(QStringLiteral("Security Database: ")));
    EXPECT_EQ(lines[base + 4], sep);
    EXPECT_EQ(lines[lines.size() - 4], sep);
    EXPECT_TRUE(lines[lines.size() - 3].startsWith(QStringLiteral("Server Version: ")));
    EXPECT_TRUE(lines[lines.size() - 3].contains(QStringLiteral("Firebird 3")));
    EXPECT_TRUE(lines[lines.size() - 2].startsWith(QStringLiteral("Server Implementation: ")));
    EXPECT_TRUE(lines.last().startsWith(QStringLiteral("Service Version: ")));
    EXPECT_TRUE(m.dm->EmployeeDb.connected()); // open again for the next activation
    EXPECT_FALSE(m.dm->IBProperties.active());
}

TEST(Reports, ConfigurationKeyLabels) {
    EXPECT_EQ(AdminOps::configKeyLabel(0), QStringLiteral("LockMem"));
    EXPECT_EQ(AdminOps::configKeyLabel(9), QStringLiteral("LockOrder"));
    EXPECT_EQ(AdminOps::configKeyLabel(10), QStringLiteral("AnyLockMem"));
    EXPECT_EQ(AdminOps::configKeyLabel(17), QStringLiteral("Conn Timout"));
    EXPECT_EQ(AdminOps::configKeyLabel(18), QStringLiteral("Dummy Interval"));
    EXPECT_EQ(AdminOps::configKeyLabel(19), QStringLiteral("Key 19"));
}

TEST(Reports, ActiveUsersOpenTheConnection) {
    Module m;
    m.dm->EmployeeDb.close();
    Database other;
    TestDb::connect(other, m.folder);
    RecordingOperator op;
    op.logs[Operator::Log::Attachments] = QStringList{"stare"};
    AdminOps::activeUsers(*m.dm, op);
    EXPECT_TRUE(m.dm->EmployeeDb.connected());
    EXPECT_EQ(op.log(Operator::Log::Attachments), QStringList({"SYSDBA", "SYSDBA"}));
    other.close();
}
