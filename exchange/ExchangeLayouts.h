#pragma once

#include <QString>

#include <vector>

// The fixed-width records of the seven exchange files, field by field. The writer, the external
// table declarations and the tests all read these tables; the line end (CR LF) follows the last field.
namespace ExchangeLayouts {

enum class Rule {
    Text,        // the column's text as the database returns it
    TextTrimmed, // blanks removed at both ends
    Number,      // floating value, shortest general form
    Integer,     // integer value
    Amount,      // floating value rounded to cents, '.' as separator
    Date,        // yyyy-MM-dd
    Constant,    // a fixed text
    EntryNumber, // the document number + 100000
    OpeningDate, // mm-dd-yy from the date's text; 31 December of this year when empty
};

struct Field {
    const char *name; // the field's (and the external table column's) name
    int width;
    const char *column; // source column; the constant's text for Rule::Constant
    Rule rule;
};

struct Layout {
    const char *name;
    std::vector<Field> fields;
    // With the two line-end bytes.
    int recordLength() const;
};

const Layout &documents();
const Layout &entries();
const Layout &settlements();
const Layout &openingBalance();
const Layout &accountPlan();
const Layout &packages();
const Layout &transfers();

// Checks that a file is made of whole records of the layout, each ending with CR LF: the server's
// external tables read fixed lengths and would shift or drop a short or LF-ended record silently.
// Throws QkError naming the file and the first bad record.
void checkRecords(const QString &path, const Layout &layout);
// The 1-based number of the first record that is short or not ended by CR LF; 0 when all are whole.
// Records are told apart by their fixed length alone: a text field may hold a line break.
qint64 firstBadRecord(const QByteArray &bytes, const Layout &layout);

// "CREATE TABLE name EXTERNAL FILE 'path' (F1 CHAR(w1), ..., EOL CHAR(2))" over the layout.
QString externalTableDeclaration(const QString &table, const QString &path, const Layout &layout);

} // namespace ExchangeLayouts
