#include "XmlPackage.h"

#include "BoundedFile.h"
#include "DmgPackage.h"
#include "LinuxPackage.h"
#include "MacFlatPackage.h"
#include "MacPackage.h"
#include "MsiPackage.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QXmlStreamReader>

CXmlPackage::CXmlPackage(const QFileInfo& file)
    : CPackage(file), m_pSubPackage(nullptr), m_bFromPackage(false)
{
    qDebug().nospace().noquote() << "CXmlPackage::CXmlPackage(" << file.absoluteFilePath()
                                 << ") begin";
    // The administrator named this file, so a link to it is followed.
    QString error;
    if (CBoundedFile::read(file.absoluteFilePath(), CBoundedFile::kMaxDocumentBytes, m_xml, &error,
                           true))
        init(QString());
    else
    {
        qDebug().noquote() << "CXmlPackage: cannot read" << error;
        setProblem(error);
    }
    qDebug().nospace().noquote() << "CXmlPackage::CXmlPackage(" << file.absoluteFilePath()
                                 << ") end";
}

CXmlPackage::CXmlPackage(const QByteArray& customization, const QString& packagePath)
    : CPackage(QFileInfo()), m_pSubPackage(nullptr), m_xml(customization), m_bFromPackage(true)
{
    qDebug().nospace().noquote() << "CXmlPackage::CXmlPackage(" << packagePath << ") begin";
    init(packagePath);
    qDebug().nospace().noquote() << "CXmlPackage::CXmlPackage(" << packagePath << ") end";
}

CXmlPackage::~CXmlPackage()
{
    delete m_pSubPackage;
}

void CXmlPackage::init(const QString& packagePath)
{
    QXmlStreamReader reader(m_xml);
    while (!reader.atEnd() && !reader.isStartElement())
        reader.readNext();
    if (!reader.isStartElement() || reader.name() != QLatin1String("AdminCustomization"))
    {
        qDebug() << "CXmlPackage: not a customization document" << reader.errorString();
        return;
    }
    const QXmlStreamAttributes attributes = reader.attributes();
    // A document that is not well-formed as a whole is not a customization either.
    while (!reader.atEnd())
        reader.readNext();
    if (reader.hasError())
    {
        qDebug() << "CXmlPackage: malformed customization:" << reader.errorString();
        return;
    }
    m_productVersion.setVersion(
        attributes.value(QLatin1String("productVersion")).toString().toStdWString());
    m_sProductName = attributes.value(QLatin1String("productName")).toString();
    const QString source =
        packagePath.isEmpty() ? attributes.value(QLatin1String("source")).toString() : packagePath;
    // A path written by hand may be relative: to this file's own folder, not to
    // wherever the program was started.
    QFileInfo sourceInfo(source);
    if (packagePath.isEmpty() && !source.isEmpty() && sourceInfo.isRelative() &&
        !m_file.filePath().isEmpty())
        sourceInfo = QFileInfo(QDir(m_file.absolutePath()).absoluteFilePath(source));
    if (source.isEmpty() || !sourceInfo.exists())
        return;
    const QString suffix = sourceInfo.suffix().toLower();
    if (suffix == QLatin1String("msi") || suffix == QLatin1String("msp"))
        m_pSubPackage = new CMsiPackage(sourceInfo);
    else if (suffix == QLatin1String("package"))
        m_pSubPackage = new CLinuxPackage(sourceInfo);
    else if (suffix == QLatin1String("mpkg") || suffix == QLatin1String("pkg"))
    {
        if (CMacFlatPackage::isFlatPackage(sourceInfo.absoluteFilePath()))
            m_pSubPackage = new CMacFlatPackage(sourceInfo, true);
        else
            m_pSubPackage = new CMacPackage(sourceInfo);
    }
    else if (suffix == QLatin1String("dmg"))
        m_pSubPackage = new CDmgPackage(sourceInfo);
}

bool CXmlPackage::hasValidSubPackage() const
{
    return m_pSubPackage && m_pSubPackage->isValid();
}

QFileInfo CXmlPackage::file() const
{
    if (m_bFromPackage && m_pSubPackage)
        return m_pSubPackage->file();
    return m_file;
}

bool CXmlPackage::isValid()
{
    if (m_pSubPackage)
        return m_pSubPackage->isValid();
    return !m_productVersion.isEmpty() && !m_sProductName.isEmpty();
}

QString CXmlPackage::product()
{
    return hasValidSubPackage() ? m_pSubPackage->product() : m_sProductName;
}

orbilib::utils::CVersion CXmlPackage::version()
{
    return hasValidSubPackage() ? m_pSubPackage->version() : m_productVersion;
}

QString CXmlPackage::os() const
{
    return hasValidSubPackage() ? m_pSubPackage->os() : QString();
}
