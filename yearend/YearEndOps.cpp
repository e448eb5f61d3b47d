#include "yearend/YearEndOps.h"

#include "core/MainD.h"
#include "core/Operator.h"
#include "db/Savepoint.h"
#include "platform/Paths.h"
#include "yearend/UpgradeStatements.h"

namespace YearEndOps {

namespace {

// The statement step: close the query, clear its text, add one statement, execute it.
void statementStep(Query &q, const QString &sql)
{
    q.setSql(sql);
    q.execute();
}

QStringList budgetPlanStatements()
{
    QStringList s;
    for (int m = 1; m <= 12; ++m) {
        s << QStringLiteral("update FJ_BWYD set BIL_WN%1 = 0").arg(m) << QStringLiteral("update FJ_BWYD set BIL_MA%1 = 0").arg(m);
        for (int d = 0; d <= 9; ++d)
            s << QStringLiteral("update FJ_BWYD set GR%1%2 = 0").arg(m).arg(d);
    }
    return s;
}

QStringList documentStatements()
{
    QStringList s;
    for (int m = 1; m <= 12; ++m)
        s << QStringLiteral("delete from FJ_DOK%1").arg(m)
          << (m == 1 ? QStringLiteral("SET GENERATOR NUMEWI_DOK TO 0") : QStringLiteral("SET GENERATOR NUMEWI_DOK%1 TO 0").arg(m));
    return s;
}

QStringList entryStatements()
{
    QStringList s;
    for (int m = 1; m <= 12; ++m)
        s << QStringLiteral("delete from FJ_ZAP%1").arg(m);
    return s;
}

struct Step {
    const char *button;
    const char *label;
    const char16_t *done;
};

const Step kSteps[] = {
    {"Button9", "Label44", u"Tworzenie wersji v.2.21 zakończono pomyślnie"},
    {"Button10", "Label45", u"Tworzenie wersji v.2.26 zakończono pomyślnie"},
    {"Button11", "Label48", u"Tworzenie wersji v.2.36(1)zakończono pomyślnie"},
    {"Button12", "Label49", u"Tworzenie wersji v.2.36(2) zakończono pomyślnie"},
    {"Button15", "Label51", u"Tworzenie wersji v.2.42(1) zakończono pomyślnie"},
    {"Button16", "Label52", u"Tworzenie wersji v.2.42(2)zakończono pomyślnie"},
    {"Button17", "Label53", u"Tworzenie wersji v.2.42(3) zakończono pomyślnie"},
};

} // namespace

const std::vector<Category> &categories()
{
    static const std::vector<Category> c{
        {"CheckBox10", "Label12", "OK ...", entryStatements()},
        {"CheckBox9", "Label11", "OK  ...", documentStatements()},
        {"CheckBox11", "Label13", "OK ...", {"delete from FJ_OBR"}},
        {"CheckBox12", "Label14", "OK ...", {"delete from FJ_BIL", "SET GENERATOR NUMZAP_BIL TO 0"}},
        {"CheckBox13", "Label15", "OK ...", {"delete from FJ_ZPLK"}},
        {"CheckBox14", "Label16", "OK ...", {"delete from FJ_ZPUK"}},
        {"CheckBox15", "Label17", "OK ...", {"delete from FJ_ROZR"}},
        {"CheckBox16", "Label18", "OK ...", {"delete from FJ_REJV"}},
        {"CheckBox17", "Label19", "OK ...", {"delete from FJ_STRU"}},
        {"CheckBox18", "Label20", "OK ...", {"delete from FJ_BWYD"}},
        {"CheckBox19", "Label21", "OK ...", {"delete from FJ_BDOC"}},
        {"CheckBox20", "Label22", "OK ...", {"delete from FJ_TYPD"}},
        {"CheckBox22", "Label27", "OK ...", budgetPlanStatements()},
        {"CheckBox23", "Label29", "OK ...", {"drop shadow 1"}},
    };
    return c;
}

void deleteCategories(TMainDm &dm, Operator &op, const std::array<bool, kCategoryCount> &checked)
{
    op.setLabel(QStringLiteral("Label11"), QString());
    op.setLabel(QStringLiteral("Label12"), QString());
    dm.EmployeeDb.setDatabaseName(dm.Settings.fullDatabaseName());
    Query &q = dm.IBQuery5;
    const auto &all = categories();
    for (size_t i = 0; i < all.size(); ++i) {
        if (!checked[i])
            continue;
        for (const QString &sql : all[i].statements)
            statementStep(q, sql);
        if (QLatin1String(all[i].checkBox) == QLatin1String("CheckBox23")) {
            dm.WriteD1(QString());
            dm.WriteD2(QString());
        }
        q.close();
        op.setLabel(QLatin1String(all[i].label), QLatin1String(all[i].text));
    }
}

QString shadowStatement(const QString &shadowFolder)
{
    // The folder goes inside an SQL string: its quotes are doubled.
    return QStringLiteral("create shadow 1 auto ") + QStringLiteral("'") +
           Paths::sqlLiteral(shadowFolder.trimmed() + Paths::separator() + QStringLiteral("bazaqk.shd")) + QStringLiteral("'");
}

void createShadow(TMainDm &dm, Operator &op, const QString &shadowFolder)
{
    statementStep(dm.IBQuery5, shadowStatement(shadowFolder));
    dm.IBQuery5.close();
    op.setLabel(QStringLiteral("Label30"), QStringLiteral("OK ..."));
}

void buildOpeningBalance(TMainDm &dm, Operator &op)
{
    // The emptied FJ_BIL must not reach the next commit when the insert fails (the opening balance
    // would be lost), nor may the failure undo the deletions and steps done before it.
    withSavepoint(dm.IBQuery5, QStringLiteral("QK_BILANS"), [&] {
        statementStep(dm.IBQuery5, QStringLiteral("DELETE FROM FJ_BIL"));
        statementStep(dm.IBQuery5, QStringLiteral(
                                       "INSERT INTO FJ_BIL SELECT CAST(NUMZAP AS DECIMAL(4,0)), KONTO, CAST(KWOWN AS "
                                       "DECIMAL(13,2)), CAST(KWOMA AS DECIMAL(13,2)), CAST(KWORO AS DECIMAL(13,2)), OPIS, "
                                       "CAST(TERDAT AS DATE), NAZWA1, NAZWA2, NAZWA3 FROM TA_BZBO"));
    });
    op.setLabel(QStringLiteral("Label28"), QStringLiteral("OK ..."));
}

void declarePackageTables(TMainDm &dm, Operator &op, const QString &folder)
{
    // Both tables are dropped and declared again, or neither: a failure leaves them as they were and
    // the button can simply be run again.
    Query &q = dm.IBQuery6;
    withSavepoint(q, QStringLiteral("QK_PACZKI"), [&] {
        statementStep(q, QStringLiteral("DROP TABLE TA_PACZ"));
        statementStep(q, UpgradeStatements::taPacz(folder));
        op.setLabel(QStringLiteral("Label54"), QStringLiteral("OK"));
        statementStep(q, QStringLiteral("DROP TABLE TA_PACZP"));
        statementStep(q, UpgradeStatements::taPaczp(folder));
        op.setLabel(QStringLiteral("Label54"), QStringLiteral("OK"));
    });
}

void upgrade(TMainDm &dm, Operator &op, const QString &button, const QString &folder)
{
    namespace U = UpgradeStatements;
    const Step *step = nullptr;
    for (const Step &s : kSteps)
        if (button == QLatin1String(s.button))
            step = &s;
    if (!step)
        return;
    const QString label = QLatin1String(step->label);
    op.setLabel(label, QString());
    op.processEvents();
    Query &q = dm.IBQuery6;
    if (button == QLatin1String("Button17")) {
        const std::pair<QString, const char *> tables[] = {{U::importPa(), "IMPORT_PA"},
                                                           {U::importPp(), "IMPORT_PP"},
                                                           {U::taPacz(folder), "TA_PACZ"},
                                                           {U::taPaczp(folder), "TA_PACZP"}};
        // All four tables or none, so that the step can be run again after a failure.
        withSavepoint(q, QStringLiteral("QK_WERSJA"), [&] {
            for (const auto &[sql, name] : tables) {
                statementStep(q, sql);
                op.setLabel(label, QStringLiteral("Tworzenie tabeli %1 ..... OK").arg(QLatin1String(name)));
            }
        });
    } else {
        const QString sql = button == QLatin1String("Button9")    ? U::importR()
                            : button == QLatin1String("Button10") ? U::komunR()
                            : button == QLatin1String("Button11") ? U::taZplk(dm.Settings.exchangeRoot())
                            : button == QLatin1String("Button12") ? U::importP()
                            : button == QLatin1String("Button15") ? U::paczka()
                                                                   : U::przelewy();
        statementStep(q, sql);
    }
    op.setLabel(label, QString::fromUtf16(step->done));
}

} // namespace YearEndOps
