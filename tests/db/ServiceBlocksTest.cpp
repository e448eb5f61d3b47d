// The bytes of every request the service layer sends, and the reply parsers on crafted buffers.
#include "db/ServiceBlocks.h"
#include "common/TestDb.h"
#include "db/Database.h"
#include "db/DatabaseInfo.h"
#include "db/Errors.h"

#include <gtest/gtest.h>

namespace {

QByteArray bytes(std::initializer_list<int> b) {
    QByteArray out;
    for (int v : b)
        out.append(char(v));
    return out;
}

QByteArray text(int code, const char *s) {
    const int n = int(strlen(s));
    return bytes({code, n & 0xFF, n >> 8}) + QByteArray(s);
}

QByteArray i32(int code, quint32 v) {
    return bytes({code, int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF), int(v >> 24)});
}

const char *kDb = "/d/bazaqk.adb";

void expectUnexpected(const std::function<void()> &f) {
    try {
        f();
        ADD_FAILURE() << "no error";
    } catch (const LayerError &e) {
        EXPECT_EQ(e.message(), QStringLiteral("Unexpected Output buffer value"));
    }
}

} // namespace

TEST(StartBlocks, ConfigurationRequests) {
    const QString db = QString::fromLatin1(kDb);
    const QByteArray head = bytes({8}) + text(106, kDb);
    EXPECT_EQ(Spb::shutdownRequest(db, Spb::ShutdownMode::Forced, 0), head + i32(7, 0));
    EXPECT_EQ(Spb::shutdownRequest(db, Spb::ShutdownMode::DenyTransaction, 5), head + i32(10, 5));
    EXPECT_EQ(Spb::shutdownRequest(db, Spb::ShutdownMode::DenyAttachment, 60), head + i32(9, 60));
    EXPECT_EQ(Spb::onlineRequest(db), head + i32(108, 0x200));
    EXPECT_EQ(Spb::writeModeRequest(db, true), head + bytes({12, 37}));
    EXPECT_EQ(Spb::writeModeRequest(db, false), head + bytes({12, 38}));
    EXPECT_EQ(Spb::accessModeRequest(db, true), head + bytes({13, 39}));
    EXPECT_EQ(Spb::accessModeRequest(db, false), head + bytes({13, 40}));
    EXPECT_EQ(Spb::reserveSpaceRequest(db, true), head + bytes({11, 36}));
    EXPECT_EQ(Spb::reserveSpaceRequest(db, false), head + bytes({11, 35}));
    EXPECT_EQ(Spb::pageBuffersRequest(db, 100), head + i32(5, 100));
    EXPECT_EQ(Spb::sweepIntervalRequest(db, -1), head + i32(6, 0xFFFFFFFFu));
    EXPECT_EQ(Spb::sqlDialectRequest(db, 3), head + i32(14, 3));
}

TEST(StartBlocks, OutputActions) {
    const QString db = QString::fromLatin1(kDb);
    EXPECT_EQ(Spb::statisticsRequest(db, 9), bytes({11}) + text(106, kDb) + i32(108, 9));
    EXPECT_EQ(Spb::logRequest(), bytes({12}));
    EXPECT_EQ(Spb::backupRequest(db, {QStringLiteral("/d/bazaqk.abk")}, 0, true, 0),
              bytes({1}) + text(106, kDb) + i32(108, 0) + bytes({107}) + text(5, "/d/bazaqk.abk"));
    EXPECT_EQ(Spb::restoreRequest({db}, {QStringLiteral("/d/bazaqk.abk")}, 0x3000, true, 0, 0),
              bytes({2}) + i32(108, 0x3000) + bytes({107}) + text(5, "/d/bazaqk.abk") + text(106, kDb));
    // A blocking factor, page size and buffers go as their published items (6; 10 and 9).
    EXPECT_EQ(Spb::backupRequest(db, {QStringLiteral("/d/bazaqk.abk")}, 0, false, 20),
              bytes({1}) + text(106, kDb) + i32(108, 0) + i32(6, 20) + text(5, "/d/bazaqk.abk"));
    EXPECT_EQ(Spb::restoreRequest({db}, {QStringLiteral("/d/bazaqk.abk")}, 0x2000, false, 8192, 300),
              bytes({2}) + i32(108, 0x2000) + i32(10, 8192) + i32(9, 300) + text(5, "/d/bazaqk.abk") +
                  text(106, kDb));
    EXPECT_EQ(Spb::validationRequest(db), bytes({3}) + text(106, kDb) + i32(108, 0x01) + i32(108, 0x81));
    try {
        Spb::statisticsRequest(QString(), 9);
        ADD_FAILURE();
    } catch (const LayerError &e) {
        EXPECT_EQ(e.message(), QStringLiteral("start Parameters missing or incorrect"));
    }
}

TEST(StartBlocks, TextsAreUtf8WithTwoByteLengths) {
    // The blocks carry the UTF-8 mark here: 150 Polish letters are 300 bytes, length low byte first.
    const QString name = QString(150, QChar(0x0142)); // ł
    const QByteArray b = Spb::statisticsRequest(name, 1);
    ASSERT_EQ(b.size(), 1 + 3 + 300 + 5);
    EXPECT_EQ(quint8(b[1]), 106);
    EXPECT_EQ(quint8(b[2]), 300 & 0xFF);
    EXPECT_EQ(quint8(b[3]), 300 >> 8);
    EXPECT_EQ(quint8(b[4]), 0xC5);
    EXPECT_EQ(quint8(b[5]), 0x82);
}

TEST(StartBlocks, UserRequests) {
    Spb::UserFields u;
    u.userName = QStringLiteral("JAN");
    u.password = QStringLiteral("Tajne#123");
    u.lastName = QStringLiteral("Kowalski");
    EXPECT_EQ(Spb::addUserRequest(u), bytes({4}) + text(7, "JAN") + i32(5, 0) + i32(6, 0) +
                                          text(8, "Tajne#123") + text(12, "Kowalski"));
    u.firstName = QStringLiteral("Jan");
    u.middleName = QStringLiteral("2026-12-08");
    u.sqlRole = QStringLiteral("KSIEG");
    u.userId = 7;
    u.groupId = 2;
    EXPECT_EQ(Spb::addUserRequest(u), bytes({4}) + text(7, "JAN") + i32(5, 7) + i32(6, 2) +
                                          text(8, "Tajne#123") + text(10, "Jan") + text(11, "2026-12-08") +
                                          text(12, "Kowalski") + text(60, "KSIEG"));
    EXPECT_EQ(Spb::modifyUserRequest(u, Spb::FieldPassword | Spb::FieldLastName | Spb::FieldGroupId),
              bytes({6}) + text(7, "JAN") + i32(6, 2) + text(8, "Tajne#123") + text(12, "Kowalski") +
                  text(60, "KSIEG"));
    EXPECT_EQ(Spb::deleteUserRequest(QStringLiteral("JAN")), bytes({5}) + text(7, "JAN"));
    EXPECT_EQ(Spb::displayUserRequest(QStringLiteral("JAN")), bytes({7}) + text(7, "JAN"));

    for (const QString &bad : {QString(), QStringLiteral("JAN KOWALSKI")}) {
        Spb::UserFields b;
        b.userName = bad;
        EXPECT_THROW(Spb::addUserRequest(b), LayerError);
    }
    EXPECT_THROW(Spb::deleteUserRequest(QString()), LayerError);
    EXPECT_THROW(Spb::modifyUserRequest(Spb::UserFields{}, 0), LayerError);
}

TEST(AttachBlocks, ServiceAndConnection) {
    // The last item marks the session's texts as UTF-8.
    EXPECT_EQ(Spb::attachBlock({QStringLiteral("user_name=sysdba"), QStringLiteral("password=quillstep")}),
              bytes({2, 2, 28, 6}) + "sysdba" + bytes({29, 9}) + "quillstep" + bytes({118, 0}));
    EXPECT_EQ(Spb::attachBlock({QStringLiteral("ISC_SPB_USER_NAME=x")}),
              bytes({2, 2, 28, 1}) + "x" + bytes({118, 0}));
    try {
        Spb::attachBlock({QStringLiteral("dbname=x")});
        ADD_FAILURE();
    } catch (const LayerError &e) {
        EXPECT_EQ(e.message(), QStringLiteral("SPB Constant Not supported"));
    }
    try {
        Spb::attachBlock({QStringLiteral("colour=blue")});
        ADD_FAILURE();
    } catch (const LayerError &e) {
        EXPECT_EQ(e.message(), QStringLiteral("SPB Constant Unknown"));
    }
    EXPECT_EQ(Database::buildParameterBlock({QStringLiteral("user_name=SYSDBA"),
                                             QStringLiteral("password=quillstep"),
                                             QStringLiteral("config=Providers=Engine12")}),
              bytes({1, 28, 6}) + "SYSDBA" + bytes({29, 9}) + "quillstep" + bytes({87, 18}) +
                  "Providers=Engine12" + bytes({77, 0}));
    // A number, not a text.
    EXPECT_EQ(Database::buildParameterBlock({QStringLiteral("no_db_triggers=1")}),
              bytes({1, 72, 1, 1, 77, 0}));
}

TEST(Replies, Lines) {
    EXPECT_EQ(Spb::parseLine(bytes({62, 6, 0}) + "gbak: " + bytes({1})),
              std::optional<QString>(QStringLiteral("gbak:")));
    EXPECT_EQ(Spb::parseLine(bytes({62, 1, 0, 32, 1})), std::optional<QString>(QString()));
    EXPECT_EQ(Spb::parseLine(bytes({62, 0, 0, 1})), std::nullopt);
    bool notReady = false; // nothing read yet while the service runs: not the end
    EXPECT_EQ(Spb::parseLine(bytes({62, 0, 0, 4, 1}), &notReady), std::optional<QString>(QString()));
    EXPECT_TRUE(notReady);
    expectUnexpected([] { Spb::parseLine(bytes({62, 1, 0, 'a', 4, 1})); }); // a line is never "not ready"
    EXPECT_EQ(Spb::parseLine(bytes({62, 4, 0, 0xC5, 0x82, 0xC4, 0x85, 1})),
              std::optional<QString>(QStringLiteral("łą")));
    expectUnexpected([] { Spb::parseLine(bytes({67, 0, 0, 1})); });
    expectUnexpected([] { Spb::parseLine(bytes({62, 5, 0, 'a', 'b', 1})); }); // length past the buffer
    expectUnexpected([] { Spb::parseLine(bytes({62, 2, 0, 'a', 'b', 2})); }); // truncated, not ended
    expectUnexpected([] { Spb::parseLine(bytes({62, 0})); });
    expectUnexpected([] { Spb::parseLine(QByteArray()); });
}

TEST(Replies, Running) {
    EXPECT_TRUE(Spb::parseRunning(i32(67, 1) + bytes({1})));
    EXPECT_FALSE(Spb::parseRunning(i32(67, 0) + bytes({1})));
    expectUnexpected([] { Spb::parseRunning(i32(62, 1)); });
    expectUnexpected([] { Spb::parseRunning(bytes({67, 1, 0})); });
}

TEST(Replies, ServerDatabaseInfo) {
    const QByteArray ok =
        bytes({50}) + i32(5, 3) + i32(6, 2) + text(106, "/a.adb") + text(106, "/b.adb") + bytes({127, 1});
    const Spb::ServerDbInfo info = Spb::parseServerDbInfo(ok);
    EXPECT_EQ(info.attachments, 3);
    EXPECT_EQ(info.databases, 2);
    EXPECT_EQ(info.names, QStringList({"/a.adb", "/b.adb"}));
    expectUnexpected([&] { Spb::parseServerDbInfo(bytes({50}) + i32(5, 3) + bytes({9})); });
    expectUnexpected([&] { Spb::parseServerDbInfo(ok.left(ok.size() - 2)); }); // no flag end
    expectUnexpected([&] { Spb::parseServerDbInfo(bytes({51}) + bytes({127})); });
}

TEST(Replies, ConfigurationAndVersion) {
    // The configuration item unanswered: a reply of 01 alone is valid and gives nothing.
    Spb::ServerConfig none = Spb::parseServerConfig(bytes({1}));
    EXPECT_TRUE(none.pairs.isEmpty());
    EXPECT_TRUE(none.baseFolder.isEmpty());
    const QByteArray full = text(59, "/usr/lib/fb/") + bytes({53, 4}) + i32(0, 8192).mid(1) + bytes({19}) +
                            i32(0, 7).mid(1) + bytes({127}) + text(60, "/tmp/firebird/") + text(61, "/msg/") +
                            text(58, "security.db") + bytes({1});
    const Spb::ServerConfig c = Spb::parseServerConfig(full);
    ASSERT_EQ(c.pairs.size(), 2);
    EXPECT_EQ(c.pairs[0].first, 4);
    EXPECT_EQ(c.pairs[0].second, 8192);
    EXPECT_EQ(c.pairs[1].first, 19);
    EXPECT_EQ(c.baseFolder, QStringLiteral("/usr/lib/fb/"));
    EXPECT_EQ(c.lockFolder, QStringLiteral("/tmp/firebird/"));
    EXPECT_EQ(c.messageFolder, QStringLiteral("/msg/"));
    EXPECT_EQ(c.securityDatabase, QStringLiteral("security.db"));
    expectUnexpected([&] { Spb::parseServerConfig(full.left(full.size() - 1)); });
    expectUnexpected([&] { Spb::parseServerConfig(bytes({53, 4, 1, 0})); });
    expectUnexpected([&] { Spb::parseServerConfig(bytes({99, 1})); });

    const Spb::ServerVersion v =
        Spb::parseServerVersion(text(55, "LI-V3.0.11.33637 Firebird 3.0") + i32(54, 2) +
                                text(56, "Firebird/Linux/AMD/Intel/x64") + bytes({1}));
    EXPECT_EQ(v.serviceVersion, 2);
    EXPECT_EQ(v.serverVersion, QStringLiteral("LI-V3.0.11.33637 Firebird 3.0"));
    EXPECT_EQ(v.implementation, QStringLiteral("Firebird/Linux/AMD/Intel/x64"));
    expectUnexpected([&] { Spb::parseServerVersion(text(55, "LI")); });
}

TEST(Replies, Users) {
    const QByteArray body = text(7, "JAN") + text(10, "Jan") + text(11, "") + text(12, "Kowalski") +
                            i32(5, 0) + i32(6, 0) + text(7, "SYSDBA") + text(10, "") + text(11, "") +
                            text(12, "") + i32(5, 1) + i32(6, 2);
    const auto users =
        Spb::parseUsers(bytes({68, int(body.size() & 0xFF), int(body.size() >> 8)}) + body + bytes({1}));
    ASSERT_EQ(users.size(), 2);
    EXPECT_EQ(users[0].userName, QStringLiteral("JAN"));
    EXPECT_EQ(users[0].lastName, QStringLiteral("Kowalski"));
    EXPECT_EQ(users[1].userName, QStringLiteral("SYSDBA"));
    EXPECT_EQ(users[1].userId, 1);
    EXPECT_EQ(users[1].groupId, 2);
    EXPECT_TRUE(Spb::parseUsers(bytes({68, 0, 0, 1})).isEmpty());
    expectUnexpected([&] {
        Spb::parseUsers(bytes({68, 0, 0}) + text(10, "Jan") + bytes({1}));
    });                                                                             // no user yet
    expectUnexpected([&] { Spb::parseUsers(bytes({68, 0, 0}) + text(7, "JAN")); }); // no end
}

TEST(Replies, DatabaseUserNames) {
    const QByteArray r = bytes({53, 7, 0, 6}) + "SYSDBA" + bytes({53, 4, 0, 3}) + "JAN" +
                         bytes({53, 7, 0, 6}) + "SYSDBA" + bytes({1});
    EXPECT_EQ(DatabaseInfo::parseUserNames(r), QStringList({"SYSDBA", "JAN", "SYSDBA"}));
    expectUnexpected([&] { DatabaseInfo::parseUserNames(bytes({53, 9, 0, 8}) + "AB"); });
    expectUnexpected([&] { DatabaseInfo::parseUserNames(bytes({53, 2, 0, 6, 'A'})); });
}

TEST(Replies, MalformedBuffersNeverReadPastTheirEnd) {
    // Every prefix of a valid reply is either accepted or refused with the layer's message.
    const QByteArray ok = bytes({50}) + i32(5, 3) + i32(6, 1) + text(106, "/a.adb") + bytes({127, 1});
    for (int n = 0; n < ok.size() - 2; ++n)
        expectUnexpected([&] { Spb::parseServerDbInfo(ok.left(n)); });
}
