#include "XarSignature.h"

#include "Digest.h"
#include "OpenSsl.h"
#include "ReportText.h"
#include "TimeStamp.h"
#include "ToolError.h"
#include "TrustStore.h"
#include "XarReader.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <tinyxml.h>
#include <unistd.h>

namespace PlatformTools
{
namespace
{
// Real chains hold three or four certificates of a few kilobytes each.
const std::size_t kMaxCertificates = 16;
const std::size_t kMaxCertificateText = 64 * 1024;
const std::uint64_t kMaxSignatureSize = 64 * 1024;

using StorePtr = std::unique_ptr<X509_STORE, SFree<X509_STORE, X509_STORE_free>>;
using StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, SFree<X509_STORE_CTX, X509_STORE_CTX_free>>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, SFree<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using BioPtr = std::unique_ptr<BIO, SFree<BIO, BIO_free_all>>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, SFree<CMS_ContentInfo, CMS_ContentInfo_free>>;

void freeStack(STACK_OF(X509) * stack)
{
    sk_X509_pop_free(stack, X509_free);
}
using StackPtr = std::unique_ptr<STACK_OF(X509), SFree<STACK_OF(X509), freeStack>>;

std::string text(const TiXmlElement* element)
{
    const char* value = element ? element->GetText() : nullptr;
    return value ? value : "";
}

std::uint64_t number(const TiXmlElement* element, const std::string& sWhat)
{
    const std::string sText = text(element);
    if (sText.empty() || sText.size() > 19 ||
        sText.find_first_not_of("0123456789") != std::string::npos)
        throw CToolError("damaged table of contents: bad " + sWhat + " \"" + sText + "\"");
    return std::stoull(sText);
}

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

std::string decodeBase64(const std::string& sText)
{
    std::string clean;
    for (char c : sText)
        if (!std::isspace(static_cast<unsigned char>(c)))
            clean += c;
    if (clean.empty() || clean.size() % 4 != 0)
        throw CToolError("damaged table of contents: a certificate is not base64 text");
    std::string data(clean.size() / 4 * 3, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(data.data()),
                                  reinterpret_cast<const unsigned char*>(clean.data()),
                                  static_cast<int>(clean.size()));
    if (n < 0)
        throw CToolError("damaged table of contents: a certificate is not base64 text");
    // EVP_DecodeBlock counts the padding as zero bytes.
    std::size_t size = static_cast<std::size_t>(n);
    for (std::size_t i = clean.size(); i > 0 && clean[i - 1] == '=' && size > 0; --i)
        --size;
    data.resize(size);
    return data;
}

X509Ptr parseCertificate(const std::string& sDer)
{
    const auto* p = reinterpret_cast<const unsigned char*>(sDer.data());
    X509Ptr certificate(d2i_X509(nullptr, &p, static_cast<long>(sDer.size())));
    if (!certificate || p != reinterpret_cast<const unsigned char*>(sDer.data()) + sDer.size())
    {
        ERR_clear_error();
        throw CToolError("damaged table of contents: a certificate is not X.509 (DER)");
    }
    return certificate;
}

std::size_t countChildren(const TiXmlElement* parent, const char* name)
{
    std::size_t count = 0;
    for (const TiXmlElement* child = parent->FirstChildElement(name); child;
         child = child->NextSiblingElement(name))
        ++count;
    return count;
}

CXarSignature::SInfo infoFrom(const CXarReader& reader)
{
    CXarSignature::SInfo info;
    TiXmlDocument document;
    document.Parse(reader.tocXml().c_str(), nullptr, TIXML_ENCODING_UTF8);
    const TiXmlElement* root = document.RootElement();
    const TiXmlElement* toc = root ? root->FirstChildElement("toc") : nullptr;
    if (!toc)
        throw CToolError("damaged table of contents: no <toc>");
    info.sChecksumStyle = reader.tocChecksumStyle();
    if (const TiXmlElement* checksum = toc->FirstChildElement("checksum"))
    {
        const char* style = checksum->Attribute("style");
        info.sChecksumElementStyle = style ? lower(style) : "";
        info.checksumOffset = number(checksum->FirstChildElement("offset"), "checksum offset");
        info.checksumSize = number(checksum->FirstChildElement("size"), "checksum size");
        if (info.checksumSize > EVP_MAX_MD_SIZE)
            throw CToolError("damaged table of contents: the checksum is too large");
        info.sChecksum = reader.readHeap(info.checksumOffset, info.checksumSize);
    }
    info.signatureElements = countChildren(toc, "signature");
    info.cmsElements = countChildren(toc, "x-signature");
    info.bSigned = info.signatureElements > 0 || info.cmsElements > 0;
    if (const TiXmlElement* cms = toc->FirstChildElement("x-signature"))
    {
        const char* cmsStyle = cms->Attribute("style");
        if (!cmsStyle || lower(cmsStyle) != "cms")
            throw CToolError("damaged table of contents: unsupported x-signature style");
        info.bHasCms = true;
        info.cmsOffset = number(cms->FirstChildElement("offset"), "x-signature offset");
        info.cmsSize = number(cms->FirstChildElement("size"), "x-signature size");
        if (info.cmsSize > kMaxSignatureSize)
            throw CToolError("damaged table of contents: the CMS signature is too large");
        info.sCmsSignature =
            reader.readHeap(info.cmsOffset, static_cast<std::size_t>(info.cmsSize));
    }
    const TiXmlElement* signature = toc->FirstChildElement("signature");
    if (!signature)
        return info;
    const char* style = signature->Attribute("style");
    info.sStyle = style ? style : "";
    info.offset = number(signature->FirstChildElement("offset"), "signature offset");
    info.size = number(signature->FirstChildElement("size"), "signature size");
    if (info.size > kMaxSignatureSize)
        throw CToolError("damaged table of contents: the signature is too large");
    info.sSignature = reader.readHeap(info.offset, static_cast<std::size_t>(info.size));
    const TiXmlElement* keyInfo = signature->FirstChildElement("KeyInfo");
    const TiXmlElement* data = keyInfo ? keyInfo->FirstChildElement("X509Data") : nullptr;
    for (const TiXmlElement* certificate = data ? data->FirstChildElement("X509Certificate")
                                                : nullptr;
         certificate; certificate = certificate->NextSiblingElement("X509Certificate"))
    {
        if (info.lCertificates.size() == kMaxCertificates)
            throw CToolError("damaged table of contents: more than " +
                             std::to_string(kMaxCertificates) + " certificates");
        const std::string sText = text(certificate);
        if (sText.size() > kMaxCertificateText)
            throw CToolError("damaged table of contents: a certificate is too large");
        info.lCertificates.push_back(CXarSignature::describeCertificate(decodeBase64(sText)));
    }
    return info;
}

// Why the layout is ambiguous: the signatures' bytes must be their own, apart from the
// checksum they sign, from each other and from every member's data.
std::string overlapProblem(const CXarSignature::SInfo& info,
                           const std::vector<CXarReader::Entry>& entries)
{
    struct SRange
    {
        std::uint64_t offset, size;
        std::string sWhat;
    };
    std::vector<SRange> ranges{
        {info.checksumOffset, info.checksumSize, "the table-of-contents checksum"},
        {info.offset, info.size, "the signature"}};
    if (info.bHasCms)
        ranges.push_back({info.cmsOffset, info.cmsSize, "the CMS signature"});
    const auto overlap = [](const SRange& a, const SRange& b)
    { return a.size && b.size && a.offset < b.offset + b.size && b.offset < a.offset + a.size; };
    for (std::size_t i = 1; i < ranges.size(); ++i)
    {
        for (std::size_t k = 0; k < i; ++k)
            if (overlap(ranges[i], ranges[k]))
                return ranges[i].sWhat + " overlaps " + ranges[k].sWhat +
                       ", so the package is ambiguous";
        for (const CXarReader::Entry& entry : entries)
            if (entry.bHasData && overlap(ranges[i], {entry.offset, entry.length, ""}))
                return ranges[i].sWhat + " overlaps the data of " + entry.sPath +
                       ", so the package is ambiguous";
    }
    return std::string();
}

bool signatureMatches(const X509* leaf, const CXarSignature::SInfo& info, std::string& sProblem)
{
    EVP_PKEY* key = X509_get0_pubkey(leaf);
    if (!key || EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA)
    {
        ERR_clear_error();
        sProblem = "the signer's certificate holds no RSA key";
        return false;
    }
    const EVP_MD* md = EVP_get_digestbyname(info.sChecksumStyle.c_str());
    PkeyCtxPtr context(EVP_PKEY_CTX_new(key, nullptr));
    if (!md || !context || EVP_PKEY_verify_init(context.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) != 1 ||
        EVP_PKEY_CTX_set_signature_md(context.get(), md) != 1)
    {
        sProblem = "cannot check a signature over a \"" + info.sChecksumStyle +
                   "\" checksum: " + opensslError();
        return false;
    }
    const int rc = EVP_PKEY_verify(
        context.get(), reinterpret_cast<const unsigned char*>(info.sSignature.data()),
        info.sSignature.size(), reinterpret_cast<const unsigned char*>(info.sChecksum.data()),
        info.sChecksum.size());
    ERR_clear_error();
    if (rc != 1)
        sProblem = "the signature does not match the table of contents";
    return rc == 1;
}

// The CMS signature must cover the same checksum and come from the same signer.
// Also returns the signer's signature value and the time-stamp token it carries, if any.
bool cmsMatches(const X509* leaf, const CXarSignature::SInfo& info, std::string& sDigest,
                std::string& sSignatureValue, std::string& sToken, std::string& sProblem)
{
    const std::string sCms = CXarSignature::cmsWithoutPadding(info.sCmsSignature);
    if (sCms.empty())
    {
        sProblem = "other bytes than zeros follow the CMS signature";
        return false;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(sCms.data());
    CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(sCms.size())));
    // The checksum reaches CMS_verify through a buffering BIO: given a memory BIO it makes
    // a copy of its own, which OpenSSL 3.0 loses when a hostile signature fails early.
    BioPtr content(BIO_new(BIO_f_buffer()));
    if (content)
        BIO_push(content.get(),
                 BIO_new_mem_buf(info.sChecksum.data(), static_cast<int>(info.sChecksum.size())));
    if (!cms || !content || !BIO_next(content.get()) ||
        CMS_verify(cms.get(), nullptr, nullptr, content.get(), nullptr,
                   CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY) != 1)
    {
        ERR_clear_error();
        sProblem = "the CMS signature does not match the table of contents";
        return false;
    }
    STACK_OF(X509)* signers = CMS_get0_signers(cms.get());
    const bool bSameSigner =
        signers && sk_X509_num(signers) == 1 && X509_cmp(sk_X509_value(signers, 0), leaf) == 0;
    sk_X509_free(signers);
    if (!bSameSigner)
    {
        sProblem = "the CMS signature comes from another signer";
        return false;
    }
    // Its certificates lie outside what either signature covers; they must be the chain the
    // signed table of contents names, so no byte of the heap goes unchecked.
    STACK_OF(X509)* certificates = CMS_get1_certs(cms.get());
    bool bSameChain = certificates && static_cast<std::size_t>(sk_X509_num(certificates)) ==
                                          info.lCertificates.size();
    for (int i = 0; bSameChain && i < sk_X509_num(certificates); ++i)
    {
        unsigned char* der = nullptr;
        const int length = i2d_X509(sk_X509_value(certificates, i), &der);
        const std::string sDer =
            length > 0 ? std::string(reinterpret_cast<char*>(der), static_cast<std::size_t>(length))
                       : std::string();
        OPENSSL_free(der);
        bSameChain = std::any_of(info.lCertificates.begin(), info.lCertificates.end(),
                                 [&](const CXarSignature::SCertificate& certificate)
                                 { return certificate.sDer == sDer; });
    }
    sk_X509_pop_free(certificates, X509_free);
    if (!bSameChain)
    {
        sProblem = "the CMS signature carries other certificates than the table of contents";
        return false;
    }
    STACK_OF(CMS_SignerInfo)* signerInfos = CMS_get0_SignerInfos(cms.get());
    X509_ALGOR* digest = nullptr;
    if (signerInfos && sk_CMS_SignerInfo_num(signerInfos) == 1)
    {
        CMS_SignerInfo* signer = sk_CMS_SignerInfo_value(signerInfos, 0);
        CMS_SignerInfo_get0_algs(signer, nullptr, nullptr, &digest, nullptr);
        const ASN1_OBJECT* object = nullptr;
        if (digest)
            X509_ALGOR_get0(&object, nullptr, nullptr, digest);
        const char* name = object ? OBJ_nid2sn(OBJ_obj2nid(object)) : nullptr;
        sDigest = name ? lower(name) : "";
        sDigest.erase(std::remove(sDigest.begin(), sDigest.end(), '-'), sDigest.end());
        const ASN1_OCTET_STRING* value = CMS_SignerInfo_get0_signature(signer);
        if (value)
            sSignatureValue.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(value)),
                                   static_cast<std::size_t>(ASN1_STRING_length(value)));
        const int index = CMS_unsigned_get_attr_by_NID(signer, NID_id_smime_aa_timeStampToken, -1);
        X509_ATTRIBUTE* attribute = index >= 0 ? CMS_unsigned_get_attr(signer, index) : nullptr;
        const ASN1_TYPE* type = attribute ? X509_ATTRIBUTE_get0_type(attribute, 0) : nullptr;
        if (type && type->type == V_ASN1_SEQUENCE)
            sToken.assign(reinterpret_cast<const char*>(type->value.sequence->data),
                          static_cast<std::size_t>(type->value.sequence->length));
        else if (attribute)
            sToken = std::string(1, '\0'); // present, but no token: verification says so
    }
    ERR_clear_error();
    if (sDigest == "md5")
    {
        sProblem = "the CMS signature uses MD5, which anyone can forge";
        return false;
    }
    return true;
}

// Verifies the chain against the store; without a time only whether it leads to a trusted
// root. Returns the OpenSSL verification error, X509_V_OK when it holds.
int verifyChain(X509_STORE* store, const std::vector<X509Ptr>& chain, const std::time_t* at,
                std::string& sProblem)
{
    StackPtr untrusted(sk_X509_new_null());
    StoreCtxPtr context(X509_STORE_CTX_new());
    if (!untrusted || !context)
        throw CToolError("cannot evaluate the certificate chain: out of memory");
    for (std::size_t i = 1; i < chain.size(); ++i)
    {
        X509_up_ref(chain[i].get());
        sk_X509_push(untrusted.get(), chain[i].get());
    }
    if (X509_STORE_CTX_init(context.get(), store, chain.front().get(), untrusted.get()) != 1)
        throw CToolError("cannot evaluate the certificate chain: " + opensslError());
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(context.get());
    if (at)
        X509_VERIFY_PARAM_set_time(param, *at);
    else
    {
        // A time to check at would win over not checking.
        X509_VERIFY_PARAM_clear_flags(param, X509_V_FLAG_USE_CHECK_TIME);
        X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_NO_CHECK_TIME);
    }
    if (X509_verify_cert(context.get()) == 1)
        return X509_V_OK;
    const int error = X509_STORE_CTX_get_error(context.get());
    X509* culprit = X509_STORE_CTX_get_current_cert(context.get());
    sProblem = X509_verify_cert_error_string(error);
    if (culprit)
        sProblem += " (certificate \"" + commonName(X509_get_subject_name(culprit)) + "\")";
    ERR_clear_error();
    return error == X509_V_OK ? X509_V_ERR_UNSPECIFIED : error;
}

// Trust first: a chain that leads to no trusted root, or a signer certificate not meant for
// packages, is untrusted whatever its dates. Then time: now, or the time of a trusted time
// stamp once the signer's certificate has expired.
void evaluateTrust(const std::vector<X509Ptr>& chain, std::time_t now,
                   CXarSignature::SVerification& result)
{
    std::string sStoreProblem;
    StorePtr store(CTrustStore::load(now, sStoreProblem));
    if (!store)
    {
        result.trust = CXarSignature::Untrusted;
        result.sTrustProblem = sStoreProblem;
        return;
    }
    result.trust = CXarSignature::Untrusted;
    if (verifyChain(store.get(), chain, nullptr, result.sTrustProblem) != X509_V_OK)
        return;
    result.sTrustProblem = CXarSignature::usageProblem(result.info.lCertificates.front());
    if (!result.sTrustProblem.empty())
        return;
    CXarSignature::STimestamp& timestamp = result.timestamp;
    if (timestamp.bPresent && timestamp.sProblem.empty())
    {
        std::string sIgnored;
        if (verifyChain(store.get(), chain, &timestamp.time, sIgnored) == X509_V_OK)
            timestamp.bHonoured = true;
        else
            timestamp.sProblem = "the signer's certificates were not valid at the stamped time " +
                                 CReportText::time(timestamp.time);
    }
    if (timestamp.bPresent && !timestamp.bHonoured)
        result.lWarnings.push_back("the time stamp is not honoured: " + timestamp.sProblem);
    const int error = verifyChain(store.get(), chain, &now, result.sTrustProblem);
    if (error == X509_V_OK || timestamp.bHonoured)
    {
        result.trust = CXarSignature::Trusted;
        result.sTrustProblem.clear();
        return;
    }
    result.trust =
        error == X509_V_ERR_CERT_HAS_EXPIRED ? CXarSignature::Expired : CXarSignature::Untrusted;
}

std::vector<std::string> keyUsages(X509* certificate)
{
    static const std::pair<std::uint32_t, const char*> kNames[] = {
        {KU_DIGITAL_SIGNATURE, "digitalSignature"},
        {KU_NON_REPUDIATION, "nonRepudiation"},
        {KU_KEY_ENCIPHERMENT, "keyEncipherment"},
        {KU_DATA_ENCIPHERMENT, "dataEncipherment"},
        {KU_KEY_AGREEMENT, "keyAgreement"},
        {KU_KEY_CERT_SIGN, "keyCertSign"},
        {KU_CRL_SIGN, "cRLSign"},
        {KU_ENCIPHER_ONLY, "encipherOnly"},
        {KU_DECIPHER_ONLY, "decipherOnly"}};
    const std::uint32_t usage = X509_get_key_usage(certificate);
    std::vector<std::string> lNames;
    for (const auto& name : kNames)
        if (usage & name.first)
            lNames.push_back(name.second);
    return lNames;
}

const char* const kInstallerSigningUsage = "1.2.840.113635.100.4.13";

std::vector<std::string> extendedKeyUsages(X509* certificate)
{
    std::vector<std::string> lNames;
    auto* usages = static_cast<EXTENDED_KEY_USAGE*>(
        X509_get_ext_d2i(certificate, NID_ext_key_usage, nullptr, nullptr));
    for (int i = 0; usages && i < sk_ASN1_OBJECT_num(usages); ++i)
    {
        const ASN1_OBJECT* object = sk_ASN1_OBJECT_value(usages, i);
        char dotted[80];
        OBJ_obj2txt(dotted, sizeof dotted, object, 1);
        const int nid = OBJ_obj2nid(object);
        if (std::string(dotted) == kInstallerSigningUsage)
            lNames.push_back("installerPackageSigning");
        else
            lNames.push_back(nid != NID_undef ? OBJ_nid2sn(nid) : dotted);
    }
    sk_ASN1_OBJECT_pop_free(usages, ASN1_OBJECT_free);
    ERR_clear_error();
    return lNames;
}

std::string joined(const std::vector<std::string>& lNames)
{
    std::string sText;
    for (const std::string& sName : lNames)
        sText += (sText.empty() ? "" : ", ") + sName;
    return sText;
}
} // namespace

CXarSignature::SCertificate CXarSignature::describeCertificate(const std::string& sDer)
{
    const X509Ptr certificate = parseCertificate(sDer);
    SCertificate description;
    description.sDer = sDer;
    description.sSubject = nameText(X509_get_subject_name(certificate.get()));
    description.sSubjectCommonName = commonName(X509_get_subject_name(certificate.get()));
    description.sIssuer = nameText(X509_get_issuer_name(certificate.get()));
    description.sIssuerCommonName = commonName(X509_get_issuer_name(certificate.get()));
    description.notBefore = timeOf(X509_get0_notBefore(certificate.get()));
    description.notAfter = timeOf(X509_get0_notAfter(certificate.get()));
    description.bHasKeyUsage = X509_get_extension_flags(certificate.get()) & EXFLAG_KUSAGE;
    description.bHasExtendedKeyUsage = X509_get_extension_flags(certificate.get()) & EXFLAG_XKUSAGE;
    description.lKeyUsages = keyUsages(certificate.get());
    description.lExtendedKeyUsages = extendedKeyUsages(certificate.get());
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate.get(), EVP_sha256(), digest, &length) == 1)
    {
        static const char digits[] = "0123456789ABCDEF";
        for (unsigned int i = 0; i < length; ++i)
        {
            if (i)
                description.sSha256Fingerprint += ' ';
            description.sSha256Fingerprint += digits[digest[i] >> 4];
            description.sSha256Fingerprint += digits[digest[i] & 0xf];
        }
    }
    return description;
}

std::string CXarSignature::usageProblem(const SCertificate& certificate)
{
    const std::vector<std::string>& lUsages = certificate.lExtendedKeyUsages;
    std::string sWhy;
    if (!certificate.bHasExtendedKeyUsage)
        sWhy = "it names no extended key usage";
    else if (std::find(lUsages.begin(), lUsages.end(), "installerPackageSigning") ==
                 lUsages.end() &&
             std::find(lUsages.begin(), lUsages.end(), "codeSigning") == lUsages.end())
        sWhy = "its extended key usage is " + joined(lUsages) +
               ", neither installer package signing nor code signing";
    else if (!certificate.bHasKeyUsage)
        sWhy = "it names no key usage";
    else if (std::find(certificate.lKeyUsages.begin(), certificate.lKeyUsages.end(),
                       "digitalSignature") == certificate.lKeyUsages.end())
        sWhy = "its key usage (" + joined(certificate.lKeyUsages) +
               ") does not include digital signatures";
    if (sWhy.empty())
        return sWhy;
    const std::string& sName = certificate.sSubjectCommonName.empty()
                                   ? certificate.sSubject
                                   : certificate.sSubjectCommonName;
    return "the certificate \"" + sName + "\" is not meant for signing installer packages: " + sWhy;
}

std::string CXarSignature::cmsWithoutPadding(const std::string& sStored)
{
    const auto* start = reinterpret_cast<const unsigned char*>(sStored.data());
    const unsigned char* p = start;
    long length = 0;
    int tag = 0, xclass = 0;
    const int rc = ASN1_get_object(&p, &length, &tag, &xclass, static_cast<long>(sStored.size()));
    ERR_clear_error();
    if ((rc & 0x80) || rc != V_ASN1_CONSTRUCTED)
        return std::string();
    const std::size_t size = static_cast<std::size_t>(p - start) + static_cast<std::size_t>(length);
    if (size > sStored.size() || sStored.find_first_not_of('\0', size) != std::string::npos)
        return std::string();
    return sStored.substr(0, size);
}

CXarSignature::SInfo CXarSignature::read(const std::string& sArchive)
{
    const CXarReader reader(sArchive);
    try
    {
        return infoFrom(reader);
    }
    catch (const CToolError& error)
    {
        throw CToolError(sArchive + ": " + error.what());
    }
}

CXarSignature::SVerification CXarSignature::verify(const std::string& sArchive, std::time_t now,
                                                   bool bCheckMembers)
{
    {
        // Something that is not a xar archive at all is an error, not a bad signature.
        // Non-blocking, so a FIFO in place of the package cannot hang the check.
        const int fd = ::open(sArchive.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0)
            throw CToolError::fromErrno("cannot open " + sArchive);
        struct stat st;
        char magic[4] = {};
        const bool bFile = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
        const ssize_t n = bFile ? ::read(fd, magic, sizeof magic) : 0;
        ::close(fd);
        if (!bFile)
            throw CToolError(sArchive + " is not a file");
        if (n != 4 || std::memcmp(magic, "xar!", 4) != 0)
            throw CToolError(sArchive + " is not a xar archive");
    }
    SVerification result;
    std::unique_ptr<CXarReader> reader;
    try
    {
        reader = std::make_unique<CXarReader>(sArchive);
        result.info = infoFrom(*reader);
    }
    catch (const CToolError& error)
    {
        result.status = Damaged;
        result.sProblem = error.what();
        return result;
    }
    if (!result.info.bSigned)
        return result;
    result.status = Invalid;
    if (result.info.signatureElements > 1 || result.info.cmsElements > 1)
    {
        result.sProblem = "the table of contents holds more than one signature, so what it "
                          "vouches for is ambiguous";
        return result;
    }
    if (result.info.signatureElements == 0)
    {
        result.sProblem = "a CMS signature without the RSA signature installers check";
        return result;
    }
    if (lower(result.info.sStyle) != "rsa")
    {
        result.sProblem = "unsupported signature style \"" + result.info.sStyle + "\"";
        return result;
    }
    if (result.info.lCertificates.empty())
    {
        result.sProblem = "the signature carries no certificate";
        return result;
    }
    if (!CDigest::isSupported(result.info.sChecksumStyle))
    {
        result.sProblem = "the table of contents has no checksum the signature could cover";
        return result;
    }
    if (result.info.sChecksumStyle == "md5")
    {
        result.sProblem = "the signature covers an MD5 checksum, which anyone can forge";
        return result;
    }
    if (!result.info.sChecksumElementStyle.empty() &&
        result.info.sChecksumElementStyle != result.info.sChecksumStyle)
    {
        result.sProblem = "the table of contents names another checksum than its header";
        return result;
    }
    result.sProblem = overlapProblem(result.info, reader->entries());
    if (!result.sProblem.empty())
        return result;
    CDigest digest(result.info.sChecksumStyle);
    digest.update(reader->compressedToc().data(), reader->compressedToc().size());
    const std::vector<unsigned char> computed = digest.finish();
    if (std::string(computed.begin(), computed.end()) != result.info.sChecksum)
    {
        result.sProblem = "the table of contents does not match its checksum";
        return result;
    }
    std::vector<X509Ptr> chain;
    for (const SCertificate& certificate : result.info.lCertificates)
        chain.push_back(parseCertificate(certificate.sDer));
    if (!signatureMatches(chain.front().get(), result.info, result.sProblem))
        return result;
    std::string sSignatureValue, sToken;
    if (result.info.bHasCms && !cmsMatches(chain.front().get(), result.info, result.sCmsDigest,
                                           sSignatureValue, sToken, result.sProblem))
        return result;
    // The signed table of contents vouches for the members only through their checksums.
    for (const CXarReader::Entry& entry : reader->entries())
    {
        if (!bCheckMembers)
            break;
        if (!entry.bHasData)
            continue;
        if (entry.sArchivedChecksum.empty() && entry.sExtractedChecksum.empty())
        {
            result.sProblem = entry.sPath + " carries no checksum the signature could cover";
            return result;
        }
        try
        {
            reader->readData(entry, [](const char*, std::size_t) {});
        }
        catch (const CToolError& error)
        {
            result.sProblem = error.what();
            return result;
        }
    }
    result.status = Valid;
    result.bMembersChecked = bCheckMembers;
    result.sProblem.clear();
    // The RSA and the CMS signature both sign the table-of-contents checksum, so neither is
    // stronger than it.
    if (result.info.sChecksumStyle == "sha1")
        result.lWarnings.push_back("the signature covers a SHA-1 checksum of the table of "
                                   "contents; SHA-1 is weak against prepared collisions");
    if (result.sCmsDigest == "sha1")
        result.lWarnings.push_back("the CMS signature uses SHA-1, which is weak");
    if (!sToken.empty())
    {
        const CTimeStamp::SCheck check = CTimeStamp::verify(sToken, sSignatureValue, now);
        result.timestamp.bPresent = true;
        result.timestamp.time = check.time;
        result.timestamp.sAuthority = check.sAuthority;
        result.timestamp.sProblem = check.bVerified ? std::string() : check.sProblem;
    }
    evaluateTrust(chain, now, result);
    return result;
}

} // namespace PlatformTools
