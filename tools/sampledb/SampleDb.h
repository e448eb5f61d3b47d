#pragma once

#include "sampledb/SampleData.h"
#include "sampledb/SampleSchema.h"

#include <QString>

// Creates a sample accounting database: schema, then data.
namespace SampleDb {

struct Options {
    QString databaseFile; // the file to create (must not exist)
    QString server;       // "localhost" to create it through the server; empty: embedded
    int dialect = 3;
    SampleSchema::Variant variant = SampleSchema::Variant::Current;
    QString exchangeFolder; // ends with the separator
    QString packageFolder;  // ends with the separator
    SampleData::Scale scale;
    bool stagingIndexes = true; // indexes on IMPORT_D and IMPORT_Z
    QString user = QStringLiteral("SYSDBA");
    QString password = QStringLiteral("quillstep");
};

// Throws QkError on failure.
void create(const Options &options);

// The name a client gives to reach the file (with the server prefix when there is a server).
QString connectName(const Options &options);

} // namespace SampleDb
