#pragma once

#include "Package.h"

// A Windows executable installer ("*.exe"). Recognised so that it can be refused
// clearly; nothing is read from it on this platform.
class CExePackage : public CPackage
{
public:
    explicit CExePackage(const QFileInfo& file);

    bool isContainer() override { return false; }
    bool isValid() override;
    QByteArray xml() override { return QByteArray(); }
    QString product() override { return m_sProduct; }
    orbilib::utils::CVersion version() override { return m_version; }
    QString os() const override { return QStringLiteral("windows"); }
    CPackage* subPackage() const override { return nullptr; }

private:
    orbilib::utils::CVersion m_version;
    QString m_sProduct;
    QString m_sCompany;
    QString m_sDescription;
};
