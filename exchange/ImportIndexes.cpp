#include "exchange/ImportIndexes.h"

#include "core/Operator.h"
#include "db/Database.h"
#include "db/Query.h"
#include "db/Transaction.h"

#include <QSet>

namespace ImportIndexes {

namespace {

const QStringList kKey{QStringLiteral("TYPREJ"), QStringLiteral("KONTOW"), QStringLiteral("NUMDOK"),
                       QStringLiteral("NUMPOZ")};

// Each index of the table as its segments in order.
QList<QStringList> indexesOf(Query &q, const QString &table) {
    q.setSql(QStringLiteral(
        "select i.RDB$INDEX_NAME, s.RDB$FIELD_NAME from RDB$INDICES i join RDB$INDEX_SEGMENTS s "
        "on s.RDB$INDEX_NAME = i.RDB$INDEX_NAME where i.RDB$RELATION_NAME = :T and "
        "coalesce(i.RDB$INDEX_INACTIVE, 0) = 0 and i.RDB$EXPRESSION_BLR is null "
        "order by i.RDB$INDEX_NAME, s.RDB$FIELD_POSITION"));
    q.paramByName(QStringLiteral("T")).setAsString(table);
    QList<QStringList> indexes;
    QString current;
    for (q.open(); !q.eof(); q.next()) {
        const QString index = q.field(0).asString().trimmed();
        if (index != current || indexes.isEmpty()) {
            indexes.append(QStringList());
            current = index;
        }
        indexes.last() << q.field(1).asString().trimmed();
    }
    q.close();
    return indexes;
}

QString describe(const Need &n) {
    return QStringLiteral("%1 (%2)").arg(n.table, n.columns.join(QStringLiteral(", ")));
}

} // namespace

QList<Need> stagingNeeds() {
    return {{QStringLiteral("IMPORT_D"), kKey, QStringLiteral("QK_IMPORT_D_KLUCZ")},
            {QStringLiteral("IMPORT_Z"), {QStringLiteral("NUMEWI2")}, QStringLiteral("QK_IMPORT_Z_NUMEWI2")}};
}

QList<Need> monthNeeds(int month) {
    const QString n = QString::number(month);
    return {{QStringLiteral("FJ_DOK") + n, kKey, QString()},
            {QStringLiteral("FJ_ZAP") + n, {QStringLiteral("NUMEWI")}, QString()}};
}

bool covered(const QList<QStringList> &indexes, const QStringList &columns) {
    const QSet<QString> wanted(columns.begin(), columns.end());
    for (const QStringList &segments : indexes) {
        if (segments.size() < columns.size())
            continue;
        const QStringList leading = segments.first(columns.size());
        if (QSet<QString>(leading.begin(), leading.end()) == wanted)
            return true;
    }
    return false;
}

void prepare(Database &db, Operator &op, int month) {
    // Its own transaction: the shared one may carry work the operator has not yet seen committed, and
    // an index is created for good or not at all.
    Transaction own(&db);
    Query q(QStringLiteral("ImportIndexes"), &db, &own);
    QStringList created, failed, missing;
    try {
        own.start();
        for (const Need &n : stagingNeeds()) {
            if (covered(indexesOf(q, n.table), n.columns))
                continue;
            q.setSql(QStringLiteral("CREATE INDEX %1 ON %2 (%3)")
                         .arg(n.name, n.table, n.columns.join(QStringLiteral(", "))));
            q.execute(Query::Duration::MayRunLong);
            created << n.name + QStringLiteral(" na ") + describe(n);
        }
        for (const Need &n : monthNeeds(month))
            if (!covered(indexesOf(q, n.table), n.columns))
                missing << describe(n);
        q.close();
        own.commit();
    } catch (const std::exception &e) {
        if (own.active())
            own.rollback();
        failed << QString::fromUtf8(e.what());
        created.clear();
    }
    if (!created.isEmpty())
        op.message(Operator::Box::Information,
                   QStringLiteral("Utworzono indeksy tabel roboczych importu (jednorazowo):\r") +
                       created.join(QStringLiteral("\r")));
    if (!failed.isEmpty())
        op.message(
            Operator::Box::Warning,
            QStringLiteral(
                "Nie udało się utworzyć indeksów tabel roboczych importu; import będzie trwał dłużej.\r") +
                failed.join(QStringLiteral("\r")));
    if (!missing.isEmpty())
        op.message(
            Operator::Box::Warning,
            QStringLiteral("Uwaga ... brak indeksu na kolumnach:\r") + missing.join(QStringLiteral("\r")) +
                QStringLiteral("\rimport będzie trwał długo (czas rośnie z kwadratem liczby dokumentów)."));
}

} // namespace ImportIndexes
