#include "db/Database.h"

#include "db/Errors.h"
#include "db/Query.h"
#include "db/ReplyReader.h"
#include "db/Transaction.h"

#include "platform/AnsiCodec.h"
#include "platform/ClientText.h"
#include <iberror.h>

#include <algorithm>

namespace {

struct DpbName {
    const char *name;
    char code;
    bool number = false; // the value a one-byte number ("no_db_triggers=1"), not a text
};

const DpbName kDpbNames[] = {
    {"user_name", isc_dpb_user_name}, {"password", isc_dpb_password},
    {"lc_ctype", isc_dpb_lc_ctype},   {"sql_role_name", isc_dpb_sql_role_name},
    {"config", isc_dpb_config},       {"no_db_triggers", isc_dpb_no_db_triggers, true},
};

} // namespace

Database::Database() : m_client(&FbClient::instance()) {}

Database::~Database() {
    try {
        close();
    } catch (...) {
        // A destructor has nobody to report to; the handle is gone with the process anyway.
    }
    for (Query *q : m_queries)
        q->m_db = nullptr;
    for (Transaction *t : m_transactions)
        t->m_db = nullptr;
}

void Database::setDatabaseName(const QString &name) {
    if (name == m_name)
        return;
    if (connected())
        throw LayerError(Msg::DbIsOpen);
    m_name = name;
}

void Database::setSqlDialect(int dialect) {
    if (dialect < 1 || dialect > 3)
        throw LayerError(Msg::SqlDialectInvalid);
    m_sqlDialect = dialect;
}

QByteArray Database::buildParameterBlock(const QStringList &lines) {
    QByteArray dpb;
    dpb.append(char(isc_dpb_version1));
    for (const QString &line : lines) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        QString name = (eq < 0 ? line : line.left(eq)).trimmed().toLower();
        if (name.startsWith(QLatin1String("isc_dpb_")))
            name.remove(0, 8);
        const auto it = std::find_if(std::begin(kDpbNames), std::end(kDpbNames),
                                     [&](const DpbName &n) { return name == QLatin1String(n.name); });
        if (it == std::end(kDpbNames))
            throw LayerError(Msg::DpbUnknown);
        const QString text = eq < 0 ? QString() : line.mid(eq + 1);
        const QByteArray value =
            it->number ? QByteArray(1, char(text.trimmed().toInt() & 0xFF)) : ClientText::encode(text);
        dpb.append(it->code);
        dpb.append(char(std::min<qsizetype>(value.size(), 255)));
        dpb.append(value.left(255));
    }
    if (ClientText::markedUtf8()) {
        dpb.append(char(isc_dpb_utf8_filename)); // the file name and the texts above are UTF-8
        dpb.append(char(0));
    }
    return dpb;
}

void Database::open() {
    if (connected())
        return;
    if (m_name.isEmpty())
        throw LayerError(Msg::DatabaseNameMissing);
    const QByteArray dpb = buildParameterBlock(params);
    const QByteArray name = ClientText::encode(m_name);
    ISC_STATUS_ARRAY status;
    isc_db_handle h = 0;
    m_client->attach_database(status, short(name.size()), name.constData(), &h, short(dpb.size()),
                              dpb.constData());
    try {
        m_client->check(status);
    } catch (const EngineError &e) {
        throw explainLogin(e, params);
    }
    m_handle = h;
    try {
        const int dialect = readDialect();
        if (dialect < m_sqlDialect)
            m_sqlDialect = dialect;
    } catch (...) {
        ISC_STATUS_ARRAY ignored;
        m_client->detach_database(ignored, &m_handle);
        m_handle = 0;
        throw;
    }
}

int Database::readDialect() {
    const char item = isc_info_db_sql_dialect;
    char reply[64] = {};
    ISC_STATUS_ARRAY status;
    m_client->database_info(status, &m_handle, 1, &item, sizeof reply, reply);
    m_client->check(status);
    return parseDialect(QByteArray(reply, sizeof reply));
}

int Database::parseDialect(const QByteArray &reply) {
    // 3e <u16 len> <value> 01; a reply without the item means dialect 1.
    try {
        ReplyReader r(reply.constData(), int(reply.size()));
        if (r.atEnd() || r.peekByte() != isc_info_db_sql_dialect)
            return 1;
        r.byte();
        const int len = r.u16();
        if (len < 1 || len > 4)
            return 1;
        const QByteArray v = r.bytes(len);
        int dialect = 0;
        for (int i = len - 1; i >= 0; --i)
            dialect = (dialect << 8) | static_cast<unsigned char>(v[i]);
        return dialect >= 1 && dialect <= 3 ? dialect : 1;
    } catch (const LayerError &) {
        return 1;
    }
}

void Database::close() {
    if (!connected())
        return;
    for (Query *q : m_queries)
        q->release();
    for (Transaction *t : m_transactions)
        if (t->active())
            t->endByDefault();
    ISC_STATUS_ARRAY status;
    m_client->detach_database(status, &m_handle);
    if (m_client->failed(status)) {
        m_handle = 0; // the server has dropped us or will; a later open starts clean
        m_client->check(status);
    }
    m_handle = 0;
}

void Database::cancelOperation() {
    if (!connected() || !m_client->cancel_operation)
        return;
    ISC_STATUS_ARRAY status;
    m_client->cancel_operation(status, &m_handle, fb_cancel_raise);
    // A statement that ended meanwhile has nothing to stop: its own result stands.
}

bool Database::isConnectionLost(long code) {
    switch (code) {
    case isc_network_error:
    case isc_net_read_err:
    case isc_net_write_err:
    case isc_conn_lost:
    case isc_lost_db_connection:
    case isc_att_shutdown:
    case isc_shutdown:
        return true;
    default:
        return false;
    }
}

void Database::check(const ISC_STATUS *status) {
    if (m_client->failed(status) && connected() && isConnectionLost(status[1]))
        connectionLost();
    m_client->check(status);
}

void Database::connectionLost() {
    ISC_STATUS_ARRAY ignored;
    for (Query *q : m_queries)
        q->release();
    for (Transaction *t : m_transactions)
        if (t->active()) {
            m_client->rollback_transaction(ignored, t->handle()); // frees the client's side
            t->m_handle = 0;
        }
    m_client->detach_database(ignored, &m_handle);
    m_handle = 0;
}

void Database::unregisterQuery(Query *q) {
    m_queries.erase(std::remove(m_queries.begin(), m_queries.end(), q), m_queries.end());
}

void Database::unregisterTransaction(Transaction *t) {
    m_transactions.erase(std::remove(m_transactions.begin(), m_transactions.end(), t), m_transactions.end());
}
