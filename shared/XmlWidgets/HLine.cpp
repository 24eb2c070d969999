#include "HLine.h"

CHLine::CHLine(CXmlObject* parentObject, QWidget* parentWidget)
    : CLine(parentObject, parentWidget, QFrame::HLine)
{
}

CHLine::~CHLine() = default;
