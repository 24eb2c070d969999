#include "FieldMarks.h"

#include "app/review/PropertyLabel.h"

#include "shared/XmlWidgets/XmlObject.h"

#include <QList>
#include <QStyle>
#include <QVariant>
#include <QWidget>

namespace
{
const char* const kRefused = "refused";
const char* const kOwnToolTip = "tessaryToolTip";

void restyle(QWidget* widget)
{
    widget->style()->unpolish(widget);
    widget->style()->polish(widget);
    widget->update();
}
} // namespace

void CFieldMarks::markRefused(CXmlObject* field, const QString& reason)
{
    QWidget* const widget = CPropertyLabel::widgetOf(field);
    if (!widget)
        return;
    if (!widget->property(kRefused).toBool())
        widget->setProperty(kOwnToolTip, widget->toolTip());
    widget->setProperty(kRefused, true);
    widget->setToolTip(reason);
    restyle(widget);
}

void CFieldMarks::clear(CXmlObject* field)
{
    // A group was marked on one of its buttons, which need not be the one that
    // stands for it now.
    QList<QWidget*> widgets{CPropertyLabel::widgetOf(field)};
    if (field && !dynamic_cast<QWidget*>(field))
    {
        for (CXmlObject* child : field->childObjects())
            widgets << dynamic_cast<QWidget*>(child);
    }
    for (QWidget* widget : widgets)
    {
        if (!widget || !widget->property(kRefused).toBool())
            continue;
        widget->setProperty(kRefused, false);
        widget->setToolTip(widget->property(kOwnToolTip).toString());
        restyle(widget);
    }
}

bool CFieldMarks::isMarked(const CXmlObject* field)
{
    const QWidget* const widget = CPropertyLabel::widgetOf(field);
    return widget && widget->property(kRefused).toBool();
}
