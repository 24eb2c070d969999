#include "HyperLink.h"

#include <QIcon>
#include <tinyxml.h>

CHyperLink::CHyperLink(CXmlObject* parentObject, QWidget* parentWidget)
    : CButton(parentObject, parentWidget)
{
    setFlat(true);
    setCursor(Qt::PointingHandCursor);
    setMouseTracking(true);
}

CHyperLink::~CHyperLink() = default;

int CHyperLink::parse(TiXmlElement* element, QString& error)
{
    const int result = CButton::parse(element, error);
    if (result != 0)
        return result;
    for (const char* name : {"icon", "upicon"})
    {
        if (const char* path = element->Attribute(name))
        {
            m_ButtonUp = QPixmap(QString::fromUtf8(path));
            m_ButtonDown = m_ButtonUp;
            m_ButtonHover = m_ButtonUp;
        }
    }
    if (const char* path = element->Attribute("downicon"))
        m_ButtonDown = QPixmap(QString::fromUtf8(path));
    if (const char* path = element->Attribute("hovericon"))
        m_ButtonHover = QPixmap(QString::fromUtf8(path));
    updateImage();
    return 0;
}

const QPixmap& CHyperLink::shownImage() const
{
    if (isDown())
        return m_ButtonDown;
    return m_bHovered ? m_ButtonHover : m_ButtonUp;
}

void CHyperLink::enterEvent(QEvent* event)
{
    // Skips the push button's mouse-over help on purpose.
    QPushButton::enterEvent(event);
    m_bHovered = true;
    updateImage();
}

void CHyperLink::leaveEvent(QEvent* event)
{
    QPushButton::leaveEvent(event);
    m_bHovered = false;
    updateImage();
}

void CHyperLink::mousePressEvent(QMouseEvent* event)
{
    CButton::mousePressEvent(event);
    updateImage();
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event)
{
    CButton::mouseReleaseEvent(event);
    updateImage();
}

void CHyperLink::updateImage()
{
    const QPixmap& image = shownImage();
    if (image.isNull())
        return;
    setIcon(QIcon(image));
    setIconSize(image.size());
}
