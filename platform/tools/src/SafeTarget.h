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

    // A nonzero mtime is given to the directory by finish(), once nothing more changes in it.
    void makeDirectory(const std::string& sMember, mode_t mode, std::time_t mtime = 0);
    // Returns a descriptor open for writing; an existing non-directory is replaced.
    int createFile(const std::string& sMember, mode_t mode);
    void makeSymlink(const std::string& sMember, const std::string& sTarget);
    // Archives may list a link before the file it links to: such a link is made by finish().
    void makeHardlink(const std::string& sMember, const std::string& sExisting);
    void makeFifo(const std::string& sMember, mode_t mode);
    void setModificationTime(const std::string& sMember, std::time_t mtime);
    // Removes a file that could not be completed; failures are ignored.
    void removeFile(const std::string& sMember) noexcept;
    // Makes the hard links still waiting for their files, checks that no link resolves outside
    // the directory, and applies directory permissions and times.
    void finish();

    const std::string& root() const { return m_sRoot; }

private:
    int openParent(const std::string& sMember, std::string& sLeaf, bool bCreate) const;
    // Removes what stands at the leaf, unless it is a directory; a descriptor from openParent.
    void clearLeaf(int parent, const std::string& sLeaf, const std::string& sMember) const;
    // False when sExisting is not (yet) a file under the directory.
    bool linkNow(const std::string& sMember, const std::string& sExisting);

    int m_iRootFd;
    std::string m_sRoot;
    struct SDirectory
    {
        std::string sMember;
        mode_t mode;
        std::time_t mtime;
    };
    std::vector<SDirectory> m_lDirectories;
    std::vector<std::string> m_lLinks;
    std::vector<std::pair<std::string, std::string>> m_lPendingHardlinks;
};

} // namespace PlatformTools
