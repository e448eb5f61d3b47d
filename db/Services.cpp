#include "db/Services.h"

#include "db/Errors.h"

void ConfigService::serviceStart() {
    throw LayerError(Msg::GenericStartNotApplicable);
}

void ConfigService::shutdownDatabase(Spb::ShutdownMode mode, int waitSeconds) {
    startRequest(Spb::shutdownRequest(databaseName, mode, waitSeconds));
}

void ConfigService::bringDatabaseOnline() {
    startRequest(Spb::onlineRequest(databaseName));
}

void ConfigService::setAsyncMode(bool async) {
    startRequest(Spb::writeModeRequest(databaseName, async));
}

void ConfigService::setReadOnly(bool readOnly) {
    startRequest(Spb::accessModeRequest(databaseName, readOnly));
}

void ConfigService::setReserveSpace(bool reserve) {
    startRequest(Spb::reserveSpaceRequest(databaseName, reserve));
}

void ConfigService::setPageBuffers(int buffers) {
    startRequest(Spb::pageBuffersRequest(databaseName, buffers));
}

void ConfigService::setSweepInterval(int interval) {
    startRequest(Spb::sweepIntervalRequest(databaseName, interval));
}

void ConfigService::setDbSqlDialect(int dialect) {
    startRequest(Spb::sqlDialectRequest(databaseName, dialect));
}

QByteArray BackupService::startBlock() const {
    return Spb::backupRequest(databaseName, backupFiles, options, verbose, blockingFactor);
}

QByteArray RestoreService::startBlock() const {
    return Spb::restoreRequest(databaseNames, backupFiles, options, verbose, pageSize, pageBuffers);
}

QByteArray ValidationService::startBlock() const {
    if (!validateDb && !validateFull)
        return {};
    return Spb::validationRequest(databaseName);
}

QByteArray StatisticsService::startBlock() const {
    return Spb::statisticsRequest(databaseName, options);
}

QByteArray LogService::startBlock() const {
    return Spb::logRequest();
}

void SecurityService::setPassword(const QString &v) {
    m_fields.password = v;
    m_changed |= Spb::FieldPassword;
}

void SecurityService::setFirstName(const QString &v) {
    m_fields.firstName = v;
    m_changed |= Spb::FieldFirstName;
}

void SecurityService::setMiddleName(const QString &v) {
    m_fields.middleName = v;
    m_changed |= Spb::FieldMiddleName;
}

void SecurityService::setLastName(const QString &v) {
    m_fields.lastName = v;
    m_changed |= Spb::FieldLastName;
}

void SecurityService::setUserId(qint32 v) {
    m_fields.userId = v;
    m_changed |= Spb::FieldUserId;
}

void SecurityService::setGroupId(qint32 v) {
    m_fields.groupId = v;
    m_changed |= Spb::FieldGroupId;
}

void SecurityService::clearUserFields() {
    const QString name = m_fields.userName;
    const QString role = m_fields.sqlRole;
    m_fields = Spb::UserFields{};
    m_fields.userName = name;
    m_fields.sqlRole = role;
    m_changed = 0;
}

QByteArray SecurityService::startBlock() const {
    switch (securityAction) {
    case Action::AddUser:
        return Spb::addUserRequest(m_fields);
    case Action::DeleteUser:
        return Spb::deleteUserRequest(m_fields.userName);
    case Action::ModifyUser:
        return Spb::modifyUserRequest(m_fields, m_changed);
    case Action::DisplayUser:
        return Spb::displayUserRequest(m_fields.userName);
    }
    return {};
}

void SecurityService::addUser() {
    securityAction = Action::AddUser;
    struct Clear {
        SecurityService *s;
        ~Clear() { s->clearUserFields(); }
    } clear{this};
    serviceStart();
}

void SecurityService::deleteUser() {
    securityAction = Action::DeleteUser;
    struct Clear {
        SecurityService *s;
        ~Clear() { s->clearUserFields(); }
    } clear{this};
    serviceStart();
}

void SecurityService::modifyUser() {
    securityAction = Action::ModifyUser;
    struct Clear {
        SecurityService *s;
        ~Clear() { s->clearUserFields(); }
    } clear{this};
    serviceStart();
}

QList<Spb::UserRecord> SecurityService::displayUser(const QString &userName) {
    securityAction = Action::DisplayUser;
    m_fields.userName = userName;
    serviceStart();
    return Spb::parseUsers(query(QByteArray(1, char(Spb::InfoGetUsers))));
}

Spb::ServerDbInfo Service::fetchDatabaseInfo() {
    return Spb::parseServerDbInfo(query(QByteArray(1, char(Spb::InfoSvrDbInfo))));
}

Spb::ServerConfig PropertiesService::fetchConfigParams() {
    const char items[] = {char(Spb::InfoGetConfig), char(Spb::InfoGetEnv), char(Spb::InfoGetEnvLock),
                          char(Spb::InfoGetEnvMsg), char(Spb::InfoUserDbPath)};
    return Spb::parseServerConfig(query(QByteArray(items, sizeof items)));
}

Spb::ServerVersion PropertiesService::fetchVersionInfo() {
    const char items[] = {char(Spb::InfoVersion), char(Spb::InfoServerVersion),
                          char(Spb::InfoImplementation)};
    return Spb::parseServerVersion(query(QByteArray(items, sizeof items)));
}
