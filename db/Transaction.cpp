#include "db/Transaction.h"

#include "db/Database.h"
#include "db/Errors.h"
#include "db/Query.h"
#include "platform/Supervisor.h"

Transaction::Transaction(Database *db) {
    setDatabase(db);
}

Transaction::~Transaction() {
    if (active() && m_db) {
        try {
            rollback();
        } catch (...) {
        }
    }
    if (m_db)
        m_db->unregisterTransaction(this);
}

void Transaction::setDatabase(Database *db) {
    if (m_db == db)
        return;
    if (m_db)
        m_db->unregisterTransaction(this);
    m_db = db;
    if (m_db)
        m_db->registerTransaction(this);
}

void Transaction::start() {
    if (!m_db)
        throw LayerError(Msg::DatabaseNotAssigned);
    if (active())
        throw LayerError(Msg::TransactionActive);
    if (!m_db->connected())
        throw LayerError(Msg::DbNotOpen);
    struct {
        isc_db_handle *db;
        long tpbLength;
        const char *tpb;
    } teb{m_db->handle(), 0, nullptr};
    ISC_STATUS_ARRAY status;
    isc_tr_handle h = 0;
    m_db->client().start_multiple(status, &h, 1, &teb);
    m_db->check(status);
    m_handle = h;
}

void Transaction::commit() {
    end(true);
}

void Transaction::rollback() {
    end(false);
}

void Transaction::closeStatements() {
    for (Query *q : m_db->m_queries)
        if (q->transaction == this)
            q->release();
}

void Transaction::end(bool commit) {
    if (!active())
        throw LayerError(Msg::TransactionNotActive);
    // A result read in this transaction is never usable after it ends.
    closeStatements();
    ISC_STATUS_ARRAY status;
    // The end may take long: a commit builds the indexes its statements created, a rollback undoes a
    // year's deletions. The window's events keep turning meanwhile.
    Supervisor::Idle::whileBlocked([&] {
        if (commit)
            m_db->client().commit_transaction(status, &m_handle);
        else
            m_db->client().rollback_transaction(status, &m_handle);
    });
    m_db->check(status); // a failed commit leaves the transaction active
    m_handle = 0;
}
