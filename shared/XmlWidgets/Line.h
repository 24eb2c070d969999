#pragma once

#include "XmlWidget.h"

#include <QFrame>

// A separator line; only the common attributes apply.
class CLine : public QFrame, public CXmlWidget
{
    Q_OBJECT

public:
    CLine(CXmlObject* parentObject, QWidget* parentWidget, QFrame::Shape shape);
    ~CLine() override;

    QWidget* widget() const override;
};
