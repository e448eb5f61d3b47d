#pragma once

#include <QString>

class Operator;
class TMainDm;

// Server administration: the database's configuration through the configuration service, and the
// read-only reports (statistics, server log, server properties, attached users).
namespace AdminOps {

void shutdownDatabase(TMainDm &dm, Operator &op);
void bringDatabaseOnline(TMainDm &dm, Operator &op);
// Radio-group choices by item index: 0 is the first item.
void setWriteMode(TMainDm &dm, Operator &op, int item);
void setAccessMode(TMainDm &dm, Operator &op, int item);
void setReserveSpace(TMainDm &dm, Operator &op, int item);
void setSqlDialect(TMainDm &dm, Operator &op, int item);
// The edit's text as typed; a text that is no integer sends nothing.
void setPageBuffers(TMainDm &dm, Operator &op, const QString &text);
void setSweepInterval(TMainDm &dm, Operator &op, const QString &text);

void statistics(TMainDm &dm, Operator &op);
void serverLog(TMainDm &dm, Operator &op);
void serverProperties(TMainDm &dm, Operator &op);
void activeUsers(TMainDm &dm, Operator &op);

// The label of a server configuration key; "Key N" for keys the server added later.
QString configKeyLabel(int key);

} // namespace AdminOps
