#pragma once

#include "db/FbClient.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstring>
#include <memory>
#include <vector>

class Database;
class Query;
class Transaction;

// One column of a query's current row. With no current row (empty result) every value is null.
class Field {
public:
    QString name() const;
    bool isNull() const;
    // NULL gives the empty text; CHAR values come back padded, as the database returns them.
    QString asString() const;
    qint64 asInteger() const;
    double asFloat() const;
    // NULL gives the date-time 0 (30 December 1899).
    QDateTime asDateTime() const;

private:
    friend class Query;
    Field(const Query *q, int column) : m_query(q), m_column(column) {}
    const char *cell() const;
    const Query *m_query;
    int m_column;
};

// A named parameter (":NAME" in the text); every marker of that name takes the value.
class Param {
public:
    void setAsString(const QString &v);
    void setAsInteger(qint64 v);
    void setAsFloat(double v);
    void setAsDateTime(const QDateTime &v);
    void clear(); // NULL

private:
    friend class Query;
    Param(Query *q, int index) : m_query(q), m_index(index) {}
    Query *m_query;
    int m_index;
};

// A statement object on the connection and its transaction: prepared once per text per transaction,
// opened (select) or executed (everything else), its rows fetched on demand and cached.
class Query {
public:
    explicit Query(QString objectName, Database *db = nullptr, Transaction *tr = nullptr);
    ~Query();
    Query(const Query &) = delete;
    Query &operator=(const Query &) = delete;

    const QString &objectName() const { return m_objectName; }
    Database *database() const { return m_db; }
    void setDatabase(Database *db);
    Transaction *transaction = nullptr;
    // Rows are read once, front to back, and not kept: only the current row is in memory (a file
    // export of a whole month). first() then serves only before the first next(); locate() not at all.
    bool forwardOnly = false;

    // The statement text as lines, joined with line breaks. Any change closes the object; a
    // different text discards its preparation.
    const QStringList &sql() const { return m_sql; }
    void clearSql();
    void addLine(const QString &line);
    void setSql(const QString &text);

    // How long a statement may keep the server busy. One that may run long (a DELETE of a year's rows,
    // an INSERT ... SELECT over an exchange file, a sort before the first row, a wait on another
    // connection's lock) waits on a worker thread while the calling thread's ambient idle function (the
    // window's events) keeps turning; the connection is not used by anything else meanwhile. A short one
    // runs here, and a loop of them (a row each) gives the idle function its turn when it is due.
    enum class Duration { Short, MayRunLong };

    void open(Duration duration = Duration::Short);
    void close();
    bool isOpen() const { return m_open; }
    void execute(Duration duration = Duration::Short);

    void first();
    void next();
    bool eof() const { return m_eof; }

    Field fieldByName(const QString &name) const;
    // The column's position; fails as fieldByName does.
    int fieldIndex(const QString &name) const;
    int fieldCount() const { return int(m_columns.size()); }
    Field field(int index) const { return Field(this, index); }

    // Keys joined by ";"; moves to the first matching row. Text keys ignore trailing blanks,
    // and letter case too when caseInsensitive.
    bool locate(const QString &keyFields, const QVariantList &values, bool caseInsensitive);

    Param paramByName(const QString &name);
    int paramCount() const { return int(m_params.size()); }

    // Closes the result and frees the prepared statement (end of transaction, connection close).
    void release();

    // The text the server receives: markers replaced by '?', their names in order.
    static QString parseParams(const QString &sql, QStringList *markerNames);

    struct ColumnInfo {
        QString name;
        short type = 0; // without the nullable bit
        short scale = 0;
        short subtype = 0;
        short length = 0;
        int offset = 0;
        int nullOffset = 0;
    };
    struct ParamValue {
        enum class Kind { Null, Text, Integer, Float, DateTime } kind = Kind::Null;
        QString text;
        qint64 integer = 0;
        double real = 0;
        QDateTime dateTime;
    };

    // The current row's buffer as the client library filled it, and how each column lies in it:
    // for code that reads many rows without converting each value (nullptr with no current row).
    const char *rowData() const { return currentRow(); }
    const ColumnInfo &columnInfo(int index) const { return m_columns[size_t(index)]; }

private:
    friend class Field;
    friend class Database;
    friend class Transaction;
    friend class Param;
    struct SqldaDeleter {
        void operator()(XSQLDA *p) const { std::free(p); }
    };
    using Sqlda = std::unique_ptr<XSQLDA, SqldaDeleter>;

    [[noreturn]] void fail(const char *message, const QString &arg) const;
    Transaction *activeTransaction();
    void prepare();
    // Prepares when the text changed, binds the parameters and executes; the engine's error as an exception.
    void runStatement(Duration duration);
    Sqlda describe(bool bind);
    void execInput(std::vector<QByteArray> &storage, Sqlda &in);
    bool fetchRow();
    const char *currentRow() const;
    QString fullText() const;

    QString m_objectName;
    Database *m_db = nullptr;
    QStringList m_sql;

    isc_stmt_handle m_stmt = 0;
    bool m_prepared = false;
    QString m_preparedText;
    Sqlda m_out;
    std::vector<ColumnInfo> m_columns;
    std::vector<ColumnInfo> m_inputs;
    QByteArray m_rowBuffer;
    int m_rowSize = 0;

    QStringList m_params;       // distinct names, first occurrence order
    std::vector<int> m_markers; // per '?', the index into m_params
    std::vector<ParamValue> m_values;

    bool m_open = false;
    bool m_cursorOpen = false;
    bool m_allFetched = false;
    bool m_eof = true;
    qsizetype m_current = -1;
    // Fetched rows, kept in blocks of 1000: the cache grows a block at a time and never moves a row.
    class RowCache {
    public:
        static constexpr qsizetype kStep = 1000;
        void reset(int rowSize) {
            m_rowSize = rowSize;
            m_count = 0;
            std::vector<QByteArray>().swap(m_blocks);
        }
        qsizetype size() const { return m_count; }
        bool empty() const { return m_count == 0; }
        void append(const char *row) {
            if (m_count % kStep == 0)
                m_blocks.emplace_back(qsizetype(m_rowSize) * kStep, Qt::Uninitialized);
            std::memcpy(m_blocks.back().data() + (m_count % kStep) * m_rowSize, row, size_t(m_rowSize));
            ++m_count;
        }
        const char *at(qsizetype i) const {
            return m_blocks[size_t(i / kStep)].constData() + (i % kStep) * m_rowSize;
        }

    private:
        int m_rowSize = 0;
        qsizetype m_count = 0;
        std::vector<QByteArray> m_blocks;
    };
    RowCache m_rows;
};
