#pragma once

#include "core/Operator.h"

#include <QString>
#include <QStringList>

#include <array>
#include <vector>

class TMainDm;

// Year-end work on the accounting database: deletion by category, the shadow file, the opening
// balance, the transfer external tables and the schema upgrades. Nothing here commits: the work joins
// the shared transaction, made permanent by the next activation's commit.
namespace YearEndOps {

// The deletion categories, in the order they are processed.
struct Category {
    Operator::YearEnd result; // where its acknowledgement is shown
    const char *text;
    QStringList statements; // for the shadow category: "drop shadow 1", then the settings keys are emptied
};
const std::vector<Category> &categories();
constexpr int kCategoryCount = 14;

// checked: by the categories' order.
void deleteCategories(TMainDm &dm, Operator &op, const std::array<bool, kCategoryCount> &checked);
void createShadow(TMainDm &dm, Operator &op, const QString &shadowFolder);
QString shadowStatement(const QString &shadowFolder);

// Empties FJ_BIL and fills it from TA_BZBO; on failure rolled back, FJ_BIL as it was.
void buildOpeningBalance(TMainDm &dm, Operator &op);
// Declares TA_PACZ and TA_PACZP again over "paczki" in folder (the executable's, ending with the separator).
void declarePackageTables(TMainDm &dm, Operator &op, const QString &folder);

// One schema upgrade step (Operator::YearEnd::Upgrade221 to Upgrade242c); folder as for the package tables.
void upgrade(TMainDm &dm, Operator &op, Operator::YearEnd step, const QString &folder);

} // namespace YearEndOps
