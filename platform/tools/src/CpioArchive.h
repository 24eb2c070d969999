#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace PlatformTools
{

// cpio archives through libarchive, with the refusals of macOS's cpio: no absolute names, no
// ".." components, no writing through symbolic links, and (beyond it) no links leading outside.
class CCpioArchive
{
public:
    // Extracts a cpio archive (any cpio format, plain or compressed) read from inputFd into the
    // existing directory. Every member is tried; throws CToolError naming the first refusal or
    // failure once all are done. Names go to *pVerbose when given.
    static void extract(int inputFd, const std::string& sDirectory, std::ostream* pVerbose,
                        std::uint64_t maxBytes = UINT64_MAX);
    // Lists the member names of a cpio archive read from inputFd.
    static std::vector<std::string> list(int inputFd);
    // Writes the named files, directories and links (paths relative to sBaseDirectory) as an odc
    // archive, gzip-compressed when asked, to outputFd.
    static void create(const std::string& sBaseDirectory, const std::vector<std::string>& lMembers,
                       int outputFd, bool bGzip, std::ostream* pVerbose);
    // "." followed by "./name" for everything below the directory, parents first.
    static std::vector<std::string> treeMembers(const std::string& sDirectory);
};

} // namespace PlatformTools
