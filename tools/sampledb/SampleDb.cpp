#include "sampledb/SampleDb.h"

#include "db/Database.h"
#include "db/Errors.h"
#include "db/Query.h"
#include "db/Transaction.h"
#include "platform/AnsiCodec.h"
#include "platform/ClientText.h"
#include "platform/Paths.h"

namespace SampleDb {

QString connectName(const Options &o) {
    return o.server.isEmpty() ? o.databaseFile : o.server + QLatin1Char(':') + o.databaseFile;
}

static void createEmpty(const Options &o) {
    FbClient &fb = FbClient::instance();
    if (!fb.dsql_execute_immediate)
        throw QkError(QStringLiteral("The client library cannot create databases"));
    // The statement carries a file name, which the client library reads as the system does (UTF-8 here).
    const QByteArray sql = ClientText::encode(
        QStringLiteral(
            "CREATE DATABASE '%1' USER '%2' PASSWORD '%3' PAGE_SIZE 8192 DEFAULT CHARACTER SET NONE")
            .arg(Paths::sqlLiteral(connectName(o)), Paths::sqlLiteral(o.user),
                 Paths::sqlLiteral(o.password)));
    ISC_STATUS_ARRAY status;
    isc_db_handle db = 0;
    isc_tr_handle tr = 0;
    fb.dsql_execute_immediate(status, &db, &tr, 0, sql.constData(), static_cast<unsigned short>(o.dialect),
                              nullptr);
    fb.check(status);
    fb.detach_database(status, &db);
    fb.check(status);
}

void create(const Options &o) {
    createEmpty(o);
    Database db;
    Transaction tr(&db);
    db.defaultTransaction = &tr;
    db.setDatabaseName(connectName(o));
    db.params = QStringList{QStringLiteral("user_name=") + o.user, QStringLiteral("password=") + o.password};
    db.open();

    SampleSchema::Options so;
    so.variant = o.variant;
    so.exchangeFolder = o.exchangeFolder;
    so.packageFolder = o.packageFolder;
    so.stagingIndexes = o.stagingIndexes;
    {
        Query q(QStringLiteral("SampleSchema"), &db);
        for (const QString &statement : SampleSchema::statements(so)) {
            q.setSql(statement);
            q.execute();
        }
        tr.commit(); // DDL must be committed before the data uses it
    }
    SampleData::Scale scale = o.scale;
    scale.currentVariant = o.variant == SampleSchema::Variant::Current;
    SampleData::fill(db, scale);
    db.close();
}

} // namespace SampleDb
