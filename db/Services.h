#pragma once

#include "db/Service.h"

// The eight kinds of service the data module owns.

// Configuration changes: no generic start, one specific request per change.
class ConfigService : public Service {
public:
    using Service::Service;
    QString databaseName;
    void serviceStart() override;
    void shutdownDatabase(Spb::ShutdownMode mode, int waitSeconds);
    void bringDatabaseOnline();
    void setAsyncMode(bool async);
    void setReadOnly(bool readOnly);
    void setReserveSpace(bool reserve);
    void setPageBuffers(int buffers);
    void setSweepInterval(int interval);
    void setDbSqlDialect(int dialect);
};

class BackupService : public Service {
public:
    using Service::Service;
    QString databaseName;
    QStringList backupFiles;
    bool verbose = false;
    quint32 options = 0;
    int blockingFactor = 0;

protected:
    QByteArray startBlock() const override;
};

class RestoreService : public Service {
public:
    using Service::Service;
    QStringList databaseNames;
    QStringList backupFiles;
    bool verbose = false;
    quint32 options = 0;
    int pageSize = 0;
    int pageBuffers = 0;

protected:
    QByteArray startBlock() const override;
};

class ValidationService : public Service {
public:
    using Service::Service;
    QString databaseName;
    bool validateDb = false;
    bool validateFull = false;

protected:
    QByteArray startBlock() const override;
};

class StatisticsService : public Service {
public:
    using Service::Service;
    QString databaseName;
    quint32 options = 0;

protected:
    QByteArray startBlock() const override;
};

class LogService : public Service {
public:
    using Service::Service;

protected:
    QByteArray startBlock() const override;
};

// User accounts. The user fields are emptied after every add, modify and delete request.
class SecurityService : public Service {
public:
    using Service::Service;
    enum class Action { AddUser, DeleteUser, ModifyUser, DisplayUser };
    Action securityAction = Action::AddUser;

    const Spb::UserFields &fields() const { return m_fields; }
    void setUserName(const QString &v) { m_fields.userName = v; }
    void setSqlRole(const QString &v) { m_fields.sqlRole = v; }
    void setPassword(const QString &v);
    void setFirstName(const QString &v);
    void setMiddleName(const QString &v);
    void setLastName(const QString &v);
    void setUserId(qint32 v);
    void setGroupId(qint32 v);

    void addUser();
    void deleteUser();
    void modifyUser();
    // Starts the display request for one user and reads the list the server answers.
    QList<Spb::UserRecord> displayUser(const QString &userName);

protected:
    QByteArray startBlock() const override;

private:
    void clearUserFields();
    Spb::UserFields m_fields;
    unsigned m_changed = 0;
};

class PropertiesService : public Service {
public:
    using Service::Service;
    Spb::ServerConfig fetchConfigParams();
    Spb::ServerVersion fetchVersionInfo();
};
