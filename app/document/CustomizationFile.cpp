#include "CustomizationFile.h"

#include "app/packages/OutputFile.h"

#include "app/packages/CopyFileThread.h"
#include "app/packages/Package.h"
#include "shared/XmlWidgets/XmlDefinitionReader.h"
#include <utils/TinyXmlText.h>

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QMultiMap>
#include <QXmlStreamReader>
#include <memory>
#include <tinyxml.h>

namespace
{
QString tr(const char* text)
{
    return QCoreApplication::translate("CCustomizationFile", text);
}

QString attribute(const TiXmlElement* element, const char* name)
{
    const char* value = element->Attribute(name);
    return value ? QString::fromUtf8(value) : QString();
}
} // namespace

const char* const CCustomizationFile::OmittedAttribute = "omitted";
const char* const CCustomizationFile::OmittedSecret = "secret";

bool CCustomizationFile::noteOmitted(const CEntry& entry, QList<QPair<QString, QString>>& omitted)
{
    if (!entry.m_bOmitted)
        return false;
    const QPair<QString, QString> key(entry.m_sWidget, entry.m_sProperty);
    if (!omitted.contains(key))
        omitted.append(key);
    return true;
}

QList<CCustomizationFile::CEntry> CCustomizationFile::ordered(const QList<CEntry>& walkOrder)
{
    // A multi-map keeps equal names newest first; the file has always listed them so.
    QMultiMap<QString, int> byName;
    for (int i = 0; i < walkOrder.size(); ++i)
        byName.insert(walkOrder.at(i).m_sProperty, i);
    QList<CEntry> result;
    for (auto it = byName.constBegin(); it != byName.constEnd(); ++it)
        result.append(walkOrder.at(it.value()));
    return result;
}

QByteArray CCustomizationFile::text(const QFileInfo& source, const QFileInfo& lastSaveFile,
                                    const QList<CEntry>& entries, CPackage* opened)
{
    TiXmlDocument document;
    document.LinkEndChild(new TiXmlDeclaration("1.0", "utf-8", "yes"));
    TiXmlElement* const root = new TiXmlElement("AdminCustomization");
    root->SetAttribute("version", "1.0");
    // Recorded absolute: the file is used from other folders, and by other programs.
    root->SetAttribute("source", QDir::toNativeSeparators(source.filePath().isEmpty()
                                                              ? QString()
                                                              : source.absoluteFilePath())
                                     .toUtf8()
                                     .constData());
    root->SetAttribute("lastSaveFile",
                       QDir::toNativeSeparators(lastSaveFile.filePath()).toUtf8().constData());
    if (!source.filePath().isEmpty())
    {
        const std::unique_ptr<CPackage> read(opened ? nullptr
                                                    : CCopyFileThread::loadPackage(source));
        CPackage* const package = opened ? opened : read.get();
        if (package)
        {
            root->SetAttribute(
                "productVersion",
                QString::fromStdWString(package->version().toString()).toUtf8().constData());
            root->SetAttribute("productName", package->product().toUtf8().constData());
        }
    }
    document.LinkEndChild(root);
    TiXmlElement* const list = new TiXmlElement("properties");
    root->LinkEndChild(list);
    for (const CEntry& entry : entries)
    {
        TiXmlElement* const property = new TiXmlElement("property");
        property->SetAttribute("name", entry.m_sProperty.toUtf8().constData());
        property->SetAttribute("widget", entry.m_sWidget.toUtf8().constData());
        if (entry.m_bOmitted)
            property->SetAttribute(OmittedAttribute, OmittedSecret);
        else if (!entry.m_sValue.isEmpty())
            property->LinkEndChild(new TiXmlText(entry.m_sValue.toUtf8().constData()));
        list->LinkEndChild(property);
    }
    TiXmlPrinter printer;
    printer.SetIndent("    ");
    document.Accept(&printer);
    return QByteArray(printer.CStr(), int(printer.Size()));
}

bool CCustomizationFile::write(const QString& fileName, const QFileInfo& source,
                               const QFileInfo& lastSaveFile, const QList<CEntry>& entries,
                               CPackage* opened, bool holdsSecrets, bool overwrite, QString* reason)
{
    const QByteArray bytes = text(source, lastSaveFile, entries, opened);
    COutputFile::COptions options;
    options.m_bOverwrite = overwrite;
    options.m_bPrivate = holdsSecrets;
    QString why;
    if (COutputFile::write(fileName, bytes, options, &why))
        return true;
    qDebug().noquote() << "CCustomizationFile::write(): cannot write" << fileName << why;
    if (reason)
        *reason = why;
    return false;
}

QFileInfo CCustomizationFile::sourceFile(const CContents& contents, const QFileInfo& file)
{
    if (contents.m_sSource.isEmpty())
        return QFileInfo();
    const QString source = QDir::fromNativeSeparators(contents.m_sSource);
    // A path written by hand may be relative: to the customization's own folder,
    // not to wherever the program was started.
    if (QDir::isRelativePath(source) && !file.filePath().isEmpty())
        return QFileInfo(QDir(file.absolutePath()).absoluteFilePath(source));
    return QFileInfo(source);
}

bool CCustomizationFile::isCustomization(const QByteArray& bytes)
{
    QXmlStreamReader reader(bytes);
    while (!reader.atEnd() && !reader.isStartElement())
        reader.readNext();
    return reader.isStartElement() && reader.name() == QLatin1String("AdminCustomization");
}

bool CCustomizationFile::read(const QByteArray& bytes, CContents& contents, QString& error)
{
    contents = CContents();
    TiXmlDocument checked;
    if (CXmlDefinitionReader::read(bytes, checked, error) != 0)
        return false;
    if (QString::fromUtf8(checked.RootElement()->Value()) != QLatin1String("AdminCustomization"))
    {
        error = tr("This file is not a valid configuration file.");
        return false;
    }
    // Values keep their white space: the document, already checked, is read again
    // without condensing.
    TiXmlDocument exact;
    TiXmlBase::SetCondenseWhiteSpace(false);
    const std::string text = orbilib::utils::tinyXmlText(bytes.constData(), size_t(bytes.size()));
    exact.Parse(text.c_str(), nullptr, TIXML_ENCODING_UTF8);
    TiXmlBase::SetCondenseWhiteSpace(true);
    const TiXmlElement* const root =
        exact.RootElement() ? exact.RootElement() : checked.RootElement();
    contents.m_sSource = attribute(root, "source");
    contents.m_sLastSaveFile = attribute(root, "lastSaveFile");
    contents.m_sProductVersion = attribute(root, "productVersion");
    contents.m_sProductName = attribute(root, "productName");
    if (const TiXmlElement* properties = root->FirstChildElement("properties"))
    {
        for (const TiXmlElement* property = properties->FirstChildElement(); property;
             property = property->NextSiblingElement())
        {
            if (QString::fromUtf8(property->Value()) != QLatin1String("property"))
                continue;
            // Whatever a left-out secret's element holds besides its mark is no value.
            if (property->Attribute(OmittedAttribute))
            {
                contents.m_lEntries.append(
                    {attribute(property, "name"), attribute(property, "widget"), QString(), true});
                continue;
            }
            const char* value = property->Attribute("value");
            const char* content = property->GetText();
            contents.m_lEntries.append(
                {attribute(property, "name"), attribute(property, "widget"),
                 QString::fromUtf8(value ? value : (content ? content : ""))});
        }
    }
    return true;
}
