#pragma once

#include <QHash>
#include <QString>

class CXmlObject;
class QLabel;
class QWidget;

// How a page presents an installation property to the administrator: the caption
// of a check box or radio button, or the label whose buddy the field is.
class CPropertyLabel
{
public:
    // The caption without its mnemonic "&" and trailing colon; the object's name
    // when the page shows no caption for it.
    static QString of(const CXmlObject* object);
    // The captioning label of each field of a window: looking one up in it instead of
    // going through every label of the window keeps a review of thousands of fields
    // from taking minutes.
    using Buddies = QHash<const QWidget*, const QLabel*>;
    static Buddies buddiesIn(const QWidget* window);
    // of(object) with the labels of object's window already gathered.
    static QString of(const CXmlObject* object, const Buddies& buddies);
    // The widget that stands for object on its page (for a group without a widget
    // of its own: its checked or first button), or null.
    static QWidget* widgetOf(const CXmlObject* object);
    // A caption as it reads on screen: "&&" is "&", a lone "&" marks the mnemonic.
    static QString plainCaption(const QString& caption);
};
