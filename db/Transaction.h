#pragma once

#include "db/FbClient.h"

#include <QStringList>

class Database;

// One transaction on one connection. Started explicitly or by a statement's open or execute;
// never ended by the layer while the connection stays open.
class Transaction {
public:
    explicit Transaction(Database *db = nullptr);
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    Database *database() const { return m_db; }
    void setDatabase(Database *db);
    QStringList params; // empty: the server's default transaction behaviour

    bool active() const { return m_handle != 0; }
    void start();
    void commit();
    void rollback();
    // The default end action, used when the connection closes.
    void endByDefault() { commit(); }

    isc_tr_handle *handle() { return &m_handle; }

    // The guarded pattern: start if not active, run f, commit if active; on any failure roll back if
    // active and pass the error on.
    template <typename F> void guarded(F &&f) {
        try {
            if (!active())
                start();
            f();
            if (active())
                commit();
        } catch (...) {
            if (active())
                rollback();
            throw;
        }
    }

private:
    friend class Database;
    void closeStatements();
    void end(bool commit);

    Database *m_db = nullptr;
    isc_tr_handle m_handle = 0;
};
