#pragma once

#include <ibase.h>

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

// Packing of service requests and parsing of service replies: plain functions over bytes.
namespace Spb {

// Action codes and items of the services API, as the client library's header declares them.
enum : unsigned char {
    ActionBackup = isc_action_svc_backup,
    ActionRestore = isc_action_svc_restore,
    ActionRepair = isc_action_svc_repair,
    ActionAddUser = isc_action_svc_add_user,
    ActionDeleteUser = isc_action_svc_delete_user,
    ActionModifyUser = isc_action_svc_modify_user,
    ActionDisplayUser = isc_action_svc_display_user,
    ActionProperties = isc_action_svc_properties,
    ActionDbStats = isc_action_svc_db_stats,
    ActionGetLog = isc_action_svc_get_ib_log,

    UserName = isc_spb_user_name,
    Password = isc_spb_password,
    CommandLine = isc_spb_command_line,
    DbName = isc_spb_dbname,
    Verbose = isc_spb_verbose,
    Options = isc_spb_options,
    ConnectTimeout = isc_spb_connect_timeout,
    DummyPacketInterval = isc_spb_dummy_packet_interval,
    SqlRoleName = isc_spb_sql_role_name,
    SysUserName = isc_spb_sys_user_name,
    SysUserNameEnc = isc_spb_sys_user_name_enc,
    PasswordEnc = isc_spb_password_enc,
    Utf8Filename = isc_spb_utf8_filename,

    BkpFile = isc_spb_bkp_file,
    SecUserId = isc_spb_sec_userid,
    SecGroupId = isc_spb_sec_groupid,
    SecUserName = isc_spb_sec_username,
    SecPassword = isc_spb_sec_password,
    SecFirstName = isc_spb_sec_firstname,
    SecMiddleName = isc_spb_sec_middlename,
    SecLastName = isc_spb_sec_lastname,

    PrpPageBuffers = isc_spb_prp_page_buffers,
    PrpSweepInterval = isc_spb_prp_sweep_interval,
    PrpShutdownDb = isc_spb_prp_shutdown_db,
    PrpDenyNewAttachments = isc_spb_prp_deny_new_attachments,
    PrpDenyNewTransactions = isc_spb_prp_deny_new_transactions,
    PrpReserveSpace = isc_spb_prp_reserve_space,
    PrpWriteMode = isc_spb_prp_write_mode,
    PrpAccessMode = isc_spb_prp_access_mode,
    PrpSetSqlDialect = isc_spb_prp_set_sql_dialect,
    PrpResUseFull = isc_spb_prp_res_use_full,
    PrpRes = isc_spb_prp_res,
    PrpWmAsync = isc_spb_prp_wm_async,
    PrpWmSync = isc_spb_prp_wm_sync,
    PrpAmReadOnly = isc_spb_prp_am_readonly,
    PrpAmReadWrite = isc_spb_prp_am_readwrite,

    NumAtt = isc_spb_num_att,
    NumDb = isc_spb_num_db,

    InfoEnd = isc_info_end,
    InfoTruncated = isc_info_truncated,
    InfoDataNotReady = isc_info_data_not_ready,
    InfoFlagEnd = isc_info_flag_end,
    InfoSvrDbInfo = isc_info_svc_svr_db_info,
    InfoGetConfig = isc_info_svc_get_config,
    InfoVersion = isc_info_svc_version,
    InfoServerVersion = isc_info_svc_server_version,
    InfoImplementation = isc_info_svc_implementation,
    InfoUserDbPath = isc_info_svc_user_dbpath,
    InfoGetEnv = isc_info_svc_get_env,
    InfoGetEnvLock = isc_info_svc_get_env_lock,
    InfoGetEnvMsg = isc_info_svc_get_env_msg,
    InfoLine = isc_info_svc_line,
    InfoRunning = isc_info_svc_running,
    InfoGetUsers = isc_info_svc_get_users,
};

constexpr quint32 PrpDbOnline = isc_spb_prp_db_online;
constexpr quint32 ResReplace = isc_spb_res_replace;
constexpr quint32 ResCreate = isc_spb_res_create;
// The backup's attachment runs none of the database's own triggers (ON CONNECT, ON TRANSACTION ...); a
// restore and the validation attach so always.
constexpr quint32 BkpNoTriggers = isc_spb_bkp_no_triggers;
constexpr quint32 RprValidateDb = isc_spb_rpr_validate_db;
constexpr quint32 RprFull = isc_spb_rpr_full;
constexpr quint32 StsDataPages = isc_spb_sts_data_pages;
constexpr quint32 StsIdxPages = isc_spb_sts_idx_pages;

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
QByteArray restoreRequest(const QStringList &dbs, const QStringList &backupFiles, quint32 options,
                          bool verbose, int pageSize, int pageBuffers);
QByteArray validationRequest(const QString &db);

struct UserFields {
    QString userName, password, firstName, middleName, lastName, sqlRole;
    qint32 userId = 0;
    qint32 groupId = 0;
};
enum UserField : unsigned {
    FieldUserId = 1,
    FieldGroupId = 2,
    FieldPassword = 4,
    FieldFirstName = 8,
    FieldMiddleName = 16,
    FieldLastName = 32
};
QByteArray addUserRequest(const UserFields &u);
QByteArray deleteUserRequest(const QString &userName);
QByteArray modifyUserRequest(const UserFields &u, unsigned changed);
QByteArray displayUserRequest(const QString &userName);

// Replies. Each throws "Unexpected Output buffer value" on a layout it does not expect.
// A line: nullopt when the output is exhausted (length 0). A service still running may answer with no
// line yet (an empty one marked "data not ready"): notReady is then set and the answer is an empty line.
std::optional<QString> parseLine(const QByteArray &reply, bool *notReady = nullptr);
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
