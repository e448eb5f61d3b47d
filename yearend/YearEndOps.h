#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <vector>

class Operator;
class TMainDm;

// Year-end work on the accounting database: deletion by category, the shadow file, the opening
// balance, the transfer external tables and the schema upgrades. Nothing here commits: the work joins
// the shared transaction, made permanent by the next activation's commit.
namespace YearEndOps {

// The deletion categories, in the order they are processed.
struct Category {
    const char *checkBox;
    const char *label;
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

// The upgrade steps by their buttons: Button9, Button10, Button11, Button12, Button15, Button16, Button17.
void upgrade(TMainDm &dm, Operator &op, const QString &button, const QString &folder);

} // namespace YearEndOps
