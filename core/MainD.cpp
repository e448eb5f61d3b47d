#include "core/MainD.h"

#include "platform/Errors.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "platform/RootFiles.h"

#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <optional>
#include <unistd.h>

namespace {
const QString kSection = QStringLiteral("Ogolne");

QString refusedSettings(const QString &file, const QString &why) {
    return QStringLiteral(
               "Plik ustawień %1 może zmienić nie tylko root (%2). Program uruchomiony jako %3 nie "
               "korzysta z takich ustawień: operator mógłby nimi kierować pracą roota.\rUżyj ustawień, "
               "które zmienia tylko root, np. --settings /etc/qkadmin/firma.ini (chown root:root; chmod "
               "644), albo uruchom program jako operator.")
        .arg(file, why, RootFiles::runningAs());
}

} // namespace

QString ConnectionSettings::exchangeRoot() const {
    return Paths::driveRoot(DatabaseFolder);
}

TMainDm::TMainDm(const QString &settingsFolder, const QString &settingsFile)
    : EmployeeTran(&EmployeeDb), IBQuery1(QStringLiteral("IBQuery1"), &EmployeeDb, &EmployeeTran),
      IBQuery2(QStringLiteral("IBQuery2"), &EmployeeDb, &EmployeeTran),
      IBQuery3(QStringLiteral("IBQuery3"), &EmployeeDb, &EmployeeTran),
      IBQuery4(QStringLiteral("IBQuery4"), &EmployeeDb, &EmployeeTran),
      IBQuery5(QStringLiteral("IBQuery5"), &EmployeeDb, &EmployeeTran),
      IBQuery6(QStringLiteral("IBQuery6"), &EmployeeDb, &EmployeeTran),
      IBQuery7(QStringLiteral("IBQuery7"), &EmployeeDb, &EmployeeTran),
      IBQuery8(QStringLiteral("IBQuery8"), &EmployeeDb, &EmployeeTran), IBDatabaseInfo1(&EmployeeDb),
      IBConfigService(QStringLiteral("IBConfigService")), IBBackup(QStringLiteral("IBBackup")),
      IBRestore(QStringLiteral("IBRestore")), IBValidate(QStringLiteral("IBValidate")),
      IBStat(QStringLiteral("IBStat")), IBLog(QStringLiteral("IBLog")),
      IBSecurity(QStringLiteral("IBSecurity")), IBProperties(QStringLiteral("IBProperties")),
      m_settingsFolder(settingsFolder), m_settingsFile(settingsFile) {
    EmployeeDb.params = {QStringLiteral("user_name=") + adminUser(),
                         QStringLiteral("password=") + adminPassword()};
    EmployeeDb.loginPrompt = false;
    EmployeeDb.defaultTransaction = &EmployeeTran;
    IBQuery2.setSql(QStringLiteral("select ILE from FJ_BAZA where LP=1"));
    // The counter reset and the unlock of the document journals, as the connection reset runs them.
    for (const char *l : {"update FJ_BAZA", "set", "  ILE = 0", "where", " LP =1"})
        IBQuery3.addLine(QString::fromLatin1(l));
    for (const char *l : {"UPDATE FJ_DKSI", "SET", "BLOK='N' ", "where", "TYPR  <>  ''"})
        IBQuery4.addLine(QString::fromLatin1(l));
    IBBackup.verbose = true;
    IBBackup.options = Spb::BkpNoTriggers; // the program's own attachment: none of the database's code
    IBBackup.blockingFactor = 0;
    IBRestore.verbose = true;
    // Create, never replace: the server's replace drops the live database before it has read the backup.
    IBRestore.options = Spb::ResCreate;
    IBRestore.pageSize = 0;
    IBRestore.pageBuffers = 0;
    IBSecurity.securityAction = SecurityService::Action::AddUser;
}

TMainDm::~TMainDm() {
    shutDown();
}

void TMainDm::shutDown() {
    try {
        EmployeeDb.close();
    } catch (...) {
        // The program ends either way; the server rolls back what it could not commit.
    }
    for (Service *s : std::initializer_list<Service *>{&IBConfigService, &IBBackup, &IBRestore, &IBValidate,
                                                       &IBStat, &IBLog, &IBSecurity, &IBProperties}) {
        try {
            s->detach();
        } catch (...) {
        }
    }
}

Service::Protocol TMainDm::protocolFromLetter(const QString &letter) {
    const QString l = letter.toUpper();
    if (l == QLatin1String("L"))
        return Service::Protocol::Local;
#ifdef Q_OS_WIN
    if (l == QLatin1String("S"))
        return Service::Protocol::SPX;
    if (l == QLatin1String("N"))
        return Service::Protocol::NamedPipe;
#endif
    // No SPX and no named pipes elsewhere: a setup.ini brought from a workstation set to S or N
    // reaches the local server over TCP, as its database connection does.
    return Service::Protocol::TCP;
}

bool TMainDm::hasServerPrefix(const QString &name) {
    if (name.startsWith(QLatin1String("\\\\")))
        return true;
    const qsizetype colon = name.indexOf(QLatin1Char(':'));
    if (colon <= 1) // none, or a drive letter
        return false;
    // "host:path" or "host/port:path"; an absolute path never starts a server name.
    const QString head = name.left(colon);
    return !head.startsWith(QLatin1Char('/')) && !head.contains(QLatin1Char('\\'));
}

namespace {

QString credentialsFile() {
    const QString dir = qEnvironmentVariable("CREDENTIALS_DIRECTORY");
    return dir.isEmpty() ? QString() : dir + QStringLiteral("/credentials");
}

// The credentials file's bytes; nullopt when there is none, or when a privileged run may not trust it
// (why says so): root's, or the unit's own copy that systemd made for this run.
std::optional<QByteArray> credentialsText(QString *why = nullptr) {
    const QString file = credentialsFile();
    if (file.isEmpty())
        return std::nullopt;
    if (RootFiles::privilegedRun()) {
        QString reason;
        const std::optional<QByteArray> text = RootFiles::readRootsFile(file, reason, ::geteuid());
        if (!text && why)
            *why = reason;
        return text;
    }
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return f.readAll();
}

// A value of the credentials file systemd hands a unit ($CREDENTIALS_DIRECTORY/credentials, KEY=VALUE
// lines as /etc/qkadmin/credentials has them); nullopt when there is none.
std::optional<QString> credential(const char *key) {
    const std::optional<QByteArray> text = credentialsText();
    if (!text)
        return std::nullopt;
    for (const QByteArray &raw : text->split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith(QByteArray(key) + '='))
            return QString::fromUtf8(line.mid(qsizetype(std::strlen(key)) + 1));
    }
    return std::nullopt;
}

} // namespace

QString TMainDm::adminUser() {
    QString user = qEnvironmentVariable("ISC_USER").trimmed();
    if (user.isEmpty())
        user = credential("ISC_USER").value_or(QString()).trimmed();
    return user.isEmpty() ? kAdminUser : user;
}

QString TMainDm::adminPassword() {
    if (qEnvironmentVariableIsSet("ISC_PASSWORD"))
        return qEnvironmentVariable("ISC_PASSWORD");
    return credential("ISC_PASSWORD").value_or(kAdminPassword);
}

void TMainDm::checkDatabaseFile() const {
    if (!m_embeddedRefusal.isEmpty())
        throw QkError(m_embeddedRefusal);
    const QString where = QStringLiteral(" (plik %1, sekcja [Ogolne], klucz sciezka)").arg(settingsFile());
    if (Settings.DatabasePath.trimmed().isEmpty())
        throw QkError(
            QStringLiteral(
                "Nie wskazano folderu bazy danych%1.\rWpisz folder, w którym leży baza %2, w polu "
                "\"Położenie Bazy Danych\" na zakładce \"IB Conguration\" i zamknij program: folder zostanie "
                "zapisany, a przy następnym uruchomieniu program połączy się z bazą.")
                .arg(where, Settings.DatabaseFileName));
    if (hasServerPrefix(Settings.DatabasePath))
        return; // a folder on another machine: only the server can tell
    const QFileInfo folder(Settings.DatabasePath);
    if (!folder.exists())
        throw QkError(
            QStringLiteral("Folder bazy danych %1 nie istnieje%2.").arg(Settings.DatabasePath, where));
    if (folder.isDir() && folder.isReadable() && folder.isExecutable() &&
        !QFileInfo::exists(Settings.fullDatabaseName()))
        throw QkError(QStringLiteral("W folderze %1 nie ma bazy danych %2%3.")
                          .arg(Settings.DatabasePath, Settings.DatabaseFileName, where));
}

QStringList TMainDm::connectionParams(const QString &protocolLetter, const QString &databaseName,
                                      bool databaseTriggers) {
    QStringList p{QStringLiteral("user_name=") + adminUser(), QStringLiteral("password=") + adminPassword()};
    if (!databaseTriggers)
        p << QStringLiteral("no_db_triggers=1");
    // A plain path goes to the embedded engine for L, to the local server otherwise; the services
    // reach the same place through their address.
    if (!hasServerPrefix(databaseName))
        p << (protocolFromLetter(protocolLetter) == Service::Protocol::Local
                  ? QStringLiteral("config=Providers=Engine12")
                  : QStringLiteral("config=Providers=Remote,Loopback"));
    return p;
}

void TMainDm::prepareConnection(Database &db, const QString &databaseName) const {
    db.setDatabaseName(databaseName);
    db.params = connectionParams(Settings.ProtocolLetter, databaseName);
    db.loginPrompt = false;
}

void TMainDm::ReadSettings() {
    const QString file = settingsFile();
    if (createMissingSettings && !QFileInfo::exists(file)) {
        writeKeys({{QStringLiteral("sciezka"), {}},
                   {QStringLiteral("serwer"), {}},
                   {QStringLiteral("protokol"), {}},
                   {QStringLiteral("cien"), {}}});
    }
    // Read once: the four values come from one file, the one that was checked.
    QByteArray text;
    if (RootFiles::privilegedRun()) {
        QString why;
        const std::optional<QByteArray> trusted = RootFiles::readRootsFile(file, why);
        if (!trusted)
            throw QkError(refusedSettings(file, why));
        text = *trusted;
    } else {
        QFile f(file);
        if (f.open(QIODevice::ReadOnly))
            text = f.readAll();
    }
    Settings.DatabasePath = IniText::readString(text, kSection, QStringLiteral("sciezka"));
    Settings.ServerSetting = IniText::readString(text, kSection, QStringLiteral("serwer"));
    Settings.ProtocolLetter = IniText::readString(text, kSection, QStringLiteral("protokol"));
    Settings.ShadowPath = IniText::readString(text, kSection, QStringLiteral("cien"));
    m_settingsText = text;
}

void TMainDm::PrepareService(Service &service) {
    service.detach();
    service.serverName = Settings.ServiceServerName;
    service.protocol = Settings.ServiceProtocol;
    service.loginPrompt = false;
    service.setParams({QStringLiteral("user_name=") + adminUser().toLower(),
                       QStringLiteral("password=") + adminPassword()});
}

void TMainDm::DataModuleCreate() {
    Configure();
    OpenFirstConnection();
}

void TMainDm::OpenFirstConnection() {
    checkDatabaseFile();
    IBQuery2.open(); // attaches and starts the transaction; the first activation ends it
}

void TMainDm::Configure() {
    QString why;
    if (RootFiles::privilegedRun() && !credentialsText(&why) && !why.isEmpty())
        throw QkError(
            QStringLiteral("Plik danych logowania %1 może zmienić nie tylko root (%2). Program uruchomiony "
                           "jako %3 go nie czyta.\rNadaj mu właściciela root i prawa 600 (chown root:root "
                           "%1; chmod 600 %1).")
                .arg(credentialsFile(), why, RootFiles::runningAs()));
    ReadSettings();
    Settings.DatabaseFileName = QStringLiteral("bazaqk.adb");
    Settings.DatabaseFolder = Settings.DatabasePath + Paths::separator();
    Settings.ServiceServerName = QStringLiteral("localhost");
    Settings.ServiceProtocol = protocolFromLetter(Settings.ProtocolLetter);
    const QString db = Settings.fullDatabaseName();

    PrepareService(IBConfigService);
    IBConfigService.databaseName = db;
    PrepareService(IBBackup);
    IBBackup.verbose = true;
    IBBackup.databaseName = db;
    IBBackup.backupFiles = {Settings.backupFileName()};
    PrepareService(IBRestore);
    IBRestore.verbose = true;
    IBRestore.databaseNames = {db};
    IBRestore.backupFiles = {Settings.backupFileName()};
    PrepareService(IBValidate);
    IBValidate.databaseName = db;
    IBValidate.validateDb = true;
    IBValidate.validateFull = true;
    PrepareService(IBStat);
    IBStat.databaseName = db;
    IBStat.options = Spb::StsDataPages | Spb::StsIdxPages;
    PrepareService(IBLog);
    PrepareService(IBSecurity);
    PrepareService(IBProperties);

    IBQuery2.database()->setDatabaseName(db);
    EmployeeDb.params =
        connectionParams(Settings.ProtocolLetter, db, databaseTriggers && !RootFiles::privilegedRun());
    m_embeddedRefusal = onlyLooks ? QString() : embeddedRefusal();
    if (!m_embeddedRefusal.isEmpty()) {
        EmployeeDb.params = connectionParams(QStringLiteral("T"), db);
        for (Service *s :
             std::initializer_list<Service *>{&IBConfigService, &IBBackup, &IBRestore, &IBValidate, &IBStat,
                                              &IBLog, &IBSecurity, &IBProperties})
            s->protocol = Service::Protocol::TCP;
        throw QkError(m_embeddedRefusal);
    }
}

QString TMainDm::embeddedRefusal() const {
    if (!RootFiles::privilegedRun() || Settings.ServiceProtocol != Service::Protocol::Local ||
        hasServerPrefix(Settings.DatabasePath) || Settings.DatabasePath.trimmed().isEmpty() ||
        !QFileInfo(Settings.DatabasePath).isDir())
        return {}; // a missing folder is said by checkDatabaseFile
    const QString why = RootFiles::othersMayReplace(Settings.fullDatabaseName(), ::geteuid());
    if (why.isEmpty())
        return {};
    const QString me = RootFiles::runningAs();
    return QStringLiteral(
               "Bazę danych %1 może zmienić lub podmienić ktoś inny niż %2 (%3). Program uruchomiony jako "
               "%4 nie otwiera takiej bazy wbudowanym silnikiem (protokół L): jej wyzwalacze działałyby z "
               "prawami %4. Nic nie zostało wykonane.\rUżyj serwera, tak jak zadania nocne: w pliku "
               "ustawień %5 wpisz protokol=T, albo uruchom program jako operator.")
        .arg(Settings.fullDatabaseName(),
             me == QLatin1String("root") ? me : QStringLiteral("root i %1").arg(me), why, me, settingsFile());
}

void TMainDm::writeKey(const QString &key, const QString &value) {
    writeKeys({{key, value}});
}

void TMainDm::writeKeys(const QList<std::pair<QString, QString>> &entries) {
    if (RootFiles::privilegedRun())
        if (const QString why = RootFiles::refusedForWriting(settingsFile()); !why.isEmpty())
            throw QkError(refusedSettings(settingsFile(), why));
    // One rewrite: a failed save leaves the file as it was, never some keys without the others.
    IniFile::writeStrings(settingsFile(), kSection, entries);
}

void TMainDm::WriteSettings(const QString &path, const QString &server, const QString &protocol,
                            const QString &shadow) {
    writeKeys({{QStringLiteral("sciezka"), path},
               {QStringLiteral("serwer"), server},
               {QStringLiteral("protokol"), protocol},
               {QStringLiteral("cien"), shadow}});
}

void TMainDm::WriteD1(const QString &value) {
    writeKey(QStringLiteral("d1"), value);
}

void TMainDm::WriteD2(const QString &value) {
    writeKey(QStringLiteral("d2"), value);
}
