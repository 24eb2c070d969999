#pragma once

#include <QPixmap>
#include <QStyledItemDelegate>

// Paints the page index's rows: the current row on a rounded highlight bar
// made of a left cap, a repeated middle and a right cap.
class CIndexDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit CIndexDelegate(QObject* parent = nullptr);
    ~CIndexDelegate() override;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    QPixmap m_left;
    QPixmap m_middle;
    QPixmap m_right;
};
