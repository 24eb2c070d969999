#include "LegacyPlistStore_pimpl.h"

#include "StringConversion.h"

#include <utils/OwnLink.h>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Preference
{
namespace detail
{
namespace
{

const int LockAttempts = 10;
const useconds_t LockRetryDelay = 500000;

CFTypePtr FileUrl(const std::string& path)
{
    return AdoptCFType(CFURLCreateFromFileSystemRepresentation(
        kCFAllocatorDefault, reinterpret_cast<const UInt8*>(path.data()),
        static_cast<CFIndex>(path.size()), false));
}

bool WriteAll(int file, const char* data, std::size_t size)
{
    while (size > 0)
    {
        const ssize_t written = ::write(file, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

std::string ParentOf(const std::string& path)
{
    const std::size_t cut = path.rfind('/');
    return cut == std::string::npos ? std::string(".") : cut == 0 ? "/" : path.substr(0, cut);
}

std::string NameOf(const std::string& path)
{
    const std::size_t cut = path.rfind('/');
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// A writer killed before its rename leaves ".<name>.<pid>.tmp" behind; it is
// removed once that process is gone. Called under the file lock, so no live
// writer of this file is using one of another process.
void RemoveStaleTemporaries(const std::string& path)
{
    const std::string directory = ParentOf(path);
    const std::string prefix = "." + NameOf(path) + ".";
    DIR* dir = ::opendir(directory.c_str());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir))
    {
        const std::string found = entry->d_name;
        if (found.size() < prefix.size() + 5 || found.compare(0, prefix.size(), prefix) != 0)
            continue;
        char* end = nullptr;
        const long pid = std::strtol(found.c_str() + prefix.size(), &end, 10);
        if (pid > 0 && end && std::string(end) == ".tmp" && pid != ::getpid() &&
            ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            ::unlink((directory + "/" + found).c_str());
    }
    ::closedir(dir);
}

// Whether the descriptor still is the file at the path: a writer may have
// renamed a new file over it while we waited for its lock.
bool IsCurrentFile(int file, const std::string& path)
{
    struct stat opened;
    struct stat named;
    return ::fstat(file, &opened) == 0 && ::lstat(path.c_str(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

} // namespace

namespace
{

CFStringRef CheckedDirectory(CFStringRef directory)
{
    if (!directory)
        throw std::invalid_argument("LegacyPlistStore: the directory is null");
    return directory;
}

} // namespace

LegacyPlistStore_pimpl::LegacyPlistStore_pimpl(CFStringRef directory, CFStringRef applicationId)
    : PlistStore_pimpl(applicationId, kCFPreferencesAnyUser, kCFPreferencesCurrentHost,
                       LegacyGuard()),
      m_sPath(ToUtf8(ToWideString(CheckedDirectory(directory))) + "/" +
              ToUtf8(ToWideString(applicationId)) + ".plist"),
      m_nFile(-1)
{
}

LegacyPlistStore_pimpl::~LegacyPlistStore_pimpl() = default;

PlistStore_pimpl::Guard& LegacyPlistStore_pimpl::LegacyGuard()
{
    static Guard _LegacyPreferenceGuard;
    return _LegacyPreferenceGuard;
}

const char* LegacyPlistStore_pimpl::EmptyDocument()
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">"
           "<plist version=\"1.0\"><dict></dict></plist>";
}

bool LegacyPlistStore_pimpl::FilePath(std::string& path) const
{
    std::string problem;
    if (orbilib::utils::followOwnLinks(m_sPath, path, problem))
        return true;
    std::fprintf(stderr, "LegacyPlistStore: %s\n", problem.c_str());
    return false;
}

bool LegacyPlistStore_pimpl::OpenLocked(bool& retry)
{
    retry = false;
    // The user's own link is followed: the lock is on the file it names.
    std::string path;
    if (!FilePath(path))
        return false;
    // A link planted at the path is not followed.
    int flags = O_RDWR | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW;
#ifdef O_EXLOCK
    flags |= O_EXLOCK;
#endif
    int file = -1;
    // A file replaced while we opened it is opened anew: the lock that counts
    // is the one on the file now at the path.
    for (int replaced = 0; file < 0; ++replaced)
    {
        file = ::open(path.c_str(), flags, 0644);
        if (file < 0)
        {
            // Only a lock held elsewhere goes away by waiting.
            retry = errno == EWOULDBLOCK || errno == EAGAIN || errno == EINTR;
            return false;
        }
#ifndef O_EXLOCK
        if (::flock(file, LOCK_EX | LOCK_NB) != 0)
        {
            retry = errno == EWOULDBLOCK || errno == EINTR;
            ::close(file);
            return false;
        }
#endif
        if (!IsCurrentFile(file, path))
        {
            ::close(file);
            file = -1;
            if (replaced >= 100)
            {
                retry = true;
                return false;
            }
        }
    }
    struct stat status;
    bool ready = ::fstat(file, &status) == 0 && S_ISREG(status.st_mode);
    if (ready && status.st_size == 0)
        ready = WriteAll(file, EmptyDocument(), std::strlen(EmptyDocument()));
    if (!ready)
    {
        ::close(file);
        return false;
    }
    m_nFile = file;
    return true;
}

bool LegacyPlistStore_pimpl::TryLock(int timeout)
{
    Guard& guard = GetGuard();
    if (timeout < 0)
        guard.lock();
    else if (!guard.timed_lock(boost::posix_time::milliseconds(timeout)))
        return false;

    // A link another user planted is refused once, not at every attempt.
    std::string path;
    if (!FilePath(path))
    {
        guard.unlock();
        return false;
    }
    for (int attempt = 0; attempt < LockAttempts; ++attempt)
    {
        bool retry = false;
        if (OpenLocked(retry))
            return true;
        if (!retry)
            continue;
        if (attempt + 1 < LockAttempts)
            ::usleep(LockRetryDelay);
    }
    guard.unlock();
    return false;
}

void LegacyPlistStore_pimpl::UnLock()
{
    Commit();
    if (m_nFile >= 0)
    {
        ::close(m_nFile);
        m_nFile = -1;
    }
    GetGuard().unlock();
}

bool LegacyPlistStore_pimpl::Reload()
{
    // Every read goes to the file; this only says whether it can be read, so
    // that no change replaces a file that could not be.
    bool readable = true;
    ReadFile(readable);
    return readable;
}

bool LegacyPlistStore_pimpl::Commit()
{
    // Every change was written when it was made, or reported as failed then.
    MarkClean();
    return true;
}

CFTypePtr LegacyPlistStore_pimpl::ReadFile(bool& readable) const
{
    readable = true;
    // A link planted at the path is not the store's file.
    std::string path;
    if (!FilePath(path))
    {
        readable = false;
        return CFTypePtr();
    }
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0)
    {
        readable = errno == ENOENT;
        return CFTypePtr();
    }
    if (!S_ISREG(status.st_mode))
    {
        readable = false;
        return CFTypePtr();
    }
    if (status.st_size == 0)
        return CFTypePtr();
    const CFTypePtr url = FileUrl(path);
    CFDataRef bytes = nullptr;
    SInt32 error = 0;
    if (!url ||
        !CFURLCreateDataAndPropertiesFromResource(kCFAllocatorDefault,
                                                  static_cast<CFURLRef>(url.get()), &bytes, nullptr,
                                                  nullptr, &error) ||
        !bytes)
    {
        if (bytes)
            CFRelease(bytes);
        readable = false;
        return CFTypePtr();
    }
    const CFTypePtr data = AdoptCFType(bytes);
    if (CFDataGetLength(bytes) == 0)
        return CFTypePtr();
    CFStringRef message = nullptr;
    const CFTypePtr root = AdoptCFType(CFPropertyListCreateFromXMLData(
        kCFAllocatorDefault, bytes, kCFPropertyListImmutable, &message));
    const CFTypePtr problem = AdoptCFType(message);
    if (!root || !CFPropertyListIsValid(root.get(), kCFPropertyListXMLFormat_v1_0) ||
        CFGetTypeID(root.get()) != CFDictionaryGetTypeID())
    {
        readable = false;
        char reason[512] = "it holds no dictionary";
        if (message)
            CFStringGetCString(message, reason, sizeof reason, kCFStringEncodingUTF8);
        std::fprintf(stderr, "LegacyPlistStore: %s cannot be read and is left as it is: %s\n",
                     path.c_str(), reason);
        return CFTypePtr();
    }
    return root;
}

CFTypePtr LegacyPlistStore_pimpl::ReadPreference(const CFStringPtr& name)
{
    bool readable = true;
    const CFTypePtr root = ReadFile(readable);
    const void* entry = nullptr;
    if (!root ||
        !CFDictionaryGetValueIfPresent(static_cast<CFDictionaryRef>(root.get()), name.get(),
                                       &entry) ||
        !entry || CFGetTypeID(entry) != CFDictionaryGetTypeID())
        return CFTypePtr();
    return AdoptCFType(
        CFDictionaryCreateMutableCopy(kCFAllocatorDefault, 0, static_cast<CFDictionaryRef>(entry)));
}

bool LegacyPlistStore_pimpl::WritePreference(const CFStringPtr& name, CFPropertyListRef value)
{
    if (value && CFGetTypeID(value) != CFDictionaryGetTypeID())
        return false;
    bool readable = true;
    const CFTypePtr root = ReadFile(readable);
    if (!readable)
        return false;
    const CFMutableDictionaryPtr changed =
        root ? AdoptCFDictionary(CFDictionaryCreateMutableCopy(
                   kCFAllocatorDefault, 0, static_cast<CFDictionaryRef>(root.get())))
             : AdoptCFDictionary(CFDictionaryCreateMutable(kCFAllocatorDefault, 0,
                                                           &kCFTypeDictionaryKeyCallBacks,
                                                           &kCFTypeDictionaryValueCallBacks));
    if (value)
        CFDictionarySetValue(changed.get(), name.get(), value);
    else
        CFDictionaryRemoveValue(changed.get(), name.get());

    const CFTypePtr data =
        AdoptCFType(CFPropertyListCreateXMLData(kCFAllocatorDefault, changed.get()));
    if (!data)
        return false;
    const auto* bytes =
        reinterpret_cast<const char*>(CFDataGetBytePtr(static_cast<CFDataRef>(data.get())));
    const auto size = static_cast<std::size_t>(CFDataGetLength(static_cast<CFDataRef>(data.get())));
    return ReplaceFile(bytes, size);
}

bool LegacyPlistStore_pimpl::ReplaceFile(const char* bytes, std::size_t size)
{
    // The new content goes to a new file renamed over the old one, so that the
    // file holds the old or the new content whenever this process dies, and
    // readers never see it half written.
    std::string path;
    if (!FilePath(path))
        return false;
    RemoveStaleTemporaries(path);
    const std::string temporary =
        ParentOf(path) + "/." + NameOf(path) + "." + std::to_string(::getpid()) + ".tmp";
    ::unlink(temporary.c_str());
    const int file =
        ::open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (file < 0)
        return false;
    // Nobody else knows the new file yet, so its lock is ours at once; taking
    // it before the rename hands our lock over to the file others will open.
    bool stored = ::flock(file, LOCK_EX | LOCK_NB) == 0 && ::fchmod(file, 0644) == 0 &&
                  WriteAll(file, bytes, size) && ::fsync(file) == 0;
    if (!stored || ::rename(temporary.c_str(), path.c_str()) != 0)
    {
        ::unlink(temporary.c_str());
        ::close(file);
        return false;
    }
    const int directory = ::open(ParentOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0)
    {
        ::fsync(directory);
        ::close(directory);
    }
    if (m_nFile >= 0)
    {
        ::close(m_nFile);
        m_nFile = file;
    }
    else
    {
        ::close(file);
    }
    return true;
}

} // namespace detail
} // namespace Preference
