#pragma once

#include <QList>

class Database;

// Realistic Polish accounting data, the same for the same seed and scale.
namespace SampleData {

struct Scale {
    int documentsPerMonth = 20;
    int entriesPerDocument = 3;
    int accounts = 40;
    int packages = 3;
    int transfersPerPackage = 4;
    QList<int> months{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    unsigned seed = 1;
    bool currentVariant = true; // the tables of the later versions exist
};

// Fills the tables in the connection's default transaction and commits.
void fill(Database &db, const Scale &scale);

} // namespace SampleData
