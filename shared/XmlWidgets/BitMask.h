#pragma once

#include "XmlContainer.h"

#include <QButtonGroup>

// A set of check boxes whose numeric check values combine into one number
// ("bitmask"). No widget of its own: the boxes belong to, and are laid out by, the
// bit mask's parent container.
class CBitMask : public QButtonGroup, public CXmlContainer
{
    Q_OBJECT

public:
    CBitMask(CXmlObject* parentObject, QWidget* parentWidget);
    ~CBitMask() override;

    // Bitwise OR of the boxes' current values read as decimal integers, in decimal.
    QString getValue() const override;
    // Checks exactly the boxes whose check value shares a bit with value; silently.
    void setValue(const QString& value) override;
    // A sum of the boxes' values; a number with other bits is refused.
    ValueFit offerValue(const QString& value, QString* reason = nullptr) override;
    CValueRule valueRule() const override;
    QWidget* widget() const override;

    // "checkbox" only, created by the parent container.
    CXmlWidget* createWidget(const QString& name, QString& error) override;
    // Joins the mask, then is placed by the parent container.
    int addWidget(const QString& name, CXmlWidget* object, TiXmlElement* element,
                  QString& error) override;

private:
    CXmlContainer* parentContainer() const;
};
