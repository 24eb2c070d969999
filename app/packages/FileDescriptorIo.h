#pragma once

#include <cstddef>
#include <sys/types.h>

// Raw descriptor copying shared by the worker's file copies and the packager:
// the kernel copies between files where it can, so large payloads never pass
// through user space.
namespace FileDescriptorIo
{

// Whether copyRange can work on this platform at all.
extern const bool kHasCopyRange;

// copy_file_range where available; elsewhere fails with ENOSYS so that callers
// fall back to read and write.
ssize_t copyRange(int in, off_t* offset, int out, size_t length);

// Writes all of data, retrying short writes and interruptions; false on an error.
bool writeAll(int fd, const char* data, size_t size);

} // namespace FileDescriptorIo
