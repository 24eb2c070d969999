#include "PropertyLabel.h"

#include "shared/XmlWidgets/XmlObject.h"

#include <QAbstractButton>
#include <QLabel>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QWidget>

QString CPropertyLabel::plainCaption(const QString& caption)
{
    QString plain;
    plain.reserve(caption.size());
    for (int i = 0; i < caption.size(); ++i)
    {
        if (caption.at(i) == QLatin1Char('&') && i + 1 < caption.size())
            ++i;
        plain += caption.at(i);
    }
    plain = plain.trimmed();
    while (plain.endsWith(QLatin1Char(':')))
        plain.chop(1);
    return plain.trimmed();
}

QWidget* CPropertyLabel::widgetOf(const CXmlObject* object)
{
    if (!object)
        return nullptr;
    if (QWidget* const own = dynamic_cast<QWidget*>(const_cast<CXmlObject*>(object)))
        return own;
    // Button groups and bit masks have no widget: their buttons stand for them.
    QWidget* first = nullptr;
    for (CXmlObject* child : object->childObjects())
    {
        QAbstractButton* const button = dynamic_cast<QAbstractButton*>(child);
        if (!button)
            continue;
        if (button->isChecked())
            return button;
        if (!first)
            first = button;
    }
    return first;
}

CPropertyLabel::Buddies CPropertyLabel::buddiesIn(const QWidget* window)
{
    Buddies buddies;
    if (!window)
        return buddies;
    // The first label with a caption wins, as the window lists its labels.
    const QList<QLabel*> labels = window->findChildren<QLabel*>();
    for (const QLabel* label : labels)
    {
        if (label->buddy() && !label->text().isEmpty() && !buddies.contains(label->buddy()))
            buddies.insert(label->buddy(), label);
    }
    return buddies;
}

QString CPropertyLabel::of(const CXmlObject* object)
{
    const QWidget* const widget = dynamic_cast<const QWidget*>(object);
    return of(object, widget && !qobject_cast<const QAbstractButton*>(widget)
                          ? buddiesIn(widget->window())
                          : Buddies());
}

QString CPropertyLabel::of(const CXmlObject* object, const Buddies& buddies)
{
    if (!object)
        return QString();
    const QWidget* const widget = dynamic_cast<const QWidget*>(object);
    if (const QAbstractButton* const button = qobject_cast<const QAbstractButton*>(widget))
    {
        if (!button->text().isEmpty())
            return plainCaption(button->text());
    }
    else if (const QLabel* const label = buddies.value(widget))
    {
        // A rich-text caption is shown as its text, never as its markup.
        const QString text =
            label->textFormat() == Qt::RichText ||
                    (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()))
                ? QTextDocumentFragment::fromHtml(label->text()).toPlainText()
                : label->text();
        return plainCaption(text);
    }
    return object->name();
}
