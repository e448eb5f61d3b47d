#pragma once

#include <QString>
#include <QStringList>

// The accounting database's own schema, as far as this system reads or writes it: what the
// accounting program would have created. The system itself never creates these tables.
namespace SampleSchema {

enum class Variant {
    Current, // with the tables of versions 2.21 to 2.42
    Old,     // without them, for the upgrade steps
};

struct Options {
    Variant variant = Variant::Current;
    // Folder of the exchange files (the database folder here), ending with the separator.
    QString exchangeFolder;
    // Folder holding "paczki" (the executable's folder), ending with the separator.
    QString packageFolder;
    // The indexes on the import's staging tables; nothing in the accounting program promises them.
    bool stagingIndexes = true;
};

// DDL statements in the order they must run, each one statement without a terminator.
QStringList statements(const Options &options);

// Names of every table the variant has, upper case.
QStringList tableNames(Variant variant);

} // namespace SampleSchema
