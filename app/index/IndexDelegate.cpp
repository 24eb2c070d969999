#include "IndexDelegate.h"

#include <QAbstractItemView>
#include <QPainter>

CIndexDelegate::CIndexDelegate(QObject* parent)
    : QStyledItemDelegate(parent), m_left(QStringLiteral(":res/left.png")),
      m_middle(QStringLiteral(":res/middle.png")), m_right(QStringLiteral(":res/right.png"))
{
}

CIndexDelegate::~CIndexDelegate() = default;

void CIndexDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                           const QModelIndex& index) const
{
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const QAbstractItemView* const view = qobject_cast<const QAbstractItemView*>(opt.widget);
    const QRect rect = opt.rect;
    int leftWidth = m_left.width();
    int rightWidth = m_right.width();

    if (view && view->currentIndex() == index)
    {
        const int height = rect.height();
        const QPixmap left = m_left.scaledToHeight(height, Qt::SmoothTransformation);
        const QPixmap middle = m_middle.scaledToHeight(height, Qt::SmoothTransformation);
        const QPixmap right = m_right.scaledToHeight(height, Qt::SmoothTransformation);
        leftWidth = left.width();
        rightWidth = right.width();
        painter->save();
        painter->drawPixmap(rect.topLeft(), left);
        const QRect band(rect.left() + leftWidth, rect.top(),
                         qMax(0, rect.width() - leftWidth - rightWidth), height);
        painter->setBrushOrigin(band.topLeft());
        painter->fillRect(band, QBrush(middle));
        painter->drawPixmap(QPoint(band.right() + 1, rect.top()), right);
        painter->restore();
        opt.palette.setBrush(QPalette::Highlight, Qt::NoBrush);
        opt.palette.setColor(QPalette::Text, Qt::white);
        opt.palette.setColor(QPalette::HighlightedText, Qt::white);
    }
    // Other rows keep the index's text colour, which follows the palette.

    opt.rect = rect.adjusted(leftWidth, 0, -rightWidth, 0);
    opt.features &= ~QStyleOptionViewItem::HasDecoration;
    opt.icon = QIcon();
    opt.state &= ~(QStyle::State_HasFocus | QStyle::State_Selected);
    opt.backgroundBrush = Qt::NoBrush;
    // The standard painting, with the options prepared above.
    const QWidget* const widget = opt.widget;
    QStyle* const style = widget ? widget->style() : nullptr;
    if (style)
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    else
        QStyledItemDelegate::paint(painter, opt, index);
}

QSize CIndexDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(size.height() + 8);
    return size;
}
