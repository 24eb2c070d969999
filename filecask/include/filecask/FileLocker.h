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
// The file must exist when the locker is made. A child forked while the
// parent holds the lock does not hold it: it waits for it like any process.
//
// The lock is a System V semaphore set found by the file's ftok key. A process
// that dies gives back its hold and its attachment (SEM_UNDO), but when it was
// the set's last user the set itself stays in the system (see ipcs -s) until
// the next locker of a file with that key finds it unused and replaces it, or
// until it is removed by hand (ipcrm -s). Files whose keys collide share one
// set: their lockers exclude each other, which costs waiting but never safety.
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
