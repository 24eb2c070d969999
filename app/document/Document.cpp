#include "Document.h"

#include "shared/XmlWidgets/XmlDefinitionReader.h"
#include <utils/Version.h>

#include <QCoreApplication>
#include <QDebug>
#include <QMultiMap>
#include <QRegularExpression>
#include <tinyxml.h>

namespace
{
// The page-definition version this program reads, as the window's framework has it.
const wchar_t* const kCurrentVersion = L"1.8";

QString tr(const char* text)
{
    return QCoreApplication::translate("CDocument", text);
}

// Captions go through the same translator as the window's fields.
QString translated(const char* text)
{
    return text ? QCoreApplication::translate("QObject", text) : QString();
}

QString attribute(const TiXmlElement* element, const char* name)
{
    const char* value = element->Attribute(name);
    return value ? QString::fromUtf8(value) : QString();
}

// An attribute with "%OS%" and "%LANGUAGE%" replaced, as the framework reads it.
QString converted(const TiXmlElement* element, const char* name)
{
    return attribute(element, name)
        .replace(QLatin1String("%OS%"), QLatin1String("Mac"))
        .replace(QLatin1String("%LANGUAGE%"), QLatin1String("en_US"));
}

bool supportedOS(const QString& list)
{
    if (list.isEmpty() || list.compare(QLatin1String("any"), Qt::CaseInsensitive) == 0 ||
        list == QLatin1String("*"))
        return true;
    static const QRegularExpression separator(QStringLiteral("\\s*,"));
    return list.toLower().split(separator).contains(QLatin1String("mac"));
}

bool parseBoolean(const QString& value, bool& result)
{
    const QString lower = value.toLower();
    if (lower == QLatin1String("t") || lower == QLatin1String("true"))
        result = true;
    else if (lower == QLatin1String("f") || lower == QLatin1String("false"))
        result = false;
    else
        return false;
    return true;
}

// Outside the versions this program reads: the element is left out.
bool outsideVersion(const TiXmlElement* element)
{
    const orbilib::utils::CVersion current(kCurrentVersion);
    if (const char* minimum = element->Attribute("versionmin"))
    {
        if (current < orbilib::utils::CVersion(QString::fromUtf8(minimum).toStdWString()))
            return true;
    }
    if (const char* maximum = element->Attribute("versionmax"))
    {
        if (current > orbilib::utils::CVersion(QString::fromUtf8(maximum).toStdWString()))
            return true;
    }
    return false;
}

const QStringList& containerKinds()
{
    static const QStringList kinds{QStringLiteral("container"), QStringLiteral("page"),
                                   QStringLiteral("pageholder")};
    return kinds;
}

const QStringList& objectKinds()
{
    static const QStringList kinds{
        QStringLiteral("radiobutton"), QStringLiteral("checkbox"),   QStringLiteral("label"),
        QStringLiteral("link"),        QStringLiteral("pushbutton"), QStringLiteral("lineedit"),
        QStringLiteral("numberedit"),  QStringLiteral("textedit"),   QStringLiteral("spinbox"),
        QStringLiteral("combobox"),    QStringLiteral("container"),  QStringLiteral("buttongroup"),
        QStringLiteral("bitmask"),     QStringLiteral("hline"),      QStringLiteral("vline"),
        QStringLiteral("page"),        QStringLiteral("pageholder")};
    return kinds;
}

bool readInteger(const TiXmlElement* element, const char* name, int& result)
{
    bool ok = false;
    result = attribute(element, name).trimmed().toInt(&ok, 10);
    return ok;
}
} // namespace

CDocument::CDocument(const QString& packageOS, const QStringList& options)
    : m_sPackageOS(packageOS), m_lOptions(options)
{
}

bool CDocument::skipped(TiXmlElement* element) const
{
    const QString packages = converted(element, "package");
    if (!packages.isEmpty())
    {
        if (!m_sPackageOS.isEmpty())
        {
            const QStringList parts =
                packages.toLower().split(QRegularExpression(QStringLiteral("\\s*,")));
            bool found = false;
            for (const QString& part : parts)
                found = found || (!part.trimmed().isEmpty() && part.trimmed() == m_sPackageOS);
            if (!found)
                return true;
        }
        else if (!supportedOS(packages))
        {
            return true;
        }
    }
    const QString flag = attribute(element, "showflag").toLower();
    if (!flag.isEmpty() && !m_lOptions.contains(flag))
        return true;
    return !supportedOS(converted(element, "os"));
}

bool CDocument::load(const QByteArray& definition, QString& error)
{
    m_sTitle.clear();
    m_sRootName.clear();
    m_lPages.clear();
    m_lProperties.clear();
    m_lUnbound.clear();
    m_lValidateActions.clear();
    m_lOmitted.clear();
    TiXmlDocument document;
    if (CXmlDefinitionReader::read(definition, document, error) != 0)
        return false;
    TiXmlElement* const root = document.RootElement();
    if (attribute(root, "version").isEmpty())
    {
        error = tr("Root element requires \"version\" attribute");
        return false;
    }
    if (outsideVersion(root))
    {
        error = tr("The page definition needs another version of Tessary.");
        return false;
    }
    m_sRootName = attribute(root, "name");
    m_sTitle = translated(root->Attribute("title"));
    if (walk(root, QString(), 1, error) != 0)
    {
        m_lPages.clear();
        m_lProperties.clear();
        m_lUnbound.clear();
        return false;
    }
    for (TiXmlElement* child = root->FirstChildElement(); child;
         child = child->NextSiblingElement())
    {
        const QString kind = QString::fromUtf8(child->Value()).toLower();
        if ((kind == QLatin1String("action") || kind == QLatin1String("validateurl")) &&
            converted(child, "signal") == QLatin1String("validate") &&
            supportedOS(converted(child, "os")))
        {
            TiXmlPrinter printer;
            child->Accept(&printer);
            m_lValidateActions.append(QByteArray(printer.CStr(), int(printer.Size())));
        }
    }
    return true;
}

int CDocument::walk(TiXmlElement* element, const QString& page, int depth, QString& error)
{
    // The reader has bounded the depth already; this only keeps the walk honest.
    if (depth > CXmlDefinitionReader::m_gMaxElementDepth)
    {
        error = tr("Elements are nested deeper than %1 levels.")
                    .arg(CXmlDefinitionReader::m_gMaxElementDepth);
        return 1;
    }
    for (TiXmlElement* child = element->FirstChildElement(); child;
         child = child->NextSiblingElement())
    {
        const QString kind = QString::fromUtf8(child->Value());
        if (!objectKinds().contains(kind) || skipped(child) || outsideVersion(child))
            continue;
        const QString allowEmpty = converted(child, "allowempty");
        bool ignored = false;
        if (child->Attribute("allowempty") && !parseBoolean(allowEmpty, ignored))
        {
            error = tr("Incorrect value for \"allowempty\" attribute in object \"%1\": %2")
                        .arg(attribute(child, "name"), allowEmpty);
            return 1;
        }
        QString childPage = page;
        if (kind == QLatin1String("page"))
        {
            childPage = attribute(child, "name");
            m_lPages.append({childPage, translated(child->Attribute("title"))});
        }
        int result = 0;
        addProperty(child, kind, childPage, error, result);
        if (result != 0)
            return result;
        if (containerKinds().contains(kind) || kind == QLatin1String("buttongroup") ||
            kind == QLatin1String("bitmask"))
        {
            if (walk(child, childPage, depth + 1, error) != 0)
                return 1;
        }
    }
    return 0;
}

void CDocument::addProperty(TiXmlElement* element, const QString& kind, const QString& page,
                            QString& error, int& result)
{
    CDocumentProperty property;
    property.m_sName = attribute(element, "name");
    property.m_sProperty = attribute(element, "property");
    property.m_sPage = page;
    property.m_bHasDefault = element->Attribute("default") != nullptr;
    property.m_sDefault = attribute(element, "default");
    parseBoolean(converted(element, "allowempty"), property.m_bAllowEmpty);
    if (element->Attribute("secret"))
        property.m_bSecret = CDocumentProperty::secretAttribute(converted(element, "secret"));

    if (kind == QLatin1String("lineedit"))
        property.m_kind = CDocumentProperty::Text;
    else if (kind == QLatin1String("numberedit"))
        property.m_kind = CDocumentProperty::Number;
    else if (kind == QLatin1String("textedit"))
        property.m_kind = CDocumentProperty::MultiLine;
    else if (kind == QLatin1String("spinbox"))
        property.m_kind = CDocumentProperty::Spin;
    else if (kind == QLatin1String("combobox"))
        property.m_kind = CDocumentProperty::Choice;
    else if (kind == QLatin1String("checkbox"))
        property.m_kind = CDocumentProperty::Check;
    else if (kind == QLatin1String("buttongroup"))
        property.m_kind = CDocumentProperty::Group;
    else if (kind == QLatin1String("bitmask"))
        property.m_kind = CDocumentProperty::Mask;

    switch (property.m_kind)
    {
    case CDocumentProperty::Text:
    case CDocumentProperty::Number:
        property.m_sInputMask = attribute(element, "mask");
        break;
    case CDocumentProperty::MultiLine:
    {
        QByteArray encoded(element->GetText() ? element->GetText() : "");
        for (const char blank : {' ', '\t', '\n', '\r'})
            encoded.replace(blank, QByteArray());
        const QByteArray::FromBase64Result decoded =
            QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
        const QByteArray text = decoded ? decoded.decoded : QByteArray();
        if (!text.isEmpty())
            property.setValue(translated(text.constData()));
        else if (const char* title = element->Attribute("title"))
            property.setValue(*title ? translated(title) : QString());
        break;
    }
    case CDocumentProperty::Spin:
        if (!element->Attribute("minimum") || !element->Attribute("maximum") ||
            !readInteger(element, "minimum", property.m_iMinimum) ||
            !readInteger(element, "maximum", property.m_iMaximum))
        {
            error = tr("The spinbox \"%1\" needs whole numbers as \"minimum\" and \"maximum\".")
                        .arg(property.m_sName);
            result = 1;
            return;
        }
        break;
    case CDocumentProperty::Choice:
        for (TiXmlElement* entry = element->FirstChildElement("entry"); entry;
             entry = entry->NextSiblingElement("entry"))
        {
            if (skipped(entry) || outsideVersion(entry))
                continue;
            if (attribute(entry, "value").isEmpty() || !entry->Attribute("title"))
            {
                error = tr("An entry of the combobox \"%1\" lacks its \"title\" or \"value\".")
                            .arg(property.m_sName);
                result = 1;
                return;
            }
            property.m_lChoices << attribute(entry, "value");
        }
        break;
    case CDocumentProperty::Check:
        if (element->Attribute("checkvalue"))
            property.m_sCheckValue = converted(element, "checkvalue");
        if (element->Attribute("uncheckvalue"))
            property.m_sUncheckValue = converted(element, "uncheckvalue");
        break;
    case CDocumentProperty::Group:
    case CDocumentProperty::Mask:
    {
        const bool group = property.m_kind == CDocumentProperty::Group;
        const char* member = group ? "radiobutton" : "checkbox";
        for (TiXmlElement* box = element->FirstChildElement(member); box;
             box = box->NextSiblingElement(member))
        {
            if (skipped(box) || outsideVersion(box))
                continue;
            if (group)
                property.m_lChoices << attribute(box, "value");
            else
                property.m_lChoices << (box->Attribute("checkvalue") ? converted(box, "checkvalue")
                                                                     : QStringLiteral("1"));
        }
        break;
    }
    case CDocumentProperty::Other:
        if (kind == QLatin1String("radiobutton"))
            property.m_sValue = attribute(element, "value");
        break;
    }

    if (property.m_kind != CDocumentProperty::MultiLine &&
        property.m_kind != CDocumentProperty::Other)
        property.m_sValue = property.initialValue();
    if (property.m_bHasDefault)
        property.setValue(property.m_sDefault);
    if (!property.m_sName.isEmpty() && !property.m_sProperty.isEmpty())
        m_lProperties.append(property);
    else if (!property.m_sName.isEmpty())
        m_lUnbound.append(property);
}

QList<CDocumentProperty*> CDocument::findProperty(const QString& property)
{
    QList<CDocumentProperty*> found;
    for (CDocumentProperty& candidate : m_lProperties)
    {
        if (candidate.m_sProperty == property)
            found << &candidate;
    }
    return found;
}

QList<CDocumentProperty*> CDocument::findField(const QString& name)
{
    QList<CDocumentProperty*> found;
    for (QList<CDocumentProperty>* list : {&m_lProperties, &m_lUnbound})
    {
        for (CDocumentProperty& candidate : *list)
        {
            if (candidate.m_sName == name)
                found << &candidate;
        }
    }
    return found;
}

void CDocument::apply(const QList<CCustomizationFile::CEntry>& entries)
{
    for (const CCustomizationFile::CEntry& entry : entries)
    {
        if (CCustomizationFile::noteOmitted(entry, m_lOmitted))
            continue;
        for (CDocumentProperty& property : m_lProperties)
        {
            if (property.m_sName == entry.m_sWidget && property.m_sProperty == entry.m_sProperty)
                property.setValue(entry.m_sValue);
        }
    }
}

QList<CCustomizationFile::CEntry> CDocument::entries(bool onlySet, bool withSecrets) const
{
    QList<CCustomizationFile::CEntry> walkOrder;
    for (const CDocumentProperty& property : m_lProperties)
    {
        if (onlySet && !property.isSet())
            continue;
        // A secret still missing stays marked as left out, so that it is asked for
        // again; an empty one holds nothing worth hiding.
        const bool omitted =
            property.isSecret() &&
            (property.m_sValue.isEmpty() ? !onlySet && isMissing(property) : !withSecrets);
        if (omitted)
            walkOrder.append({property.m_sProperty, property.m_sName, QString(), true});
        else
            walkOrder.append({property.m_sProperty, property.m_sName, property.m_sValue});
    }
    return CCustomizationFile::ordered(walkOrder);
}

bool CDocument::isMissing(const CDocumentProperty& property) const
{
    return property.m_sValue.isEmpty() &&
           m_lOmitted.contains(qMakePair(property.m_sName, property.m_sProperty));
}

QList<const CDocumentProperty*> CDocument::missingSecrets() const
{
    QList<const CDocumentProperty*> missing;
    for (const CDocumentProperty& property : m_lProperties)
    {
        if (isMissing(property))
            missing << &property;
    }
    return missing;
}
