#pragma once

#include <sstream>
#include <string>
#include <sys/types.h>

namespace Preference
{
namespace detail
{

// The semaphore set behind a FileLocker. Every locker of one file, in every
// process, shares one set of three semaphores found by ftok(path, 59):
//   0  the lock (1 free, 0 held)
//   1  how many lockers are attached
//   2  guard of attaching and detaching (1 ready)
// The lock, the count and the detach guard are changed with SEM_UNDO, so the
// kernel gives back what a process held when it dies without cleaning up.
class pimpl_file_locker
{
public:
    explicit pimpl_file_locker(const std::wstring& path);
    ~pimpl_file_locker();
    pimpl_file_locker(const pimpl_file_locker&) = delete;
    pimpl_file_locker& operator=(const pimpl_file_locker&) = delete;

    bool Lock();
    void Unlock();

    std::wstring m_sPath;
    bool m_bLocked = false;
    std::wostringstream m_log;
    int m_lSemaphoreId = -1;
    int m_lSemaphoreFlags = 0;
    // Access to a set this locker creates: 0666 unless the file is private.
    int m_lSemaphoreMode = 0666;
    // How many of the thread's nested acquisitions this locker made, so that
    // locking one locker twice needs two unlocks and destruction gives back all.
    int m_lOwnDepth = 0;

private:
    int GetSemaphore(key_t key);
    bool RetainSemaphore(int id, bool created);
    void ReleaseSemaphore();
    bool LockSemaphore();
    void UnlockSemaphore();
};

} // namespace detail
} // namespace Preference
