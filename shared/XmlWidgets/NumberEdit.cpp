#include "NumberEdit.h"

#include <QIntValidator>
#include <limits>

CNumberEdit::CNumberEdit(CXmlObject* parentObject, QWidget* parentWidget)
    : CLineEdit(parentObject, parentWidget)
{
    setValidator(
        new QIntValidator(std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), this));
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
