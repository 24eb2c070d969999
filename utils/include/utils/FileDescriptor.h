#pragma once

#include <unistd.h>

namespace orbilib
{
namespace utils
{

// Owns an open file descriptor and closes it when it goes out of scope, so that
// no early return leaks one. A negative value holds nothing.
class CFileDescriptor
{
public:
    explicit CFileDescriptor(int fd) : m_fd(fd) {}
    ~CFileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    CFileDescriptor(const CFileDescriptor&) = delete;
    CFileDescriptor& operator=(const CFileDescriptor&) = delete;
    int get() const { return m_fd; }
    // Gives up ownership: the caller closes the descriptor (and sees what close says).
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

} // namespace utils
} // namespace orbilib
