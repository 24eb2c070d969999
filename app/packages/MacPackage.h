#pragma once

#include "Package.h"

// A bundle package: a directory ("*.pkg" that is not flat, or "*.mpkg") holding
// Contents/Resources/AdminConfig.xml and the bundle's Info property list.
class CMacPackage : public CPackage
{
public:
    explicit CMacPackage(const QFileInfo& file);

    bool isContainer() override { return false; }
    bool isValid() override;
    QByteArray xml() override { return m_xml; }
    QString product() override { return m_sProduct; }
    orbilib::utils::CVersion version() override { return m_version; }
    QString os() const override { return QStringLiteral("mac"); }
    CPackage* subPackage() const override { return nullptr; }

    // Runs "defaults read <plist> <key>" and returns its cleaned output; *finished
    // tells whether the tool ended within its limit.
    static QByteArray readDefault(const QString& plistPath, const QString& key, bool* finished);

private:
    orbilib::utils::CVersion m_version;
    QString m_sProduct;
    QByteArray m_xml;
};
