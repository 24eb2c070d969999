#pragma once

#include "Package.h"

// A Windows installer database ("*.msi", "*.msp"). Recognised so that it can be
// refused clearly; nothing is read from it on this platform.
class CMsiPackage : public CPackage
{
public:
    explicit CMsiPackage(const QFileInfo& file);

    bool isContainer() override { return false; }
    bool isValid() override;
    QByteArray xml() override { return m_xml; }
    QString product() override { return m_sProduct; }
    orbilib::utils::CVersion version() override { return m_version; }
    QString os() const override { return QStringLiteral("windows"); }
    CPackage* subPackage() const override { return nullptr; }

private:
    orbilib::utils::CVersion m_version;
    QString m_sProduct;
    QByteArray m_xml;
};
