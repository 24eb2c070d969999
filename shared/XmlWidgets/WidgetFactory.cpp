#include "WidgetFactory.h"

#include "XmlContainer.h"

CWidgetFactory::CWidgetFactory(QObject* parent) : QObject(parent) {}

CWidgetFactory::~CWidgetFactory()
{
    if (CXmlContainer::m_pStaticWidgetFactory == this)
        CXmlContainer::m_pStaticWidgetFactory = nullptr;
}

CXmlWidget* CWidgetFactory::createCustomWidget(const QString& /*name*/,
                                               CXmlContainer* /*container*/, QString& /*error*/)
{
    return nullptr;
}

CActionItem* CWidgetFactory::createCustomAction(const QString& /*name*/, CXmlObject* /*owner*/,
                                                QString& /*error*/)
{
    return nullptr;
}

void CWidgetFactory::markObsolete(CXmlObject* owner,
                                  const std::shared_ptr<CustomWidgetObsoleteException>& pException)
{
    if (owner)
        owner->rootObject()->setLoadedXmlDeprecated(pException);
}
