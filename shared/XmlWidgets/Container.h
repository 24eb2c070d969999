#pragma once

#include "XmlContainer.h"

#include <QFrame>

// A frame holding a layout of child widgets ("container" element); pages keep
// their widgets in one too.
class CContainer : public QFrame, public CXmlContainer
{
    Q_OBJECT

public:
    CContainer(CXmlObject* parentObject, QWidget* parentWidget);
    ~CContainer() override;

    // The container parse; a layout it creates gets no margins of its own, so
    // nested containers line up with their surroundings.
    int parse(TiXmlElement* element, QString& error) override;
    QWidget* widget() const override;
};
