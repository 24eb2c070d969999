#include "AttachRegistry.h"

#include "Digest.h"
#include "ToolError.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace PlatformTools
{

CAttachRegistry::CAttachRegistry()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st;
    if (runtime && *runtime && runtime[0] == '/' && ::stat(runtime, &st) == 0 &&
        S_ISDIR(st.st_mode))
        m_sDirectory = std::string(runtime) + "/tessary-hdiutil";
    else
        m_sDirectory = "/tmp/tessary-hdiutil-" + std::to_string(::getuid());
    if (::mkdir(m_sDirectory.c_str(), 0700) != 0 && errno != EEXIST)
        throw CToolError::fromErrno("cannot create the state directory " + m_sDirectory);
    // In a shared /tmp someone else could have made it first.
    if (::lstat(m_sDirectory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::getuid() || (st.st_mode & 022) != 0)
        throw CToolError("the state directory " + m_sDirectory +
                         " is not a private directory of this user");
}

std::string CAttachRegistry::recordPath(const std::string& sMountPoint) const
{
    CDigest digest("sha1");
    digest.update(sMountPoint.data(), sMountPoint.size());
    return m_sDirectory + "/" + CDigest::toHex(digest.finish()) + ".attached";
}

void CAttachRegistry::add(const Record& record)
{
    const std::string sPath = recordPath(record.sMountPoint);
    const int fd =
        ::open(sPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 && errno == EEXIST)
        throw CToolError(record.sMountPoint + " is attached already");
    if (fd < 0)
        throw CToolError::fromErrno("cannot write the record " + sPath);
    std::ostringstream text;
    text << "mountpoint=" << record.sMountPoint << '\n'
         << "image=" << record.sImage << '\n'
         << "created=" << (record.bCreatedMountPoint ? 1 : 0) << '\n'
         << "device=" << record.device << '\n'
         << "inode=" << record.inode << '\n';
    const std::string sText = text.str();
    const bool bWritten =
        ::write(fd, sText.data(), sText.size()) == static_cast<ssize_t>(sText.size());
    if (::close(fd) != 0 || !bWritten)
    {
        ::unlink(sPath.c_str());
        throw CToolError::fromErrno("cannot write the record " + sPath);
    }
}

bool CAttachRegistry::find(const std::string& sMountPoint, Record& record) const
{
    std::ifstream in(recordPath(sMountPoint));
    if (!in)
        return false;
    Record result;
    bool bDevice = false, bInode = false;
    std::string sLine;
    while (std::getline(in, sLine))
    {
        const std::size_t equal = sLine.find('=');
        if (equal == std::string::npos)
            continue;
        const std::string sKey = sLine.substr(0, equal);
        const std::string sValue = sLine.substr(equal + 1);
        if (sKey == "mountpoint")
            result.sMountPoint = sValue;
        else if (sKey == "image")
            result.sImage = sValue;
        else if (sKey == "created")
            result.bCreatedMountPoint = sValue == "1";
        else if (sKey == "device")
            bDevice = (result.device = std::strtoull(sValue.c_str(), nullptr, 10), true);
        else if (sKey == "inode")
            bInode = (result.inode = std::strtoull(sValue.c_str(), nullptr, 10), true);
    }
    // A record must name this very mount point; anything else is not ours to trust.
    if (result.sMountPoint != sMountPoint || !bDevice || !bInode)
        return false;
    record = result;
    return true;
}

void CAttachRegistry::remove(const std::string& sMountPoint)
{
    if (::unlink(recordPath(sMountPoint).c_str()) != 0 && errno != ENOENT)
        throw CToolError::fromErrno("cannot remove the record of " + sMountPoint);
}

} // namespace PlatformTools
