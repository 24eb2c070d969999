#include "TrustStore.h"

#include <cstdlib>
#include <openssl/err.h>
#include <openssl/x509_vfy.h>

namespace PlatformTools
{

X509_STORE* CTrustStore::load(std::time_t now, std::string& sProblem)
{
    X509_STORE* store = X509_STORE_new();
    X509_VERIFY_PARAM* param = X509_VERIFY_PARAM_new();
    if (!store || !param)
    {
        X509_STORE_free(store);
        X509_VERIFY_PARAM_free(param);
        sProblem = "out of memory";
        return nullptr;
    }
    X509_STORE_set_default_paths(store);
    X509_VERIFY_PARAM_set_time(param, now);
    X509_STORE_set1_param(store, param);
    X509_VERIFY_PARAM_free(param);
    const char* extra = std::getenv("TESSARY_TRUSTED_CERTIFICATES");
    if (extra && *extra && X509_STORE_load_file(store, extra) != 1)
    {
        X509_STORE_free(store);
        store = nullptr;
        sProblem = std::string("cannot read the trusted certificates in ") + extra;
    }
    ERR_clear_error();
    return store;
}

} // namespace PlatformTools
