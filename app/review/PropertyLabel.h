#pragma once

#include <QString>

class CXmlObject;
class QWidget;

// How a page presents an installation property to the administrator: the caption
// of a check box or radio button, or the label whose buddy the field is.
class CPropertyLabel
{
public:
    // The caption without its mnemonic "&" and trailing colon; the object's name
    // when the page shows no caption for it.
    static QString of(const CXmlObject* object);
    // The widget that stands for object on its page (for a group without a widget
    // of its own: its checked or first button), or null.
    static QWidget* widgetOf(const CXmlObject* object);
    // A caption as it reads on screen: "&&" is "&", a lone "&" marks the mnemonic.
    static QString plainCaption(const QString& caption);
};
