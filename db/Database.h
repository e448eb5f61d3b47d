#pragma once

#include "db/FbClient.h"

#include <QString>
#include <QStringList>

#include <vector>

class Query;
class Transaction;

// The connection. Attaches on open (or when a statement needs it), detaches on close, which first
// closes every statement and commits every active transaction.
class Database {
public:
    Database();
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    const QString &databaseName() const { return m_name; }
    // The same name does nothing; a different one while connected fails.
    void setDatabaseName(const QString &name);

    // Lines "name=value": user_name, password, config (per-attachment configuration), lc_ctype,
    // sql_role_name, no_db_triggers (1: none of the database's own triggers run for this attachment; the
    // administrator's only).
    QStringList params;
    bool loginPrompt = false;
    Transaction *defaultTransaction = nullptr;

    // 3 unless lowered at attach to the database's own dialect.
    int sqlDialect() const { return m_sqlDialect; }
    void setSqlDialect(int dialect);

    void open();
    void close();
    bool connected() const { return m_handle != 0; }

    isc_db_handle *handle() { return &m_handle; }
    // Asks the server to stop the statement that runs on this connection, from another thread than the
    // one waiting for it: that statement then fails with the engine's own error ("operation was
    // cancelled") and its changes are undone. Nothing when not connected or the library lacks the call.
    void cancelOperation();
    FbClient &client() { return *m_client; }

    // The parameter block the connection sends; a plain function of the lines.
    static QByteArray buildParameterBlock(const QStringList &lines);

    // Raises the engine error of a failed call. When it says the connection is gone (the server
    // stopped, the network broke), the connection first forgets its handles, so that the next open
    // attaches anew instead of failing for ever on a dead attachment.
    void check(const ISC_STATUS *status);
    static bool isConnectionLost(long engineCode);
    // The database's SQL dialect from the isc_info_db_sql_dialect reply; 1 when the item is missing.
    static int parseDialect(const QByteArray &reply);

private:
    friend class Query;
    friend class Transaction;
    void registerQuery(Query *q) { m_queries.push_back(q); }
    void unregisterQuery(Query *q);
    void registerTransaction(Transaction *t) { m_transactions.push_back(t); }
    void unregisterTransaction(Transaction *t);
    int readDialect();
    void connectionLost();

    FbClient *m_client;
    QString m_name;
    int m_sqlDialect = 3;
    isc_db_handle m_handle = 0;
    std::vector<Query *> m_queries;
    std::vector<Transaction *> m_transactions;
};
