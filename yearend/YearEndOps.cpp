#include "yearend/YearEndOps.h"

#include <algorithm>

#include "core/MainD.h"
#include "core/Operator.h"
#include "db/Savepoint.h"
#include "platform/Paths.h"
#include "yearend/UpgradeStatements.h"

namespace YearEndOps {

namespace {

// The statement step: close the query, clear its text, add one statement, execute it. Each may run
// long: a DELETE of a year's rows, the shadow's copy of the whole database, a wait on a row another
// program holds.
void statementStep(Query &q, const QString &sql) {
    q.setSql(sql);
    q.execute(Query::Duration::MayRunLong);
}

QStringList budgetPlanStatements() {
    QStringList s;
    for (int m = 1; m <= 12; ++m) {
        s << QStringLiteral("update FJ_BWYD set BIL_WN%1 = 0").arg(m)
          << QStringLiteral("update FJ_BWYD set BIL_MA%1 = 0").arg(m);
        for (int d = 0; d <= 9; ++d)
            s << QStringLiteral("update FJ_BWYD set GR%1%2 = 0").arg(m).arg(d);
    }
    return s;
}

QStringList documentStatements() {
    QStringList s;
    for (int m = 1; m <= 12; ++m)
        s << QStringLiteral("delete from FJ_DOK%1").arg(m)
          << (m == 1 ? QStringLiteral("SET GENERATOR NUMEWI_DOK TO 0")
                     : QStringLiteral("SET GENERATOR NUMEWI_DOK%1 TO 0").arg(m));
    return s;
}

QStringList entryStatements() {
    QStringList s;
    for (int m = 1; m <= 12; ++m)
        s << QStringLiteral("delete from FJ_ZAP%1").arg(m);
    return s;
}

using Y = Operator::YearEnd;

struct Step {
    Y step;
    const char16_t *done;
};

const Step kSteps[] = {
    {Y::Upgrade221, u"Tworzenie wersji v.2.21 zakończono pomyślnie"},
    {Y::Upgrade226, u"Tworzenie wersji v.2.26 zakończono pomyślnie"},
    {Y::Upgrade236a, u"Tworzenie wersji v.2.36(1)zakończono pomyślnie"},
    {Y::Upgrade236b, u"Tworzenie wersji v.2.36(2) zakończono pomyślnie"},
    {Y::Upgrade242a, u"Tworzenie wersji v.2.42(1) zakończono pomyślnie"},
    {Y::Upgrade242b, u"Tworzenie wersji v.2.42(2)zakończono pomyślnie"},
    {Y::Upgrade242c, u"Tworzenie wersji v.2.42(3) zakończono pomyślnie"},
};

} // namespace

const std::vector<Category> &categories() {
    static const std::vector<Category> c{
        {Y::Entries, "OK ...", entryStatements()},
        {Y::Documents, "OK  ...", documentStatements()},
        {Y::Turnovers, "OK ...", {"delete from FJ_OBR"}},
        {Y::OpeningBalanceDeleted, "OK ...", {"delete from FJ_BIL", "SET GENERATOR NUMZAP_BIL TO 0"}},
        {Y::Zplk, "OK ...", {"delete from FJ_ZPLK"}},
        {Y::Zpuk, "OK ...", {"delete from FJ_ZPUK"}},
        {Y::Contractors, "OK ...", {"delete from FJ_ROZR"}},
        {Y::VatRegister, "OK ...", {"delete from FJ_REJV"}},
        {Y::Structures, "OK ...", {"delete from FJ_STRU"}},
        {Y::Expenses, "OK ...", {"delete from FJ_BWYD"}},
        {Y::Income, "OK ...", {"delete from FJ_BDOC"}},
        {Y::DocumentTypes, "OK ...", {"delete from FJ_TYPD"}},
        {Y::BudgetPlans, "OK ...", budgetPlanStatements()},
        {Y::ShadowDropped, "OK ...", {"drop shadow 1"}},
    };
    return c;
}

void deleteCategories(TMainDm &dm, Operator &op, const std::array<bool, kCategoryCount> &checked) {
    op.showResult(Y::Documents, QString());
    op.showResult(Y::Entries, QString());
    dm.EmployeeDb.setDatabaseName(dm.Settings.fullDatabaseName());
    Query &q = dm.IBQuery5;
    const auto &all = categories();
    for (size_t i = 0; i < all.size(); ++i) {
        if (!checked[i])
            continue;
        for (const QString &sql : all[i].statements)
            statementStep(q, sql);
        if (all[i].result == Y::ShadowDropped) {
            dm.WriteD1(QString());
            dm.WriteD2(QString());
        }
        q.close();
        op.showResult(all[i].result, QLatin1String(all[i].text));
    }
}

QString shadowStatement(const QString &shadowFolder) {
    // The folder goes inside an SQL string: its quotes are doubled.
    return QStringLiteral("create shadow 1 auto ") + QStringLiteral("'") +
           Paths::sqlLiteral(shadowFolder.trimmed() + Paths::separator() + QStringLiteral("bazaqk.shd")) +
           QStringLiteral("'");
}

void createShadow(TMainDm &dm, Operator &op, const QString &shadowFolder) {
    statementStep(dm.IBQuery5, shadowStatement(shadowFolder));
    dm.IBQuery5.close();
    op.showResult(Y::Shadow, QStringLiteral("OK ..."));
}

void buildOpeningBalance(TMainDm &dm, Operator &op) {
    // The emptied FJ_BIL must not reach the next commit when the insert fails (the opening balance
    // would be lost), nor may the failure undo the deletions and steps done before it.
    withSavepoint(dm.IBQuery5, QStringLiteral("QK_BILANS"), [&] {
        statementStep(dm.IBQuery5, QStringLiteral("DELETE FROM FJ_BIL"));
        statementStep(dm.IBQuery5,
                      QStringLiteral(
                          "INSERT INTO FJ_BIL SELECT CAST(NUMZAP AS DECIMAL(4,0)), KONTO, CAST(KWOWN AS "
                          "DECIMAL(13,2)), CAST(KWOMA AS DECIMAL(13,2)), CAST(KWORO AS DECIMAL(13,2)), OPIS, "
                          "CAST(TERDAT AS DATE), NAZWA1, NAZWA2, NAZWA3 FROM TA_BZBO"));
    });
    op.showResult(Y::OpeningBalance, QStringLiteral("OK ..."));
}

void declarePackageTables(TMainDm &dm, Operator &op, const QString &folder) {
    // Both tables are dropped and declared again, or neither: a failure leaves them as they were and
    // the button can simply be run again.
    Query &q = dm.IBQuery6;
    withSavepoint(q, QStringLiteral("QK_PACZKI"), [&] {
        statementStep(q, QStringLiteral("DROP TABLE TA_PACZ"));
        statementStep(q, UpgradeStatements::taPacz(folder));
        op.showResult(Y::PackageTables, QStringLiteral("OK"));
        statementStep(q, QStringLiteral("DROP TABLE TA_PACZP"));
        statementStep(q, UpgradeStatements::taPaczp(folder));
        op.showResult(Y::PackageTables, QStringLiteral("OK"));
    });
}

void upgrade(TMainDm &dm, Operator &op, Operator::YearEnd step, const QString &folder) {
    namespace U = UpgradeStatements;
    const auto known =
        std::find_if(std::begin(kSteps), std::end(kSteps), [step](const Step &s) { return s.step == step; });
    if (known == std::end(kSteps))
        return;
    op.showResult(step, QString());
    op.processEvents();
    Query &q = dm.IBQuery6;
    if (step == Y::Upgrade242c) {
        const std::pair<QString, const char *> tables[] = {{U::importPa(), "IMPORT_PA"},
                                                           {U::importPp(), "IMPORT_PP"},
                                                           {U::taPacz(folder), "TA_PACZ"},
                                                           {U::taPaczp(folder), "TA_PACZP"}};
        // All four tables or none, so that the step can be run again after a failure.
        withSavepoint(q, QStringLiteral("QK_WERSJA"), [&] {
            for (const auto &[sql, name] : tables) {
                statementStep(q, sql);
                op.showResult(step, QStringLiteral("Tworzenie tabeli %1 ..... OK").arg(QLatin1String(name)));
            }
        });
    } else {
        const QString sql = step == Y::Upgrade221    ? U::importR()
                            : step == Y::Upgrade226  ? U::komunR()
                            : step == Y::Upgrade236a ? U::taZplk(dm.Settings.exchangeRoot())
                            : step == Y::Upgrade236b ? U::importP()
                            : step == Y::Upgrade242a ? U::paczka()
                                                     : U::przelewy();
        statementStep(q, sql);
    }
    op.showResult(step, QString::fromUtf16(known->done));
}

} // namespace YearEndOps
