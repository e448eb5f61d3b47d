#include "gui/OperatorControls.h"

#include <cstddef>

namespace OperatorControls {

namespace {

using L = Operator::Log;
using A = Operator::Activity;
using Y = Operator::YearEnd;

struct LogPlace {
    L log;
    const char16_t *memo;
};
constexpr LogPlace kLogs[] = {{L::Backup, u"BuMemo"},
                              {L::Statistics, u"StatsMemo"},
                              {L::Properties, u"PropMemo"},
                              {L::Attachments, u"Memo1"}};

struct ActivityPlace {
    A activity;
    const char16_t *label;
    const char16_t *bar;
};
constexpr ActivityPlace kActivities[] = {{A::Export, u"Label43", u"ProgressBar1"},
                                         {A::Import, u"Label42", u"ProgressBar2"},
                                         {A::Transfers, u"Label59", u"ProgressBar3"}};

struct ResultPlace {
    Y item;
    const char16_t *label;
    const char16_t *control;
};
constexpr ResultPlace kResults[] = {
    {Y::Entries, u"Label12", u"CheckBox10"},
    {Y::Documents, u"Label11", u"CheckBox9"},
    {Y::Turnovers, u"Label13", u"CheckBox11"},
    {Y::OpeningBalanceDeleted, u"Label14", u"CheckBox12"},
    {Y::Zplk, u"Label15", u"CheckBox13"},
    {Y::Zpuk, u"Label16", u"CheckBox14"},
    {Y::Contractors, u"Label17", u"CheckBox15"},
    {Y::VatRegister, u"Label18", u"CheckBox16"},
    {Y::Structures, u"Label19", u"CheckBox17"},
    {Y::Expenses, u"Label20", u"CheckBox18"},
    {Y::Income, u"Label21", u"CheckBox19"},
    {Y::DocumentTypes, u"Label22", u"CheckBox20"},
    {Y::BudgetPlans, u"Label27", u"CheckBox22"},
    {Y::ShadowDropped, u"Label29", u"CheckBox23"},
    {Y::Shadow, u"Label30", nullptr},
    {Y::OpeningBalance, u"Label28", nullptr},
    {Y::PackageTables, u"Label54", nullptr},
    {Y::Upgrade221, u"Label44", u"Button9"},
    {Y::Upgrade226, u"Label45", u"Button10"},
    {Y::Upgrade236a, u"Label48", u"Button11"},
    {Y::Upgrade236b, u"Label49", u"Button12"},
    {Y::Upgrade242a, u"Label51", u"Button15"},
    {Y::Upgrade242b, u"Label52", u"Button16"},
    {Y::Upgrade242c, u"Label53", u"Button17"},
};

template <typename Row, std::size_t N, typename Key>
const Row &placeOf(const Row (&table)[N], Key Row::*key, Key value) {
    for (const Row &row : table)
        if (row.*key == value)
            return row;
    return table[0]; // every enumerator has its row (the window's tests check)
}

} // namespace

const char16_t *memo(Operator::Log log) {
    return placeOf(kLogs, &LogPlace::log, log).memo;
}

const char16_t *stageLabel(Operator::Activity activity) {
    return placeOf(kActivities, &ActivityPlace::activity, activity).label;
}

const char16_t *activityBar(Operator::Activity activity) {
    return placeOf(kActivities, &ActivityPlace::activity, activity).bar;
}

const char16_t *resultLabel(Operator::YearEnd item) {
    return placeOf(kResults, &ResultPlace::item, item).label;
}

const char16_t *resultControl(Operator::YearEnd item) {
    return placeOf(kResults, &ResultPlace::item, item).control;
}

} // namespace OperatorControls
