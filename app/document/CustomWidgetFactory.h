#pragma once

#include "shared/XmlWidgets/WidgetFactory.h"

// The application's element names on top of the framework's: the web-check
// action "validateurl", and "galleryaction", which only older tool versions
// could handle and which makes the definition refuse to load.
class CCustomWidgetFactory : public CWidgetFactory
{
    Q_OBJECT

public:
    explicit CCustomWidgetFactory(QObject* parent = nullptr);
    ~CCustomWidgetFactory() override;

    // No custom widgets.
    CXmlWidget* createCustomWidget(const QString& name, CXmlContainer* container,
                                   QString& error) override;
    CActionItem* createCustomAction(const QString& name, CXmlObject* owner,
                                    QString& error) override;
};
