#include "db/ServiceBlocks.h"

#include "db/Errors.h"
#include "db/ReplyReader.h"
#include "platform/ClientText.h"

#include <algorithm>

namespace Spb {

Builder &Builder::text(unsigned char code, const QString &value) {
    if (value.isEmpty())
        return *this;
    const QByteArray bytes = ClientText::encode(value).left(0xFFFF);
    m_bytes.append(char(code));
    m_bytes.append(char(bytes.size() & 0xFF));
    m_bytes.append(char((bytes.size() >> 8) & 0xFF));
    m_bytes.append(bytes);
    return *this;
}

Builder &Builder::integer(unsigned char code, quint32 value) {
    m_bytes.append(char(code));
    for (int i = 0; i < 4; ++i)
        m_bytes.append(char((value >> (8 * i)) & 0xFF));
    return *this;
}

Builder &Builder::byteItem(unsigned char code, unsigned char value) {
    m_bytes.append(char(code));
    m_bytes.append(char(value));
    return *this;
}

Builder &Builder::flag(unsigned char code) {
    m_bytes.append(char(code));
    return *this;
}

QByteArray attachBlock(const QStringList &lines) {
    struct Name {
        const char *name;
        int code; // 0: recognised, but not taken by the attach block
    };
    static const Name names[] = {
        {"user_name", UserName},
        {"password", Password},
        {"sys_user_name", 0},
        {"sys_user_name_enc", 0},
        {"password_enc", 0},
        {"command_line", 0},
        {"dbname", 0},
        {"verbose", 0},
        {"options", 0},
        {"connect_timeout", 0},
        {"dummy_packet_interval", 0},
        {"sql_role_name", 0},
    };
    QByteArray spb;
    spb.append(char(isc_spb_version));
    spb.append(char(isc_spb_current_version));
    for (const QString &line : lines) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        QString name = (eq < 0 ? line : line.left(eq)).trimmed().toLower();
        if (name.startsWith(QLatin1String("isc_spb_")))
            name.remove(0, 8);
        const auto it = std::find_if(std::begin(names), std::end(names),
                                     [&](const Name &n) { return name == QLatin1String(n.name); });
        if (it == std::end(names))
            throw LayerError(Msg::SpbUnknown);
        if (it->code == 0)
            throw LayerError(Msg::SpbNotSupported);
        const QByteArray value = ClientText::encode(eq < 0 ? QString() : line.mid(eq + 1)).left(255);
        spb.append(char(it->code));
        spb.append(char(value.size()));
        spb.append(value);
    }
    if (ClientText::markedUtf8()) {
        spb.append(char(Utf8Filename)); // every text of this session's blocks is UTF-8
        spb.append(char(0));
    }
    return spb;
}

QByteArray shutdownRequest(const QString &db, ShutdownMode mode, int waitSeconds) {
    const unsigned char item = mode == ShutdownMode::Forced            ? PrpShutdownDb
                               : mode == ShutdownMode::DenyTransaction ? PrpDenyNewTransactions
                                                                       : PrpDenyNewAttachments;
    return Builder(ActionProperties).text(DbName, db).integer(item, quint32(waitSeconds)).bytes();
}

QByteArray onlineRequest(const QString &db) {
    return Builder(ActionProperties).text(DbName, db).integer(Options, PrpDbOnline).bytes();
}

QByteArray writeModeRequest(const QString &db, bool async) {
    return Builder(ActionProperties)
        .text(DbName, db)
        .byteItem(PrpWriteMode, async ? PrpWmAsync : PrpWmSync)
        .bytes();
}

QByteArray accessModeRequest(const QString &db, bool readOnly) {
    return Builder(ActionProperties)
        .text(DbName, db)
        .byteItem(PrpAccessMode, readOnly ? PrpAmReadOnly : PrpAmReadWrite)
        .bytes();
}

QByteArray reserveSpaceRequest(const QString &db, bool reserve) {
    return Builder(ActionProperties)
        .text(DbName, db)
        .byteItem(PrpReserveSpace, reserve ? PrpRes : PrpResUseFull)
        .bytes();
}

QByteArray pageBuffersRequest(const QString &db, int buffers) {
    return Builder(ActionProperties).text(DbName, db).integer(PrpPageBuffers, quint32(buffers)).bytes();
}

QByteArray sweepIntervalRequest(const QString &db, int interval) {
    return Builder(ActionProperties).text(DbName, db).integer(PrpSweepInterval, quint32(interval)).bytes();
}

QByteArray sqlDialectRequest(const QString &db, int dialect) {
    return Builder(ActionProperties).text(DbName, db).integer(PrpSetSqlDialect, quint32(dialect)).bytes();
}

QByteArray statisticsRequest(const QString &db, quint32 options) {
    if (db.isEmpty())
        throw LayerError(Msg::StartParamsMissing);
    return Builder(ActionDbStats).text(DbName, db).integer(Options, options).bytes();
}

QByteArray logRequest() {
    return Builder(ActionGetLog).bytes();
}

QByteArray backupRequest(const QString &db, const QStringList &backupFiles, quint32 options, bool verbose,
                         int blockingFactor) {
    Builder b(ActionBackup);
    b.text(DbName, db).integer(Options, options);
    if (verbose)
        b.flag(Verbose);
    if (blockingFactor > 0)
        b.integer(isc_spb_bkp_factor, quint32(blockingFactor));
    for (const QString &f : backupFiles)
        b.text(BkpFile, f);
    return b.bytes();
}

QByteArray restoreRequest(const QStringList &dbs, const QStringList &backupFiles, quint32 options,
                          bool verbose, int pageSize, int pageBuffers) {
    Builder b(ActionRestore);
    b.integer(Options, options);
    if (verbose)
        b.flag(Verbose);
    if (pageSize > 0)
        b.integer(isc_spb_res_page_size, quint32(pageSize));
    if (pageBuffers > 0)
        b.integer(isc_spb_res_buffers, quint32(pageBuffers));
    for (const QString &f : backupFiles)
        b.text(BkpFile, f);
    for (const QString &d : dbs)
        b.text(DbName, d);
    return b.bytes();
}

QByteArray validationRequest(const QString &db) {
    return Builder(ActionRepair)
        .text(DbName, db)
        .integer(Options, RprValidateDb)
        .integer(Options, RprFull | RprValidateDb)
        .bytes();
}

QByteArray addUserRequest(const UserFields &u) {
    if (u.userName.isEmpty() || u.userName.contains(QLatin1Char(' ')))
        throw LayerError(Msg::StartParamsMissing);
    return Builder(ActionAddUser)
        .text(SecUserName, u.userName)
        .integer(SecUserId, quint32(u.userId))
        .integer(SecGroupId, quint32(u.groupId))
        .text(SecPassword, u.password)
        .text(SecFirstName, u.firstName)
        .text(SecMiddleName, u.middleName)
        .text(SecLastName, u.lastName)
        .text(SqlRoleName, u.sqlRole)
        .bytes();
}

QByteArray deleteUserRequest(const QString &userName) {
    if (userName.isEmpty())
        throw LayerError(Msg::StartParamsMissing);
    return Builder(ActionDeleteUser).text(SecUserName, userName).bytes();
}

QByteArray modifyUserRequest(const UserFields &u, unsigned changed) {
    if (u.userName.isEmpty())
        throw LayerError(Msg::StartParamsMissing);
    Builder b(ActionModifyUser);
    b.text(SecUserName, u.userName);
    if (changed & FieldUserId)
        b.integer(SecUserId, quint32(u.userId));
    if (changed & FieldGroupId)
        b.integer(SecGroupId, quint32(u.groupId));
    if (changed & FieldPassword)
        b.text(SecPassword, u.password);
    if (changed & FieldFirstName)
        b.text(SecFirstName, u.firstName);
    if (changed & FieldMiddleName)
        b.text(SecMiddleName, u.middleName);
    if (changed & FieldLastName)
        b.text(SecLastName, u.lastName);
    b.text(SqlRoleName, u.sqlRole);
    return b.bytes();
}

QByteArray displayUserRequest(const QString &userName) {
    return Builder(ActionDisplayUser).text(SecUserName, userName).bytes();
}

// ---------------------------------------------------------------------------------------------

std::optional<QString> parseLine(const QByteArray &reply, bool *notReady) {
    ReplyReader r(reply.constData(), int(reply.size()));
    r.expectByte(InfoLine);
    const QByteArray line = r.text16();
    // Nothing read yet while the action goes on (seen on a busy machine): not the end of its output.
    const bool waiting = line.isEmpty() && r.peekByte() == InfoDataNotReady;
    if (waiting)
        r.byte();
    r.expectByte(InfoEnd);
    if (notReady)
        *notReady = waiting;
    if (waiting)
        return QString();
    if (line.isEmpty())
        return std::nullopt;
    QString text = ClientText::decode(line);
    // The server turns the line's own line feed into one trailing blank.
    if (text.endsWith(QLatin1Char(' ')))
        text.chop(1);
    return text;
}

bool parseRunning(const QByteArray &reply) {
    ReplyReader r(reply.constData(), int(reply.size()));
    r.expectByte(InfoRunning);
    return r.i32() != 0;
}

ServerDbInfo parseServerDbInfo(const QByteArray &reply) {
    ServerDbInfo info;
    ReplyReader r(reply.constData(), int(reply.size()));
    r.expectByte(InfoSvrDbInfo);
    for (;;) {
        switch (r.byte()) {
        case NumAtt:
            info.attachments = r.i32();
            break;
        case NumDb:
            info.databases = r.i32();
            break;
        case DbName:
            info.names << ClientText::decode(r.text16());
            break;
        case InfoFlagEnd:
            return info;
        default:
            ReplyReader::fail();
        }
    }
}

ServerConfig parseServerConfig(const QByteArray &reply) {
    ServerConfig cfg;
    ReplyReader r(reply.constData(), int(reply.size()));
    while (!r.atEnd()) {
        const int item = r.byte();
        switch (item) {
        case InfoEnd:
            return cfg;
        case InfoGetConfig:
            for (;;) {
                const int key = r.byte();
                if (key == InfoFlagEnd)
                    break;
                cfg.pairs.append({key, r.i32()});
            }
            break;
        case InfoGetEnv:
            cfg.baseFolder = ClientText::decode(r.text16());
            break;
        case InfoGetEnvLock:
            cfg.lockFolder = ClientText::decode(r.text16());
            break;
        case InfoGetEnvMsg:
            cfg.messageFolder = ClientText::decode(r.text16());
            break;
        case InfoUserDbPath:
            cfg.securityDatabase = ClientText::decode(r.text16());
            break;
        default:
            ReplyReader::fail();
        }
    }
    ReplyReader::fail(); // no end marker
}

ServerVersion parseServerVersion(const QByteArray &reply) {
    ServerVersion v;
    ReplyReader r(reply.constData(), int(reply.size()));
    while (!r.atEnd()) {
        switch (r.byte()) {
        case InfoEnd:
            return v;
        case InfoVersion:
            v.serviceVersion = r.i32();
            break;
        case InfoServerVersion:
            v.serverVersion = ClientText::decode(r.text16());
            break;
        case InfoImplementation:
            v.implementation = ClientText::decode(r.text16());
            break;
        default:
            ReplyReader::fail();
        }
    }
    ReplyReader::fail();
}

QList<UserRecord> parseUsers(const QByteArray &reply) {
    QList<UserRecord> users;
    ReplyReader r(reply.constData(), int(reply.size()));
    r.expectByte(InfoGetUsers);
    r.u16(); // total length of what follows
    auto current = [&]() -> UserRecord & {
        if (users.isEmpty())
            ReplyReader::fail();
        return users.last();
    };
    for (;;) {
        switch (r.byte()) {
        case InfoEnd:
            return users;
        case SecUserName:
            users.append(UserRecord{});
            users.last().userName = ClientText::decode(r.text16());
            break;
        case SecFirstName:
            current().firstName = ClientText::decode(r.text16());
            break;
        case SecMiddleName:
            current().middleName = ClientText::decode(r.text16());
            break;
        case SecLastName:
            current().lastName = ClientText::decode(r.text16());
            break;
        case SecUserId:
            current().userId = r.i32();
            break;
        case SecGroupId:
            current().groupId = r.i32();
            break;
        default:
            ReplyReader::fail();
        }
    }
}

} // namespace Spb
