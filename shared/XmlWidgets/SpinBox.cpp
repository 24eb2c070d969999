#include "SpinBox.h"

#include <tinyxml.h>

CSpinBox::CSpinBox(CXmlObject* parentObject, QWidget* parentWidget)
    : QSpinBox(parentWidget), CXmlWidget(parentObject)
{
    connect(this, QOverload<int>::of(&QSpinBox::valueChanged), this, [this] { changed(); });
}

CSpinBox::~CSpinBox() = default;

int CSpinBox::parse(TiXmlElement* element, QString& error)
{
    const int result = CXmlWidget::parse(element, error);
    if (result != 0)
        return result;

    if (!element->Attribute("minimum"))
    {
        error = CXmlObject::translate("Missing minimum attribute in spinbox");
        return 1;
    }
    if (!element->Attribute("maximum"))
    {
        error = CXmlObject::translate("Missing maximum attribute in spinbox");
        return 1;
    }
    int minimum = 0;
    int maximum = 0;
    if (readInteger(element, "minimum", minimum, error) != 0 ||
        readInteger(element, "maximum", maximum, error) != 0)
        return 1;
    if (element->Attribute("step"))
    {
        int step = 1;
        if (readInteger(element, "step", step, error) != 0)
            return 1;
        setSingleStep(step);
    }
    setPrefix(element->Attribute("prefix") ? translate(element->Attribute("prefix")) : QString());
    setSuffix(element->Attribute("suffix") ? translate(element->Attribute("suffix")) : QString());
    setRange(minimum, maximum);
    return 0;
}

void CSpinBox::setValue(const QString& value)
{
    bool ok = false;
    const int number = value.toInt(&ok, 10);
    if (ok)
        QSpinBox::setValue(number);
}

QString CSpinBox::getValue() const
{
    return QString::number(value());
}

CXmlObject::ValueFit CSpinBox::offerValue(const QString& text, QString* reason)
{
    bool ok = false;
    const int number = text.toInt(&ok, 10);
    if (!ok)
    {
        if (reason)
            *reason = CXmlObject::translate("is not a whole number");
        return ValueRefused;
    }
    QSpinBox::setValue(number);
    if (getValue() == text)
        return ValueTaken;
    if (reason)
        *reason = value() == number
                      ? CXmlObject::translate("was written as %1").arg(value())
                      : CXmlObject::translate("is outside %1").arg(valueRule().m_sText);
    return ValueAdjusted;
}

CValueRule CSpinBox::valueRule() const
{
    CValueRule rule;
    rule.m_bRange = true;
    rule.m_iMinimum = minimum();
    rule.m_iMaximum = maximum();
    rule.m_sText = CXmlObject::translate("%1 to %2").arg(minimum()).arg(maximum());
    return rule;
}

QWidget* CSpinBox::widget() const
{
    return const_cast<CSpinBox*>(this);
}

int CSpinBox::readInteger(TiXmlElement* element, const char* name, int& result,
                          QString& error) const
{
    // A limit that is not a number would silently become 0; say so instead.
    const QString text = QString::fromUtf8(element->Attribute(name)).trimmed();
    bool ok = false;
    result = text.toInt(&ok, 10);
    if (!ok)
    {
        error = CXmlObject::translate("Incorrect value for \"%1\" attribute in spinbox \"%2\": %3")
                    .arg(QString::fromLatin1(name), m_sName, text);
        return 1;
    }
    return 0;
}
