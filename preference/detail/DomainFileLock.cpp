#include "DomainFileLock.h"

#include "StringConversion.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <map>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace Preference
{
namespace detail
{
namespace
{

const char* const LockDirectory = "/tmp/ombrel-preference-locks";

struct HeldLock
{
    int file = -1;
    int count = 0;
};

// Guarded by the process-wide store guard that every caller holds.
std::map<std::string, HeldLock>& HeldLocks()
{
    static std::map<std::string, HeldLock> locks;
    return locks;
}

std::string FileNamePart(const std::string& text)
{
    std::string result;
    for (char c : text)
        result += (c == '/' || c == '\0') ? '_' : c;
    return result;
}

std::string UserPart(CFStringRef user)
{
    if (CFEqual(user, kCFPreferencesCurrentUser))
        return "user" + std::to_string(getuid());
    if (CFEqual(user, kCFPreferencesAnyUser))
        return "anyuser";
    return "user-" + FileNamePart(ToUtf8(ToWideString(user)));
}

std::string HostPart(CFStringRef host)
{
    if (CFEqual(host, kCFPreferencesAnyHost))
        return "anyhost";
    if (CFEqual(host, kCFPreferencesCurrentHost))
        return "currenthost";
    return "host-" + FileNamePart(ToUtf8(ToWideString(host)));
}

int OpenLockFile(const std::string& path)
{
    // Shared by all users of the computer, like /tmp itself.
    if (::mkdir(LockDirectory, 01777) == 0)
        ::chmod(LockDirectory, 01777);
    const int file = ::open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (file >= 0)
        ::fchmod(file, 0666);
    return file;
}

enum class Outcome
{
    Locked,
    Busy,
    Failed
};

Outcome LockWithin(int file, int timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
    for (;;)
    {
        if (::flock(file, timeout < 0 ? LOCK_EX : LOCK_EX | LOCK_NB) == 0)
            return Outcome::Locked;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return Outcome::Failed;
        if (timeout >= 0 && std::chrono::steady_clock::now() >= deadline)
            return Outcome::Busy;
        if (errno == EWOULDBLOCK)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

} // namespace

DomainFileLock::DomainFileLock(CFStringRef applicationId, CFStringRef user, CFStringRef host)
    : m_sPath(std::string(LockDirectory) + "/" + FileNamePart(ToUtf8(ToWideString(applicationId))) +
              "." + UserPart(user) + "." + HostPart(host) + ".lock")
{
}

bool DomainFileLock::Acquire(int timeout)
{
    HeldLock& held = HeldLocks()[m_sPath];
    if (held.count > 0)
    {
        ++held.count;
        return true;
    }
    int file = OpenLockFile(m_sPath);
    if (file >= 0)
    {
        const Outcome outcome = LockWithin(file, timeout);
        if (outcome != Outcome::Locked)
        {
            ::close(file);
            if (outcome == Outcome::Busy)
                return false;
            file = -1;
        }
    }
    held.file = file;
    held.count = 1;
    return true;
}

void DomainFileLock::Release()
{
    HeldLock& held = HeldLocks()[m_sPath];
    if (held.count <= 0 || --held.count > 0)
        return;
    if (held.file >= 0)
        ::close(held.file);
    held.file = -1;
}

} // namespace detail
} // namespace Preference
