#pragma once

#include "XmlObject.h"

class QWidget;

// An object of the page tree that may own an on-screen widget.
class CXmlWidget : public CXmlObject
{
public:
    explicit CXmlWidget(CXmlObject* parent);
    ~CXmlWidget() override;

    // Common widget attributes ("name", "style", "tooltip", "focus", "enabled",
    // "visible"), then CXmlObject::parse.
    int parse(TiXmlElement* element, QString& error) override;
    // "enable", "disable", "show", "hide", "focus"; true for every slot name
    // when there is a widget, false without one.
    bool performAction(const QString& slot, const CActionItem* action) override;
    void discardDefinition() override;

    // The on-screen widget, or null for objects without one.
    virtual QWidget* widget() const = 0;

    // The root of the tree as a widget object (null when the root is not one).
    CXmlWidget* rootWidget() const;
    // The mouse-over help text ("tooltip").
    const QString& getTessaryDetails() const { return m_sToolTip; }
    // Hands mouse-over help text to the root (empty text clears it); kinds call
    // it from their mouseEnterWidget/mouseLeaveWidget handling.
    void onMouseOverWidget(const QString& text) const;

protected:
    QString m_sToolTip;
};
