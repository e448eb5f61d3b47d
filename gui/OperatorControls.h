#pragma once

#include "core/Operator.h"

// Where the window shows what an operation says: the one table from the operator's terms to the
// window's named controls.
namespace OperatorControls {

// The memo of a log: BuMemo, StatsMemo, PropMemo, Memo1.
const char16_t *memo(Operator::Log log);
// The status label and the activity bar of a long step: Label43 and ProgressBar1 (export), Label42 and
// ProgressBar2 (import), Label59 and ProgressBar3 (transfer packages).
const char16_t *stageLabel(Operator::Activity activity);
const char16_t *activityBar(Operator::Activity activity);
// The label of a year-end result, and the control that asks for it: a deletion category's check box,
// an upgrade step's button (null for the others).
const char16_t *resultLabel(Operator::YearEnd item);
const char16_t *resultControl(Operator::YearEnd item);
// The lock flag's label (Label47) and the connection counter's (Label10 on "Zabezpieczenia", Label26 on
// "Kopia/Odtwarzanie").
inline constexpr const char16_t *kLockFlag = u"Label47";
inline constexpr const char16_t *kConnectionCounts[] = {u"Label10", u"Label26"};

} // namespace OperatorControls
