#pragma once

#include <QString>
#include <QStringList>

class Operator;
class TMainDm;

// The monthly export and import of documents and entries, the input check, and the export of the
// bank-transfer packages.
namespace ExchangeOps {

// The five files of a month's export, in the order they are written.
QStringList monthlyFiles(const QString &root, int month);
QString documentsFile(const QString &root, int month);
QString entriesFile(const QString &root, int month);

// yearText: the year edit, used only in the final message.
void exportMonth(TMainDm &dm, Operator &op, int month, const QString &yearText);
// clearMonth: "Zerowanie Danych QK". On any failure the shared transaction is rolled back.
// False when a file was missing and nothing was imported.
bool importMonth(TMainDm &dm, Operator &op, int month, bool clearMonth);
// What the operator is told when the server refuses to read the exchange files in root through
// external tables: the line for firebird.conf, then the server's own text.
QString externalFilesRefused(const QString &root, const QString &serverText);
// True when both files are present.
bool checkInput(TMainDm &dm, Operator &op, int month);
// Into folder + "paczki" (folder: the executable's, ending with the separator).
void exportTransfers(TMainDm &dm, Operator &op, const QString &folder);
// The package and transfers files exportTransfers writes.
QStringList transferFiles(const QString &folder);

// The activity bar's next value: one step per row, back to 1 after 100.
inline int nextActivity(int counter) {
    return counter >= 100 ? 1 : counter + 1;
}

} // namespace ExchangeOps
