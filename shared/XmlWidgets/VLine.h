#pragma once

#include "Line.h"

// A vertical ("vline") separator line.
class CVLine : public CLine
{
    Q_OBJECT

public:
    CVLine(CXmlObject* parentObject, QWidget* parentWidget);
    ~CVLine() override;
};
