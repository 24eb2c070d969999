#include "CustomWidgetFactory.h"

#include "shared/XmlWidgets/ActionItem.h"
#include "shared/XmlWidgets/GalleryObsoleteException.h"

#include "app/validation/ValidateUrlAction.h"

CCustomWidgetFactory::CCustomWidgetFactory(QObject* parent) : CWidgetFactory(parent) {}

CCustomWidgetFactory::~CCustomWidgetFactory() = default;

CXmlWidget* CCustomWidgetFactory::createCustomWidget(const QString& /*name*/,
                                                     CXmlContainer* /*container*/,
                                                     QString& /*error*/)
{
    return nullptr;
}

CActionItem* CCustomWidgetFactory::createCustomAction(const QString& name, CXmlObject* owner,
                                                      QString& /*error*/)
{
    if (name == QLatin1String("validateurl"))
        return new CValidateUrlAction(owner);
    if (name == QLatin1String("galleryaction"))
    {
        markObsolete(owner, std::make_shared<GalleryObsoleteException>());
        return new CActionItem(owner);
    }
    return nullptr;
}
