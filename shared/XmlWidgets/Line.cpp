#include "Line.h"

CLine::CLine(CXmlObject* parentObject, QWidget* parentWidget, QFrame::Shape shape)
    : QFrame(parentWidget), CXmlWidget(parentObject)
{
    setFrameShape(shape);
    setFrameShadow(QFrame::Sunken);
}

CLine::~CLine() = default;

QWidget* CLine::widget() const
{
    return const_cast<CLine*>(this);
}
