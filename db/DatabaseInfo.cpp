#include "db/DatabaseInfo.h"

#include "db/Database.h"
#include "db/Errors.h"
#include "db/Query.h"
#include "db/ReplyReader.h"
#include "db/Transaction.h"
#include "platform/ClientText.h"

QByteArray DatabaseInfo::query(const QByteArray &items, int replySize) {
    if (!database)
        throw LayerError(Msg::DatabaseNotAssigned);
    if (!database->connected())
        throw LayerError(Msg::DbNotOpen);
    QByteArray reply(replySize, '\0');
    ISC_STATUS_ARRAY status;
    database->client().database_info(status, database->handle(), short(items.size()), items.constData(),
                                     short(reply.size()), reply.data());
    database->client().check(status);
    return reply;
}

QStringList DatabaseInfo::userNames() {
    return parseUserNames(query(QByteArray(1, char(isc_info_user_names)), 20480));
}

QStringList DatabaseInfo::parseUserNames(const QByteArray &reply) {
    QStringList names;
    ReplyReader r(reply.constData(), int(reply.size()));
    while (!r.atEnd()) {
        const int code = r.peekByte();
        if (code == isc_info_end)
            break;
        r.expectByte(isc_info_user_names);
        const int len = r.u16();
        ReplyReader entry = r.sub(len);
        const int n = entry.byte();
        names << ClientText::decode(entry.bytes(n));
    }
    return names;
}

DatabaseInfo::Header DatabaseInfo::header() {
    const char items[] = {isc_info_oldest_transaction, isc_info_oldest_active, isc_info_oldest_snapshot,
                          isc_info_next_transaction,   isc_info_page_size,     isc_info_allocation,
                          isc_info_forced_writes,      isc_info_db_read_only,  isc_info_end};
    return parseHeader(query(QByteArray(items, sizeof items), 256));
}

DatabaseInfo::Header DatabaseInfo::parseHeader(const QByteArray &reply) {
    Header h;
    ReplyReader r(reply.constData(), int(reply.size()));
    while (!r.atEnd()) {
        const int code = r.byte();
        if (code == isc_info_end)
            break;
        const int len = r.u16();
        if (len < 1 || len > 8)
            ReplyReader::fail();
        const QByteArray bytes = r.bytes(len);
        quint64 u = 0;
        for (int i = len - 1; i >= 0; --i)
            u = (u << 8) | quint8(bytes[i]);
        const qint64 v = qint64(u); // counters and sizes: never negative (a transaction number may pass 2^31)
        switch (code) {
        case isc_info_oldest_transaction:
            h.oldestInteresting = v;
            break;
        case isc_info_oldest_active:
            h.oldestActive = v;
            break;
        case isc_info_oldest_snapshot:
            h.oldestSnapshot = v;
            break;
        case isc_info_next_transaction:
            h.next = v;
            break;
        case isc_info_page_size:
            h.pageSize = v;
            break;
        case isc_info_allocation:
            h.pages = v;
            break;
        case isc_info_forced_writes:
            h.forcedWrites = v != 0;
            break;
        case isc_info_db_read_only:
            h.readOnly = v != 0;
            break;
        default:
            break; // an item this reader does not use
        }
    }
    return h;
}

int DatabaseInfo::otherAttachments() {
    if (!database)
        throw LayerError(Msg::DatabaseNotAssigned);
    Transaction tr(database);
    Query q(QStringLiteral("AttachmentCount"), database, &tr);
    q.setSql(QStringLiteral("select count(*) from MON$ATTACHMENTS "
                            "where MON$ATTACHMENT_ID <> CURRENT_CONNECTION and MON$SYSTEM_FLAG = 0"));
    q.open();
    const int n = q.field(0).asInteger();
    q.close();
    tr.commit();
    return n;
}
