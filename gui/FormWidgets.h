#pragma once

#include <QGroupBox>
#include <QWidget>

class QButtonGroup;
class QLineEdit;
class QToolButton;

// A captioned group of radio buttons laid out in columns; "clicked" when the operator selects an item.
class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    TRadioGroup(const QString &caption, const QStringList &items, int columns, QWidget *parent = nullptr);
    int itemIndex() const;
    void setItemIndex(int index);
    QStringList items() const { return m_items; }
    int columns() const { return m_columns; }

signals:
    void clicked();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void layoutItems();
    QStringList m_items;
    int m_columns;
    QButtonGroup *m_group;
};

// Two arrow buttons bound to an edit: they step the number in the edit within a range. The position is
// the edit's number, kept within the range; a text that is no number leaves the last position.
class TUpDown : public QWidget {
    Q_OBJECT
public:
    explicit TUpDown(QWidget *parent = nullptr);
    void setAssociate(QLineEdit *edit);
    QLineEdit *associate() const { return m_edit; }
    void setRange(int min, int max);
    int min() const { return m_min; }
    int max() const { return m_max; }
    int position() const;
    void setPosition(int position);
    void stepBy(int delta);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QLineEdit *m_edit = nullptr;
    QToolButton *m_up;
    QToolButton *m_down;
    int m_min = 0;
    int m_max = 100;
    mutable int m_position = 0;
};
