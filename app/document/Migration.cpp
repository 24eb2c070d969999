#include "Migration.h"

#include "Document.h"
#include "DocumentRoot.h"
#include "SecretProperty.h"
#include "ShownText.h"

#include "app/packages/BoundedFile.h"
#include "app/packages/CopyFileThread.h"
#include "app/packages/Package.h"
#include "app/packages/XmlPackage.h"

#include <QCoreApplication>
#include <QFile>
#include <memory>

namespace
{
QString tr(const char* text, const char* disambiguation = nullptr, int n = -1)
{
    return QCoreApplication::translate("CMigration", text, disambiguation, n);
}

QString quoted(const QString& value)
{
    return CShownText::quoted(value);
}

// The fields of a widget and property name, as a customization entry names them.
QList<CXmlObject*> fieldsIn(const CDocument* document, const QString& property,
                            const QString& widget)
{
    QList<CXmlObject*> fields;
    if (!document)
        return fields;
    for (CXmlObject* candidate : document->root().findNamedObjects(widget))
    {
        if (candidate->property() == property)
            fields << candidate;
    }
    return fields;
}
} // namespace

QList<CMigration::CItem> CMigration::migrate(const CCustomizationFile::CContents& contents,
                                             const CDocument* previous, CDocument& target)
{
    QList<CItem> items;
    QList<CXmlObject*> listed;
    for (const CCustomizationFile::CEntry& entry : contents.m_lEntries)
    {
        CItem item;
        item.m_sProperty = entry.m_sProperty;
        item.m_sWidget = entry.m_sWidget;
        item.m_sValue = entry.m_sValue;
        item.m_bSecret = CSecretProperty::nameLooksSecret(entry.m_sProperty);
        const QList<CXmlObject*> fields = fieldsIn(&target, entry.m_sProperty, entry.m_sWidget);
        if (fields.isEmpty())
        {
            item.m_status = Removed;
            items.append(item);
            continue;
        }
        CXmlObject* const field = fields.first();
        listed << fields;
        item.m_bSecret = item.m_bSecret || CSecretProperty::isSecret(field);
        item.m_sNewDefault = target.defaults().defaultOf(field);
        if (entry.m_bOmitted)
        {
            // A secret saved without its value stays left out, to be given at publishing.
            target.secrets().noteLoaded({entry}, &target.root(), false);
            items.append(item);
            continue;
        }
        const QList<CXmlObject*> before = fieldsIn(previous, entry.m_sProperty, entry.m_sWidget);
        if (!before.isEmpty())
            item.m_sOldDefault = previous->defaults().defaultOf(before.first());
        // The new release's field decides, as it would for a value typed into it.
        CXmlObject::ValueFit verdict = CXmlObject::ValueTaken;
        for (CXmlObject* each : fields)
        {
            QString reason;
            const CXmlObject::ValueFit fit = each->offerValue(entry.m_sValue, &reason);
            if (fit != CXmlObject::ValueTaken && verdict == CXmlObject::ValueTaken)
            {
                verdict = fit;
                item.m_sReason = reason;
            }
        }
        item.m_sNewValue = field->getValue();
        if (verdict != CXmlObject::ValueTaken)
            item.m_status = Invalid;
        else if (!before.isEmpty() && item.m_sOldDefault != item.m_sNewDefault)
            item.m_status = DefaultChanged;
        items.append(item);
    }
    // Properties the customization does not list keep the installer's default; they
    // are new only when the release it was made for did not have them.
    const QMultiMap<QString, CXmlObject*> properties = target.collectProperties(false);
    for (auto it = properties.constBegin(); it != properties.constEnd(); ++it)
    {
        CXmlObject* const field = it.value();
        if (listed.contains(field))
            continue;
        CItem item;
        item.m_bListed = false;
        item.m_sProperty = field->property();
        item.m_sWidget = field->name();
        item.m_sNewDefault = target.defaults().defaultOf(field);
        item.m_sNewValue = field->getValue();
        item.m_bSecret = CSecretProperty::isSecret(field);
        const QList<CXmlObject*> before = fieldsIn(previous, item.m_sProperty, item.m_sWidget);
        if (previous && !before.isEmpty())
        {
            item.m_sOldDefault = previous->defaults().defaultOf(before.first());
            item.m_sValue = item.m_sOldDefault;
            item.m_status = item.m_sOldDefault == item.m_sNewDefault ? Kept : DefaultChanged;
        }
        else
        {
            item.m_status = Added;
        }
        items.append(item);
    }
    return items;
}

QString CMigration::importReport(const CDocument& document, const QString& path)
{
    CPackage* const package = document.package();
    if (!package)
        return QString();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    // A customization is small; anything beyond the package model's limit is no report's.
    const QByteArray bytes = file.read(CBoundedFile::kMaxDocumentBytes);
    CCustomizationFile::CContents contents;
    QString error;
    const QString current = QString::fromStdWString(package->version().toString());
    if (!CCustomizationFile::read(bytes, contents, error) || contents.m_sProductVersion.isEmpty() ||
        contents.m_sProductVersion == current)
        return QString();
    // Both releases are built as the window builds them, on trees nobody sees.
    auto prepared = [&document](CDocument& other)
    {
        other.root().setPackageOS(document.root().packageOS());
        other.root().setOptions(document.root().options());
    };
    CDocument target;
    prepared(target);
    if (!target.loadDefinition(package->xml(), error))
        return QString();
    CDocument previous;
    prepared(previous);
    const QFileInfo sourceFile = CCustomizationFile::sourceFile(contents, QFileInfo(path));
    const std::unique_ptr<CPackage> source(
        sourceFile.filePath().isEmpty() ? nullptr : CCopyFileThread::loadPackage(sourceFile));
    const bool known = source && source->isValid() && !dynamic_cast<CXmlPackage*>(source.get()) &&
                       previous.loadDefinition(source->xml(), error);
    QStringList lines;
    for (const CItem& item : migrate(contents, known ? &previous : nullptr, target))
    {
        if (item.m_status != Kept)
            lines << describe(item);
    }
    const int shown = 30;
    if (lines.size() > shown)
    {
        const int more = lines.size() - shown;
        lines = lines.mid(0, shown);
        lines << tr("... and %n more.", nullptr, more);
    }
    QString text = tr("This configuration file was made for version %1 of the installer; this "
                      "installer is version %2.")
                       .arg(contents.m_sProductVersion, current);
    text += QStringLiteral("\n\n") + (lines.isEmpty() ? tr("Every value was taken over unchanged.")
                                                      : lines.join(QLatin1Char('\n')));
    return text;
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
        if (!item.m_bListed)
            return tr("%1: not in the customization; keeps the default %2")
                .arg(item.m_sProperty, quoted(item.m_sNewValue));
        return tr("%1: kept %2").arg(item.m_sProperty, quoted(item.m_sValue));
    case DefaultChanged:
        if (!item.m_bListed)
            return tr("%1: not in the customization; the default changed from %2 to %3, which "
                      "it now has")
                .arg(item.m_sProperty, quoted(item.m_sOldDefault), quoted(item.m_sNewDefault));
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
