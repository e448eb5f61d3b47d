// The monthly import on a database whose staging tables carry no indexes: the same month, and the
// indexes it needs made once.
#include "exchange/ImportIndexes.h"
#include "common/RecordingOperator.h"
#include "common/TestModule.h"
#include "exchange/ExchangeOps.h"

#include <gtest/gtest.h>

namespace {

// Every row of a select, every column, through the module's own connection (the embedded engine
// allows no second one).
QStringList rows(TMainDm &dm, const QString &sql) {
    Query &q = dm.IBQuery1;
    q.setSql(sql);
    QStringList out;
    for (q.open(); !q.eof(); q.next()) {
        QStringList row;
        for (int i = 0; i < q.fieldCount(); ++i)
            row << q.field(i).asString();
        out << row.join(QLatin1Char('|'));
    }
    q.close();
    return out;
}

QString indexCount(TMainDm &dm) {
    return rows(dm, "select count(*) from RDB$INDICES where RDB$RELATION_NAME in ('IMPORT_D', 'IMPORT_Z')")
        .value(0);
}

struct Imported {
    QStringList documents, entries, messages;
};

// Exports month 3 and imports it back twice (the second time with "Zerowanie"), as the operator would.
Imported exportAndImport(TestModule &m, QStringList *secondMessages = nullptr) {
    TMainDm &dm = *m.dm;
    RecordingOperator op;
    ExchangeOps::exportMonth(dm, op, 3, "2026");
    m.started();
    RecordingOperator first;
    EXPECT_TRUE(ExchangeOps::importMonth(dm, first, 3, false));
    m.started();
    RecordingOperator second;
    EXPECT_TRUE(ExchangeOps::importMonth(dm, second, 3, true));
    m.started();
    if (secondMessages)
        *secondMessages = second.texts();
    return {rows(dm, "select * from FJ_DOK3 order by NUMEWI"),
            rows(dm, "select * from FJ_ZAP3 order by NUMEWI, NUMPOZ, STRONA"), first.texts()};
}

void sameMonthWithoutStagingIndexes(bool embedded) {
    TestDb::Spec with, without;
    without.stagingIndexes = false;
    const QString protocol = embedded ? QStringLiteral("L") : QStringLiteral("T");
    auto create = [&](const TestDb::Spec &s) {
        return embedded ? TestDb::createEmbeddedDatabase(s) : TestDb::createDatabase(s);
    };

    TestModule a(create(with), protocol);
    a.started();
    const QString indexesWith = indexCount(*a.dm);
    const Imported reference = exportAndImport(a);
    EXPECT_EQ(reference.messages,
              QStringList({"Import danych zakończony pomyślnie ..."})); // nothing to create
    EXPECT_EQ(indexCount(*a.dm), indexesWith);
    a.dm->shutDown();

    TestModule b(create(without), protocol);
    b.started();
    ASSERT_EQ(indexCount(*b.dm), QStringLiteral("0"));
    QStringList second;
    const Imported result = exportAndImport(b, &second);
    EXPECT_EQ(result.documents, reference.documents);
    EXPECT_EQ(result.entries, reference.entries);
    ASSERT_FALSE(result.documents.isEmpty());
    ASSERT_EQ(result.messages.size(), 2);
    EXPECT_EQ(result.messages[0],
              QStringLiteral("Utworzono indeksy tabel roboczych importu (jednorazowo):\r"
                             "QK_IMPORT_D_KLUCZ na IMPORT_D (TYPREJ, KONTOW, NUMDOK, NUMPOZ)\r"
                             "QK_IMPORT_Z_NUMEWI2 na IMPORT_Z (NUMEWI2)"));
    EXPECT_EQ(result.messages[1], QStringLiteral("Import danych zakończony pomyślnie ..."));
    EXPECT_EQ(second, QStringList({"Import danych zakończony pomyślnie ..."})); // made once
    EXPECT_EQ(indexCount(*b.dm), QStringLiteral("2"));
    b.dm->shutDown();
}

} // namespace

TEST(ImportIndexes, WhichIndexServesALookup) {
    const QStringList key{"TYPREJ", "KONTOW", "NUMDOK", "NUMPOZ"};
    using L = QList<QStringList>;
    EXPECT_TRUE(ImportIndexes::covered(L{{"TYPREJ", "KONTOW", "NUMDOK", "NUMPOZ"}}, key));
    EXPECT_TRUE(ImportIndexes::covered(L{{"NUMDOK", "NUMPOZ", "TYPREJ", "KONTOW"}}, key)); // any order
    EXPECT_TRUE(
        ImportIndexes::covered(L{{"NUMEWI"}, {"TYPREJ", "KONTOW", "NUMDOK", "NUMPOZ", "NUMEWI2"}}, key));
    EXPECT_FALSE(ImportIndexes::covered(L{{"TYPREJ", "KONTOW"}}, key)); // too few: many rows per lookup
    EXPECT_FALSE(
        ImportIndexes::covered(L{{"NUMEWI", "TYPREJ", "KONTOW", "NUMDOK", "NUMPOZ"}}, key)); // not leading
    EXPECT_FALSE(ImportIndexes::covered(L{}, {"NUMEWI2"}));
    EXPECT_TRUE(ImportIndexes::covered(L{{"NUMEWI2", "NUMEWI"}}, {"NUMEWI2"}));
    EXPECT_FALSE(ImportIndexes::covered(L{{"NUMEWI", "NUMEWI2"}}, {"NUMEWI2"}));
}

TEST(ImportIndexes, SameMonthWithoutStagingIndexesOnTheServer) {
    sameMonthWithoutStagingIndexes(false);
}

TEST(ImportIndexes, SameMonthWithoutStagingIndexesEmbedded) {
    sameMonthWithoutStagingIndexes(true);
}

TEST(ImportIndexes, AMonthTableWithoutItsIndexIsNamedAndLeftAlone) {
    TestModule m;
    m.started();
    m.exec("DROP INDEX FJ_ZAP3_NUMEWI");
    RecordingOperator op;
    ExchangeOps::exportMonth(*m.dm, op, 3, "2026");
    m.started();
    RecordingOperator imp;
    ExchangeOps::importMonth(*m.dm, imp, 3, false);
    ASSERT_EQ(imp.messages.size(), 2);
    EXPECT_EQ(imp.messages[0].kind, Operator::Box::Warning);
    EXPECT_EQ(imp.messages[0].text,
              QStringLiteral("Uwaga ... brak indeksu na kolumnach:\rFJ_ZAP3 (NUMEWI)\rimport "
                             "będzie trwał długo (czas rośnie z kwadratem liczby dokumentów)."));
    m.started();
    EXPECT_EQ(m.value("select count(*) from RDB$INDICES where RDB$RELATION_NAME = 'FJ_ZAP3'"),
              QStringLiteral("0"));
}
