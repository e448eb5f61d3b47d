#include "admin/AdminOps.h"

#include "core/MainD.h"
#include "core/ServiceRun.h"
#include "platform/Convert.h"

#include <functional>

namespace AdminOps {

namespace {

const QString kSeparator(50, QLatin1Char('-'));

// Busy cursor, attach, the request, then polling until the server has finished.
void configure(TMainDm &dm, Operator &op, int sleepMs, const std::function<void(ConfigService &)> &request) {
    op.beginBusy();
    ConfigService &s = dm.IBConfigService;
    ServiceRun run(s, op);
    s.attach();
    request(s);
    s.waitWhileRunning(sleepMs);
}

void report(Service &service, Operator &op, Operator::Log memo) {
    op.clearLog(memo);
    op.beginBusy();
    ServiceRun run(service, op);
    service.attach();
    service.serviceStart();
    copyOutput(service, op, memo);
}

} // namespace

void shutdownDatabase(TMainDm &dm, Operator &op) {
    configure(dm, op, 10, [](ConfigService &s) { s.shutdownDatabase(Spb::ShutdownMode::Forced, 0); });
}

void bringDatabaseOnline(TMainDm &dm, Operator &op) {
    configure(dm, op, 10, [](ConfigService &s) { s.bringDatabaseOnline(); });
}

void setWriteMode(TMainDm &dm, Operator &op, int item) {
    configure(dm, op, 5, [item](ConfigService &s) { s.setAsyncMode(item == 0); });
}

void setAccessMode(TMainDm &dm, Operator &op, int item) {
    configure(dm, op, 5, [item](ConfigService &s) { s.setReadOnly(item == 0); });
}

void setReserveSpace(TMainDm &dm, Operator &op, int item) {
    configure(dm, op, 5, [item](ConfigService &s) { s.setReserveSpace(item == 0); });
}

void setSqlDialect(TMainDm &dm, Operator &op, int item) {
    // The server refuses dialect 2: "2" sends 3, as "3" does.
    configure(dm, op, 5, [item](ConfigService &s) { s.setDbSqlDialect(item == 0 ? 1 : 3); });
}

void setPageBuffers(TMainDm &dm, Operator &op, const QString &text) {
    configure(dm, op, 5, [&text](ConfigService &s) { s.setPageBuffers(StrToInt(text)); });
}

void setSweepInterval(TMainDm &dm, Operator &op, const QString &text) {
    configure(dm, op, 5, [&text](ConfigService &s) { s.setSweepInterval(StrToInt(text)); });
}

void statistics(TMainDm &dm, Operator &op) {
    report(dm.IBStat, op, Operator::Log::Statistics);
}

void serverLog(TMainDm &dm, Operator &op) {
    report(dm.IBLog, op, Operator::Log::Statistics);
}

QString configKeyLabel(int key) {
    static const char *const labels[] = {
        "LockMem",  "LockSem",  "LockSig",   "EventMem",    "DbCache",       "Priority",   "IPCMap",
        "MemMin",   "MemMax",   "LockOrder", "AnyLockMem",  "AnyLockSem",    "AnyLockSig", "AnyEventMem",
        "LockHash", "Deadlock", "LockSpin",  "Conn Timout", "Dummy Interval"};
    if (key >= 0 && key < int(std::size(labels)))
        return QString::fromLatin1(labels[key]);
    return QStringLiteral("Key %1").arg(key);
}

void serverProperties(TMainDm &dm, Operator &op) {
    const Operator::Log memo = Operator::Log::Properties;
    auto line = [&](const QString &text) { op.appendLine(memo, text); };
    op.clearLog(memo);
    PropertiesService &p = dm.IBProperties;
    p.attach();
    DetachOnExit detach(p);

    ReopenOnExit reopen(dm.EmployeeDb); // the connection is closed part way; open again at the end
    dm.EmployeeDb.open();               // the system's own attachment is counted
    const Spb::ServerDbInfo info = p.fetchDatabaseInfo();
    line(QStringLiteral("Number of attachments: %1").arg(info.attachments));
    line(QStringLiteral("Number of databases: %1").arg(info.databases));
    line(kSeparator);
    line(QStringLiteral("Database Files"));
    for (const QString &name : info.names)
        line(name);
    line(kSeparator);
    dm.EmployeeDb.close();

    const Spb::ServerConfig cfg = p.fetchConfigParams();
    line(QStringLiteral("Base File Folder: ") + cfg.baseFolder);
    line(QStringLiteral("Lock File Folder: ") + cfg.lockFolder);
    line(QStringLiteral("Message File Folder: ") + cfg.messageFolder);
    line(QStringLiteral("Security Database: ") + cfg.securityDatabase);
    line(kSeparator);
    for (const auto &[key, value] : cfg.pairs)
        line(configKeyLabel(key) + QStringLiteral(": ") + QString::number(value));
    line(kSeparator);

    const Spb::ServerVersion v = p.fetchVersionInfo();
    line(QStringLiteral("Server Version: ") + v.serverVersion);
    line(QStringLiteral("Server Implementation: ") + v.implementation);
    line(QStringLiteral("Service Version: %1").arg(v.serviceVersion));
}

void activeUsers(TMainDm &dm, Operator &op) {
    const Operator::Log memo = Operator::Log::Attachments;
    op.clearLog(memo);
    dm.EmployeeDb.open();
    for (const QString &name : dm.IBDatabaseInfo1.userNames())
        op.appendLine(memo, name);
}

} // namespace AdminOps
