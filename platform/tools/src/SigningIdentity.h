#pragma once

#include "XarWriter.h"

#include <memory>
#include <string>
#include <vector>

struct evp_pkey_st;
struct x509_st;

namespace PlatformTools
{

// An installer-signing identity loaded from a PKCS#12 file: an RSA private key, its
// certificate and the chain above it. Signs xar tables of contents as CXarSignature reads them:
// the RSA signature installers have always checked, whose digest is the SHA-1 table-of-contents
// checksum, and beside it a CMS signature of the same checksum with SHA-256, where the format
// leaves the digest to the signer. With a time-stamping authority the CMS signature carries its
// RFC 3161 time stamp, so the signature outlives the certificate.
class CSigningIdentity : public CXarTocSigner
{
public:
    // Throws CToolError naming the file and the reason (no password given, wrong password, no
    // key, not RSA, key and certificate that do not belong together, a certificate not meant
    // for signing installer packages).
    static std::shared_ptr<CSigningIdentity> fromPkcs12(const std::string& sPath,
                                                        const std::string& sPassword);
    // The password of an identity for the command line: the first line of a file, else the
    // named environment variable (empty when it is optional and unset); never an argument,
    // which other users could read.
    static std::string passwordFrom(const std::string& sPasswordFile,
                                    const std::string& sEnvironmentVariable,
                                    bool bVariableOptional = false);
    // The identity as the tools' options name it: its password from the file, else from the
    // named variable, else from TESSARY_SIGN_PASSWORD (none when unset), and the address of a
    // time-stamping authority (none when empty).
    static std::shared_ptr<CSigningIdentity> forCommandLine(const std::string& sPath,
                                                            const std::string& sPasswordFile,
                                                            const std::string& sPasswordVariable,
                                                            const std::string& sTimestampUrl);
    ~CSigningIdentity() override;
    CSigningIdentity(const CSigningIdentity&) = delete;
    CSigningIdentity& operator=(const CSigningIdentity&) = delete;

    std::size_t size() const override;
    void describe(TiXmlElement& toc, std::uint64_t heapOffset) const override;
    std::vector<unsigned char> sign(const std::vector<unsigned char>& tocChecksum,
                                    const std::string& sChecksumStyle) const override;

    const std::vector<std::string>& certificates() const { return m_lCertificates; }

    // Time-stamps every signature at this http:// address (none when empty).
    void setTimestampUrl(const std::string& sUrl) { m_sTimestampUrl = sUrl; }
    // Asks the authority for a time stamp once, so that one that fails is known before any
    // signing; throws CToolError saying why.
    void checkTimestampAuthority() const;

private:
    CSigningIdentity() = default;
    std::vector<unsigned char> signRsa(const std::vector<unsigned char>& tocChecksum,
                                       const std::string& sChecksumStyle) const;
    std::vector<unsigned char> signCms(const std::vector<unsigned char>& tocChecksum) const;

    evp_pkey_st* m_pKey = nullptr;
    std::vector<std::string> m_lCertificates; // DER, leaf first
    std::size_t m_cmsSize = 0;                // the same for every checksum: fixed-size fields only
    std::string m_sTimestampUrl;
};

} // namespace PlatformTools
