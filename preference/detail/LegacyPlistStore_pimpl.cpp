#include "LegacyPlistStore_pimpl.h"

#include "StringConversion.h"

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include <cerrno>
#include <cstring>
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

bool LegacyPlistStore_pimpl::OpenLocked(bool& retry)
{
    retry = false;
    int flags = O_RDWR | O_CREAT | O_NONBLOCK | O_CLOEXEC;
#ifdef O_EXLOCK
    flags |= O_EXLOCK;
#endif
    int file = ::open(m_sPath.c_str(), flags, 0644);
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
    struct stat status;
    bool ready = ::fstat(file, &status) == 0;
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
    return true;
}

bool LegacyPlistStore_pimpl::Commit()
{
    return true;
}

CFTypePtr LegacyPlistStore_pimpl::ReadFile() const
{
    const CFTypePtr url = FileUrl(m_sPath);
    if (!url)
        return CFTypePtr();
    CFDataRef bytes = nullptr;
    SInt32 error = 0;
    if (!CFURLCreateDataAndPropertiesFromResource(kCFAllocatorDefault,
                                                  static_cast<CFURLRef>(url.get()), &bytes, nullptr,
                                                  nullptr, &error) ||
        !bytes)
    {
        if (bytes)
            CFRelease(bytes);
        return CFTypePtr();
    }
    const CFTypePtr data = AdoptCFType(bytes);
    CFStringRef message = nullptr;
    const CFTypePtr root = AdoptCFType(CFPropertyListCreateFromXMLData(
        kCFAllocatorDefault, bytes, kCFPropertyListImmutable, &message));
    if (message)
        CFRelease(message);
    if (!root || !CFPropertyListIsValid(root.get(), kCFPropertyListXMLFormat_v1_0) ||
        CFGetTypeID(root.get()) != CFDictionaryGetTypeID())
        return CFTypePtr();
    return root;
}

CFTypePtr LegacyPlistStore_pimpl::ReadPreference(const CFStringPtr& name)
{
    const CFTypePtr root = ReadFile();
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
    const CFTypePtr root = ReadFile();
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
    if (m_nFile >= 0)
    {
        // Through the locked descriptor: a write that replaced the file would
        // leave our lock on the old one while others lock the new one.
        return ::ftruncate(m_nFile, 0) == 0 && ::lseek(m_nFile, 0, SEEK_SET) == 0 &&
               WriteAll(m_nFile, bytes, size) && ::fsync(m_nFile) == 0;
    }
    const CFTypePtr url = FileUrl(m_sPath);
    if (!url)
        return false;
    SInt32 error = 0;
    const bool written = CFURLWriteDataAndPropertiesToResource(
        static_cast<CFURLRef>(url.get()), static_cast<CFDataRef>(data.get()), nullptr, &error);
    return written && error == 0;
}

} // namespace detail
} // namespace Preference
