#include "DomainFileLock.h"

#include "StringConversion.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace Preference
{
namespace detail
{
namespace
{

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

bool IsPrivateDirectory(const std::string& path)
{
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
           status.st_uid == ::geteuid() && (status.st_mode & 077) == 0;
}

std::string HomeDirectory()
{
    for (const char* name : {"CFFIXED_USER_HOME", "HOME"})
    {
        const char* value = std::getenv(name);
        if (value && value[0] == '/')
            return value;
    }
    std::vector<char> buffer(16384);
    passwd entry;
    passwd* result = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result &&
        result->pw_dir)
        return result->pw_dir;
    return std::string();
}

// Makes the directory and its missing parents, private to the user.
void MakePrivateDirectories(const std::string& path)
{
    for (std::size_t cut = path.find('/', 1); cut != std::string::npos;
         cut = path.find('/', cut + 1))
        ::mkdir(path.substr(0, cut).c_str(), 0700);
    ::mkdir(path.c_str(), 0700);
}

// A user's locks live where only that user can create or open files, so that
// no other user can take them: the runtime directory, else the user's own
// preferences folder.
std::string PerUserLockDirectory()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && IsPrivateDirectory(runtime))
    {
        const std::string directory = std::string(runtime) + "/ombrel-preferences";
        ::mkdir(directory.c_str(), 0700);
        if (IsPrivateDirectory(directory))
            return directory;
    }
    const std::string home = HomeDirectory();
    if (home.empty())
        return std::string();
#ifdef __APPLE__
    const std::string directory = home + "/Library/Preferences";
#else
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string directory =
        (config && config[0] == '/' && !std::getenv("CFFIXED_USER_HOME") ? std::string(config)
                                                                         : home + "/.config") +
        "/Preferences";
#endif
    MakePrivateDirectories(directory);
    return directory;
}

// Locks of domains shared by all users live beside those domains, where only
// their owners create files.
std::string SharedLockDirectory()
{
#ifdef __APPLE__
    return "/Library/Preferences";
#else
    const char* configured = std::getenv("TESSARY_ANY_USER_PREFERENCES");
    return configured && configured[0] == '/' ? configured : "/var/lib/tessary/Preferences";
#endif
}

int OpenLockFile(const std::string& path, bool shared)
{
    if (path.empty())
        return -1;
    // flock needs no write access, so nobody needs write access to the file;
    // a link planted at the path is not followed.
    const int file =
        ::open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, shared ? 0644 : 0600);
    if (file < 0)
        return -1;
    struct stat status;
    if (::fstat(file, &status) != 0 || !S_ISREG(status.st_mode) ||
        (!shared && status.st_uid != ::geteuid()))
    {
        ::close(file);
        return -1;
    }
    return file;
}

enum class Outcome
{
    Locked,
    Busy,
    Failed
};

// One attempt, without waiting.
Outcome TryLockNow(int file)
{
    for (;;)
    {
        if (::flock(file, LOCK_EX | LOCK_NB) == 0)
            return Outcome::Locked;
        if (errno != EINTR)
            return errno == EWOULDBLOCK ? Outcome::Busy : Outcome::Failed;
    }
}

// Waits for the lock in turn with the other waiters. Every waiter holds a
// shared lock on the waiting file; a process that finds it held joins them
// instead of taking the lock at once, so a process releasing the lock and
// asking again at once cannot keep it from those that waited, and each of
// them gets its turn long before its timeout. Without a waiting file the
// lock is only polled.
Outcome LockInTurn(int file, int waiting, int timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
    const auto expired = [&]
    { return timeout >= 0 && std::chrono::steady_clock::now() >= deadline; };
    bool waited = false;
    if (waiting >= 0)
    {
        // Nobody waits: try at once.
        if (::flock(waiting, LOCK_EX | LOCK_NB) == 0)
        {
            const Outcome now = TryLockNow(file);
            ::flock(waiting, LOCK_UN);
            if (now != Outcome::Busy)
                return now;
        }
        while (!(waited = ::flock(waiting, LOCK_SH | LOCK_NB) == 0) && !expired())
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    // Others wait already: the lock goes to whoever asks first after its
    // release, and we ask only after a pause, as they do.
    Outcome outcome = waiting < 0 ? TryLockNow(file) : Outcome::Busy;
    while (outcome == Outcome::Busy && !expired())
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        outcome = TryLockNow(file);
    }
    if (waited)
        ::flock(waiting, LOCK_UN);
    return outcome;
}

} // namespace

DomainFileLock::DomainFileLock(CFStringRef applicationId, CFStringRef user, CFStringRef host)
    : m_bShared(CFEqual(user, kCFPreferencesAnyUser))
{
    const std::string directory = m_bShared ? SharedLockDirectory() : PerUserLockDirectory();
    if (!directory.empty())
        m_sPath = directory + "/." + FileNamePart(ToUtf8(ToWideString(applicationId))) + "." +
                  UserPart(user) + "." + HostPart(host) + ".lock";
}

bool DomainFileLock::Acquire(int timeout)
{
    HeldLock& held = HeldLocks()[m_sPath];
    if (held.count > 0)
    {
        ++held.count;
        return true;
    }
    int file = OpenLockFile(m_sPath, m_bShared);
    if (file >= 0)
    {
        const int waiting = OpenLockFile(m_sPath + ".wait", m_bShared);
        const Outcome outcome = LockInTurn(file, waiting, timeout);
        if (waiting >= 0)
            ::close(waiting);
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
