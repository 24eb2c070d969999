#include "WidgetKinds.h"

CXmlWidget* createBuiltinWidget(const QString& name, CXmlContainer* container)
{
    Q_UNUSED(name);
    Q_UNUSED(container);
    return nullptr;
}
