#pragma once

#include <stdexcept>
#include <string>

namespace PlatformTools
{

// A failure a tool reports on stderr before it exits with a non-zero status.
class CToolError : public std::runtime_error
{
public:
    explicit CToolError(const std::string& sMessage);
    // Appends strerror(errno) to the message.
    static CToolError fromErrno(const std::string& sWhat);
};

} // namespace PlatformTools
