#include "SafeTarget.h"

#include "ToolError.h"

#include <utils/FileDescriptor.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PlatformTools
{
namespace
{
using orbilib::utils::CFileDescriptor;

std::vector<std::string> splitPath(const std::string& sPath)
{
    std::vector<std::string> parts;
    std::string current;
    for (char c : sPath)
    {
        if (c == '/')
        {
            if (!current.empty())
                parts.push_back(current);
            current.clear();
        }
        else
            current += c;
    }
    if (!current.empty())
        parts.push_back(current);
    return parts;
}

} // namespace

CSafeTarget::CSafeTarget(const std::string& sRoot) : m_iRootFd(-1)
{
    char resolved[PATH_MAX];
    if (!::realpath(sRoot.c_str(), resolved))
        throw CToolError::fromErrno("cannot use the directory " + sRoot);
    m_sRoot = resolved;
    m_iRootFd = ::open(m_sRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_iRootFd < 0)
        throw CToolError::fromErrno("cannot open the directory " + sRoot);
}

CSafeTarget::~CSafeTarget()
{
    ::close(m_iRootFd);
}

std::string CSafeTarget::normalizeMemberName(const std::string& sName)
{
    if (!sName.empty() && sName[0] == '/')
        throw CToolError("refusing the absolute member name \"" + sName + "\"");
    std::string result;
    for (const std::string& part : splitPath(sName))
    {
        if (part == ".")
            continue;
        if (part == "..")
            throw CToolError("refusing the member name \"" + sName + "\" that contains \"..\"");
        if (!result.empty())
            result += '/';
        result += part;
    }
    return result;
}

bool CSafeTarget::linkTargetStaysInside(const std::string& sMember, const std::string& sTarget)
{
    if (sTarget.empty() || sTarget[0] == '/')
        return false;
    long depth = static_cast<long>(splitPath(sMember).size()) - 1;
    for (const std::string& part : splitPath(sTarget))
    {
        if (part == ".")
            continue;
        if (part == "..")
        {
            if (--depth < 0)
                return false;
        }
        else
            ++depth;
    }
    return true;
}

int CSafeTarget::openParent(const std::string& sMember, std::string& sLeaf, bool bCreate) const
{
    std::vector<std::string> parts = splitPath(sMember);
    if (parts.empty())
        throw CToolError("empty member name");
    sLeaf = parts.back();
    parts.pop_back();
    int current = ::dup(m_iRootFd);
    if (current < 0)
        throw CToolError::fromErrno("cannot open " + m_sRoot);
    std::string sWalked;
    for (const std::string& part : parts)
    {
        sWalked += (sWalked.empty() ? "" : "/") + part;
        int next = ::openat(current, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT && bCreate)
        {
            if (::mkdirat(current, part.c_str(), 0755) == 0 || errno == EEXIST)
                next = ::openat(current, part.c_str(),
                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (next < 0)
        {
            const int savedErrno = errno;
            struct stat st;
            const bool bLink = ::fstatat(current, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                               S_ISLNK(st.st_mode);
            ::close(current);
            if (bLink)
                throw CToolError("refusing to write through the symbolic link " + sWalked);
            errno = savedErrno;
            throw CToolError::fromErrno("cannot open the directory " + sWalked);
        }
        ::close(current);
        current = next;
    }
    return current;
}

bool CSafeTarget::resolvesInside(const std::string& sRoot, const std::string& sMember)
{
    char resolved[PATH_MAX];
    if (!::realpath(sRoot.c_str(), resolved))
        return false;
    const std::string sRealRoot = resolved;
    const std::string sPath = sRealRoot + "/" + sMember;
    if (!::realpath(sPath.c_str(), resolved))
        return true; // dangling: it leads nowhere
    const std::string sResolved = resolved;
    return sResolved == sRealRoot ||
           sResolved.compare(0, sRealRoot.size() + 1, sRealRoot + "/") == 0;
}

void CSafeTarget::makeDirectory(const std::string& sMember, mode_t mode, std::time_t mtime)
{
    if (sMember.empty())
        return;
    std::string sLeaf;
    CFileDescriptor parent(openParent(sMember, sLeaf, true));
    struct stat st;
    if (::fstatat(parent.get(), sLeaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
    {
        if (S_ISLNK(st.st_mode))
            throw CToolError("refusing to write through the symbolic link " + sMember);
        if (!S_ISDIR(st.st_mode))
            throw CToolError(sMember + " exists and is not a directory");
    }
    else if (::mkdirat(parent.get(), sLeaf.c_str(), 0700) != 0)
        throw CToolError::fromErrno("cannot create the directory " + sMember);
    m_lDirectories.push_back(SDirectory{sMember, mode & 0777, mtime});
}

void CSafeTarget::clearLeaf(int parent, const std::string& sLeaf, const std::string& sMember) const
{
    struct stat st;
    if (::fstatat(parent, sLeaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    if (S_ISDIR(st.st_mode))
        throw CToolError(sMember + " exists and is a directory");
    if (::unlinkat(parent, sLeaf.c_str(), 0) != 0)
        throw CToolError::fromErrno("cannot replace " + sMember);
}

int CSafeTarget::createFile(const std::string& sMember, mode_t mode)
{
    std::string sLeaf;
    CFileDescriptor parent(openParent(sMember, sLeaf, true));
    clearLeaf(parent.get(), sLeaf, sMember);
    int fd = ::openat(parent.get(), sLeaf.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        throw CToolError::fromErrno("cannot create " + sMember);
    ::fchmod(fd, mode & 0777);
    return fd;
}

void CSafeTarget::makeSymlink(const std::string& sMember, const std::string& sTarget)
{
    if (!linkTargetStaysInside(sMember, sTarget))
        throw CToolError("refusing the symbolic link " + sMember + " -> " + sTarget +
                         " that points outside the destination");
    std::string sLeaf;
    CFileDescriptor parent(openParent(sMember, sLeaf, true));
    clearLeaf(parent.get(), sLeaf, sMember);
    if (::symlinkat(sTarget.c_str(), parent.get(), sLeaf.c_str()) != 0)
        throw CToolError::fromErrno("cannot create the symbolic link " + sMember);
    m_lLinks.push_back(sMember);
}

void CSafeTarget::makeHardlink(const std::string& sMember, const std::string& sExisting)
{
    if (!linkNow(sMember, sExisting))
        m_lPendingHardlinks.emplace_back(sMember, sExisting);
}

bool CSafeTarget::linkNow(const std::string& sMember, const std::string& sExisting)
{
    const std::string sSource = normalizeMemberName(sExisting);
    std::string sSourceLeaf;
    std::string sLeaf;
    int sourceFd = -1;
    try
    {
        sourceFd = openParent(sSource, sSourceLeaf, false);
    }
    catch (const CToolError&)
    {
        return false; // its folder is not there yet either
    }
    CFileDescriptor sourceParent(sourceFd);
    struct stat st;
    if (::fstatat(sourceParent.get(), sSourceLeaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    if (!S_ISREG(st.st_mode))
        throw CToolError("cannot link " + sMember + " to " + sExisting + ": not a file");
    CFileDescriptor parent(openParent(sMember, sLeaf, true));
    clearLeaf(parent.get(), sLeaf, sMember);
    if (::linkat(sourceParent.get(), sSourceLeaf.c_str(), parent.get(), sLeaf.c_str(), 0) != 0)
        throw CToolError::fromErrno("cannot link " + sMember + " to " + sExisting);
    return true;
}

void CSafeTarget::makeFifo(const std::string& sMember, mode_t mode)
{
    std::string sLeaf;
    CFileDescriptor parent(openParent(sMember, sLeaf, true));
    clearLeaf(parent.get(), sLeaf, sMember);
    if (::mkfifoat(parent.get(), sLeaf.c_str(), 0600) != 0 ||
        ::fchmodat(parent.get(), sLeaf.c_str(), mode & 0777, 0) != 0)
        throw CToolError::fromErrno("cannot create the FIFO " + sMember);
}

void CSafeTarget::setModificationTime(const std::string& sMember, std::time_t mtime)
{
    std::string sLeaf;
    CFileDescriptor parent(openParent(sMember, sLeaf, false));
    struct timespec times[2];
    times[0].tv_sec = mtime;
    times[0].tv_nsec = 0;
    times[1] = times[0];
    ::utimensat(parent.get(), sLeaf.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

void CSafeTarget::removeFile(const std::string& sMember) noexcept
{
    try
    {
        std::string sLeaf;
        CFileDescriptor parent(openParent(sMember, sLeaf, false));
        ::unlinkat(parent.get(), sLeaf.c_str(), 0);
    }
    catch (const CToolError&)
    {
    }
}

void CSafeTarget::finish()
{
    for (const auto& pending : m_lPendingHardlinks)
        if (!linkNow(pending.first, pending.second))
            throw CToolError("cannot link " + pending.first + " to " + pending.second +
                             ": the archive holds no such file");
    m_lPendingHardlinks.clear();
    // A link may pass the name check yet leave through another link ("a" -> ".", "b" -> "a/..").
    for (const std::string& sLink : m_lLinks)
        if (!resolvesInside(m_sRoot, sLink))
        {
            removeFile(sLink);
            throw CToolError("refusing the symbolic link " + sLink +
                             " that resolves outside the destination");
        }
    // Deepest first, so that a read-only parent does not block its children, and a folder's
    // time is set after everything in it is done.
    for (auto it = m_lDirectories.rbegin(); it != m_lDirectories.rend(); ++it)
    {
        std::string sLeaf;
        CFileDescriptor parent(openParent(it->sMember, sLeaf, false));
        CFileDescriptor dir(
            ::openat(parent.get(), sLeaf.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (dir.get() < 0)
            continue;
        ::fchmod(dir.get(), it->mode | S_IRWXU);
        if (it->mtime)
        {
            const struct timespec times[2] = {{it->mtime, 0}, {it->mtime, 0}};
            ::futimens(dir.get(), times);
        }
    }
    m_lDirectories.clear();
}

} // namespace PlatformTools
