#pragma once

#include "db/Database.h"
#include "db/DatabaseInfo.h"
#include "db/Query.h"
#include "db/Services.h"
#include "db/Transaction.h"

#include <QString>

// Read once at start-up and fixed for the whole run.
struct ConnectionSettings {
    QString DatabasePath;     // "sciezka"
    QString ServerSetting;    // "serwer": shown and saved only
    QString ProtocolLetter;   // "protokol"
    QString ShadowPath;       // "cien"
    QString DatabaseFolder;   // DatabasePath + separator, always appended
    QString DatabaseFileName; // "bazaqk.adb"
    QString ServiceServerName;
    Service::Protocol ServiceProtocol = Service::Protocol::TCP;

    QString fullDatabaseName() const { return DatabaseFolder + DatabaseFileName; }
    QString backupFileName() const { return DatabaseFolder + QStringLiteral("bazaqk.abk"); }
    // The root of the exchange files (drive C: on Windows).
    QString exchangeRoot() const;
};

// The data module: the one connection, its transaction, the statement objects and the services,
// configured from setup.ini. Operations receive it by reference; nothing else creates connections.
class TMainDm {
public:
    static inline const QString kAdminUser = QStringLiteral("SYSDBA");
    static inline const QString kAdminPassword = QStringLiteral("quillstep");
    // The administrator every connection and service uses: ISC_USER and ISC_PASSWORD when set (the
    // client library's own convention; a server has a password of its own), else the built-in ones.
    static QString adminUser();
    static QString adminPassword();
    // Says in Polish what is missing when setup.ini names no database folder, or the folder holds no
    // database (instead of the engine's message about "/bazaqk.adb"), or that this run may not open it
    // (embeddedRefusal); nothing when it can't tell.
    void checkDatabaseFile() const;

    // settingsFolder holds setup.ini, jn.ini and paczki (the executable's folder, ending with the
    // separator); settingsFile names another settings file instead of its setup.ini.
    // Throws LibraryMissingError when the client library cannot be loaded.
    explicit TMainDm(const QString &settingsFolder, const QString &settingsFile = QString());
    ~TMainDm();
    TMainDm(const TMainDm &) = delete;
    TMainDm &operator=(const TMainDm &) = delete;

    ConnectionSettings Settings;
    // A read-only caller (health) leaves a missing settings file missing.
    bool createMissingSettings = true;
    // Whether the shared connection runs the database's own triggers (ON CONNECT, ON DISCONNECT, ON
    // TRANSACTION ...): yes for a run that changes the books (the window, an import, the connection
    // reset), whose work the accounting program's triggers must see; no for the program's own work
    // (backups, verification, health, reports), and never in a privileged run, where the embedded
    // engine would run a database's code, placed in a folder the operators write, with root's rights.
    // Table triggers run either way. Every other connection the program opens runs none. Read by
    // Configure.
    bool databaseTriggers = true;
    // A run that only looks at the database (health: reads, no statement that writes, so no table trigger
    // fires) may open on the embedded engine, as root too, a database others may write.
    bool onlyLooks = false;
    // Why a privileged run may not open this database on the embedded engine, in Polish; empty when it
    // may. A database file, or a folder above it, that anyone but root or the run's own user may write
    // would have the engine run that database's table triggers inside root's process; the server runs them
    // as its own user. Configure throws it (unless onlyLooks), and routes the connection and the services
    // to the server first, so nothing that tries again afterwards reaches the embedded engine;
    // checkDatabaseFile says it again.
    QString embeddedRefusal() const;

    Database EmployeeDb;
    Transaction EmployeeTran;
    Query IBQuery1, IBQuery2, IBQuery3, IBQuery4, IBQuery5, IBQuery6, IBQuery7, IBQuery8;
    DatabaseInfo IBDatabaseInfo1;
    ConfigService IBConfigService;
    BackupService IBBackup;
    RestoreService IBRestore;
    ValidationService IBValidate;
    StatisticsService IBStat;
    LogService IBLog;
    SecurityService IBSecurity;
    PropertiesService IBProperties;

    QString settingsFile() const {
        return m_settingsFile.isEmpty() ? m_settingsFolder + QStringLiteral("setup.ini") : m_settingsFile;
    }
    const QString &settingsFolder() const { return m_settingsFolder; }

    void ReadSettings();
    // The settings file's bytes as ReadSettings read them, once, from the descriptor it checked: every
    // section a run uses ([Ogolne], [Zewnetrzna]) comes from this one read, never from the file again.
    const QByteArray &settingsText() const { return m_settingsText; }
    // The start-up set-up; a failure leaves the remaining steps undone and propagates.
    void DataModuleCreate();
    // The set-up without the first connection: settings, services and the connection's parameters.
    void Configure();
    // The first connection, after Configure: attaches and starts the transaction (the first activation ends
    // it).
    void OpenFirstConnection();
    void PrepareService(Service &service);
    void WriteSettings(const QString &path, const QString &server, const QString &protocol,
                       const QString &shadow);
    void WriteD1(const QString &value);
    void WriteD2(const QString &value);

    // Closes the connection (committing) and detaches every service; never throws.
    void shutDown();

    static Service::Protocol protocolFromLetter(const QString &letter);
    // The connection's parameter lines: credentials, for a plain path its routing, and unless
    // databaseTriggers the request that the database's own triggers do not run.
    static QStringList connectionParams(const QString &protocolLetter, const QString &databaseName,
                                        bool databaseTriggers = false);
    // A connection of an operation's own to databaseName, routed and credentialed as the module's;
    // the database's own triggers do not run on it.
    void prepareConnection(Database &db, const QString &databaseName) const;
    static bool hasServerPrefix(const QString &databaseName);

private:
    void writeKey(const QString &key, const QString &value);
    void writeKeys(const QList<std::pair<QString, QString>> &entries);
    QString m_settingsFolder;
    QString m_settingsFile;
    QByteArray m_settingsText;
    QString m_embeddedRefusal;
};
