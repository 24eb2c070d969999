#pragma once

#include <ctime>
#include <string>

struct x509_store_st;

namespace PlatformTools
{

// The certificates this system trusts: OpenSSL's default store plus the PEM file named by
// TESSARY_TRUSTED_CERTIFICATES.
class CTrustStore
{
public:
    // A new store that checks validity at the given time; the caller frees it. Null, with the
    // reason in sProblem, when the extra file cannot be read.
    static x509_store_st* load(std::time_t now, std::string& sProblem);
};

} // namespace PlatformTools
