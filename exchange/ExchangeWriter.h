#pragma once

#include "exchange/ExchangeLayouts.h"

#include <QDate>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QSaveFile;
class Query;

// Writes the rows of an open query as the records of one exchange file: each field formatted by its
// rule and fitted to its width, CR LF after each record, Windows-1250 bytes. The file is written under
// a temporary name and renamed over the final one only when complete: a failed export never leaves a
// truncated file that looks finished.
class ExchangeWriter {
public:
    // today: for the opening-balance date of an empty terdat.
    ExchangeWriter(const QString &path, const ExchangeLayouts::Layout &layout, const QDate &today);

    // Writes every row from the current one to the end; afterRow runs after each record.
    // Throws FileError (cannot create or write) or QkError (a number too long for its field).
    int writeAll(Query &query, const std::function<void()> &afterRow = {});

    // The text of one field for the query's current row, fitted to the width.
    static QString formatField(const Query &query, int column, const ExchangeLayouts::Field &field,
                               const QDate &today, const QString &path);

    // Tests put in a file that fails like a full disk; an empty function restores the real one.
    using FileFactory = std::function<std::unique_ptr<QSaveFile>(const QString &path)>;
    static void setFileFactory(FileFactory factory);

    struct FieldPlan;

private:
    void appendRecord(QByteArray &out, const Query &query, const std::vector<FieldPlan> &plan,
                      qsizetype recordLength) const;
    QString m_path;
    const ExchangeLayouts::Layout &m_layout;
    QDate m_today;
};
