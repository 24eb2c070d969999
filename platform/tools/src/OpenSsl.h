#pragma once

// What the signature code shares for OpenSSL objects: owning pointers that free
// them with the library's own function, and the text of the library's last error.

#include <memory>
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

} // namespace PlatformTools
