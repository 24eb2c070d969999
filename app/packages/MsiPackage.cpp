#include "MsiPackage.h"

CMsiPackage::CMsiPackage(const QFileInfo& file) : CPackage(file) {}

bool CMsiPackage::isValid()
{
    return !m_version.isEmpty() && !m_sProduct.isEmpty() && !m_xml.isEmpty();
}
