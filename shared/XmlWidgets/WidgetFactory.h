#pragma once

#include <QObject>
#include <QString>
#include <memory>

class CActionItem;
class CXmlContainer;
class CXmlObject;
class CXmlWidget;
class CustomWidgetObsoleteException;

// The application's extension point for element names the framework does not
// know. The base knows none.
class CWidgetFactory : public QObject
{
    Q_OBJECT

public:
    explicit CWidgetFactory(QObject* parent = nullptr);
    // Uninstalls itself when it is still CXmlContainer's static factory.
    ~CWidgetFactory() override;

    // A custom widget for name in container, or null.
    virtual CXmlWidget* createCustomWidget(const QString& name, CXmlContainer* container,
                                           QString& error);
    // A custom action owned by owner for the lower-cased element name, or null
    // when name is not an action.
    virtual CActionItem* createCustomAction(const QString& name, CXmlObject* owner, QString& error);

    // Records on owner's root that the definition needs another tool version;
    // the main window refuses the document with the record's message.
    static void markObsolete(CXmlObject* owner,
                             const std::shared_ptr<CustomWidgetObsoleteException>& pException);
};
