#include "XmlWidget.h"

#include <QCoreApplication>
#include <QWidget>
#include <tinyxml.h>

namespace
{
// One literal per attribute, so each message has its own translation key.
QString incorrectValue(const QString& attribute, TiXmlElement* element, const QString& value)
{
    const char* text = "Incorrect value for \"visible\" attribute in object \"%1\": %2";
    if (attribute == QLatin1String("focus"))
        text = "Incorrect value for \"focus\" attribute in object \"%1\": %2";
    else if (attribute == QLatin1String("enabled"))
        text = "Incorrect value for \"enabled\" attribute in object \"%1\": %2";
    return QCoreApplication::translate("CXmlWidget", text)
        .arg(QString::fromUtf8(element->Attribute("name")), value);
}
} // namespace

CXmlWidget::CXmlWidget(CXmlObject* parent) : CXmlObject(parent) {}

CXmlWidget::~CXmlWidget() = default;

int CXmlWidget::parse(TiXmlElement* element, QString& error)
{
    if (!element)
        return CXmlObject::parse(element, error);
    QWidget* const target = widget();
    for (const TiXmlAttribute* attribute = element->FirstAttribute(); attribute;
         attribute = attribute->Next())
    {
        const QString name = QString::fromUtf8(attribute->Name()).toLower();
        const QString value = convertAttribute(attribute->Value());
        if (name == QLatin1String("name"))
        {
            // Style sheets and label buddies find the widget by this name.
            if (target)
                target->setObjectName(value);
        }
        else if (name == QLatin1String("style"))
        {
            if (target && !value.isEmpty())
                target->setStyleSheet(value);
        }
        else if (name == QLatin1String("tooltip"))
        {
            if (!value.isEmpty())
            {
                m_sToolTip = translate(attribute->Value());
                // The help text is shown on hovering only; a screen reader reads it here.
                if (target)
                    target->setAccessibleDescription(m_sToolTip);
            }
        }
        else if (name == QLatin1String("focus") || name == QLatin1String("enabled") ||
                 name == QLatin1String("visible"))
        {
            bool on = false;
            if (!parseBoolean(value, on))
            {
                error = incorrectValue(name, element, value);
                return ParseError;
            }
            if (!target)
                continue;
            if (name == QLatin1String("focus"))
            {
                if (on)
                    target->setFocus();
            }
            else if (name == QLatin1String("enabled"))
                target->setEnabled(on);
            else
                target->setVisible(on);
        }
    }
    return CXmlObject::parse(element, error);
}

bool CXmlWidget::performAction(const QString& slot, const CActionItem* /*action*/)
{
    QWidget* const target = widget();
    if (!target)
        return false;
    if (slot == QLatin1String("enable"))
        target->setEnabled(true);
    else if (slot == QLatin1String("disable"))
        target->setEnabled(false);
    else if (slot == QLatin1String("show"))
        target->show();
    else if (slot == QLatin1String("hide"))
        target->hide();
    else if (slot == QLatin1String("focus"))
        target->setFocus();
    return true;
}

void CXmlWidget::discardDefinition()
{
    CXmlObject::discardDefinition();
    m_sToolTip.clear();
}

CXmlWidget* CXmlWidget::rootWidget() const
{
    return dynamic_cast<CXmlWidget*>(rootObject());
}

void CXmlWidget::onMouseOverWidget(const QString& text) const
{
    rootObject()->onMouseOverWidgetImpl(text);
}
