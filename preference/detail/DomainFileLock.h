#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <string>

namespace Preference
{
namespace detail
{

// Serialises the locked operations of all processes on one preferences domain.
// A user's lock files live in that user's private runtime or preferences
// folder, those of shared domains beside the shared domains, so that no other
// user can hold them.
// CoreFoundation merges each process's changes into the domain per top-level
// entry, so two processes changing different values below the same entry
// would otherwise overwrite each other's entry. An exclusive advisory lock on
// a lock file per domain is held from the outermost TryLock to its UnLock.
//
// Acquisitions nest within the process: every store of the domain shares one
// descriptor and a count. Callers serialise calls through the process-wide
// store guard, which they hold around every Acquire and Release.
class DomainFileLock
{
public:
    DomainFileLock(CFStringRef applicationId, CFStringRef user, CFStringRef host);

    // Waits at most timeout milliseconds (no limit when negative). A lock file
    // that cannot be opened does not prevent the acquisition: the store then
    // works as it would without this lock.
    bool Acquire(int timeout);
    void Release();

private:
    // Empty when no folder for the lock was found.
    std::string m_sPath;
    bool m_bShared;
};

} // namespace detail
} // namespace Preference
