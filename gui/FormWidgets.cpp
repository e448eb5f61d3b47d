#include "gui/FormWidgets.h"

#include <QButtonGroup>
#include <QLineEdit>
#include <QRadioButton>
#include <QToolButton>

TRadioGroup::TRadioGroup(const QString &caption, const QStringList &items, int columns, QWidget *parent)
    : QGroupBox(caption, parent), m_items(items), m_columns(std::max(1, columns)),
      m_group(new QButtonGroup(this)) {
    for (int i = 0; i < items.size(); ++i) {
        auto *b = new QRadioButton(items[i], this);
        m_group->addButton(b, i);
    }
    connect(m_group, &QButtonGroup::idClicked, this, [this](int) { emit clicked(); });
    layoutItems();
}

int TRadioGroup::itemIndex() const {
    return m_group->checkedId();
}

void TRadioGroup::setItemIndex(int index) {
    if (QAbstractButton *b = m_group->button(index))
        b->setChecked(true);
}

void TRadioGroup::resizeEvent(QResizeEvent *event) {
    QGroupBox::resizeEvent(event);
    layoutItems();
}

void TRadioGroup::layoutItems() {
    // Items fill the columns left to right, rows top to bottom, inside the frame below the caption.
    const QRect inside = contentsRect().adjusted(8, 0, -8, 0);
    const int rows = int((m_items.size() + m_columns - 1) / m_columns);
    const int colWidth = inside.width() / m_columns;
    const int rowHeight = rows > 0 ? std::max(18, inside.height() / rows) : 0;
    for (int i = 0; i < m_items.size(); ++i) {
        const int h = std::min(rowHeight, 22);
        QAbstractButton *b = m_group->button(i);
        b->setGeometry(inside.left() + (i % m_columns) * colWidth,
                       inside.top() + (i / m_columns) * rowHeight + (rowHeight - h) / 2, colWidth, h);
    }
}

TUpDown::TUpDown(QWidget *parent)
    : QWidget(parent), m_up(new QToolButton(this)), m_down(new QToolButton(this)) {
    m_up->setArrowType(Qt::UpArrow);
    m_down->setArrowType(Qt::DownArrow);
    m_up->setAutoRepeat(true);
    m_down->setAutoRepeat(true);
    m_up->setFocusPolicy(Qt::NoFocus);
    m_down->setFocusPolicy(Qt::NoFocus);
    connect(m_up, &QToolButton::clicked, this, [this] { stepBy(1); });
    connect(m_down, &QToolButton::clicked, this, [this] { stepBy(-1); });
}

void TUpDown::setAssociate(QLineEdit *edit) {
    m_edit = edit;
}

void TUpDown::setRange(int min, int max) {
    m_min = min;
    m_max = max;
    m_position = std::clamp(m_position, m_min, m_max);
}

int TUpDown::position() const {
    if (m_edit) {
        bool ok = false;
        const int v = m_edit->text().trimmed().toInt(&ok);
        if (ok)
            m_position = std::clamp(v, m_min, m_max);
    }
    return m_position;
}

void TUpDown::setPosition(int position) {
    m_position = std::clamp(position, m_min, m_max);
    if (m_edit)
        m_edit->setText(QString::number(m_position));
}

void TUpDown::stepBy(int delta) {
    setPosition(position() + delta);
}

void TUpDown::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    const int h = height() / 2;
    m_up->setGeometry(0, 0, width(), h);
    m_down->setGeometry(0, h, width(), height() - h);
}
