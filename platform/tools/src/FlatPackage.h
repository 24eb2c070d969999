#pragma once

#include <memory>
#include <string>

namespace PlatformTools
{

class CXarTocSigner;

// Apple's flat package layout as pkgutil expands and flattens it: a xar archive whose
// "Scripts" members are gzip-compressed odc cpio archives, shown expanded as directories.
class CFlatPackage
{
public:
    // Expands the package into sDirectory, which must not exist yet. On failure nothing remains.
    static void expand(const std::string& sPackage, const std::string& sDirectory);
    // Builds a flat package from an expanded directory. An existing file at sPackage is replaced
    // only once the new package is complete. With a signer the package is signed as it is written.
    static void flatten(const std::string& sDirectory, const std::string& sPackage,
                        std::shared_ptr<const CXarTocSigner> pSigner = nullptr);
};

} // namespace PlatformTools
