#include "db/Query.h"

#include "db/Database.h"
#include "db/Errors.h"
#include "db/SqlValue.h"
#include "db/Transaction.h"
#include "platform/AnsiCodec.h"
#include "platform/Supervisor.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

bool isIdentChar(QChar c) {
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$');
}

} // namespace

// ---------------------------------------------------------------------------------------------

QString Field::name() const {
    return m_query->m_columns[m_column].name;
}

const char *Field::cell() const {
    return m_query->currentRow();
}

bool Field::isNull() const {
    const char *row = cell();
    return !row || SqlValue::isNull(row, m_query->m_columns[m_column]);
}

QString Field::asString() const {
    const char *row = cell();
    return row ? SqlValue::toString(row, m_query->m_columns[m_column]) : QString();
}

qint64 Field::asInteger() const {
    const char *row = cell();
    return row ? SqlValue::toInteger(row, m_query->m_columns[m_column]) : 0;
}

double Field::asFloat() const {
    const char *row = cell();
    return row ? SqlValue::toFloat(row, m_query->m_columns[m_column]) : 0.0;
}

QDateTime Field::asDateTime() const {
    const char *row = cell();
    return row ? SqlValue::toDateTime(row, m_query->m_columns[m_column]) : SqlValue::zeroDateTime();
}

// ---------------------------------------------------------------------------------------------

void Param::setAsString(const QString &v) {
    auto &p = m_query->m_values[m_index];
    p = {};
    p.kind = Query::ParamValue::Kind::Text;
    p.text = v;
}

void Param::setAsInteger(qint64 v) {
    auto &p = m_query->m_values[m_index];
    p = {};
    p.kind = Query::ParamValue::Kind::Integer;
    p.integer = v;
}

void Param::setAsFloat(double v) {
    auto &p = m_query->m_values[m_index];
    p = {};
    p.kind = Query::ParamValue::Kind::Float;
    p.real = v;
}

void Param::setAsDateTime(const QDateTime &v) {
    auto &p = m_query->m_values[m_index];
    p = {};
    p.kind = Query::ParamValue::Kind::DateTime;
    p.dateTime = v;
}

void Param::clear() {
    m_query->m_values[m_index] = {};
}

// ---------------------------------------------------------------------------------------------

Query::Query(QString objectName, Database *db, Transaction *tr)
    : transaction(tr), m_objectName(std::move(objectName)) {
    setDatabase(db);
}

Query::~Query() {
    try {
        release();
    } catch (...) {
    }
    if (m_db)
        m_db->unregisterQuery(this);
}

void Query::setDatabase(Database *db) {
    if (db == m_db)
        return;
    release();
    if (m_db)
        m_db->unregisterQuery(this);
    m_db = db;
    if (m_db)
        m_db->registerQuery(this);
}

void Query::fail(const char *message, const QString &arg) const {
    throw LayerError(m_objectName + QStringLiteral(": ") + QString::fromLatin1(message).arg(arg));
}

void Query::clearSql() {
    close(); // the preparation is dropped at the next prepare if the text ends up different
    m_sql.clear();
    m_params.clear();
    m_markers.clear();
    m_values.clear();
}

void Query::addLine(const QString &line) {
    close();
    m_sql.append(line);
    QStringList names;
    parseParams(fullText(), &names);
    // Keep values already set for names that stay.
    QStringList distinct;
    std::vector<ParamValue> values;
    m_markers.clear();
    for (const QString &n : names) {
        qsizetype idx = -1;
        for (qsizetype i = 0; i < distinct.size(); ++i)
            if (distinct[i].compare(n, Qt::CaseInsensitive) == 0)
                idx = i;
        if (idx < 0) {
            distinct.append(n);
            ParamValue v;
            for (qsizetype j = 0; j < m_params.size(); ++j)
                if (m_params[j].compare(n, Qt::CaseInsensitive) == 0)
                    v = m_values[size_t(j)];
            values.push_back(v);
            idx = distinct.size() - 1;
        }
        m_markers.push_back(int(idx));
    }
    m_params = distinct;
    m_values = std::move(values);
}

void Query::setSql(const QString &text) {
    clearSql();
    addLine(text);
}

QString Query::fullText() const {
    return m_sql.join(QLatin1Char('\n'));
}

QString Query::parseParams(const QString &sql, QStringList *markerNames) {
    QString out;
    out.reserve(sql.size());
    const qsizetype n = sql.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = sql[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            // Literal or quoted name, doubled quotes inside.
            qsizetype j = i + 1;
            while (j < n) {
                if (sql[j] == c) {
                    if (j + 1 < n && sql[j + 1] == c) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            out += sql.mid(i, std::min(j + 1, n) - i);
            i = j + 1;
        } else if (c == QLatin1Char('-') && i + 1 < n && sql[i + 1] == QLatin1Char('-')) {
            qsizetype j = sql.indexOf(QLatin1Char('\n'), i);
            if (j < 0)
                j = n;
            out += sql.mid(i, j - i);
            i = j;
        } else if (c == QLatin1Char('/') && i + 1 < n && sql[i + 1] == QLatin1Char('*')) {
            qsizetype j = sql.indexOf(QLatin1String("*/"), i + 2);
            j = (j < 0) ? n : j + 2;
            out += sql.mid(i, j - i);
            i = j;
        } else if (c == QLatin1Char(':') && i + 1 < n && isIdentChar(sql[i + 1])) {
            qsizetype j = i + 1;
            while (j < n && isIdentChar(sql[j]))
                ++j;
            if (markerNames)
                markerNames->append(sql.mid(i + 1, j - i - 1));
            out += QLatin1Char('?');
            i = j;
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

Param Query::paramByName(const QString &name) {
    for (qsizetype i = 0; i < m_params.size(); ++i)
        if (m_params[i].compare(name, Qt::CaseInsensitive) == 0)
            return Param(this, int(i));
    fail(Msg::ParameterNotFound, name);
}

int Query::fieldIndex(const QString &name) const {
    // A closed object has no fields until it is opened again.
    if (m_open)
        for (size_t i = 0; i < m_columns.size(); ++i)
            if (m_columns[i].name.compare(name, Qt::CaseInsensitive) == 0)
                return int(i);
    fail(Msg::FieldNotFound, name);
}

Field Query::fieldByName(const QString &name) const {
    return Field(this, fieldIndex(name));
}

Transaction *Query::activeTransaction() {
    if (!m_db)
        throw LayerError(Msg::DatabaseNotAssigned);
    Transaction *tr = transaction ? transaction : m_db->defaultTransaction;
    if (!tr)
        throw LayerError(Msg::TransactionNotAssigned);
    m_db->open();
    if (!tr->active())
        tr->start();
    return tr;
}

Query::Sqlda Query::describe(bool bind) {
    FbClient &fb = m_db->client();
    ISC_STATUS_ARRAY status;
    short count = 1;
    for (;;) {
        Sqlda da(static_cast<XSQLDA *>(std::calloc(1, XSQLDA_LENGTH(count))));
        da->version = SQLDA_VERSION1;
        da->sqln = count;
        if (bind)
            fb.dsql_describe_bind(status, &m_stmt, SQLDA_VERSION1, da.get());
        else
            fb.dsql_describe(status, &m_stmt, SQLDA_VERSION1, da.get());
        m_db->check(status);
        if (da->sqld <= da->sqln)
            return da;
        count = da->sqld;
    }
}

void Query::prepare() {
    const QString text = fullText();
    // Prepared once per text: the same text set again reuses the preparation.
    if (m_prepared && text == m_preparedText)
        return;
    FbClient &fb = m_db->client();
    Transaction *tr = transaction ? transaction : m_db->defaultTransaction;
    ISC_STATUS_ARRAY status;
    if (!m_stmt) {
        fb.dsql_alloc_statement2(status, m_db->handle(), &m_stmt);
        m_db->check(status);
    }
    m_prepared = false;
    const QByteArray bytes = AnsiCodec::encode(parseParams(text, nullptr));
    // The length travels in 16 bits; a longer text goes with length 0, which the library reads up to the
    // terminating NUL (a NUL inside would cut it silently, so such a text is refused).
    if (bytes.size() > 0xFFFF && bytes.contains('\0'))
        throw LayerError(QString::fromLatin1(Msg::StatementHasNul));
    const unsigned short length = bytes.size() > 0xFFFF ? 0 : static_cast<unsigned short>(bytes.size());
    fb.dsql_prepare(status, tr->handle(), &m_stmt, length, bytes.constData(),
                    static_cast<unsigned short>(m_db->sqlDialect()), nullptr);
    m_db->check(status);

    m_out = describe(false);
    m_columns.clear();
    int offset = 0;
    for (int i = 0; i < m_out->sqld; ++i) {
        const XSQLVAR &v = m_out->sqlvar[i];
        ColumnInfo c;
        const bool hasAlias = v.aliasname_length > 0;
        c.name = AnsiCodec::decode(hasAlias ? v.aliasname : v.sqlname,
                                   hasAlias ? v.aliasname_length : v.sqlname_length);
        c.type = short(v.sqltype & ~1);
        c.scale = v.sqlscale;
        c.subtype = v.sqlsubtype;
        c.length = v.sqllen;
        offset = (offset + 7) & ~7;
        c.offset = offset;
        offset += v.sqllen + (c.type == SQL_VARYING ? 2 : 0);
        offset = (offset + 1) & ~1;
        c.nullOffset = offset;
        offset += int(sizeof(short));
        m_columns.push_back(c);
    }
    m_rowSize = offset;
    m_rowBuffer = QByteArray(m_rowSize, '\0');
    for (int i = 0; i < m_out->sqld; ++i) {
        XSQLVAR &v = m_out->sqlvar[i];
        v.sqldata = m_rowBuffer.data() + m_columns[size_t(i)].offset;
        v.sqlind = reinterpret_cast<short *>(m_rowBuffer.data() + m_columns[size_t(i)].nullOffset);
        v.sqltype |= 1; // always receive the null indicator
    }

    Sqlda in = describe(true);
    m_inputs.clear();
    for (int i = 0; i < in->sqld; ++i) {
        const XSQLVAR &v = in->sqlvar[i];
        ColumnInfo c;
        c.type = short(v.sqltype & ~1);
        c.scale = v.sqlscale;
        c.subtype = v.sqlsubtype;
        c.length = v.sqllen;
        m_inputs.push_back(c);
    }
    m_prepared = true;
    m_preparedText = text;
}

void Query::execInput(std::vector<QByteArray> &storage, Sqlda &in) {
    const short n = short(m_inputs.size());
    in.reset(static_cast<XSQLDA *>(std::calloc(1, XSQLDA_LENGTH(n > 0 ? n : 1))));
    in->version = SQLDA_VERSION1;
    in->sqln = n > 0 ? n : 1;
    in->sqld = n;
    storage.assign(size_t(n) * 2, QByteArray());
    for (short i = 0; i < n; ++i) {
        const size_t pi = size_t(i) < m_markers.size() ? size_t(m_markers[size_t(i)]) : size_t(-1);
        const ParamValue value = pi < m_values.size() ? m_values[pi] : ParamValue();
        XSQLVAR &v = in->sqlvar[i];
        QByteArray &data = storage[size_t(i) * 2];
        QByteArray &ind = storage[size_t(i) * 2 + 1];
        ind = QByteArray(int(sizeof(short)), '\0');
        SqlValue::bindParam(value, m_inputs[size_t(i)], v, data);
        if (value.kind == ParamValue::Kind::Null) {
            *reinterpret_cast<short *>(ind.data()) = -1;
        }
        v.sqltype |= 1;
        v.sqldata = data.data();
        v.sqlind = reinterpret_cast<short *>(ind.data());
    }
}

void Query::runStatement(Duration duration) {
    if (fullText().trimmed().isEmpty())
        throw LayerError(Msg::EmptySql);
    Transaction *tr = activeTransaction();
    prepare();
    std::vector<QByteArray> storage;
    Sqlda in;
    execInput(storage, in);
    ISC_STATUS_ARRAY status;
    isc_tr_handle *trHandle = tr->handle();
    auto run = [&] { m_db->client().dsql_execute(status, trHandle, &m_stmt, SQLDA_VERSION1, in.get()); };
    if (duration == Duration::MayRunLong)
        Supervisor::Idle::whileBlocked(run, {QStringLiteral("wykonywanie polecenia w bazie danych"),
                                             [this] { m_db->cancelOperation(); }});
    else
        run();
    m_db->check(status);
    Supervisor::Idle::ifDue();
}

void Query::execute(Duration duration) {
    if (m_open)
        throw LayerError(Msg::DatasetOpen);
    runStatement(duration);
    if (m_out && m_out->sqld > 0) {
        // A select run through execute leaves a cursor behind; nobody reads it.
        ISC_STATUS_ARRAY ignored;
        m_db->client().dsql_free_statement(ignored, &m_stmt, DSQL_close);
    }
}

void Query::open(Duration duration) {
    if (m_open)
        return;
    runStatement(duration);
    m_open = true;
    m_cursorOpen = m_out && m_out->sqld > 0;
    m_allFetched = !m_cursorOpen;
    m_rows.reset(m_rowSize);
    m_current = -1;
    m_eof = true;
    first();
}

bool Query::fetchRow() {
    if (m_allFetched)
        return false;
    FbClient &fb = m_db->client();
    ISC_STATUS_ARRAY status;
    const ISC_STATUS rc = fb.dsql_fetch(status, &m_stmt, SQLDA_VERSION1, m_out.get());
    if (rc == 100) {
        m_allFetched = true;
        return false;
    }
    m_db->check(status);
    Supervisor::Idle::ifDue();
    if (!forwardOnly)
        m_rows.append(m_rowBuffer.constData());
    return true;
}

void Query::first() {
    if (!m_open)
        return;
    if (forwardOnly && m_current >= 0)
        return; // the rows already passed are gone
    if ((forwardOnly || m_rows.empty()) && !fetchRow()) {
        m_current = -1;
        m_eof = true;
        return;
    }
    m_current = 0;
    m_eof = false;
}

void Query::next() {
    if (!m_open || m_eof)
        return;
    if (forwardOnly) {
        if (fetchRow())
            ++m_current;
        else
            m_eof = true;
        return;
    }
    if (m_current + 1 < qsizetype(m_rows.size()) || fetchRow()) {
        ++m_current;
        return;
    }
    m_eof = true;
}

const char *Query::currentRow() const {
    if (forwardOnly)
        return m_open && m_current >= 0 && !m_eof ? m_rowBuffer.constData() : nullptr;
    if (!m_open || m_current < 0 || m_current >= qsizetype(m_rows.size()))
        return nullptr;
    return m_rows.at(m_current);
}

bool Query::locate(const QString &keyFields, const QVariantList &values, bool caseInsensitive) {
    const QStringList keys = keyFields.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    std::vector<int> cols;
    for (const QString &k : keys)
        cols.push_back(fieldByName(k.trimmed()).m_column);
    if (!m_open || forwardOnly)
        return false;
    for (qsizetype r = 0;; ++r) {
        if (r >= qsizetype(m_rows.size()) && !fetchRow())
            return false;
        const char *row = m_rows.at(r);
        bool match = true;
        for (size_t k = 0; k < cols.size() && match; ++k) {
            const ColumnInfo &c = m_columns[size_t(cols[k])];
            const QVariant &want = k < size_t(values.size()) ? values[qsizetype(k)] : QVariant();
            match = SqlValue::matches(row, c, want, caseInsensitive);
        }
        if (match) {
            m_current = r;
            m_eof = false;
            return true;
        }
    }
}

void Query::close() {
    if (m_cursorOpen && m_stmt && m_db && m_db->connected()) {
        ISC_STATUS_ARRAY ignored;
        m_db->client().dsql_free_statement(ignored, &m_stmt, DSQL_close);
    }
    m_cursorOpen = false;
    m_open = false;
    m_allFetched = false;
    m_eof = true;
    m_current = -1;
    m_rows.reset(0);
}

void Query::release() {
    close();
    if (m_stmt && m_db) {
        if (m_db->connected()) {
            ISC_STATUS_ARRAY ignored;
            m_db->client().dsql_free_statement(ignored, &m_stmt, DSQL_drop);
        }
    }
    m_stmt = 0;
    m_prepared = false;
    m_preparedText.clear();
    m_out.reset();
    m_columns.clear();
    m_inputs.clear();
}
