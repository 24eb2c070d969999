#include "BitMask.h"

#include "CheckBox.h"

namespace
{
// A value that is not a decimal integer contributes no bits.
qlonglong bits(const QString& value)
{
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok, 10);
    return ok ? number : 0;
}
} // namespace

CBitMask::CBitMask(CXmlObject* parentObject, QWidget* parentWidget)
    : QButtonGroup(parentWidget), CXmlContainer(parentObject)
{
    setExclusive(false);
}

CBitMask::~CBitMask() = default;

QString CBitMask::getValue() const
{
    qlonglong mask = 0;
    for (QAbstractButton* pButton : buttons())
    {
        if (auto* pBox = dynamic_cast<CCheckBox*>(pButton))
            mask |= bits(pBox->getValue());
    }
    return QString::number(mask);
}

void CBitMask::setValue(const QString& value)
{
    const qlonglong mask = bits(value);
    for (QAbstractButton* pButton : buttons())
    {
        if (auto* pBox = dynamic_cast<CCheckBox*>(pButton))
            pBox->setChecked((mask & bits(pBox->checkValue())) != 0);
    }
}

CXmlObject::ValueFit CBitMask::offerValue(const QString& value, QString* reason)
{
    bool ok = false;
    const qlonglong mask = value.toLongLong(&ok, 10);
    qlonglong all = 0;
    for (QAbstractButton* pButton : buttons())
    {
        if (auto* pBox = dynamic_cast<CCheckBox*>(pButton))
            all |= bits(pBox->checkValue());
    }
    if (!ok || mask < 0 || (mask & ~all) != 0)
    {
        if (reason)
            *reason = CXmlObject::translate("is not %1").arg(valueRule().m_sText);
        return ValueRefused;
    }
    setValue(value);
    return getValue() == value ? ValueTaken : ValueAdjusted;
}

CValueRule CBitMask::valueRule() const
{
    CValueRule rule;
    for (QAbstractButton* pButton : buttons())
    {
        if (auto* pBox = dynamic_cast<CCheckBox*>(pButton))
            rule.m_lChoices << pBox->checkValue();
    }
    rule.m_sText =
        CXmlObject::translate("a sum of %1").arg(rule.m_lChoices.join(QStringLiteral(", ")));
    return rule;
}

QWidget* CBitMask::widget() const
{
    return nullptr;
}

CXmlWidget* CBitMask::createWidget(const QString& name, QString& error)
{
    CXmlContainer* pParent = parentContainer();
    if (name != QLatin1String("checkbox") || !pParent)
    {
        error = CXmlObject::translate("Bitmask can only contain checkboxes.");
        return nullptr;
    }
    return pParent->createWidget(name, error);
}

int CBitMask::addWidget(const QString& name, CXmlWidget* object, TiXmlElement* element,
                        QString& error)
{
    auto* pBox = dynamic_cast<CCheckBox*>(object);
    CXmlContainer* pParent = parentContainer();
    if (!pBox || !pParent)
    {
        error = CXmlObject::translate("Bitmask can only contain checkboxes.");
        return 1;
    }
    addButton(pBox);
    return pParent->addWidget(name, object, element, error);
}

CXmlContainer* CBitMask::parentContainer() const
{
    return dynamic_cast<CXmlContainer*>(m_pParent);
}
