#pragma once

#include "Line.h"

// A horizontal ("hline") separator line.
class CHLine : public CLine
{
    Q_OBJECT

public:
    CHLine(CXmlObject* parentObject, QWidget* parentWidget);
    ~CHLine() override;
};
