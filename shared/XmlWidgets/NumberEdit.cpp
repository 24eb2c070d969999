#include "NumberEdit.h"

#include <QIntValidator>
#include <QLocale>
#include <limits>

CNumberEdit::CNumberEdit(CXmlObject* parentObject, QWidget* parentWidget)
    : CLineEdit(parentObject, parentWidget)
{
    auto* pValidator =
        new QIntValidator(std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), this);
    // The user's locale would let group separators ("1,000") through; the value is
    // a plain integer.
    QLocale plain = QLocale::c();
    plain.setNumberOptions(QLocale::RejectGroupSeparator);
    pValidator->setLocale(plain);
    setValidator(pValidator);
}

CNumberEdit::~CNumberEdit() = default;

int CNumberEdit::parse(TiXmlElement* element, QString& error)
{
    const int result = CLineEdit::parse(element, error);
    if (result != 0)
        return result;
    if (!inputMask().isEmpty())
        setValidator(nullptr);
    return 0;
}

CValueRule CNumberEdit::valueRule() const
{
    CValueRule rule = CLineEdit::valueRule();
    if (rule.m_sMask.isEmpty())
        rule.m_sText = CXmlObject::translate("a whole number");
    return rule;
}

QString CNumberEdit::refusal(const QString& value) const
{
    if (!inputMask().isEmpty())
        return CLineEdit::refusal(value);
    return CXmlObject::translate("is not a whole number");
}
