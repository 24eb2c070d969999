#include "Migration.h"

#include "Document.h"

#include <QCoreApplication>

namespace
{
QString tr(const char* text)
{
    return QCoreApplication::translate("CMigration", text);
}

QString quoted(const QString& value)
{
    return QLatin1Char('"') + value + QLatin1Char('"');
}

const CDocumentProperty* fieldIn(const CDocument* document, const QString& property,
                                 const QString& widget)
{
    if (!document)
        return nullptr;
    for (const CDocumentProperty& candidate : document->properties())
    {
        if (candidate.m_sProperty == property && candidate.m_sName == widget)
            return &candidate;
    }
    return nullptr;
}

QString defaultOf(const CDocumentProperty& property)
{
    return property.m_bHasDefault ? property.m_sDefault : property.initialValue();
}
} // namespace

QList<CMigration::CItem> CMigration::migrate(const CCustomizationFile::CContents& contents,
                                             const CDocument* previous, CDocument& target)
{
    QList<CItem> items;
    for (const CCustomizationFile::CEntry& entry : contents.m_lEntries)
    {
        CItem item;
        item.m_sProperty = entry.m_sProperty;
        item.m_sWidget = entry.m_sWidget;
        item.m_sValue = entry.m_sValue;
        item.m_bSecret = CDocumentProperty::nameLooksSecret(entry.m_sProperty);
        // The window applies a value to every field of its widget and property name.
        QList<CDocumentProperty*> fields;
        for (CDocumentProperty& candidate : target.properties())
        {
            if (candidate.m_sProperty == entry.m_sProperty && candidate.m_sName == entry.m_sWidget)
                fields << &candidate;
        }
        if (fields.isEmpty())
        {
            item.m_status = Removed;
            items.append(item);
            continue;
        }
        CDocumentProperty* const field = fields.first();
        item.m_bSecret = item.m_bSecret || field->isSecret();
        item.m_sNewDefault = defaultOf(*field);
        if (entry.m_bOmitted)
        {
            // A secret saved without its value stays left out, to be given at publishing.
            target.apply({entry});
            items.append(item);
            continue;
        }
        const CDocumentProperty* const before =
            fieldIn(previous, entry.m_sProperty, entry.m_sWidget);
        if (before)
            item.m_sOldDefault = defaultOf(*before);
        QString reason;
        const bool fits = field->accepts(entry.m_sValue, &reason);
        for (CDocumentProperty* each : fields)
            each->setValue(entry.m_sValue);
        item.m_sNewValue = field->m_sValue;
        if (!fits || item.m_sNewValue != entry.m_sValue)
        {
            item.m_status = Invalid;
            item.m_sReason = reason.isEmpty() ? tr("is not taken by the field") : reason;
        }
        else if (before && item.m_sOldDefault != item.m_sNewDefault)
            item.m_status = DefaultChanged;
        items.append(item);
    }
    for (const CDocumentProperty& property : target.properties())
    {
        bool saved = false;
        for (const CCustomizationFile::CEntry& entry : contents.m_lEntries)
            saved = saved || (entry.m_sProperty == property.m_sProperty &&
                              entry.m_sWidget == property.m_sName);
        if (saved)
            continue;
        CItem item;
        item.m_status = Added;
        item.m_sProperty = property.m_sProperty;
        item.m_sWidget = property.m_sName;
        item.m_sNewDefault = defaultOf(property);
        item.m_sNewValue = property.m_sValue;
        item.m_bSecret = property.isSecret();
        items.append(item);
    }
    return items;
}

QString CMigration::statusName(Status status)
{
    switch (status)
    {
    case Kept:
        return QStringLiteral("kept");
    case DefaultChanged:
        return QStringLiteral("default-changed");
    case Removed:
        return QStringLiteral("removed");
    case Added:
        return QStringLiteral("new");
    case Invalid:
        return QStringLiteral("invalid");
    }
    return QString();
}

QString CMigration::shownValue(const CItem& item, const QString& value)
{
    if (!item.m_bSecret)
        return value;
    return value.isEmpty() ? tr("not set") : tr("set");
}

QString CMigration::describe(const CItem& item)
{
    // A secret's value reads "set" or "not set", never quoted as if it were one.
    const auto quoted = [&item](const QString& value)
    { return item.m_bSecret ? shownValue(item, value) : ::quoted(value); };
    switch (item.m_status)
    {
    case Kept:
        return tr("%1: kept %2").arg(item.m_sProperty, quoted(item.m_sValue));
    case DefaultChanged:
        return tr("%1: the default changed from %2 to %3; the value %4 is kept")
            .arg(item.m_sProperty, quoted(item.m_sOldDefault), quoted(item.m_sNewDefault),
                 quoted(item.m_sValue));
    case Removed:
        return tr("%1: no longer in the installer; the value %2 is dropped")
            .arg(item.m_sProperty, quoted(item.m_sValue));
    case Added:
        return tr("%1: new in the installer, with the default %2")
            .arg(item.m_sProperty, quoted(item.m_sNewDefault));
    case Invalid:
        return tr("%1: the value %2 %3; it is now %4")
            .arg(item.m_sProperty, quoted(item.m_sValue), item.m_sReason, quoted(item.m_sNewValue));
    }
    return QString();
}
