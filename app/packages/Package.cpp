#include "Package.h"

CPackage::CPackage(const QFileInfo& file) : m_file(file) {}

CPackage::~CPackage() = default;

QFileInfo CPackage::file() const
{
    return m_file;
}

bool CPackage::isValidButNotCustomizable()
{
    return isValid();
}
