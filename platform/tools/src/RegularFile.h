#pragma once

#include <cstdint>
#include <string>

namespace PlatformTools
{

// Opens input files without ever blocking on a FIFO or reading a device: the file is opened
// non-blocking and refused unless the opened descriptor is a regular file.
class CRegularFile
{
public:
    // A read-only descriptor (close-on-exec) of a regular file; throws CToolError naming the
    // path otherwise. With bFollowLinks false a symbolic link is refused too.
    static int open(const std::string& sPath, bool bFollowLinks = true);
    // The whole file, refused (CToolError naming the path and the limit) when larger than
    // maxBytes.
    static std::string read(const std::string& sPath, std::uint64_t maxBytes,
                            bool bFollowLinks = true);
};

} // namespace PlatformTools
