#include "SigningIdentity.h"

#include <utils/SourceDate.h>

#include "OpenSsl.h"
#include "TimeStamp.h"
#include "ToolError.h"
#include "XarSignature.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <tinyxml.h>

namespace PlatformTools
{
namespace
{
const std::size_t kMaxPkcs12Size = 1024 * 1024;
const std::size_t kMaxPasswordFileSize = 64 * 1024;
// Room for a time stamp in the CMS signature: authorities answer with a signature and a few
// certificates, a few kilobytes. The table of contents names the room before the stamp exists.
const std::size_t kTimestampRoom = 16 * 1024;

using PKCS12Ptr = std::unique_ptr<PKCS12, SFree<PKCS12, PKCS12_free>>;

using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, SFree<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, SFree<CMS_ContentInfo, CMS_ContentInfo_free>>;
using BioPtr = std::unique_ptr<BIO, SFree<BIO, BIO_free_all>>;

X509Ptr parseDer(const std::string& sDer)
{
    const auto* p = reinterpret_cast<const unsigned char*>(sDer.data());
    X509Ptr certificate(d2i_X509(nullptr, &p, static_cast<long>(sDer.size())));
    if (!certificate)
        throw CToolError("cannot decode a certificate: " + opensslError());
    return certificate;
}

// Reads a small regular file whole; the limit keeps a hostile path (a device, a huge file)
// from exhausting memory.
std::string readSmallFile(const std::string& sPath, std::size_t limit, const std::string& sWhat)
{
    struct stat st;
    if (::stat(sPath.c_str(), &st) != 0)
        throw CToolError::fromErrno("cannot read the " + sWhat + " " + sPath);
    if (!S_ISREG(st.st_mode))
        throw CToolError("cannot read the " + sWhat + " " + sPath + ": not a regular file");
    if (static_cast<std::uint64_t>(st.st_size) > limit)
        throw CToolError("cannot read the " + sWhat + " " + sPath + ": larger than " +
                         std::to_string(limit) + " bytes");
    std::ifstream in(sPath, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in || data.size() > limit)
        throw CToolError("cannot read the " + sWhat + " " + sPath);
    return data;
}

std::string derOf(X509* certificate)
{
    const int length = i2d_X509(certificate, nullptr);
    if (length <= 0)
        throw CToolError("cannot encode a certificate: " + opensslError());
    std::string der(static_cast<std::size_t>(length), '\0');
    auto* p = reinterpret_cast<unsigned char*>(der.data());
    i2d_X509(certificate, &p);
    return der;
}

std::string base64(const std::string& sData)
{
    std::string text(4 * ((sData.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                  reinterpret_cast<const unsigned char*>(sData.data()),
                                  static_cast<int>(sData.size()));
    text.resize(static_cast<std::size_t>(n));
    return text;
}

void addText(TiXmlElement& parent, const char* name, const std::string& sValue)
{
    TiXmlElement element(name);
    element.InsertEndChild(TiXmlText(sValue));
    parent.InsertEndChild(element);
}
} // namespace

std::shared_ptr<CSigningIdentity> CSigningIdentity::fromPkcs12(const std::string& sPath,
                                                               const std::string& sPassword)
{
    const std::string sData = readSmallFile(sPath, kMaxPkcs12Size, "signing identity");
    const auto* p = reinterpret_cast<const unsigned char*>(sData.data());
    PKCS12Ptr pkcs12(d2i_PKCS12(nullptr, &p, static_cast<long>(sData.size())));
    if (!pkcs12)
        throw CToolError("cannot read the signing identity " + sPath + ": not a PKCS#12 file");
    // An empty password is either none at all or the empty one, as the exporter chose.
    const bool bMacHolds =
        !PKCS12_mac_present(pkcs12.get()) ||
        PKCS12_verify_mac(pkcs12.get(), sPassword.c_str(), static_cast<int>(sPassword.size())) ||
        (sPassword.empty() && PKCS12_verify_mac(pkcs12.get(), nullptr, 0));
    if (!bMacHolds)
    {
        ERR_clear_error();
        throw CToolError("cannot read the signing identity " + sPath +
                         (sPassword.empty() ? ": no password given, and it is protected by one"
                                            : ": wrong password"));
    }
    EVP_PKEY* key = nullptr;
    X509* leaf = nullptr;
    STACK_OF(X509)* chain = nullptr;
    if (!PKCS12_parse(pkcs12.get(), sPassword.c_str(), &key, &leaf, &chain))
    {
        // Keychain exports still use RC2 and 3DES, which OpenSSL 3 keeps in its legacy
        // provider.
        ERR_clear_error();
        OSSL_PROVIDER_try_load(nullptr, "legacy", 1);
        if (!PKCS12_parse(pkcs12.get(), sPassword.c_str(), &key, &leaf, &chain))
            throw CToolError("cannot read the signing identity " + sPath + ": " + opensslError());
    }
    std::shared_ptr<CSigningIdentity> identity(new CSigningIdentity());
    identity->m_pKey = key;
    X509Ptr leafHolder(leaf);
    std::vector<X509Ptr> rest;
    for (int i = 0; chain && i < sk_X509_num(chain); ++i)
        rest.emplace_back(sk_X509_value(chain, i));
    sk_X509_free(chain);
    if (!key || !leaf)
        throw CToolError("cannot use the signing identity " + sPath +
                         ": it holds no private key with its certificate");
    if (EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA)
        throw CToolError("cannot use the signing identity " + sPath +
                         ": installer signatures need an RSA key");
    if (X509_check_private_key(leaf, key) != 1)
    {
        ERR_clear_error();
        throw CToolError("cannot use the signing identity " + sPath +
                         ": the private key does not belong to the certificate");
    }
    const std::string sUsage =
        CXarSignature::usageProblem(CXarSignature::describeCertificate(derOf(leaf)));
    if (!sUsage.empty())
        throw CToolError("cannot use the signing identity " + sPath + ": " + sUsage);
    // The chain goes leaf first, each certificate followed by its issuer, whatever order the
    // file keeps them in; certificates outside the path follow at the end.
    identity->m_lCertificates.push_back(derOf(leaf));
    std::vector<X509Ptr> ordered;
    X509* current = leaf;
    while (!rest.empty() &&
           X509_NAME_cmp(X509_get_subject_name(current), X509_get_issuer_name(current)) != 0)
    {
        auto issuer = std::find_if(rest.begin(), rest.end(),
                                   [&](const X509Ptr& candidate)
                                   {
                                       return X509_NAME_cmp(X509_get_subject_name(candidate.get()),
                                                            X509_get_issuer_name(current)) == 0;
                                   });
        if (issuer == rest.end())
            break;
        ordered.push_back(std::move(*issuer));
        rest.erase(issuer);
        current = ordered.back().get();
        identity->m_lCertificates.push_back(derOf(current));
    }
    for (const X509Ptr& extra : rest)
        identity->m_lCertificates.push_back(derOf(extra.get()));
    identity->m_cmsSize = identity->signCms(std::vector<unsigned char>(20)).size();
    return identity;
}

std::string CSigningIdentity::passwordFrom(const std::string& sPasswordFile,
                                           const std::string& sEnvironmentVariable,
                                           bool bVariableOptional)
{
    if (!sPasswordFile.empty())
    {
        const std::string sText =
            readSmallFile(sPasswordFile, kMaxPasswordFileSize, "password file");
        std::string sLine = sText.substr(0, sText.find('\n'));
        if (!sLine.empty() && sLine.back() == '\r')
            sLine.pop_back();
        return sLine;
    }
    if (!sEnvironmentVariable.empty())
    {
        const char* value = std::getenv(sEnvironmentVariable.c_str());
        if (!value && bVariableOptional)
            return std::string();
        if (!value)
            throw CToolError("the environment variable " + sEnvironmentVariable +
                             " that should hold the identity's password is not set");
        return value;
    }
    return std::string();
}

std::shared_ptr<CSigningIdentity>
CSigningIdentity::forCommandLine(const std::string& sPath, const std::string& sPasswordFile,
                                 const std::string& sPasswordVariable,
                                 const std::string& sTimestampUrl)
{
    const bool bDefaultVariable = sPasswordVariable.empty();
    std::shared_ptr<CSigningIdentity> pIdentity = fromPkcs12(
        sPath,
        passwordFrom(sPasswordFile, bDefaultVariable ? "TESSARY_SIGN_PASSWORD" : sPasswordVariable,
                     bDefaultVariable));
    pIdentity->setTimestampUrl(sTimestampUrl);
    return pIdentity;
}

CSigningIdentity::~CSigningIdentity()
{
    EVP_PKEY_free(m_pKey);
}

void CSigningIdentity::checkTimestampAuthority() const
{
    if (!m_sTimestampUrl.empty())
        CTimeStamp::request(m_sTimestampUrl, "a time-stamping authority check");
}

std::size_t CSigningIdentity::size() const
{
    return static_cast<std::size_t>(EVP_PKEY_get_size(m_pKey)) + m_cmsSize +
           (m_sTimestampUrl.empty() ? 0 : kTimestampRoom);
}

void CSigningIdentity::describe(TiXmlElement& toc, std::uint64_t heapOffset) const
{
    const std::size_t rsaSize = static_cast<std::size_t>(EVP_PKEY_get_size(m_pKey));
    TiXmlElement keyInfo("KeyInfo");
    keyInfo.SetAttribute("xmlns", "http://www.w3.org/2000/09/xmldsig#");
    TiXmlElement data("X509Data");
    for (const std::string& sDer : m_lCertificates)
        addText(data, "X509Certificate", base64(sDer));
    keyInfo.InsertEndChild(data);

    TiXmlElement signature("signature");
    signature.SetAttribute("style", "RSA");
    addText(signature, "offset", std::to_string(heapOffset));
    addText(signature, "size", std::to_string(rsaSize));
    signature.InsertEndChild(keyInfo);
    toc.InsertEndChild(signature);

    TiXmlElement cms("x-signature");
    cms.SetAttribute("style", "CMS");
    addText(cms, "offset", std::to_string(heapOffset + rsaSize));
    addText(cms, "size", std::to_string(size() - rsaSize));
    cms.InsertEndChild(keyInfo);
    toc.InsertEndChild(cms);
}

std::vector<unsigned char> CSigningIdentity::sign(const std::vector<unsigned char>& tocChecksum,
                                                  const std::string& sChecksumStyle) const
{
    std::vector<unsigned char> signatures = signRsa(tocChecksum, sChecksumStyle);
    std::vector<unsigned char> cms = signCms(tocChecksum);
    const std::size_t room = size() - signatures.size();
    if (m_sTimestampUrl.empty() ? cms.size() != room : cms.size() > room)
        throw CToolError(m_sTimestampUrl.empty()
                             ? "the CMS signature does not fit the space reserved for it"
                             : "the time-stamping authority's answer is larger than the " +
                                   std::to_string(kTimestampRoom) + " bytes kept for it");
    // A time-stamped signature is followed by zeros up to the end of its room.
    cms.resize(room, 0);
    signatures.insert(signatures.end(), cms.begin(), cms.end());
    return signatures;
}

std::vector<unsigned char> CSigningIdentity::signRsa(const std::vector<unsigned char>& tocChecksum,
                                                     const std::string& sChecksumStyle) const
{
    // The RSA signature covers the table-of-contents checksum itself, as a DigestInfo of the
    // checksum's algorithm, so its digest is whatever the header declares. That stays SHA-1:
    // libarchive does not even recognise an archive whose header names another algorithm
    // (and the xar lineages disagree on what the value 3 means), so SHA-1 is what the format
    // demands here; the CMS signature carries SHA-256.
    const EVP_MD* md = EVP_get_digestbyname(sChecksumStyle.c_str());
    if (!md || static_cast<std::size_t>(EVP_MD_get_size(md)) != tocChecksum.size())
        throw CToolError("cannot sign a \"" + sChecksumStyle + "\" table-of-contents checksum");
    PkeyCtxPtr context(EVP_PKEY_CTX_new(m_pKey, nullptr));
    std::size_t length = 0;
    if (!context || EVP_PKEY_sign_init(context.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) != 1 ||
        EVP_PKEY_CTX_set_signature_md(context.get(), md) != 1 ||
        EVP_PKEY_sign(context.get(), nullptr, &length, tocChecksum.data(), tocChecksum.size()) != 1)
        throw CToolError("cannot sign: " + opensslError());
    std::vector<unsigned char> signature(length);
    if (EVP_PKEY_sign(context.get(), signature.data(), &length, tocChecksum.data(),
                      tocChecksum.size()) != 1)
        throw CToolError("cannot sign: " + opensslError());
    signature.resize(length);
    return signature;
}

std::vector<unsigned char>
CSigningIdentity::signCms(const std::vector<unsigned char>& tocChecksum) const
{
    // A detached CMS signature of the checksum bytes with SHA-256 and the whole chain. Its
    // signed attributes (content type, signing time, digest) have fixed sizes, so every
    // signature by this identity is as long as the one made when it was loaded.
    const int flags = CMS_BINARY | CMS_DETACHED | CMS_PARTIAL | CMS_NOSMIMECAP;
    const X509Ptr leaf = parseDer(m_lCertificates.front());
    CmsPtr cms(CMS_sign(nullptr, nullptr, nullptr, nullptr, flags));
    CMS_SignerInfo* const signerInfo =
        cms ? CMS_add1_signer(cms.get(), leaf.get(), m_pKey, EVP_sha256(), flags) : nullptr;
    if (!signerInfo)
        throw CToolError("cannot make a CMS signature: " + opensslError());
    // With a source date the signature records it as its signing time, not the clock.
    if (const std::optional<std::time_t> epoch = orbilib::utils::sourceDateEpoch())
    {
        std::unique_ptr<ASN1_TIME, SFree<ASN1_TIME, ASN1_TIME_free>> when(
            ASN1_TIME_set(nullptr, *epoch));
        if (!when || CMS_signed_add1_attr_by_NID(signerInfo, NID_pkcs9_signingTime, when->type,
                                                 when.get(), -1) != 1)
            throw CToolError("cannot make a CMS signature: " + opensslError());
    }
    for (std::size_t i = 1; i < m_lCertificates.size(); ++i)
    {
        const X509Ptr certificate = parseDer(m_lCertificates[i]);
        if (CMS_add1_cert(cms.get(), certificate.get()) != 1)
            throw CToolError("cannot make a CMS signature: " + opensslError());
    }
    BioPtr data(BIO_new_mem_buf(tocChecksum.data(), static_cast<int>(tocChecksum.size())));
    if (!data || CMS_final(cms.get(), data.get(), nullptr, flags) != 1)
        throw CToolError("cannot make a CMS signature: " + opensslError());
    if (!m_sTimestampUrl.empty())
    {
        // The stamp covers the signature value, as RFC 3161 has it for signed data.
        CMS_SignerInfo* signer = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms.get()), 0);
        const ASN1_OCTET_STRING* value = signer ? CMS_SignerInfo_get0_signature(signer) : nullptr;
        if (!value)
            throw CToolError("cannot time-stamp the CMS signature: it has no signature value");
        const std::string sToken = CTimeStamp::request(
            m_sTimestampUrl,
            std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(value)),
                        static_cast<std::size_t>(ASN1_STRING_length(value))));
        if (CMS_unsigned_add1_attr_by_NID(signer, NID_id_smime_aa_timeStampToken, V_ASN1_SEQUENCE,
                                          sToken.data(), static_cast<int>(sToken.size())) != 1)
            throw CToolError("cannot add the time stamp to the CMS signature: " + opensslError());
    }
    const int length = i2d_CMS_ContentInfo(cms.get(), nullptr);
    if (length <= 0)
        throw CToolError("cannot encode the CMS signature: " + opensslError());
    std::vector<unsigned char> der(static_cast<std::size_t>(length));
    unsigned char* p = der.data();
    i2d_CMS_ContentInfo(cms.get(), &p);
    return der;
}

} // namespace PlatformTools
