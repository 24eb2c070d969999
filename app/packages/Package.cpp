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

QString CPackage::problem() const
{
    const CPackage* const inner = subPackage();
    if (m_sProblem.isEmpty() && inner)
        return inner->problem();
    return m_sProblem;
}

void CPackage::setProblem(const QString& problem)
{
    if (m_sProblem.isEmpty())
        m_sProblem = problem;
}
