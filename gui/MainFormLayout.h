#pragma once

#include <QRect>

#include <initializer_list>
#include <vector>

// The window's controls as designed: tab, name, kind, caption or text, hint, place, parent, look.
namespace MainFormLayout {

enum class Kind {
    Label,
    Button,
    Edit,
    Memo,
    CheckBox,
    RadioGroup,
    GroupBox,
    ListBox,
    Panel,
    UpDown,
    ProgressBar
};

namespace Flag {
enum : unsigned { Bold = 1, Hidden = 2, Disabled = 4, ReadOnly = 8, InfoBg = 16, YellowBg = 32 };
}

struct Control {
    const char *tab;
    const char *name;
    Kind kind;
    const char16_t *text; // caption, or an edit's text
    const char16_t *hint;
    QRect place;        // relative to the tab page, or to the parent
    const char *parent; // empty: the tab page
    unsigned flags;
    int pixelSize;
    std::vector<const char16_t *> items; // radio group items
    int columns;
    const char *associate; // an up-down's edit
};

struct Tab {
    const char *name;
    const char16_t *caption;
};

const std::vector<Tab> &tabs();
const std::vector<Control> &controls();

} // namespace MainFormLayout
