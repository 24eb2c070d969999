#include "CustomWidgetFactory.h"

#include <ActionItem.h>
#include <GalleryObsoleteException.h>

#ifdef TESSARY_HAVE_VALIDATION
#include <ValidateUrlAction.h>
#endif

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
#ifdef TESSARY_HAVE_VALIDATION
    if (name == QLatin1String("validateurl"))
        return new CValidateUrlAction(owner);
#endif
    if (name == QLatin1String("galleryaction"))
    {
        markObsolete(owner, std::make_shared<GalleryObsoleteException>());
        return new CActionItem(owner);
    }
    return nullptr;
}
