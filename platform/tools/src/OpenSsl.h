#pragma once

// What the signature code shares for OpenSSL objects: owning pointers that free
// them with the library's own function, and the text of the library's last error.

#include <ctime>
#include <memory>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/x509.h>
#include <string>

namespace PlatformTools
{

template <typename T, void (*Free)(T*)> struct SFree
{
    void operator()(T* p) const { Free(p); }
};
using X509Ptr = std::unique_ptr<X509, SFree<X509, X509_free>>;

// The last error OpenSSL queued, which is then cleared.
inline std::string opensslError()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (!code)
        return "unknown error";
    char buffer[256];
    ERR_error_string_n(code, buffer, sizeof buffer);
    return buffer;
}

// The first common name of a certificate name as UTF-8, empty when it has none.
inline std::string commonName(const X509_NAME* name)
{
    const int index = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
    if (index < 0)
        return std::string();
    unsigned char* utf8 = nullptr;
    const int length =
        ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index)));
    if (length < 0)
    {
        ERR_clear_error();
        return std::string();
    }
    std::string sName(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(length));
    OPENSSL_free(utf8);
    return sName;
}

// The whole name in RFC 2253 form, UTF-8 kept as it is.
inline std::string nameText(const X509_NAME* name)
{
    BIO* bio = BIO_new(BIO_s_mem());
    std::string sText;
    if (bio && X509_NAME_print_ex(bio, name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) >= 0)
    {
        char* data = nullptr;
        const long size = BIO_get_mem_data(bio, &data);
        sText.assign(data, static_cast<std::size_t>(size));
    }
    BIO_free(bio);
    return sText;
}

// Seconds since 1970 of a certificate time, 0 when it cannot be read.
inline std::time_t timeOf(const ASN1_TIME* time)
{
    struct tm parts = {};
    if (!time || ASN1_TIME_to_tm(time, &parts) != 1)
        return 0;
    return timegm(&parts);
}

} // namespace PlatformTools
