#pragma once

#include "Package.h"

// A self-extracting script installer ("*.package") with its page definition in the
// header of its shell stub.
class CLinuxPackage : public CPackage
{
public:
    explicit CLinuxPackage(const QFileInfo& file);

    bool isContainer() override { return false; }
    bool isValid() override;
    QByteArray xml() override { return m_xml; }
    QString product() override { return m_sProduct; }
    orbilib::utils::CVersion version() override { return m_version; }
    QString os() const override { return QStringLiteral("linux"); }
    CPackage* subPackage() const override { return nullptr; }

private:
    orbilib::utils::CVersion m_version;
    QString m_sProduct;
    QByteArray m_xml;
};
