#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class Database;
class Operator;

// The per-row statements of the monthly import look rows up by value: the staging tables by document
// key and by sending number, the month's tables by key and by record number. Without an index each
// lookup scans its table, and the import grows with the square of the month.
namespace ImportIndexes {

// An index the import needs: on table, leading with columns (in any order).
struct Need {
    QString table;
    QStringList columns;
    QString name; // the name it is created under (staging tables only)
};

// The staging tables' indexes, which the import may create: the accounting program never fills those
// tables itself.
QList<Need> stagingNeeds();
// The month's tables' indexes, which the import only asks for: they are the accounting program's.
QList<Need> monthNeeds(int month);

// Whether one of the indexes (each its segments in order) leads with exactly the columns.
bool covered(const QList<QStringList> &indexes, const QStringList &columns);

// Before the import's first statement: creates, once and by name, each staging index the database
// lacks, in a transaction of its own (reported to the operator in one message), and warns about each
// index the month's tables lack. A staging index that cannot be created is a warning too: the import
// stays correct, only slower.
void prepare(Database &db, Operator &op, int month);

} // namespace ImportIndexes
