#include "utils/FileDescriptor.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

using orbilib::utils::CFileDescriptor;

namespace
{
bool isOpen(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1 || errno != EBADF;
}
} // namespace

// Every early return of the code holding one must close the descriptor, and only
// one that was handed over with release() stays open.
TEST(FileDescriptor, ClosesWhatItHoldsUnlessReleased)
{
    int held = -1;
    {
        CFileDescriptor fd(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        held = fd.get();
        ASSERT_GE(held, 0);
        EXPECT_TRUE(isOpen(held));
    }
    EXPECT_FALSE(isOpen(held));

    int released = -1;
    {
        CFileDescriptor fd(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        released = fd.release();
        EXPECT_EQ(fd.get(), -1);
    }
    ASSERT_GE(released, 0);
    EXPECT_TRUE(isOpen(released));
    EXPECT_EQ(::close(released), 0);

    // Holding nothing (a failed open) is not an error.
    CFileDescriptor none(-1);
    EXPECT_EQ(none.get(), -1);
}
