#include "ExePackage.h"

CExePackage::CExePackage(const QFileInfo& file) : CPackage(file) {}

bool CExePackage::isValid()
{
    return !m_version.isEmpty() && !m_sProduct.isEmpty() &&
           m_sCompany.startsWith(QLatin1String("Ombrel")) &&
           (m_sDescription.startsWith(QLatin1String("Setup Launcher")) ||
            m_sDescription == QLatin1String("KORVA Install Wrapper"));
}
