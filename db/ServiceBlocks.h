#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

// Packing of service requests and parsing of service replies: plain functions over bytes.
namespace Spb {

// Action codes and items of the services API, with their published values.
enum : unsigned char {
    ActionBackup = 1,
    ActionRestore = 2,
    ActionRepair = 3,
    ActionAddUser = 4,
    ActionDeleteUser = 5,
    ActionModifyUser = 6,
    ActionDisplayUser = 7,
    ActionProperties = 8,
    ActionDbStats = 11,
    ActionGetLog = 12,

    UserName = 28,
    Password = 29,
    CommandLine = 105,
    DbName = 106,
    Verbose = 107,
    Options = 108,
    ConnectTimeout = 109,
    DummyPacketInterval = 110,
    SqlRoleName = 60,
    SysUserName = 19,
    SysUserNameEnc = 31,
    PasswordEnc = 30,
    Utf8Filename = 118,

    BkpFile = 5,
    SecUserId = 5,
    SecGroupId = 6,
    SecUserName = 7,
    SecPassword = 8,
    SecFirstName = 10,
    SecMiddleName = 11,
    SecLastName = 12,

    PrpPageBuffers = 5,
    PrpSweepInterval = 6,
    PrpShutdownDb = 7,
    PrpDenyNewAttachments = 9,
    PrpDenyNewTransactions = 10,
    PrpReserveSpace = 11,
    PrpWriteMode = 12,
    PrpAccessMode = 13,
    PrpSetSqlDialect = 14,
    PrpResUseFull = 35,
    PrpRes = 36,
    PrpWmAsync = 37,
    PrpWmSync = 38,
    PrpAmReadOnly = 39,
    PrpAmReadWrite = 40,

    NumAtt = 5,
    NumDb = 6,

    InfoEnd = 1,
    InfoTruncated = 2,
    InfoFlagEnd = 127,
    InfoSvrDbInfo = 50,
    InfoGetConfig = 53,
    InfoVersion = 54,
    InfoServerVersion = 55,
    InfoImplementation = 56,
    InfoUserDbPath = 58,
    InfoGetEnv = 59,
    InfoGetEnvLock = 60,
    InfoGetEnvMsg = 61,
    InfoLine = 62,
    InfoRunning = 67,
    InfoGetUsers = 68,
};

constexpr quint32 PrpDbOnline = 0x200;
constexpr quint32 ResReplace = 0x1000;
constexpr quint32 ResCreate = 0x2000;
constexpr quint32 RprValidateDb = 0x01;
constexpr quint32 RprFull = 0x80;
constexpr quint32 StsDataPages = 0x01;
constexpr quint32 StsIdxPages = 0x08;

// Appends items in the start-block encoding: text items with a two-byte length (left out when
// empty), integers as four bytes, one-byte items as code and value; all low byte first.
class Builder {
public:
    explicit Builder(unsigned char action) { m_bytes.append(char(action)); }
    Builder &text(unsigned char code, const QString &value);
    Builder &integer(unsigned char code, quint32 value);
    Builder &byteItem(unsigned char code, unsigned char value);
    Builder &flag(unsigned char code);
    const QByteArray &bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

// The attach block from lines "name=value"; throws on a name it does not take.
QByteArray attachBlock(const QStringList &lines);

// Requests.
enum class ShutdownMode { Forced, DenyTransaction, DenyAttachment };
QByteArray shutdownRequest(const QString &db, ShutdownMode mode, int waitSeconds);
QByteArray onlineRequest(const QString &db);
QByteArray writeModeRequest(const QString &db, bool async);
QByteArray accessModeRequest(const QString &db, bool readOnly);
QByteArray reserveSpaceRequest(const QString &db, bool reserve);
QByteArray pageBuffersRequest(const QString &db, int buffers);
QByteArray sweepIntervalRequest(const QString &db, int interval);
QByteArray sqlDialectRequest(const QString &db, int dialect);
QByteArray statisticsRequest(const QString &db, quint32 options);
QByteArray logRequest();
QByteArray backupRequest(const QString &db, const QStringList &backupFiles, quint32 options, bool verbose,
                         int blockingFactor);
QByteArray restoreRequest(const QStringList &dbs, const QStringList &backupFiles, quint32 options, bool verbose,
                          int pageSize, int pageBuffers);
QByteArray validationRequest(const QString &db);

struct UserFields {
    QString userName, password, firstName, middleName, lastName, sqlRole;
    qint32 userId = 0;
    qint32 groupId = 0;
};
enum UserField : unsigned { FieldUserId = 1, FieldGroupId = 2, FieldPassword = 4, FieldFirstName = 8,
                            FieldMiddleName = 16, FieldLastName = 32 };
QByteArray addUserRequest(const UserFields &u);
QByteArray deleteUserRequest(const QString &userName);
QByteArray modifyUserRequest(const UserFields &u, unsigned changed);
QByteArray displayUserRequest(const QString &userName);

// Replies. Each throws "Unexpected Output buffer value" on a layout it does not expect.
// A line: nullopt when the output is exhausted (length 0).
std::optional<QString> parseLine(const QByteArray &reply);
bool parseRunning(const QByteArray &reply);

struct ServerDbInfo {
    int attachments = 0;
    int databases = 0;
    QStringList names;
};
ServerDbInfo parseServerDbInfo(const QByteArray &reply);

struct ServerConfig {
    QList<QPair<int, qint32>> pairs;
    QString baseFolder, lockFolder, messageFolder, securityDatabase;
};
ServerConfig parseServerConfig(const QByteArray &reply);

struct ServerVersion {
    int serviceVersion = 0;
    QString serverVersion, implementation;
};
ServerVersion parseServerVersion(const QByteArray &reply);

struct UserRecord {
    QString userName, firstName, middleName, lastName;
    qint32 userId = 0;
    qint32 groupId = 0;
};
QList<UserRecord> parseUsers(const QByteArray &reply);

} // namespace Spb
