#include "LinuxPackage.h"

#include "PackagerThread.h"

#include <QDebug>

CLinuxPackage::CLinuxPackage(const QFileInfo& file) : CPackage(file)
{
    qDebug().nospace().noquote() << "CLinuxPackage::CLinuxPackage(" << file.absoluteFilePath()
                                 << ") begin";
    QString sVersion;
    m_xml = CPackagerThread::readPackageXml(file.absoluteFilePath(), m_sProduct, sVersion);
    m_version.parse(sVersion.toStdWString());
    qDebug().nospace().noquote() << "CLinuxPackage::CLinuxPackage(" << file.absoluteFilePath()
                                 << ") end";
}

bool CLinuxPackage::isValid()
{
    return !m_version.isEmpty() && !m_sProduct.isEmpty() && !m_xml.isEmpty();
}
