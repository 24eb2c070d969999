#include "ButtonGroup.h"

#include "RadioButton.h"

CButtonGroup::CButtonGroup(CXmlObject* parentObject, QWidget* parentWidget)
    : QButtonGroup(parentWidget), CXmlContainer(parentObject)
{
    setExclusive(true);
}

CButtonGroup::~CButtonGroup() = default;

QString CButtonGroup::getValue() const
{
    if (auto* pChecked = dynamic_cast<CRadioButton*>(checkedButton()))
        return pChecked->getValue();
    // With nothing checked the group stands for its default, whether or not a
    // button carries that value.
    return m_sDefaultValue;
}

void CButtonGroup::setValue(const QString& value)
{
    for (QAbstractButton* pButton : buttons())
    {
        auto* pRadio = dynamic_cast<CRadioButton*>(pButton);
        if (pRadio && pRadio->getValue() == value)
        {
            pRadio->setChecked(true);
            return;
        }
    }
}

CValueRule CButtonGroup::valueRule() const
{
    QStringList values;
    for (QAbstractButton* pButton : buttons())
    {
        if (auto* pRadio = dynamic_cast<CRadioButton*>(pButton))
            values << pRadio->getValue();
    }
    return CValueRule::oneOf(values);
}

QWidget* CButtonGroup::widget() const
{
    return nullptr;
}

CXmlWidget* CButtonGroup::createWidget(const QString& name, QString& error)
{
    CXmlContainer* pParent = parentContainer();
    if (name != QLatin1String("radiobutton") || !pParent)
    {
        error = CXmlObject::translate("ButtonGroup can only contain radio buttons.");
        return nullptr;
    }
    return pParent->createWidget(name, error);
}

int CButtonGroup::addWidget(const QString& name, CXmlWidget* object, TiXmlElement* element,
                            QString& error)
{
    auto* pRadio = dynamic_cast<CRadioButton*>(object);
    CXmlContainer* pParent = parentContainer();
    if (!pRadio || !pParent)
    {
        error = CXmlObject::translate("ButtonGroup can only contain radio buttons.");
        return 1;
    }
    addButton(pRadio);
    return pParent->addWidget(name, object, element, error);
}

CXmlContainer* CButtonGroup::parentContainer() const
{
    return dynamic_cast<CXmlContainer*>(m_pParent);
}
