#pragma once

#include "ChildProcess.h"

#include <memory>
#include <string>
#include <vector>

namespace TestSupport
{

// Certificates made by openssl at test time in one directory: a trusted root "Tessary Test
// Root" with an intermediate "Tessary Test Installer CA" below it, and leaves, look-alikes and
// time-stamping authorities issued on demand. Packages are signed by tests/tools/xar_sign.py,
// which shares no code with the tools. Every failure throws std::runtime_error with openssl's
// words.
class SigningPki
{
public:
    enum Usage
    {
        InstallerSigning,   // Apple's installer-package signing usage, digital signatures
        CodeSigning,        // code signing, digital signatures
        WebServer,          // server authentication, key encipherment only
        NoDigitalSignature, // code signing without the digital-signature key usage
        TimeStamping,       // a time-stamping authority
    };
    struct Leaf
    {
        std::string key, certificate; // PEM files
        std::string chain;            // PEM of the certificates above, issuer first
        std::string identity;         // PKCS#12 of all three, protected by password()
    };

    explicit SigningPki(const std::string& directory);

    // A leaf issued by the intermediate; the dates (YYYYMMDDHHMMSSZ) default to a year from
    // an hour ago. The common name may hold any bytes (UTF-8).
    Leaf issue(const std::string& name, const std::string& commonName, Usage usage,
               const std::string& notBefore = std::string(),
               const std::string& notAfter = std::string());
    // The same from a root of its own that nobody trusts, whose name is rootCommonName.
    Leaf issueUntrusted(const std::string& name, const std::string& commonName, Usage usage,
                        const std::string& rootCommonName,
                        const std::string& notBefore = std::string(),
                        const std::string& notAfter = std::string());
    // A directory as tests/tools/timestamp_authority.py wants it (tsa.pem, tsa.key, chain.pem),
    // for an authority below the intermediate or, untrusted, below a root of its own. Like the
    // roots it has been valid since 2019, so it can stamp times of years past.
    std::string timeStampingAuthority(const std::string& name, bool trusted = true);

    const std::string& directory() const { return m_directory; }
    std::string root() const { return m_directory + "/root.pem"; }
    // The file holding the identities' password on its first line, and that password.
    std::string passwordFile() const { return m_directory + "/password"; }
    static std::string password() { return "correct horse"; }

    // Signs a package with tests/tools/xar_sign.py (see there for the options) holding the
    // given members (name=path); throws when the script fails.
    static void signPackage(const Leaf& signer, const std::string& output,
                            const std::vector<std::string>& members,
                            const std::vector<std::string>& options = {});

    // A YYYYMMDDHHMMSSZ time this many seconds from now.
    static std::string timeFromNow(long long seconds);

private:
    Leaf issueFrom(const std::string& issuer, const std::string& issuerChain,
                   const std::string& name, const std::string& commonName, Usage usage,
                   const std::string& notBefore, const std::string& notAfter);
    void makeRoot(const std::string& name, const std::string& commonName) const;
    void openssl(const std::vector<std::string>& arguments) const;

    std::string m_directory;
};

// tests/tools/timestamp_authority.py serving an authority's directory on a loopback port for
// as long as this lives.
class TimeStampingServer
{
public:
    explicit TimeStampingServer(const std::string& authority, const std::string& mode = "ok");
    std::string url() const { return m_url; }

private:
    std::unique_ptr<ChildProcess> m_process;
    std::string m_url;
};

} // namespace TestSupport
