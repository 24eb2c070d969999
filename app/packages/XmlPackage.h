#pragma once

#include "Package.h"

// A saved customization ("*.xml", root element "AdminCustomization"), or the
// customization found inside a flat package that was published before. Wraps the
// package that the customization was made for when that package still exists.
class CXmlPackage : public CPackage
{
public:
    explicit CXmlPackage(const QFileInfo& file);
    CXmlPackage(const QByteArray& customization, const QString& packagePath);
    ~CXmlPackage() override;

    QFileInfo file() const override;
    bool isContainer() override { return true; }
    bool isValid() override;
    QByteArray xml() override { return m_xml; }
    QString product() override;
    orbilib::utils::CVersion version() override;
    QString os() const override;
    CPackage* subPackage() const override { return m_pSubPackage; }

    // True when made from a customized flat package rather than from a file.
    bool isFromPackage() const { return m_bFromPackage; }

private:
    void init(const QString& packagePath);
    bool hasValidSubPackage() const;

    CPackage* m_pSubPackage;
    orbilib::utils::CVersion m_productVersion;
    QString m_sProductName;
    QByteArray m_xml;
    bool m_bFromPackage;
};
