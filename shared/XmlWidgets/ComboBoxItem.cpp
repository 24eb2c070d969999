#include "ComboBoxItem.h"

#include "ActionItem.h"
#include "ComboBox.h"

#include <tinyxml.h>

CComboBoxItem::CComboBoxItem(CXmlObject* parentObject, QWidget* parentWidget)
    : QObject(parentWidget), CXmlWidget(parentObject),
      m_pComboBox(dynamic_cast<CComboBox*>(parentObject))
{
}

CComboBoxItem::~CComboBoxItem() = default;

int CComboBoxItem::parse(TiXmlElement* element, QString& error)
{
    const int result = CXmlWidget::parse(element, error);
    if (result != 0)
        return result;
    m_sText = element->Attribute("title") ? CXmlObject::translate(element->Attribute("title"))
                                          : QString();
    if (m_sText.isEmpty())
    {
        error = CXmlObject::translate("Attribute \"title\" not found in ComboBox entry");
        return 1;
    }
    m_sValue = QString::fromUtf8(element->Attribute("value"));
    if (m_sValue.isEmpty())
    {
        error = CXmlObject::translate("Attribute \"value\" not found in ComboBox entry");
        return 1;
    }
    return 0;
}

void CComboBoxItem::setValue(const QString& value)
{
    m_sValue = value;
}

QString CComboBoxItem::getValue() const
{
    return m_sValue;
}

int CComboBoxItem::initSignal(const QString& signal, const CActionItem* action,
                              TiXmlElement* /*element*/, QString& error)
{
    if (signal == QLatin1String("selected"))
        connect(this, &CComboBoxItem::selected, action, &CActionItem::doAction);
    else
        error = CXmlObject::translate("Unsupported signal in ComboBox entry: %1").arg(signal);
    return 0;
}

QWidget* CComboBoxItem::widget() const
{
    return nullptr;
}

void CComboBoxItem::setSelected()
{
    emit selected();
}
