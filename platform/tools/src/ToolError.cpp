#include "ToolError.h"

#include <cerrno>
#include <cstring>

namespace PlatformTools
{

CToolError::CToolError(const std::string& sMessage) : std::runtime_error(sMessage) {}

CToolError CToolError::fromErrno(const std::string& sWhat)
{
    return CToolError(sWhat + ": " + std::strerror(errno));
}

} // namespace PlatformTools
