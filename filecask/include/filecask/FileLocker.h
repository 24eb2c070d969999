#pragma once

#include <filecask/filecask_export.h>

#include <memory>
#include <string>

namespace Preference
{
namespace detail
{
class pimpl_file_locker;
}

// An exclusive lock on a file path shared by every thread and process that
// locks the same file. Reentrant per thread: all lockers of one file in one
// thread share one depth, and the file is released when it returns to zero.
// The file must exist when the locker is made.
class FILECASK_EXPORT FileLocker
{
public:
    explicit FileLocker(const std::wstring& path);
    ~FileLocker();
    FileLocker(const FileLocker&) = delete;
    FileLocker& operator=(const FileLocker&) = delete;

    // Waits without limit for the lock.
    bool Lock();
    // Same as Lock(): the lock is always waited for, whatever the timeout.
    bool TryLock(int timeoutMs);
    void Unlock();
    bool IsLocked() const;
    // True when the locker obtained the file's semaphore set.
    bool IsValid() const;
    // Every diagnostic line collected so far.
    std::wstring GetLastError() const;

private:
    std::unique_ptr<detail::pimpl_file_locker> m_pImpl;
};

} // namespace Preference
