#include "Label.h"

#include "ActionItem.h"

#include <QMouseEvent>
#include <QPixmap>
#include <tinyxml.h>

namespace
{
// Selectable by mouse, links reachable by mouse and, when there are any, by keyboard.
const int DefaultInteraction = Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse;
// Characters of a caption shown at most.
const int kMaxCaption = 16384;
} // namespace

CLabel::CLabel(CXmlObject* parentObject, QWidget* parentWidget)
    : QLabel(parentWidget), CXmlWidget(parentObject)
{
    connect(this, &CLabel::mouseEnterWidget, this,
            [this](const QString& text) { onMouseOverWidget(text); });
    connect(this, &CLabel::mouseLeaveWidget, this, [this] { onMouseOverWidget(QString()); });
}

CLabel::~CLabel() = default;

int CLabel::parse(TiXmlElement* element, QString& error)
{
    if (const char* title = element->Attribute("title"))
    {
        // A caption is read at a glance; laying out megabytes of one takes seconds
        // every time the label is measured or painted. Longer ones are cut short.
        QString caption = CXmlObject::translate(title);
        if (caption.size() > kMaxCaption)
            caption = caption.left(kMaxCaption) + QChar(0x2026);
        setText(caption);
    }
    m_sBuddy = QString::fromUtf8(element->Attribute("buddy"));
    setWordWrap(QString::fromUtf8(element->Attribute("wrap")).toLower() == QLatin1String("t"));

    int interaction = DefaultInteraction;
    // Keyboard access to links makes the label a Tab stop; a plain caption is none.
    if (text().contains(QLatin1String("<a "), Qt::CaseInsensitive))
        interaction |= Qt::LinksAccessibleByKeyboard;
    if (const char* value = element->Attribute("interaction"))
    {
        bool ok = false;
        const int flags = QString::fromUtf8(value).trimmed().toInt(&ok, 10);
        if (ok)
            interaction = flags;
    }
    setTextInteractionFlags(static_cast<Qt::TextInteractionFlags>(interaction));

    QPixmap image;
    const int imageResult = readPixmap(element, image);
    if (imageResult == 1)
    {
        const QString name = QString::fromUtf8(element->Attribute("name"));
        error = CXmlObject::translate("Failed to read image data from label \"%1\"").arg(name);
        return 1;
    }
    if (imageResult == 0)
        setPixmap(image);

    return CXmlWidget::parse(element, error);
}

int CLabel::initActions(QString& error)
{
    if (!m_sBuddy.isEmpty() && parentWidget())
    {
        if (QWidget* pBuddy = parentWidget()->findChild<QWidget*>(m_sBuddy))
            setBuddy(pBuddy);
    }
    return CXmlWidget::initActions(error);
}

bool CLabel::performAction(const QString& slot, const CActionItem* action)
{
    if (slot == QLatin1String("click"))
        emit clicked();
    else if (slot == QLatin1String("doubleclick"))
        emit doubleClicked();
    else
        return CXmlWidget::performAction(slot, action);
    return true;
}

int CLabel::initSignal(const QString& signal, const CActionItem* action, TiXmlElement* element,
                       QString& error)
{
    if (signal == QLatin1String("clicked"))
        connect(this, &CLabel::clicked, action, &CActionItem::doAction);
    else if (signal == QLatin1String("doubleclicked"))
        connect(this, &CLabel::doubleClicked, action, &CActionItem::doAction);
    else
        return CXmlWidget::initSignal(signal, action, element, error);
    return 0;
}

QWidget* CLabel::widget() const
{
    return const_cast<CLabel*>(this);
}

void CLabel::enterEvent(QEvent* event)
{
    QLabel::enterEvent(event);
    if (!m_sToolTip.isEmpty())
        emit mouseEnterWidget(m_sToolTip);
}

void CLabel::leaveEvent(QEvent* event)
{
    QLabel::leaveEvent(event);
    if (!m_sToolTip.isEmpty())
        emit mouseLeaveWidget();
}

void CLabel::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    // A press dragged off the label and released elsewhere is no click.
    if (rect().contains(event->pos()))
        emit clicked();
}

void CLabel::mouseDoubleClickEvent(QMouseEvent* event)
{
    QLabel::mouseDoubleClickEvent(event);
    emit doubleClicked();
}
