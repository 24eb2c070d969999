#pragma once

#include "XmlWidget.h"

class QBoxLayout;
class QGridLayout;
class QStackedLayout;
class CXmlValidator;
class CWidgetFactory;

// An object whose element's children become objects placed in its layout.
class CXmlContainer : public CXmlWidget
{
public:
    explicit CXmlContainer(CXmlObject* parent);
    ~CXmlContainer() override;

    // CXmlWidget::parse, then the "layout", then every child element: validated,
    // filtered by "os", created, parsed and placed, in document order.
    int parse(TiXmlElement* element, QString& error) override;
    // Also removes the layout the definition's "layout" attribute made.
    void discardDefinition() override;

    // The object for a child element name (built-in kinds first, then the static
    // factory's custom widgets); null (with "Unknown widget: %1" when error is
    // empty) when nothing knows the name. Null skips the element, it is no failure.
    virtual CXmlWidget* createWidget(const QString& name, QString& error);
    // Places a freshly parsed child in this container's layout.
    virtual int addWidget(const QString& name, CXmlWidget* object, TiXmlElement* element,
                          QString& error);

    QBoxLayout* boxLayout() const { return m_pBoxLayout; }
    QGridLayout* gridLayout() const { return m_pGridLayout; }
    QStackedLayout* stackedLayout() const { return m_pStackedLayout; }

    // Consulted for every child element before it is created; null accepts all.
    static CXmlValidator* m_pStaticValidator;
    // Custom widgets and custom actions; null knows none.
    static CWidgetFactory* m_pStaticWidgetFactory;

protected:
    // Creates the layout named by "layout" on widget(); nothing for other values.
    void createLayout(TiXmlElement* element);

    QBoxLayout* m_pBoxLayout = nullptr;
    QGridLayout* m_pGridLayout = nullptr;
    QStackedLayout* m_pStackedLayout = nullptr;
};
