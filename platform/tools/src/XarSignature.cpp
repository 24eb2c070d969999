#include "XarSignature.h"

#include "Digest.h"
#include "OpenSsl.h"
#include "ToolError.h"
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

std::string nameText(const X509_NAME* name)
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) < 0)
        return std::string();
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

std::string commonName(const X509_NAME* name)
{
    const int index = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
    if (index < 0)
        return std::string();
    unsigned char* utf8 = nullptr;
    const int length =
        ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index)));
    if (length < 0)
        return std::string();
    std::string sName(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(length));
    OPENSSL_free(utf8);
    return sName;
}

std::time_t timeOf(const ASN1_TIME* time)
{
    struct tm parts = {};
    if (!time || ASN1_TIME_to_tm(time, &parts) != 1)
        return 0;
    return timegm(&parts);
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
        info.checksumOffset = number(checksum->FirstChildElement("offset"), "checksum offset");
        info.checksumSize = number(checksum->FirstChildElement("size"), "checksum size");
        if (info.checksumSize > EVP_MAX_MD_SIZE)
            throw CToolError("damaged table of contents: the checksum is too large");
        info.sChecksum = reader.readHeap(info.checksumOffset, info.checksumSize);
    }
    const TiXmlElement* signature = toc->FirstChildElement("signature");
    if (!signature)
        return info;
    info.bSigned = true;
    const char* style = signature->Attribute("style");
    info.sStyle = style ? style : "";
    info.offset = number(signature->FirstChildElement("offset"), "signature offset");
    info.size = number(signature->FirstChildElement("size"), "signature size");
    if (info.size > kMaxSignatureSize)
        throw CToolError("damaged table of contents: the signature is too large");
    info.sSignature = reader.readHeap(info.offset, static_cast<std::size_t>(info.size));
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
bool cmsMatches(const X509* leaf, const CXarSignature::SInfo& info, std::string& sDigest,
                std::string& sProblem)
{
    const auto* p = reinterpret_cast<const unsigned char*>(info.sCmsSignature.data());
    CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(info.sCmsSignature.size())));
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
        CMS_SignerInfo_get0_algs(sk_CMS_SignerInfo_value(signerInfos, 0), nullptr, nullptr, &digest,
                                 nullptr);
        const ASN1_OBJECT* object = nullptr;
        if (digest)
            X509_ALGOR_get0(&object, nullptr, nullptr, digest);
        const char* name = object ? OBJ_nid2sn(OBJ_obj2nid(object)) : nullptr;
        sDigest = name ? lower(name) : "";
        sDigest.erase(std::remove(sDigest.begin(), sDigest.end(), '-'), sDigest.end());
    }
    ERR_clear_error();
    return true;
}

void evaluateTrust(const std::vector<X509Ptr>& chain, std::time_t now,
                   CXarSignature::SVerification& result)
{
    for (const CXarSignature::SCertificate& certificate : result.info.lCertificates)
        if (certificate.notAfter < now || certificate.notBefore > now)
        {
            const bool bExpired = certificate.notAfter < now;
            result.trust = bExpired ? CXarSignature::Expired : CXarSignature::Untrusted;
            result.sTrustProblem = "the certificate \"" + certificate.sSubjectCommonName +
                                   (bExpired ? "\" has expired" : "\" is not valid yet");
            return;
        }
    StorePtr store(X509_STORE_new());
    StackPtr untrusted(sk_X509_new_null());
    StoreCtxPtr context(X509_STORE_CTX_new());
    if (!store || !untrusted || !context)
        throw CToolError("cannot evaluate the certificate chain: out of memory");
    X509_STORE_set_default_paths(store.get());
    const char* extra = std::getenv("TESSARY_TRUSTED_CERTIFICATES");
    if (extra && *extra && X509_STORE_load_file(store.get(), extra) != 1)
    {
        ERR_clear_error();
        result.trust = CXarSignature::Untrusted;
        result.sTrustProblem = std::string("cannot read the trusted certificates in ") + extra;
        return;
    }
    ERR_clear_error();
    for (std::size_t i = 1; i < chain.size(); ++i)
    {
        X509_up_ref(chain[i].get());
        sk_X509_push(untrusted.get(), chain[i].get());
    }
    if (X509_STORE_CTX_init(context.get(), store.get(), chain.front().get(), untrusted.get()) != 1)
        throw CToolError("cannot evaluate the certificate chain: " + opensslError());
    X509_STORE_CTX_set_time(context.get(), 0, now);
    if (X509_verify_cert(context.get()) == 1)
    {
        result.trust = CXarSignature::Trusted;
        return;
    }
    const int error = X509_STORE_CTX_get_error(context.get());
    ERR_clear_error();
    result.trust =
        error == X509_V_ERR_CERT_HAS_EXPIRED ? CXarSignature::Expired : CXarSignature::Untrusted;
    result.sTrustProblem = X509_verify_cert_error_string(error);
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
    if (result.info.bHasCms &&
        !cmsMatches(chain.front().get(), result.info, result.sCmsDigest, result.sProblem))
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
    evaluateTrust(chain, now, result);
    return result;
}

} // namespace PlatformTools
