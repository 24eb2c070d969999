#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace PlatformTools
{

// The signature of a xar archive as installer packages carry it: a <signature style="RSA">
// element in the table of contents naming a heap range (right after the table-of-contents
// checksum) that holds an RSA PKCS#1 v1.5 signature of that checksum, with the signer's
// certificate chain as base64 DER in KeyInfo/X509Data/X509Certificate, leaf first. Packages may
// carry beside it an <x-signature style="CMS">: a detached CMS signature of the same checksum,
// by the same signer, whose digest the signer chooses, and which may carry an RFC 3161 time
// stamp of itself (the unsigned attribute id-aa-timeStampToken), followed by zero bytes up to
// the end of the room the table of contents gives it.
class CXarSignature
{
public:
    struct SCertificate
    {
        std::string sDer;
        std::string sSubject, sSubjectCommonName;
        std::string sIssuer, sIssuerCommonName;
        std::time_t notBefore = 0, notAfter = 0;
        std::string sSha256Fingerprint; // upper-case hex, bytes separated by spaces
        // The usages the certificate names ("digitalSignature"; "codeSigning",
        // "installerPackageSigning" or the dotted number of one OpenSSL does not name).
        bool bHasKeyUsage = false, bHasExtendedKeyUsage = false;
        std::vector<std::string> lKeyUsages, lExtendedKeyUsages;
    };

    struct SInfo
    {
        bool bSigned = false;
        // How many <signature> and <x-signature> elements the table of contents holds; more
        // than one of either makes the package ambiguous.
        std::size_t signatureElements = 0, cmsElements = 0;
        std::string sChecksumElementStyle; // the style the <checksum> element names
        std::string sStyle;                // "RSA"
        std::uint64_t offset = 0, size = 0;
        std::vector<SCertificate> lCertificates; // leaf first
        std::string sChecksumStyle;
        std::uint64_t checksumOffset = 0, checksumSize = 0;
        std::string sChecksum;  // the stored table-of-contents checksum
        std::string sSignature; // the stored signature bytes
        bool bHasCms = false;
        std::uint64_t cmsOffset = 0, cmsSize = 0;
        std::string sCmsSignature; // DER
    };

    enum Status
    {
        Unsigned,
        Valid,   // the signature matches the archive, whatever the certificates' trust
        Invalid, // signed, and the archive no longer matches the signature
        Damaged, // the archive cannot be read far enough to tell
    };
    enum Trust
    {
        Trusted,   // the chain leads to a trusted root
        Expired,   // the signer's certificate (or one above it) has expired
        Untrusted, // no trusted root, or another chain problem
    };

    // An RFC 3161 time stamp of the CMS signature.
    struct STimestamp
    {
        bool bPresent = false;
        // It verifies, comes from a trusted authority and the signer's chain was valid at its
        // time: the signature counts as made then.
        bool bHonoured = false;
        std::time_t time = 0;
        std::string sAuthority;
        std::string sProblem; // why it is not honoured
    };

    struct SVerification
    {
        Status status = Unsigned;
        std::string sProblem; // why the signature is invalid or the archive unreadable
        Trust trust = Untrusted;
        std::string sTrustProblem;
        std::string sCmsDigest; // the CMS signature's digest ("sha256"), once it verified
        bool bMembersChecked = false;
        STimestamp timestamp;
        std::vector<std::string> lWarnings; // weaknesses of a signature that still counts
        SInfo info;
    };

    // Reads the signature of an intact archive; throws CToolError when the archive cannot be
    // read or its signature element is malformed.
    static SInfo read(const std::string& sArchive);

    // Checks the archive against its signature: one signature of each kind, whose bytes overlap
    // nothing else, the table-of-contents checksum (not MD5), the RSA signature over it with the
    // leaf certificate's key, the CMS signature, and every member's data against the checksums
    // the signed table of contents holds. Then evaluates the chain against the system's trusted
    // roots and the PEM file named by TESSARY_TRUSTED_CERTIFICATES: first whether it leads to
    // one at all, then the signer's usages, then the dates at the given time, or at the time of
    // a trusted time stamp when the signer's certificate has expired since. Throws CToolError only
    // when the file cannot be opened or is not a xar archive at all. Without bCheckMembers the
    // members' data is not read (a quick look when a package is opened); bMembersChecked then stays
    // false.
    static SVerification verify(const std::string& sArchive, std::time_t now,
                                bool bCheckMembers = true);

    // Fills the descriptive fields of a certificate from its DER bytes; throws CToolError.
    static SCertificate describeCertificate(const std::string& sDer);

    // Empty when the certificate may sign installer packages, else why not. It must name the
    // extended key usage Apple gives installer-signing certificates
    // (1.2.840.113635.100.4.13) or code signing, which is what in-house authorities issue for
    // signing software, and the key usage digital signature. Anything else, "any usage"
    // included, was issued for another purpose.
    static std::string usageProblem(const SCertificate& certificate);

    // The CMS signature's bytes without the zero bytes after it, in the room a time-stamped
    // signature reserves; empty when something else follows it.
    static std::string cmsWithoutPadding(const std::string& sStored);
};

} // namespace PlatformTools
