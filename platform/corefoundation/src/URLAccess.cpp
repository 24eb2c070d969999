#include "Internal.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
SInt32 urlError(int err)
{
    switch (err)
    {
    case ENOENT:
    case ENOTDIR:
        return kCFURLResourceNotFoundError;
    case EACCES:
    case EPERM:
    case EROFS:
        return kCFURLResourceAccessViolationError;
    default:
        return kCFURLUnknownError;
    }
}

void setCode(SInt32* errorCode, SInt32 value)
{
    if (errorCode)
        *errorCode = value;
}

std::string directoryOf(const std::string& path)
{
    size_t cut = path.rfind('/');
    if (cut == std::string::npos)
        return ".";
    return cut == 0 ? std::string("/") : path.substr(0, cut);
}

bool writeAll(int fd, const void* data, size_t size)
{
    auto bytes = static_cast<const char*>(data);
    while (size > 0)
    {
        ssize_t n = write(fd, bytes, size);
        if (n < 0)
        {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Creates a new file beside target with a unique name; the umask applies to mode.
int createTemporary(const std::string& target, std::string& temporary)
{
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    const std::string directory = directoryOf(target);
    const std::string name = target.substr(target.rfind('/') + 1);
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        temporary = directory + "/." + name + "." + std::to_string(getpid()) + "." +
                    std::to_string(counter++) + "." + std::to_string(random() % 100000) + ".tmp";
        int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

CFArrayRef directoryContents(const std::string& path)
{
    DIR* dir = opendir(path.c_str());
    if (!dir)
        return nullptr;
    CFMutableArrayRef entries = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
    while (struct dirent* entry = readdir(dir))
    {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string full = (path == "/" ? path : path + "/") + name;
        struct stat st;
        const bool isDirectory = stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        CFURLRef child = CFURLCreateFromFileSystemRepresentation(
            nullptr, reinterpret_cast<const UInt8*>(full.data()), static_cast<CFIndex>(full.size()),
            isDirectory);
        if (child)
        {
            CFArrayAppendValue(entries, child);
            CFRelease(child);
        }
    }
    closedir(dir);
    return entries;
}

CFDictionaryRef fileProperties(const std::string& path, CFArrayRef desired)
{
    CFMutableDictionaryRef properties = CFDictionaryCreateMutable(
        nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    auto wanted = [&](CFStringRef key)
    {
        return !desired ||
               CFArrayContainsValue(desired, CFRangeMake(0, CFArrayGetCount(desired)), key);
    };
    auto put = [&](CFStringRef key, CFTypeRef value)
    {
        if (value)
        {
            CFDictionarySetValue(properties, key, value);
            CFRelease(value);
        }
    };
    struct stat st;
    const bool exists = stat(path.c_str(), &st) == 0;
    if (wanted(kCFURLFileExists))
        CFDictionarySetValue(properties, kCFURLFileExists,
                             exists ? kCFBooleanTrue : kCFBooleanFalse);
    if (exists)
    {
        if (wanted(kCFURLFileLength))
        {
            const int64_t length = st.st_size;
            put(kCFURLFileLength, CFNumberCreate(nullptr, kCFNumberSInt64Type, &length));
        }
        if (wanted(kCFURLFilePOSIXMode))
        {
            const int32_t mode = static_cast<int32_t>(st.st_mode & 07777);
            put(kCFURLFilePOSIXMode, CFNumberCreate(nullptr, kCFNumberSInt32Type, &mode));
        }
        if (wanted(kCFURLFileOwnerID))
        {
            const int64_t owner = st.st_uid;
            put(kCFURLFileOwnerID, CFNumberCreate(nullptr, kCFNumberSInt64Type, &owner));
        }
        if (wanted(kCFURLFileLastModificationTime))
            put(kCFURLFileLastModificationTime,
                CFDateCreate(nullptr, static_cast<double>(st.st_mtim.tv_sec) -
                                          kCFAbsoluteTimeIntervalSince1970 +
                                          static_cast<double>(st.st_mtim.tv_nsec) * 1e-9));
        if (S_ISDIR(st.st_mode) && wanted(kCFURLFileDirectoryContents))
            put(kCFURLFileDirectoryContents, directoryContents(path));
    }
    return properties;
}
} // namespace

namespace cf
{

bool readWholeFile(const std::string& path, std::vector<uint8_t>& data, int& err)
{
    data.clear();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
    {
        err = errno;
        return false;
    }
    struct stat st;
    if (fstat(fd, &st) != 0)
    {
        err = errno;
        close(fd);
        return false;
    }
    if (S_ISDIR(st.st_mode))
    {
        err = EISDIR;
        close(fd);
        return false;
    }
    if (st.st_size > 0)
        data.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;)
    {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0)
        {
            if (errno == EINTR)
                continue;
            err = errno;
            close(fd);
            return false;
        }
        if (n == 0)
            break;
        data.insert(data.end(), buffer, buffer + n);
    }
    close(fd);
    err = 0;
    return true;
}

bool writeFileAtomically(const std::string& path, const void* data, size_t size, mode_t mode,
                         int& err)
{
    // Write through a symbolic link to its target rather than replace the link.
    std::string target = path;
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
    {
        char resolved[PATH_MAX];
        if (realpath(path.c_str(), resolved))
            target = resolved;
    }
    const bool exists = stat(target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode))
    {
        err = EISDIR;
        return false;
    }
    std::string temporary;
    int fd = createTemporary(target, temporary);
    if (fd < 0)
    {
        err = errno;
        return false;
    }
    bool ok = true;
    if (exists)
    {
        // Replacing a file keeps its permissions and, where allowed, its owner.
        ok = fchmod(fd, st.st_mode & 07777) == 0;
        if (ok && geteuid() == 0 && (st.st_uid != 0 || st.st_gid != 0))
            (void)!fchown(fd, st.st_uid, st.st_gid);
    }
    else
    {
        struct stat created;
        // The umask already applied to 0666; narrow further, before any data is written.
        if (fstat(fd, &created) == 0 && (created.st_mode & ~mode & 07777))
            ok = fchmod(fd, created.st_mode & mode & 07777) == 0;
    }
    ok = ok && writeAll(fd, data, size);
    ok = ok && fsync(fd) == 0;
    int savedErrno = errno;
    if (close(fd) != 0 && ok)
    {
        ok = false;
        savedErrno = errno;
    }
    if (ok && rename(temporary.c_str(), target.c_str()) != 0)
    {
        ok = false;
        savedErrno = errno;
    }
    if (!ok)
    {
        unlink(temporary.c_str());
        err = savedErrno;
        return false;
    }
    // Make the rename itself durable.
    int dirFd = open(directoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0)
    {
        fsync(dirFd);
        close(dirFd);
    }
    err = 0;
    return true;
}

} // namespace cf

extern "C"
{

    const CFStringRef kCFURLFileExists = CFSTR("kCFURLFileExists");
    const CFStringRef kCFURLFileDirectoryContents = CFSTR("kCFURLFileDirectoryContents");
    const CFStringRef kCFURLFileLength = CFSTR("kCFURLFileLength");
    const CFStringRef kCFURLFileLastModificationTime = CFSTR("kCFURLFileLastModificationTime");
    const CFStringRef kCFURLFilePOSIXMode = CFSTR("kCFURLFilePOSIXMode");
    const CFStringRef kCFURLFileOwnerID = CFSTR("kCFURLFileOwnerID");
    const CFStringRef kCFURLHTTPStatusCode = CFSTR("kCFURLHTTPStatusCode");
    const CFStringRef kCFURLHTTPStatusLine = CFSTR("kCFURLHTTPStatusLine");

    Boolean CFURLCreateDataAndPropertiesFromResource(CFAllocatorRef, CFURLRef url,
                                                     CFDataRef* resourceData,
                                                     CFDictionaryRef* properties,
                                                     CFArrayRef desiredProperties,
                                                     SInt32* errorCode)
    {
        if (resourceData)
            *resourceData = nullptr;
        if (properties)
            *properties = nullptr;
        setCode(errorCode, 0);
        std::string path;
        if (!cf::isType(url, cf::kURLTypeID))
        {
            setCode(errorCode, kCFURLImproperArgumentsError);
            return false;
        }
        if (!cf::fileUrlPath(url, path))
        {
            setCode(errorCode, kCFURLUnknownSchemeError);
            return false;
        }
        bool ok = true;
        if (resourceData)
        {
            std::vector<uint8_t> bytes;
            int err = 0;
            if (cf::readWholeFile(path, bytes, err))
                *resourceData =
                    CFDataCreate(nullptr, bytes.data(), static_cast<CFIndex>(bytes.size()));
            else
            {
                ok = false;
                setCode(errorCode, urlError(err));
            }
        }
        if (properties)
            *properties = fileProperties(path, desiredProperties);
        return ok;
    }

    Boolean CFURLWriteDataAndPropertiesToResource(CFURLRef url, CFDataRef dataToWrite,
                                                  CFDictionaryRef propertiesToWrite,
                                                  SInt32* errorCode)
    {
        setCode(errorCode, 0);
        std::string path;
        if (!cf::isType(url, cf::kURLTypeID) ||
            (dataToWrite && !cf::isType(dataToWrite, cf::kDataTypeID)))
        {
            setCode(errorCode, kCFURLImproperArgumentsError);
            return false;
        }
        if (!cf::fileUrlPath(url, path))
        {
            setCode(errorCode, kCFURLUnknownSchemeError);
            return false;
        }
        if (dataToWrite)
        {
            int err = 0;
            if (CFURLHasDirectoryPath(url) ||
                !cf::writeFileAtomically(path, CFDataGetBytePtr(dataToWrite),
                                         static_cast<size_t>(CFDataGetLength(dataToWrite)), 0666,
                                         err))
            {
                setCode(errorCode,
                        CFURLHasDirectoryPath(url) ? kCFURLImproperArgumentsError : urlError(err));
                return false;
            }
        }
        else if (CFURLHasDirectoryPath(url))
        {
            struct stat st;
            if (mkdir(path.c_str(), 0777) != 0 &&
                !(errno == EEXIST && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
            {
                setCode(errorCode, urlError(errno));
                return false;
            }
        }
        if (propertiesToWrite)
        {
            const void* mode = CFDictionaryGetValue(propertiesToWrite, kCFURLFilePOSIXMode);
            if (cf::isType(mode, cf::kNumberTypeID))
            {
                int32_t bits = 0;
                CFNumberGetValue(static_cast<CFNumberRef>(mode), kCFNumberSInt32Type, &bits);
                if (chmod(path.c_str(), static_cast<mode_t>(bits) & 07777) != 0)
                {
                    setCode(errorCode, urlError(errno));
                    return false;
                }
            }
        }
        return true;
    }

    Boolean CFURLDestroyResource(CFURLRef url, SInt32* errorCode)
    {
        setCode(errorCode, 0);
        std::string path;
        if (!cf::isType(url, cf::kURLTypeID) || !cf::fileUrlPath(url, path))
        {
            setCode(errorCode, kCFURLUnknownSchemeError);
            return false;
        }
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 ||
            (S_ISDIR(st.st_mode) ? rmdir(path.c_str()) : unlink(path.c_str())) != 0)
        {
            setCode(errorCode, urlError(errno));
            return false;
        }
        return true;
    }

} // extern "C"
