#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

struct evp_md_ctx_st;

namespace PlatformTools
{

// A running message digest named as xar names them ("sha1", "md5", "sha256", "sha512").
class CDigest
{
public:
    explicit CDigest(const std::string& sStyle);
    ~CDigest();
    CDigest(const CDigest&) = delete;
    CDigest& operator=(const CDigest&) = delete;

    static bool isSupported(const std::string& sStyle);
    // Apple's numbering in the xar header: 1 sha1, 2 md5, 3 sha256, 4 sha512.
    static std::string styleForHeaderValue(unsigned int value);

    void update(const void* pData, std::size_t size);
    std::vector<unsigned char> finish();
    std::size_t size() const;

    static std::string toHex(const std::vector<unsigned char>& bytes);

private:
    evp_md_ctx_st* m_pContext;
    std::size_t m_size;
};

} // namespace PlatformTools
