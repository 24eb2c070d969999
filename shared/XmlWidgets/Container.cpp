#include "Container.h"

#include <QLayout>

CContainer::CContainer(CXmlObject* parentObject, QWidget* parentWidget)
    : QFrame(parentWidget), CXmlContainer(parentObject)
{
}

CContainer::~CContainer() = default;

int CContainer::parse(TiXmlElement* element, QString& error)
{
    const int result = CXmlContainer::parse(element, error);
    if (result != 0)
        return result;
    if (QLayout* pLayout = layout())
        pLayout->setContentsMargins(0, 0, 0, 0);
    return 0;
}

QWidget* CContainer::widget() const
{
    return const_cast<CContainer*>(this);
}
