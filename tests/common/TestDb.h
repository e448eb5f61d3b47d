#pragma once

#include "sampledb/SampleDb.h"

#include <QString>

#include <iosfwd>

class Database;

// Sample databases for the tests, created on the real server the test script started.
namespace TestDb {

// "localhost" unless QK_TEST_SERVER says otherwise.
QString server();
// A fresh folder the server may read and write, ending with "/".
QString newFolder();

// A new sample database bazaqk.adb in a new folder (exchange files and paczki there too); returns
// the folder. Each call creates it anew, so the external tables lie over that folder.
struct Spec {
    SampleSchema::Variant variant = SampleSchema::Variant::Current;
    int dialect = 3;
    SampleData::Scale scale = smallScale();
    bool stagingIndexes = true;
    QString subfolder; // the database in this folder (ending with "/") of the new folder
    static SampleData::Scale smallScale();
};
QString createDatabase(const Spec &spec = {});
// The same, made by the embedded engine (protocol letter L) and never opened by the server.
QString createEmbeddedDatabase(const Spec &spec = {});

// Overwrites the records on every data page of the given relations (by RDB$RELATION_ID) with bytes
// that make the engine's decompression overrun its buffer, as a failing disk might: reading such a
// table then fails with an internal consistency check. The database must not be open. Returns the
// number of pages damaged.
int damageDataPages(const QString &databaseFile, const QList<int> &relationIds);

// Opens a connection on the server to the database in folder, with the administrator's credentials,
// routed as the program routes a plain path to the local server.
void connect(Database &db, const QString &folder);
QStringList connectionParams();

// A one-value query, or one statement, on a connection of its own, committed at once.
QString scalar(const QString &folder, const QString &sql);
void exec(const QString &folder, const QString &sql);

// Removes the test folders (called at the end of the run).
void cleanUp();

} // namespace TestDb

void PrintTo(const QString &s, std::ostream *os);
