#pragma once

#include <QString>

class CXmlContainer;
class CXmlWidget;

// The built-in element table: a new object of the kind named by name (compared
// exactly), with container as parent object and container->widget() as parent
// widget; null for names that are not built-in kinds.
CXmlWidget* createBuiltinWidget(const QString& name, CXmlContainer* container);
