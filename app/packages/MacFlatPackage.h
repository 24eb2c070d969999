#pragma once

#include "Package.h"

#include <QDir>

#include <functional>

// A flat package: a xar archive whose "Scripts" member, a gzip-compressed cpio
// archive, holds the bundle information and the page definition.
class CMacFlatPackage : public CPackage
{
public:
    // A callable that says whether long work must stop.
    typedef std::function<bool()> CancelTest;

    // An identity that signs a flattened package: a PKCS#12 file and its password,
    // and the http:// address of a time-stamping authority (none when empty).
    struct Signing
    {
        Signing() = default;
        Signing(const QString& identity, const QString& secret, const QString& url = QString())
            : identityFile(identity), password(secret), timestampUrl(url)
        {
        }
        QString identityFile;
        QString password;
        QString timestampUrl;
    };

    // Throws CustomizedFlatPackage_Exception when the package carries a customization
    // and ignoreCustomization is false; any other failure leaves it invalid.
    CMacFlatPackage(const QFileInfo& file, bool ignoreCustomization);

    bool isContainer() override { return false; }
    bool isValid() override;
    // The bundle information could be read, with or without a page definition.
    bool isValidButNotCustomizable() override;
    QByteArray xml() override { return m_xml; }
    QString product() override { return m_sProduct; }
    orbilib::utils::CVersion version() override { return m_version; }
    QString os() const override { return QStringLiteral("mac"); }
    CPackage* subPackage() const override { return nullptr; }

    // The path ends in ".pkg" (case-sensitive) and the file starts with "xar!".
    static bool isFlatPackage(const QString& path);
    // Expands the package into a new work directory; expandedDir is set to
    // <work directory>/pkg only when that directory was made.
    static bool expand(const QString& packagePath, QDir& expandedDir, const CancelTest& canceled);
    // Signs the package as it is written when signing names an identity; problem
    // receives the tool's reason for a failure.
    static bool flatten(const QDir& expandedDir, const QString& destination,
                        const CancelTest& canceled, const Signing& signing = Signing(),
                        QString* problem = nullptr);
    // Removes the work directory that holds an expanded package.
    static bool cleanTempDir(const QDir& expandedDir);

private:
    void init();
    // Reads product, version and page definition from the package's Scripts,
    // unpacked into workDir; what cannot be read stays empty. Throws
    // CustomizedFlatPackage_Exception for a package customized before.
    void readScripts(const QString& workDir);
    // Reads a document the package carries, within the size limit, as text.
    bool readDocument(const QString& path, QByteArray& data);

    orbilib::utils::CVersion m_version;
    QString m_sProduct;
    QByteArray m_xml;
    bool m_bIgnoreCustomization;
};
