#include "VLine.h"

CVLine::CVLine(CXmlObject* parentObject, QWidget* parentWidget)
    : CLine(parentObject, parentWidget, QFrame::VLine)
{
}

CVLine::~CVLine() = default;
