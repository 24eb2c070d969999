#pragma once

#include <ctime>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace PlatformTools
{

// A directory that archive members are written into without anything landing outside it:
// member names are checked, every path is walked from the directory's descriptor without
// following symbolic links, and links that would lead outside are refused.
class CSafeTarget
{
public:
    // The directory must exist.
    explicit CSafeTarget(const std::string& sRoot);
    ~CSafeTarget();
    CSafeTarget(const CSafeTarget&) = delete;
    CSafeTarget& operator=(const CSafeTarget&) = delete;

    // "a//./b/" becomes "a/b", "." and "./" become "". Absolute names and ".." components
    // throw CToolError.
    static std::string normalizeMemberName(const std::string& sName);
    // True when a symbolic link at sMember (normalized) with this target stays inside.
    static bool linkTargetStaysInside(const std::string& sMember, const std::string& sTarget);

    // False when sMember (a link under sRoot, a real path) resolves to a place outside sRoot.
    static bool resolvesInside(const std::string& sRoot, const std::string& sMember);

    void makeDirectory(const std::string& sMember, mode_t mode);
    // Returns a descriptor open for writing; an existing non-directory is replaced.
    int createFile(const std::string& sMember, mode_t mode);
    void makeSymlink(const std::string& sMember, const std::string& sTarget);
    void makeHardlink(const std::string& sMember, const std::string& sExisting);
    void setModificationTime(const std::string& sMember, std::time_t mtime);
    // Removes a file that could not be completed; failures are ignored.
    void removeFile(const std::string& sMember) noexcept;
    // Applies directory permissions and checks that no link resolves outside the directory.
    void finish();

    const std::string& root() const { return m_sRoot; }

private:
    int openParent(const std::string& sMember, std::string& sLeaf, bool bCreate) const;

    int m_iRootFd;
    std::string m_sRoot;
    std::vector<std::pair<std::string, mode_t>> m_lDirectoryModes;
    std::vector<std::string> m_lLinks;
};

} // namespace PlatformTools
