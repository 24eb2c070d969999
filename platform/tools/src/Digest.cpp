#include "Digest.h"

#include "ToolError.h"

#include <openssl/evp.h>

namespace PlatformTools
{
namespace
{
const EVP_MD* digestFor(const std::string& sStyle)
{
    if (sStyle == "sha1")
        return EVP_sha1();
    if (sStyle == "md5")
        return EVP_md5();
    if (sStyle == "sha224")
        return EVP_sha224();
    if (sStyle == "sha256")
        return EVP_sha256();
    if (sStyle == "sha384")
        return EVP_sha384();
    if (sStyle == "sha512")
        return EVP_sha512();
    return nullptr;
}
} // namespace

CDigest::CDigest(const std::string& sStyle) : m_pContext(EVP_MD_CTX_new()), m_size(0)
{
    const EVP_MD* md = digestFor(sStyle);
    if (!m_pContext)
        throw CToolError("cannot allocate a digest context");
    if (!md || EVP_DigestInit_ex(m_pContext, md, nullptr) != 1)
    {
        EVP_MD_CTX_free(m_pContext);
        throw CToolError("unsupported checksum algorithm \"" + sStyle + "\"");
    }
    m_size = static_cast<std::size_t>(EVP_MD_size(md));
}

CDigest::~CDigest()
{
    EVP_MD_CTX_free(m_pContext);
}

bool CDigest::isSupported(const std::string& sStyle)
{
    return digestFor(sStyle) != nullptr;
}

std::string CDigest::styleForHeaderValue(unsigned int value)
{
    switch (value)
    {
    case 0:
        return "none";
    case 1:
        return "sha1";
    case 2:
        return "md5";
    case 3:
        return "sha256";
    case 4:
        return "sha512";
    default:
        return std::string();
    }
}

void CDigest::update(const void* pData, std::size_t size)
{
    if (size && EVP_DigestUpdate(m_pContext, pData, size) != 1)
        throw CToolError("checksum computation failed");
}

std::vector<unsigned char> CDigest::finish()
{
    std::vector<unsigned char> result(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(m_pContext, result.data(), &length) != 1)
        throw CToolError("checksum computation failed");
    result.resize(length);
    return result;
}

std::size_t CDigest::size() const
{
    return m_size;
}

std::string CDigest::toHex(const std::vector<unsigned char>& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (unsigned char byte : bytes)
    {
        text += digits[byte >> 4];
        text += digits[byte & 0xf];
    }
    return text;
}

} // namespace PlatformTools
