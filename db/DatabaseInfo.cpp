#include "db/DatabaseInfo.h"

#include "db/Database.h"
#include "db/Errors.h"
#include "db/ReplyReader.h"
#include "platform/ClientText.h"

QStringList DatabaseInfo::userNames()
{
    if (!database)
        throw LayerError(Msg::DatabaseNotAssigned);
    if (!database->connected())
        throw LayerError(Msg::DbNotOpen);
    const char item = isc_info_user_names;
    QByteArray reply(20480, '\0');
    ISC_STATUS_ARRAY status;
    database->client().database_info(status, database->handle(), 1, &item, short(reply.size()), reply.data());
    database->client().check(status);
    return parseUserNames(reply);
}

QStringList DatabaseInfo::parseUserNames(const QByteArray &reply)
{
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
