#include "CliDocument.h"

#include "app/document/DocumentRoot.h"
#include "app/document/ShownText.h"
#include "app/packages/BoundedFile.h"
#include "app/packages/CopyFileThread.h"
#include "app/packages/MacFlatPackage.h"
#include "app/packages/Package.h"
#include "app/packages/XmlPackage.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <cstdio>

namespace
{
QString tr(const char* text)
{
    return QCoreApplication::translate("CCliDocument", text);
}

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// Opens an installer; null with the reason in error.
CPackage* openInstaller(const QFileInfo& file, QString& error)
{
    if (!file.exists())
    {
        error = tr("\"%1\" does not exist.").arg(native(file.filePath()));
        return nullptr;
    }
    CPackage* const package = CCopyFileThread::loadPackage(file);
    if (!package)
    {
        error = tr("\"%1\" is neither an installer (.pkg, .mpkg, .dmg, .package) nor a "
                   "customization (.xml).")
                    .arg(native(file.filePath()));
        return nullptr;
    }
    return package;
}

bool validInstaller(CPackage* package, QString& error)
{
    if (package->isValid() && !dynamic_cast<CXmlPackage*>(package))
        return true;
    error = tr("\"%1\" isn't a valid KORVA installation package.")
                .arg(native(package->file().filePath()));
    if (!package->problem().isEmpty())
        error += QLatin1Char(' ') + CShownText::escaped(package->problem());
    return false;
}

// A customization piped in: at most the size any customization file may have.
bool readStandardInput(QByteArray& bytes, QString& error)
{
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly))
    {
        error = tr("The customization cannot be read from standard input.");
        return false;
    }
    bytes = input.read(CBoundedFile::kMaxDocumentBytes + 1);
    if (bytes.size() > CBoundedFile::kMaxDocumentBytes)
    {
        error = tr("The customization on standard input is larger than %1 MiB, more than any "
                   "customization file; it is not read.")
                    .arg(CBoundedFile::kMaxDocumentBytes / (1024 * 1024));
        return false;
    }
    return true;
}
} // namespace

CCliDocument::CCliDocument() : m_pDocument(new CDocument) {}

CCliDocument::~CCliDocument()
{
    // The tree goes before the packages its values came from.
    m_pDocument.reset();
}

bool CCliDocument::open(const QString& path, const QString& installer, const QStringList& options,
                        QString& error)
{
    qDebug().noquote() << "CCliDocument::open(" + path + ") begin";
    QByteArray definition;
    QFileInfo source;
    QByteArray customization;
    const bool piped = path == QLatin1String("-");
    if (piped)
    {
        if (!readStandardInput(customization, error))
            return false;
    }
    else
    {
        const QFileInfo file(path);
        m_pOpened.reset(openInstaller(file, error));
        if (!m_pOpened)
            return false;
        if (CXmlPackage* const xml = dynamic_cast<CXmlPackage*>(m_pOpened.get()))
        {
            customization = xml->xml();
            if (customization.isEmpty())
            {
                error = file.size() > CBoundedFile::kMaxDocumentBytes
                            ? tr("\"%1\" is larger than %2 MiB, more than any customization "
                                 "file; it is not read.")
                                  .arg(native(path))
                                  .arg(CBoundedFile::kMaxDocumentBytes / (1024 * 1024))
                            : tr("\"%1\" cannot be read as a customization%2")
                                  .arg(native(path), xml->problem().isEmpty()
                                                         ? QStringLiteral(".")
                                                         : QStringLiteral(": ") + xml->problem());
                return false;
            }
            if (!CCustomizationFile::isCustomization(customization))
            {
                // A page definition opened directly, for trying it out.
                definition = customization;
                customization.clear();
                source = file;
            }
            else
            {
                m_customizationFile = file;
            }
        }
    }
    if (!customization.isEmpty())
    {
        QString reason;
        if (!CCustomizationFile::read(customization, m_customization, reason))
        {
            error = tr("\"%1\" is a damaged customization: %2")
                        .arg(piped ? tr("standard input") : native(path), reason);
            return false;
        }
        m_bCustomization = true;
        CXmlPackage* const xml = dynamic_cast<CXmlPackage*>(m_pOpened.get());
        if (!installer.isEmpty())
        {
            m_pOtherInstaller.reset(openInstaller(QFileInfo(installer), error));
            if (!m_pOtherInstaller)
                return false;
            m_pInstaller = m_pOtherInstaller.get();
        }
        else if (xml && xml->isValid() && xml->subPackage() &&
                 !dynamic_cast<CXmlPackage*>(xml->subPackage()))
        {
            m_pInstaller = xml->subPackage();
        }
        else if (piped && !m_customization.m_sSource.isEmpty())
        {
            // Named relative to where the command runs: the text has no folder.
            m_pOtherInstaller.reset(
                openInstaller(CCustomizationFile::sourceFile(m_customization, QFileInfo()), error));
            if (!m_pOtherInstaller)
                return false;
            m_pInstaller = m_pOtherInstaller.get();
        }
        else
        {
            error = tr("The installer \"%1\" that \"%2\" was made for cannot be opened. Name "
                       "the installer with --installer.")
                        .arg(native(m_customization.m_sSource),
                             piped ? tr("standard input") : native(path));
            return false;
        }
    }
    else if (definition.isEmpty())
    {
        if (!installer.isEmpty())
        {
            error = tr("--installer is only for customizations; \"%1\" is an installer.")
                        .arg(native(path));
            return false;
        }
        m_pInstaller = m_pOpened.get();
    }
    if (m_pInstaller)
    {
        if (!validInstaller(m_pInstaller, error))
            return false;
        source = m_pInstaller->file();
        definition = m_pInstaller->xml();
    }
    CDocument& document = *m_pDocument;
    document.root().setPackageOS(m_pInstaller ? m_pInstaller->os() : QString());
    document.root().setOptions(options);
    QString reason;
    if (!document.loadDefinition(definition, reason))
    {
        error = tr("The page definition of \"%1\" cannot be read: %2")
                    .arg(native(source.filePath()), reason);
        return false;
    }
    document.setSourceFile(source);
    document.setPackage(m_pInstaller);
    document.setConfigurationFile(m_customizationFile, m_bCustomization);
    if (!m_customization.m_sLastSaveFile.isEmpty())
        document.setLastPublishedFile(QFileInfo(m_customization.m_sLastSaveFile));
    document.root().setLoading(true);
    m_lNotes = document.applyEntries(m_customization.m_lEntries);
    document.secrets().noteLoaded(m_customization.m_lEntries, &document.root(), false);
    document.root().setLoading(false);
    document.root().resetChanged(false);
    qDebug().noquote() << "CCliDocument::open(" + path + ") end";
    return true;
}

QString CCliDocument::kind() const
{
    if (!m_pInstaller)
        return QStringLiteral("page definition");
    const QString suffix = sourceFile().suffix().toLower();
    if (suffix == QLatin1String("dmg"))
        return QStringLiteral("disk image");
    if (suffix == QLatin1String("package"))
        return QStringLiteral("script installer");
    if (CMacFlatPackage::isFlatPackage(sourceFile().absoluteFilePath()))
        return QStringLiteral("flat package");
    return QStringLiteral("bundle package");
}
