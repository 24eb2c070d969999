#include "Button.h"

#include "ActionItem.h"

#include <tinyxml.h>

CButton::CButton(CXmlObject* parentObject, QWidget* parentWidget)
    : QPushButton(parentWidget), CXmlWidget(parentObject)
{
    connect(this, &QAbstractButton::clicked, this, [this] { changed(); });
    connect(this, &CButton::mouseEnterWidget, this,
            [this](const QString& text) { onMouseOverWidget(text); });
    connect(this, &CButton::mouseLeaveWidget, this, [this] { onMouseOverWidget(QString()); });
}

CButton::~CButton() = default;

int CButton::parse(TiXmlElement* element, QString& error)
{
    const int result = CXmlWidget::parse(element, error);
    if (result != 0)
        return result;
    const QString isDefault = QString::fromUtf8(element->Attribute("default"));
    bool bDefault = false;
    if (!isDefault.isEmpty())
    {
        if (!CXmlObject::parseBoolean(isDefault, bDefault))
        {
            error = CXmlObject::translate("Incorrect value for \"default\" attribute in object "
                                          "\"%1\": %2")
                        .arg(m_sName, isDefault);
            return 1;
        }
        setDefault(bDefault);
    }
    if (const char* title = element->Attribute("title"))
        setText(CXmlObject::translate(title));
    return 0;
}

bool CButton::performAction(const QString& slot, const CActionItem* action)
{
    if (slot == QLatin1String("click"))
    {
        click();
        return true;
    }
    return CXmlWidget::performAction(slot, action);
}

int CButton::initSignal(const QString& signal, const CActionItem* action, TiXmlElement* element,
                        QString& error)
{
    if (signal == QLatin1String("clicked"))
    {
        connect(this, &QAbstractButton::clicked, action, &CActionItem::doAction);
        return 0;
    }
    return CXmlWidget::initSignal(signal, action, element, error);
}

QWidget* CButton::widget() const
{
    return const_cast<CButton*>(this);
}

void CButton::enterEvent(QEvent* event)
{
    QPushButton::enterEvent(event);
    if (!m_sToolTip.isEmpty())
        emit mouseEnterWidget(m_sToolTip);
}

void CButton::leaveEvent(QEvent* event)
{
    QPushButton::leaveEvent(event);
    if (!m_sToolTip.isEmpty())
        emit mouseLeaveWidget();
}
