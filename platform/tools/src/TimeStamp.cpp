#include "TimeStamp.h"

#include "OpenSsl.h"
#include "ToolError.h"
#include "TrustStore.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <netdb.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/http.h>
#include <openssl/httperr.h>
#include <openssl/pkcs7.h>
#include <openssl/rand.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace PlatformTools
{
namespace
{
// Answers hold a signature and a few certificates.
const std::size_t kMaxAnswer = 256 * 1024;
// A little room for clocks that disagree.
const std::time_t kClockSkew = 300;

using BioPtr = std::unique_ptr<BIO, SFree<BIO, BIO_free_all>>;
using TsReqPtr = std::unique_ptr<TS_REQ, SFree<TS_REQ, TS_REQ_free>>;
using TsRespPtr = std::unique_ptr<TS_RESP, SFree<TS_RESP, TS_RESP_free>>;
using TsVerifyPtr = std::unique_ptr<TS_VERIFY_CTX, SFree<TS_VERIFY_CTX, TS_VERIFY_CTX_free>>;
using TstInfoPtr = std::unique_ptr<TS_TST_INFO, SFree<TS_TST_INFO, TS_TST_INFO_free>>;
using Pkcs7Ptr = std::unique_ptr<PKCS7, SFree<PKCS7, PKCS7_free>>;
using MsgImprintPtr = std::unique_ptr<TS_MSG_IMPRINT, SFree<TS_MSG_IMPRINT, TS_MSG_IMPRINT_free>>;
using AlgorPtr = std::unique_ptr<X509_ALGOR, SFree<X509_ALGOR, X509_ALGOR_free>>;
using IntegerPtr = std::unique_ptr<ASN1_INTEGER, SFree<ASN1_INTEGER, ASN1_INTEGER_free>>;
using BignumPtr = std::unique_ptr<BIGNUM, SFree<BIGNUM, BN_free>>;

struct SOpenSslProblem
{
    int reason = 0;    // of the first error queued
    std::string sData; // its detail text
    std::string sText; // all of them
};

// Every queued error with its detail text, then cleared.
SOpenSslProblem takeErrors()
{
    SOpenSslProblem problem;
    const char* data = nullptr;
    int flags = 0;
    while (const unsigned long code = ERR_get_error_all(nullptr, nullptr, nullptr, &data, &flags))
    {
        const std::string sData = data && (flags & ERR_TXT_STRING) ? data : "";
        if (problem.sText.empty())
        {
            problem.reason = ERR_GET_REASON(code);
            problem.sData = sData;
        }
        const char* reason = ERR_reason_error_string(code);
        std::string sPart = reason ? reason : "error " + std::to_string(ERR_GET_REASON(code));
        if (!sData.empty())
            sPart += " (" + sData + ")";
        problem.sText += (problem.sText.empty() ? "" : "; ") + sPart;
    }
    if (problem.sText.empty())
        problem.sText = "unknown error";
    return problem;
}

// The words for what went wrong checking a token, by the reason OpenSSL gives.
std::string tokenProblem(const SOpenSslProblem& problem)
{
    switch (problem.reason)
    {
    case TS_R_CERTIFICATE_VERIFY_ERROR:
    case TS_R_TSA_UNTRUSTED:
        return "the time-stamping authority is not trusted here: " + problem.sText;
    case TS_R_MESSAGE_IMPRINT_MISMATCH:
    case TS_R_UNSUPPORTED_MD_ALGORITHM:
        return "the time stamp does not cover this signature";
    case TS_R_NONCE_MISMATCH:
    case TS_R_NONCE_NOT_RETURNED:
        return "the answer belongs to another request (its nonce differs)";
    default:
        return "the time stamp does not verify: " + problem.sText;
    }
}

// The time, authority and validity of a token that verified.
void describe(PKCS7* token, std::time_t now, CTimeStamp::SCheck& check)
{
    const TstInfoPtr info(PKCS7_to_TS_TST_INFO(token));
    check.time = info ? timeOf(TS_TST_INFO_get_time(info.get())) : 0;
    STACK_OF(X509)* signers = PKCS7_get0_signers(token, nullptr, 0);
    X509* signer = signers && sk_X509_num(signers) == 1 ? sk_X509_value(signers, 0) : nullptr;
    if (signer)
    {
        check.sAuthority = commonName(X509_get_subject_name(signer));
        if (check.sAuthority.empty())
            check.sAuthority = nameText(X509_get_subject_name(signer));
    }
    const std::time_t from = signer ? timeOf(X509_get0_notBefore(signer)) : 0;
    const std::time_t until = signer ? timeOf(X509_get0_notAfter(signer)) : 0;
    sk_X509_free(signers);
    ERR_clear_error();
    if (!info || !check.time)
        check.sProblem = "the time stamp names no time";
    else if (!signer)
        check.sProblem = "the time stamp has no single signer";
    else if (check.time > now + kClockSkew)
        check.sProblem = "the time stamp lies in the future";
    // An authority cannot vouch for a time before it had its certificate, or after.
    else if (check.time < from || check.time > until)
        check.sProblem = "the time stamp lies outside its authority's certificate's validity";
    check.bVerified = check.sProblem.empty();
}

X509_STORE* trustedStore(std::time_t now)
{
    std::string sProblem;
    X509_STORE* store = CTrustStore::load(now, sProblem);
    if (!store)
        throw CToolError(sProblem);
    return store;
}

TS_REQ* makeRequest(const std::string& sData)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(sData.data(), sData.size(), digest, &length, EVP_sha256(), nullptr) != 1)
        throw CToolError("cannot hash the signature: " + opensslError());
    TsReqPtr request(TS_REQ_new());
    MsgImprintPtr imprint(TS_MSG_IMPRINT_new());
    AlgorPtr algorithm(X509_ALGOR_new());
    BignumPtr random(BN_new());
    if (!request || !imprint || !algorithm || !random ||
        X509_ALGOR_set0(algorithm.get(), OBJ_nid2obj(NID_sha256), V_ASN1_NULL, nullptr) != 1 ||
        TS_MSG_IMPRINT_set_algo(imprint.get(), algorithm.get()) != 1 ||
        TS_MSG_IMPRINT_set_msg(imprint.get(), digest, static_cast<int>(length)) != 1 ||
        TS_REQ_set_version(request.get(), 1) != 1 ||
        TS_REQ_set_msg_imprint(request.get(), imprint.get()) != 1 ||
        BN_rand(random.get(), 64, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) != 1)
        throw CToolError("cannot make a time-stamp request: " + opensslError());
    const IntegerPtr nonce(BN_to_ASN1_INTEGER(random.get(), nullptr));
    // The answer must hold the authority's certificate, so that it can be checked anywhere.
    if (!nonce || TS_REQ_set_nonce(request.get(), nonce.get()) != 1 ||
        TS_REQ_set_cert_req(request.get(), 1) != 1)
        throw CToolError("cannot make a time-stamp request: " + opensslError());
    return request.release();
}

// "HTTP 500 (reason)" from OpenSSL's "code=500, reason=reason".
std::string httpStatus(const std::string& sData)
{
    const std::size_t code = sData.find("code=");
    const std::size_t reason = sData.find("reason=");
    if (code == std::string::npos)
        return "with an error" + (sData.empty() ? std::string() : " (" + sData + ")");
    std::string sStatus = "HTTP " + sData.substr(code + 5, sData.find(',', code) - code - 5);
    if (reason != std::string::npos && reason + 7 < sData.size())
        sStatus += " (" + sData.substr(reason + 7) + ")";
    return sStatus;
}

// Tries a connection once. OpenSSL's own connecting keeps retrying a refused connection until
// its time is up, so an authority (or proxy) that is not there would hold up signing for that
// long; this says so at once.
void checkReachable(const std::string& sHost, const std::string& sPort, int timeoutSeconds)
{
    struct addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* addresses = nullptr;
    const int rc = ::getaddrinfo(sHost.c_str(), sPort.c_str(), &hints, &addresses);
    if (rc != 0)
        throw CToolError("cannot reach " + sHost + ": " + ::gai_strerror(rc));
    std::string sProblem = "no address";
    int fd = -1;
    for (struct addrinfo* address = addresses; address && fd < 0; address = address->ai_next)
    {
        fd = ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                      address->ai_protocol);
        if (fd < 0)
            continue;
        int error = ::connect(fd, address->ai_addr, address->ai_addrlen) == 0 ? 0 : errno;
        if (error == EINPROGRESS)
        {
            struct pollfd wait = {fd, POLLOUT, 0};
            const int ready = ::poll(&wait, 1, timeoutSeconds * 1000);
            socklen_t length = sizeof error;
            if (ready == 0)
                error = ETIMEDOUT;
            else if (ready < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
                error = errno;
        }
        if (error != 0)
        {
            sProblem = std::strerror(error);
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(addresses);
    if (fd < 0)
        throw CToolError("cannot reach " + sHost + ":" + sPort + ": " + sProblem);
    ::close(fd);
}

// The server, or the proxy the environment names for it, is there.
void checkServerReachable(const std::string& sHost, const std::string& sPort, int timeoutSeconds)
{
    const char* proxy = OSSL_HTTP_adapt_proxy(nullptr, nullptr, sHost.c_str(), 0);
    if (!proxy)
        return checkReachable(sHost, sPort, timeoutSeconds);
    const std::string sProxy = proxy;
    char *host = nullptr, *port = nullptr;
    const bool bParsed =
        OSSL_HTTP_parse_url(
            sProxy.find("://") == std::string::npos ? ("http://" + sProxy).c_str() : sProxy.c_str(),
            nullptr, nullptr, &host, &port, nullptr, nullptr, nullptr, nullptr) == 1;
    ERR_clear_error();
    const std::string sProxyHost = bParsed ? host : "", sProxyPort = bParsed ? port : "";
    OPENSSL_free(host);
    OPENSSL_free(port);
    if (!bParsed)
        throw CToolError("cannot use the proxy " + sProxy);
    checkReachable(sProxyHost, sProxyPort, timeoutSeconds);
}

// Posts the request and returns the body of a 200 answer.
std::string post(const std::string& sUrl, TS_REQ* request, int timeoutSeconds)
{
    int ssl = 0;
    char *host = nullptr, *port = nullptr, *path = nullptr, *query = nullptr;
    if (OSSL_HTTP_parse_url(sUrl.c_str(), &ssl, nullptr, &host, &port, nullptr, &path, &query,
                            nullptr) != 1 ||
        ssl)
    {
        ERR_clear_error();
        OPENSSL_free(host), OPENSSL_free(port), OPENSSL_free(path), OPENSSL_free(query);
        throw CToolError("only http:// addresses are supported (the answer is signed, so it needs "
                         "no TLS)");
    }
    const std::string sHost = host, sPort = port,
                      sPath = std::string(path) + (query ? std::string("?") + query : "");
    OPENSSL_free(host), OPENSSL_free(port), OPENSSL_free(path), OPENSSL_free(query);
    BioPtr body(BIO_new(BIO_s_mem()));
    if (!body || i2d_TS_REQ_bio(body.get(), request) != 1)
        throw CToolError("cannot encode the time-stamp request: " + opensslError());
    checkServerReachable(sHost, sPort, timeoutSeconds);
    // Without a proxy given, OpenSSL takes the one http_proxy names (unless no_proxy excludes
    // the server), as other command-line tools do.
    BioPtr answer(OSSL_HTTP_transfer(nullptr, sHost.c_str(), sPort.c_str(), sPath.c_str(), 0,
                                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0,
                                     nullptr, "application/timestamp-query", body.get(), nullptr, 1,
                                     kMaxAnswer, timeoutSeconds, 0));
    if (!answer)
    {
        const SOpenSslProblem problem = takeErrors();
        switch (problem.reason)
        {
        case HTTP_R_RECEIVED_ERROR:
        case HTTP_R_STATUS_CODE_UNSUPPORTED:
            throw CToolError("the server answered " + httpStatus(problem.sData));
        case HTTP_R_MISSING_ASN1_ENCODING:
        case HTTP_R_ERROR_PARSING_ASN1_LENGTH:
            throw CToolError("the answer is not a time-stamp response");
        case HTTP_R_CONNECT_FAILURE:
        case HTTP_R_RETRY_TIMEOUT:
        case HTTP_R_ERROR_SENDING:
        case HTTP_R_SERVER_CANCELED_CONNECTION:
            throw CToolError("cannot reach " + sHost + ":" + sPort + ": " + problem.sText);
        default:
            throw CToolError("the exchange with the server failed: " + problem.sText);
        }
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(answer.get(), &data);
    return std::string(data, static_cast<std::size_t>(size > 0 ? size : 0));
}
} // namespace

std::string CTimeStamp::request(const std::string& sUrl, const std::string& sData,
                                int timeoutSeconds)
{
    try
    {
        const TsReqPtr request(makeRequest(sData));
        const std::string sAnswer = post(sUrl, request.get(), timeoutSeconds);
        const auto* p = reinterpret_cast<const unsigned char*>(sAnswer.data());
        const TsRespPtr response(d2i_TS_RESP(nullptr, &p, static_cast<long>(sAnswer.size())));
        if (!response)
        {
            ERR_clear_error();
            throw CToolError("the answer is not a time-stamp response");
        }
        const ASN1_INTEGER* status =
            TS_STATUS_INFO_get0_status(TS_RESP_get_status_info(response.get()));
        const long value = status ? ASN1_INTEGER_get(status) : -1;
        if (value != 0 && value != 1) // granted, or granted with modifications
            throw CToolError("the authority refused the request (status " + std::to_string(value) +
                             ")");
        TsVerifyPtr context(TS_REQ_to_TS_VERIFY_CTX(request.get(), nullptr));
        if (!context)
            throw CToolError("cannot check the answer: " + opensslError());
        TS_VERIFY_CTX_add_flags(context.get(), TS_VFY_SIGNATURE);
        TS_VERIFY_CTX_set_store(context.get(), trustedStore(std::time(nullptr)));
        if (TS_RESP_verify_response(context.get(), response.get()) != 1)
            throw CToolError(tokenProblem(takeErrors()));
        PKCS7* token = TS_RESP_get_token(response.get());
        CTimeStamp::SCheck check;
        describe(token, std::time(nullptr), check);
        if (!check.bVerified)
            throw CToolError(check.sProblem);
        unsigned char* der = nullptr;
        const int length = i2d_PKCS7(token, &der);
        if (length <= 0)
            throw CToolError("cannot encode the time stamp: " + opensslError());
        std::string sToken(reinterpret_cast<char*>(der), static_cast<std::size_t>(length));
        OPENSSL_free(der);
        return sToken;
    }
    catch (const CToolError& error)
    {
        throw CToolError("cannot get a time stamp from " + sUrl + ": " + error.what());
    }
}

CTimeStamp::SCheck CTimeStamp::verify(const std::string& sToken, const std::string& sData,
                                      std::time_t now)
{
    SCheck check;
    const auto* p = reinterpret_cast<const unsigned char*>(sToken.data());
    Pkcs7Ptr token(d2i_PKCS7(nullptr, &p, static_cast<long>(sToken.size())));
    if (!token || p != reinterpret_cast<const unsigned char*>(sToken.data()) + sToken.size())
    {
        ERR_clear_error();
        check.sProblem = "the time stamp is not a time-stamp token";
        return check;
    }
    std::string sStoreProblem;
    X509_STORE* store = CTrustStore::load(now, sStoreProblem);
    TsVerifyPtr context(TS_VERIFY_CTX_new());
    BIO* data = BIO_new_mem_buf(sData.data(), static_cast<int>(sData.size()));
    if (!store || !context || !data)
    {
        X509_STORE_free(store);
        BIO_free(data);
        check.sProblem = sStoreProblem.empty() ? "out of memory" : sStoreProblem;
        return check;
    }
    TS_VERIFY_CTX_set_flags(context.get(), TS_VFY_VERSION | TS_VFY_DATA | TS_VFY_SIGNATURE);
    TS_VERIFY_CTX_set_data(context.get(), data);
    TS_VERIFY_CTX_set_store(context.get(), store);
    if (TS_RESP_verify_token(context.get(), token.get()) != 1)
    {
        check.sProblem = tokenProblem(takeErrors());
        return check;
    }
    describe(token.get(), now, check);
    return check;
}

} // namespace PlatformTools
