#pragma once

#include "LineEdit.h"

// A line edit that accepts only a 32-bit integer ("numberedit"): an optional sign
// and digits.
class CNumberEdit : public CLineEdit
{
    Q_OBJECT

public:
    CNumberEdit(CXmlObject* parentObject, QWidget* parentWidget);
    ~CNumberEdit() override;

    // As a line edit; a "mask" replaces the integer check, because the mask's blanks
    // would otherwise never pass it.
    int parse(TiXmlElement* element, QString& error) override;
    CValueRule valueRule() const override;

protected:
    QString refusal(const QString& value) const override;
};
