#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

namespace PlatformTools
{

// Extracts archives that libarchive reads (cpio, ISO 9660) into a directory with libarchive's
// secure options, and refuses links whose targets leave the directory.
class CSecureExtractor
{
public:
    enum Format
    {
        Cpio,
        Iso9660
    };
    // Every member is tried; throws CToolError naming the first refusal or failure at the end,
    // or at once when the archive itself is damaged or its members would write more than
    // maxBytes in all.
    static void extract(int inputFd, const std::string& sDirectory, Format format,
                        std::ostream* pVerbose, std::uint64_t maxBytes = UINT64_MAX);
};

} // namespace PlatformTools
