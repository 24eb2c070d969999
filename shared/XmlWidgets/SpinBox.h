#pragma once

#include "XmlWidget.h"

#include <QSpinBox>

// An integer field with arrows ("spinbox"); its value is the number in decimal.
class CSpinBox : public QSpinBox, public CXmlWidget
{
    Q_OBJECT

public:
    CSpinBox(CXmlObject* parentObject, QWidget* parentWidget);
    ~CSpinBox() override;

    // Common attributes, then "minimum" and "maximum" (required), "step", and the
    // translated "prefix" and "suffix".
    int parse(TiXmlElement* element, QString& error) override;
    // Takes base-10 integers only; anything else changes nothing.
    void setValue(const QString& value) override;
    QString getValue() const override;
    // A whole number; one beyond the limits is brought to the nearest limit, as the
    // field does with what is typed.
    ValueFit offerValue(const QString& value, QString* reason = nullptr) override;
    CValueRule valueRule() const override;
    QWidget* widget() const override;

private:
    // Reads attribute name as an integer; 1 with a message when it is not one.
    int readInteger(TiXmlElement* element, const char* name, int& result, QString& error) const;
};
