#include "CliDocument.h"

#include "app/packages/CopyFileThread.h"
#include "app/packages/MacFlatPackage.h"
#include "app/packages/Package.h"
#include "app/packages/XmlPackage.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>

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
        error = QCoreApplication::translate("CCliDocument", "\"%1\" does not exist.")
                    .arg(native(file.filePath()));
        return nullptr;
    }
    CPackage* const package = CCopyFileThread::loadPackage(file);
    if (!package)
    {
        error = QCoreApplication::translate(
                    "CCliDocument",
                    "\"%1\" is neither an installer (.pkg, .mpkg, .dmg, .package) nor a "
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
    error = QCoreApplication::translate("CCliDocument",
                                        "\"%1\" isn't a valid KORVA installation package.")
                .arg(native(package->file().filePath()));
    if (!package->problem().isEmpty())
        error += QLatin1Char(' ') + package->problem();
    return false;
}
} // namespace

CCliDocument::CCliDocument() = default;

CCliDocument::~CCliDocument() = default;

bool CCliDocument::open(const QString& path, const QString& installer, const QStringList& options,
                        QString& error)
{
    qDebug().noquote() << "CCliDocument::open(" + path + ") begin";
    const QFileInfo file(path);
    m_pOpened.reset(openInstaller(file, error));
    if (!m_pOpened)
        return false;
    QByteArray definition;
    CXmlPackage* const xml = dynamic_cast<CXmlPackage*>(m_pOpened.get());
    if (xml)
    {
        const QByteArray bytes = xml->xml();
        if (bytes.isEmpty())
        {
            error = tr("\"%1\" cannot be read as a customization.").arg(native(path));
            return false;
        }
        if (!CCustomizationFile::isCustomization(bytes))
        {
            // A page definition opened directly, for trying it out.
            definition = bytes;
            m_sourceFile = file;
        }
        else
        {
            QString reason;
            if (!CCustomizationFile::read(bytes, m_customization, reason))
            {
                error = tr("\"%1\" is a damaged customization: %2").arg(native(path), reason);
                return false;
            }
            m_customizationFile = file;
            if (!installer.isEmpty())
            {
                m_pOtherInstaller.reset(openInstaller(QFileInfo(installer), error));
                if (!m_pOtherInstaller)
                    return false;
                m_pInstaller = m_pOtherInstaller.get();
            }
            else if (xml->isValid() && xml->subPackage() &&
                     !dynamic_cast<CXmlPackage*>(xml->subPackage()))
            {
                m_pInstaller = xml->subPackage();
            }
            else
            {
                error = tr("The installer \"%1\" that \"%2\" was made for cannot be opened. Name "
                           "the installer with --installer.")
                            .arg(native(m_customization.m_sSource), native(path));
                return false;
            }
        }
    }
    else
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
        m_sourceFile = m_pInstaller->file();
        definition = m_pInstaller->xml();
    }
    m_document = CDocument(m_pInstaller ? m_pInstaller->os() : QString(), options);
    QString reason;
    if (!m_document.load(definition, reason))
    {
        error = tr("The page definition of \"%1\" cannot be read: %2")
                    .arg(native(m_sourceFile.filePath()), reason);
        return false;
    }
    m_document.apply(m_customization.m_lEntries);
    qDebug().noquote() << "CCliDocument::open(" + path + ") end";
    return true;
}

QString CCliDocument::kind() const
{
    if (!m_pInstaller)
        return QStringLiteral("page definition");
    const QString suffix = m_sourceFile.suffix().toLower();
    if (suffix == QLatin1String("dmg"))
        return QStringLiteral("disk image");
    if (suffix == QLatin1String("package"))
        return QStringLiteral("script installer");
    if (CMacFlatPackage::isFlatPackage(m_sourceFile.absoluteFilePath()))
        return QStringLiteral("flat package");
    return QStringLiteral("bundle package");
}
