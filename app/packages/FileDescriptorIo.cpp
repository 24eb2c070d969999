#include "FileDescriptorIo.h"

#include <cerrno>
#include <unistd.h>

namespace FileDescriptorIo
{

#ifdef __linux__
const bool kHasCopyRange = true;
ssize_t copyRange(int in, off_t* offset, int out, size_t length)
{
    return ::copy_file_range(in, offset, out, nullptr, length, 0);
}
#else
const bool kHasCopyRange = false;
ssize_t copyRange(int, off_t*, int, size_t)
{
    errno = ENOSYS;
    return -1;
}
#endif

bool writeAll(int fd, const char* data, size_t size)
{
    while (size > 0)
    {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0)
        {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= size_t(written);
    }
    return true;
}

} // namespace FileDescriptorIo
