#include "RegularFile.h"

#include "ToolError.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PlatformTools
{

int CRegularFile::open(const std::string& sPath, bool bFollowLinks)
{
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    const int fd =
        ::open(sPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | (bFollowLinks ? 0 : O_NOFOLLOW));
    if (fd < 0)
    {
        if (errno == ELOOP && !bFollowLinks)
            throw CToolError(sPath + " is a symbolic link, not a regular file");
        throw CToolError::fromErrno("cannot open " + sPath);
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
    {
        ::close(fd);
        throw CToolError(sPath + " is not a regular file");
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

std::string CRegularFile::read(const std::string& sPath, std::uint64_t maxBytes, bool bFollowLinks)
{
    const int fd = open(sPath, bFollowLinks);
    struct stat st;
    if (::fstat(fd, &st) != 0 || static_cast<std::uint64_t>(st.st_size) > maxBytes)
    {
        ::close(fd);
        throw CToolError(sPath + " is larger than the limit of " + std::to_string(maxBytes) +
                         " bytes");
    }
    std::string data;
    char buffer[65536];
    for (;;)
    {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
        {
            ::close(fd);
            throw CToolError::fromErrno("cannot read " + sPath);
        }
        if (n == 0)
            break;
        // The file may grow while it is read.
        if (data.size() + static_cast<std::size_t>(n) > maxBytes)
        {
            ::close(fd);
            throw CToolError(sPath + " is larger than the limit of " + std::to_string(maxBytes) +
                             " bytes");
        }
        data.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return data;
}

} // namespace PlatformTools
