#pragma once

#include <ctime>
#include <string>

namespace PlatformTools
{

// RFC 3161 time stamps of signatures: asking a time-stamping authority over HTTP for a token
// that vouches that some bytes existed at a time, and checking such a token later.
class CTimeStamp
{
public:
    struct SCheck
    {
        bool bVerified = false; // the token covers the data and comes from a trusted authority
        std::time_t time = 0;   // the time it vouches for, once it could be read
        std::string sAuthority; // the authority's common name (or whole name)
        std::string sProblem;   // why it does not verify
    };

    // Asks the authority at an http:// address for a token over the SHA-256 of the data and
    // returns it (DER), once it answers this very request, covers the data and comes from an
    // authority this system trusts. Throws CToolError saying why it could not ("cannot get a
    // time stamp from URL: ..."). Waits at most timeoutSeconds.
    static std::string request(const std::string& sUrl, const std::string& sData,
                               int timeoutSeconds = 60);

    // Checks a token (DER) over the data against the trusted certificates at the given time.
    static SCheck verify(const std::string& sToken, const std::string& sData, std::time_t now);
};

} // namespace PlatformTools
