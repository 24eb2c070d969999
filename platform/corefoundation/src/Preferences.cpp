// CFPreferences keeps every domain (application id, user, host) in one XML
// property list file:
//
//   user home      $CFFIXED_USER_HOME when set, else $HOME, else the password
//                  database's home directory
//   per-user       <config>/Preferences/<application id>.plist, where <config> is
//                  $XDG_CONFIG_HOME when it is set (and absolute) and
//                  CFFIXED_USER_HOME is not, else <user home>/.config
//   any user       $TESSARY_ANY_USER_PREFERENCES/<application id>.plist, by
//                  default under /var/lib/tessary/Preferences
//   current host   ByHost/<application id>.<host id>.plist inside the per-user or
//                  any-user directory; the host id is /etc/machine-id, else the
//                  host name
//   any application  the application id ".GlobalPreferences"
//   an absolute path as application id names the file itself (".plist" added)
//
// Values set in this process stay pending until CFPreferencesSynchronize, which
// takes an exclusive flock on "<file>.lock" beside the file, rereads the file,
// applies this process's pending sets and removals, writes the result to a
// temporary file in the same directory, flushes it and renames it over the old
// one. Concurrent processes therefore keep each other's changes, and a process
// killed mid-write leaves the previous file intact. A file that cannot be parsed
// reads as empty; before it is replaced it is kept as "<file>.damaged".
#include "Internal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
pthread_mutex_t g_mutex = PTHREAD_MUTEX_INITIALIZER;

// A fork while another thread holds the cache lock must not leave the child
// with a lock nobody can release.
void lockForFork()
{
    pthread_mutex_lock(&g_mutex);
}
void unlockAfterFork()
{
    pthread_mutex_unlock(&g_mutex);
}
const int g_atforkRegistered = pthread_atfork(lockForFork, unlockAfterFork, unlockAfterFork);

class CacheLock
{
public:
    CacheLock() { pthread_mutex_lock(&g_mutex); }
    ~CacheLock() { pthread_mutex_unlock(&g_mutex); }
    CacheLock(const CacheLock&) = delete;
    CacheLock& operator=(const CacheLock&) = delete;
};

struct Location
{
    std::string path;
    mode_t fileMode = 0600;
    mode_t directoryMode = 0700;
};

struct Domain
{
    CFMutableDictionaryRef values = nullptr;  // the file as last read, plus pending changes
    CFMutableDictionaryRef pending = nullptr; // key -> new value, or kCFNull for a removal
    bool loaded = false;
    // The file's identity when values last matched it: a synchronisation
    // without pending changes need not reread a file that is still the same.
    bool stamped = false;
    struct stat stamp = {};
};

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// Records the file's identity, taken before it is read, so that a change made
// after the stamp shows as a difference at the next look.
void stampDomain(Domain& domain, const std::string& path)
{
    domain.stamped = stat(path.c_str(), &domain.stamp) == 0;
}

std::map<std::string, Domain>& domains()
{
    // Never destroyed: other libraries' static destructors may still call in.
    static auto* map = new std::map<std::string, Domain>;
    return *map;
}

std::string env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string passwordHome(uid_t uid)
{
    struct passwd entry;
    struct passwd* result = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &result) == 0 && result &&
        result->pw_dir)
        return result->pw_dir;
    return "";
}

std::string currentUserName()
{
    struct passwd entry;
    struct passwd* result = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result &&
        result->pw_name)
        return result->pw_name;
    return "";
}

std::string homeOfUser(const std::string& name)
{
    struct passwd entry;
    struct passwd* result = nullptr;
    std::vector<char> buffer(16384);
    if (getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &result) == 0 && result &&
        result->pw_dir)
        return result->pw_dir;
    return "";
}

std::string currentUserPreferencesDirectory()
{
    const std::string fixedHome = env("CFFIXED_USER_HOME");
    std::string config = env("XDG_CONFIG_HOME");
    if (!fixedHome.empty() || config.empty() || config[0] != '/')
    {
        std::string home = !fixedHome.empty() ? fixedHome : env("HOME");
        if (home.empty())
            home = passwordHome(geteuid());
        if (home.empty())
            return "";
        config = home + "/.config";
    }
    return config + "/Preferences";
}

std::string anyUserPreferencesDirectory()
{
    const std::string configured = env("TESSARY_ANY_USER_PREFERENCES");
    return configured.empty() ? std::string("/var/lib/tessary/Preferences") : configured;
}

bool safeName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

std::string hostIdentifier()
{
    static const std::string id = []
    {
        std::vector<uint8_t> bytes;
        int err = 0;
        std::string text;
        if (cf::readWholeFile("/etc/machine-id", bytes, err))
            text.assign(bytes.begin(), bytes.end());
        while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
            text.pop_back();
        if (text.empty() || text.find_first_of("/\n") != std::string::npos)
        {
            char name[256] = "";
            if (gethostname(name, sizeof name - 1) == 0)
                text = name;
        }
        for (char& c : text)
            if (c == '/')
                c = '_';
        return text.empty() ? std::string("localhost") : text;
    }();
    return id;
}

std::string programName()
{
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n > 0)
    {
        path[n] = '\0';
        const char* slash = std::strrchr(path, '/');
        return slash ? slash + 1 : path;
    }
    return program_invocation_short_name;
}

bool same(CFStringRef a, CFStringRef b)
{
    return a == b || CFEqual(a, b);
}

// Works out the file of a domain; false (with a warning) for arguments that name none.
bool locate(CFStringRef applicationID, CFStringRef userName, CFStringRef hostName,
            Location& location)
{
    if (!cf::isType(applicationID, cf::kStringTypeID) || !cf::isType(userName, cf::kStringTypeID) ||
        !cf::isType(hostName, cf::kStringTypeID))
    {
        cf::warn("CFPreferences: application id, user and host must be strings");
        return false;
    }
    std::string application;
    if (same(applicationID, kCFPreferencesCurrentApplication))
        application = programName();
    else if (same(applicationID, kCFPreferencesAnyApplication))
        application = ".GlobalPreferences";
    else if (!cf::utf8Of(applicationID, application))
        return false;
    if (!application.empty() && application[0] == '/')
    {
        // A path names its file directly, whatever the user and host.
        location.path = application;
        if (location.path.size() < 6 ||
            location.path.compare(location.path.size() - 6, 6, ".plist") != 0)
            location.path += ".plist";
        location.fileMode = 0644;
        location.directoryMode = 0755;
        return true;
    }
    if (!safeName(application))
    {
        cf::warn("CFPreferences: \"" + application + "\" is not a valid application id");
        return false;
    }
    std::string directory;
    if (same(userName, kCFPreferencesAnyUser))
    {
        directory = anyUserPreferencesDirectory();
        location.fileMode = 0644;
        location.directoryMode = 0755;
    }
    else
    {
        std::string user;
        if (same(userName, kCFPreferencesCurrentUser) ||
            (cf::utf8Of(userName, user) && user == currentUserName()))
            directory = currentUserPreferencesDirectory();
        else
        {
            const std::string home = safeName(user) ? homeOfUser(user) : std::string();
            if (!home.empty())
                directory = home + "/.config/Preferences";
        }
        if (directory.empty())
        {
            cf::warn("CFPreferences: no preferences directory for user \"" + user + "\"");
            return false;
        }
    }
    if (same(hostName, kCFPreferencesAnyHost))
        location.path = directory + "/" + application + ".plist";
    else
    {
        std::string host;
        if (same(hostName, kCFPreferencesCurrentHost))
            host = hostIdentifier();
        else if (!cf::utf8Of(hostName, host) || !safeName(host))
        {
            cf::warn("CFPreferences: \"" + host + "\" is not a valid host name");
            return false;
        }
        location.path = directory + "/ByHost/" + application + "." + host + ".plist";
    }
    return true;
}

CFMutableDictionaryRef newDictionary()
{
    return CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                     &kCFTypeDictionaryValueCallBacks);
}

enum class FileState
{
    Missing,
    Read,
    Damaged,
    Unreadable
};

// The file's root dictionary as a mutable dictionary; empty unless it is Read.
CFMutableDictionaryRef readDomainFile(const std::string& path, FileState& state)
{
    std::vector<uint8_t> bytes;
    int err = 0;
    if (!cf::readWholeFile(path, bytes, err))
    {
        state = err == ENOENT ? FileState::Missing : FileState::Unreadable;
        if (state == FileState::Unreadable)
            cf::warn("cannot read preferences file " + path + ": " + std::strerror(err));
        return newDictionary();
    }
    CFDataRef data = CFDataCreate(nullptr, bytes.data(), static_cast<CFIndex>(bytes.size()));
    CFStringRef problem = nullptr;
    CFPropertyListRef root =
        bytes.empty()
            ? nullptr
            : CFPropertyListCreateFromXMLData(nullptr, data, kCFPropertyListImmutable, &problem);
    CFRelease(data);
    if (!root || CFGetTypeID(root) != CFDictionaryGetTypeID())
    {
        cf::warn("preferences file " + path + " is damaged and reads as empty" +
                 (problem ? ": " + cf::utf8OrEmpty(problem) : std::string()));
        if (problem)
            CFRelease(problem);
        if (root)
            CFRelease(root);
        state = FileState::Damaged;
        return newDictionary();
    }
    CFMutableDictionaryRef values =
        CFDictionaryCreateMutableCopy(nullptr, 0, static_cast<CFDictionaryRef>(root));
    CFRelease(root);
    state = FileState::Read;
    return values;
}

bool makeDirectories(const std::string& directory, mode_t mode)
{
    struct stat st;
    if (directory.empty() || stat(directory.c_str(), &st) == 0)
        return !directory.empty() && S_ISDIR(st.st_mode);
    const size_t cut = directory.rfind('/');
    if (cut != std::string::npos && cut > 0 && !makeDirectories(directory.substr(0, cut), mode))
        return false;
    return mkdir(directory.c_str(), mode) == 0 || errno == EEXIST;
}

std::string parentOf(const std::string& path)
{
    const size_t cut = path.rfind('/');
    return cut == std::string::npos ? std::string(".") : path.substr(0, cut);
}

void applyPending(CFMutableDictionaryRef values, CFDictionaryRef pending)
{
    const CFIndex count = CFDictionaryGetCount(pending);
    std::vector<const void*> keys(static_cast<size_t>(count)), changes(static_cast<size_t>(count));
    CFDictionaryGetKeysAndValues(pending, keys.data(), changes.data());
    for (size_t i = 0; i < keys.size(); ++i)
    {
        if (changes[i] == kCFNull)
            CFDictionaryRemoveValue(values, keys[i]);
        else
            CFDictionarySetValue(values, keys[i], changes[i]);
    }
}

Domain& domainAt(const Location& location)
{
    Domain& domain = domains()[location.path];
    if (!domain.loaded)
    {
        FileState state;
        if (domain.values)
            CFRelease(domain.values);
        domain.values = readDomainFile(location.path, state);
        if (domain.pending)
            applyPending(domain.values, domain.pending);
        domain.loaded = true;
    }
    return domain;
}

// Temporary files of writers that died mid-write ("." name "." pid ...
// ".tmp", see writeFileAtomically); called under the domain lock, so no live
// writer of this domain is using one.
void removeStaleTemporaries(const std::string& path)
{
    const std::string directory = parentOf(path);
    const std::string prefix = "." + path.substr(path.rfind('/') + 1) + ".";
    DIR* dir = opendir(directory.c_str());
    if (!dir)
        return;
    while (struct dirent* entry = readdir(dir))
    {
        const std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0 || name.size() < prefix.size() + 4 ||
            name.compare(name.size() - 4, 4, ".tmp") != 0)
            continue;
        const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
        if (pid > 0 && pid != getpid() && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            unlink((directory + "/" + name).c_str());
    }
    closedir(dir);
}

// Merges the pending changes into the file under its lock; the caller holds the cache lock.
bool writePending(const Location& location, Domain& domain)
{
    const std::string& path = location.path;
    if (!makeDirectories(parentOf(path), location.directoryMode))
    {
        cf::warn("cannot create the preferences directory " + parentOf(path) + ": " +
                 std::strerror(errno));
        return false;
    }
    const std::string lockPath = path + ".lock";
    int lockFd =
        open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, location.fileMode);
    if (lockFd < 0)
    {
        cf::warn("cannot open the preferences lock " + lockPath + ": " + std::strerror(errno));
        return false;
    }
    int rc;
    while ((rc = flock(lockFd, LOCK_EX)) != 0 && errno == EINTR)
    {
    }
    if (rc != 0)
    {
        cf::warn("cannot lock " + lockPath + ": " + std::strerror(errno));
        close(lockFd);
        return false;
    }
    removeStaleTemporaries(path);
    FileState state = FileState::Read;
    struct stat now;
    // Our values are the file as last read or written plus the pending
    // changes: while the file is still that one, there is no need to reread it.
    CFMutableDictionaryRef merged = domain.stamped && domain.values &&
                                            stat(path.c_str(), &now) == 0 &&
                                            sameFile(now, domain.stamp)
                                        ? CFDictionaryCreateMutableCopy(nullptr, 0, domain.values)
                                        : readDomainFile(path, state);
    if (state == FileState::Unreadable)
    {
        // Keep the cached view and the pending changes for a later attempt.
        flock(lockFd, LOCK_UN);
        close(lockFd);
        CFRelease(merged);
        return false;
    }
    bool ok = true;
    if (state == FileState::Damaged)
        rename(path.c_str(), (path + ".damaged").c_str());
    applyPending(merged, domain.pending);
    {
        CFErrorRef error = nullptr;
        CFDataRef data =
            CFPropertyListCreateData(nullptr, merged, kCFPropertyListXMLFormat_v1_0, 0, &error);
        int err = 0;
        ok = data && cf::writeFileAtomically(path, CFDataGetBytePtr(data),
                                             static_cast<size_t>(CFDataGetLength(data)),
                                             location.fileMode, err);
        if (!ok)
            cf::warn("cannot write preferences file " + path + ": " +
                     (error ? cf::describe(error) : std::string(std::strerror(err))));
        if (data)
            CFRelease(data);
        if (error)
            CFRelease(error);
    }
    if (ok)
        stampDomain(domain, path);
    else
        domain.stamped = false;
    flock(lockFd, LOCK_UN);
    close(lockFd);
    CFRelease(domain.values);
    domain.values = merged;
    if (ok)
        CFDictionaryRemoveAllValues(domain.pending);
    return ok;
}

bool synchronize(const Location& location)
{
    Domain& domain = domains()[location.path];
    bool ok = true;
    if (domain.pending && CFDictionaryGetCount(domain.pending) > 0)
        ok = writePending(location, domain);
    else
    {
        struct stat now;
        if (domain.loaded && domain.values && domain.stamped &&
            stat(location.path.c_str(), &now) == 0 && sameFile(now, domain.stamp))
            return true;
        stampDomain(domain, location.path);
        FileState state;
        if (domain.values)
            CFRelease(domain.values);
        domain.values = readDomainFile(location.path, state);
        ok = state != FileState::Unreadable;
        if (state != FileState::Read)
            domain.stamped = false;
    }
    domain.loaded = true;
    return ok;
}

CFPropertyListRef copyValue(CFStringRef key, const Location& location)
{
    Domain& domain = domainAt(location);
    const void* value = CFDictionaryGetValue(domain.values, key);
    return value ? CFRetain(value) : nullptr;
}

void setValue(CFStringRef key, CFPropertyListRef value, const Location& location)
{
    Domain& domain = domainAt(location);
    if (!domain.pending)
        domain.pending = newDictionary();
    if (value)
    {
        CFDictionarySetValue(domain.values, key, value);
        CFDictionarySetValue(domain.pending, key, value);
    }
    else
    {
        CFDictionaryRemoveValue(domain.values, key);
        CFDictionarySetValue(domain.pending, key, kCFNull);
    }
}

// An immutable private copy, so later changes by the caller do not leak in.
CFPropertyListRef storableCopy(CFStringRef key, CFPropertyListRef value)
{
    // Refuse here what the file could not hold, so one bad value cannot block
    // every later synchronization of the domain. A walk over the value, not a
    // trial serialisation: large entries are set often.
    std::string problem;
    if (!cf::storableInXml(value, problem))
    {
        cf::warn("CFPreferencesSetValue: the value for \"" + cf::utf8OrEmpty(key) +
                 "\" cannot be stored and is ignored: " + problem);
        return nullptr;
    }
    return CFPropertyListCreateDeepCopy(nullptr, value, kCFPropertyListImmutable);
}

bool validKey(CFStringRef key, const char* caller)
{
    if (cf::isType(key, cf::kStringTypeID))
        return true;
    cf::warn(std::string(caller) + ": the key must be a string");
    return false;
}
} // namespace

extern "C"
{

    const CFStringRef kCFPreferencesAnyApplication = CFSTR("kCFPreferencesAnyApplication");
    const CFStringRef kCFPreferencesCurrentApplication = CFSTR("kCFPreferencesCurrentApplication");
    const CFStringRef kCFPreferencesAnyHost = CFSTR("kCFPreferencesAnyHost");
    const CFStringRef kCFPreferencesCurrentHost = CFSTR("kCFPreferencesCurrentHost");
    const CFStringRef kCFPreferencesAnyUser = CFSTR("kCFPreferencesAnyUser");
    const CFStringRef kCFPreferencesCurrentUser = CFSTR("kCFPreferencesCurrentUser");

    CFPropertyListRef CFPreferencesCopyValue(CFStringRef key, CFStringRef applicationID,
                                             CFStringRef userName, CFStringRef hostName)
    {
        Location location;
        if (!validKey(key, "CFPreferencesCopyValue") ||
            !locate(applicationID, userName, hostName, location))
            return nullptr;
        CacheLock lock;
        return copyValue(key, location);
    }

    CFDictionaryRef CFPreferencesCopyMultiple(CFArrayRef keysToFetch, CFStringRef applicationID,
                                              CFStringRef userName, CFStringRef hostName)
    {
        Location location;
        if (!locate(applicationID, userName, hostName, location))
            return nullptr;
        CacheLock lock;
        Domain& domain = domainAt(location);
        if (!keysToFetch)
            return CFDictionaryCreateCopy(nullptr, domain.values);
        CFMutableDictionaryRef result = newDictionary();
        for (CFIndex i = 0, n = CFArrayGetCount(keysToFetch); i < n; ++i)
        {
            const void* key = CFArrayGetValueAtIndex(keysToFetch, i);
            const void* value = nullptr;
            if (CFDictionaryGetValueIfPresent(domain.values, key, &value))
                CFDictionarySetValue(result, key, value);
        }
        return result;
    }

    CFArrayRef CFPreferencesCopyKeyList(CFStringRef applicationID, CFStringRef userName,
                                        CFStringRef hostName)
    {
        Location location;
        if (!locate(applicationID, userName, hostName, location))
            return nullptr;
        CacheLock lock;
        Domain& domain = domainAt(location);
        const CFIndex count = CFDictionaryGetCount(domain.values);
        if (count == 0)
            return nullptr;
        std::vector<const void*> keys(static_cast<size_t>(count));
        CFDictionaryGetKeysAndValues(domain.values, keys.data(), nullptr);
        return CFArrayCreate(nullptr, keys.data(), count, &kCFTypeArrayCallBacks);
    }

    void CFPreferencesSetValue(CFStringRef key, CFPropertyListRef value, CFStringRef applicationID,
                               CFStringRef userName, CFStringRef hostName)
    {
        Location location;
        if (!validKey(key, "CFPreferencesSetValue") ||
            !locate(applicationID, userName, hostName, location))
            return;
        CFPropertyListRef copy = nullptr;
        if (value && !(copy = storableCopy(key, value)))
            return;
        CacheLock lock;
        setValue(key, copy, location);
        if (copy)
            CFRelease(copy);
    }

    void CFPreferencesSetMultiple(CFDictionaryRef keysToSet, CFArrayRef keysToRemove,
                                  CFStringRef applicationID, CFStringRef userName,
                                  CFStringRef hostName)
    {
        if (keysToSet)
        {
            const CFIndex count = CFDictionaryGetCount(keysToSet);
            std::vector<const void*> keys(static_cast<size_t>(count)),
                values(static_cast<size_t>(count));
            CFDictionaryGetKeysAndValues(keysToSet, keys.data(), values.data());
            for (size_t i = 0; i < keys.size(); ++i)
                CFPreferencesSetValue(static_cast<CFStringRef>(keys[i]), values[i], applicationID,
                                      userName, hostName);
        }
        if (keysToRemove)
            for (CFIndex i = 0, n = CFArrayGetCount(keysToRemove); i < n; ++i)
                CFPreferencesSetValue(
                    static_cast<CFStringRef>(CFArrayGetValueAtIndex(keysToRemove, i)), nullptr,
                    applicationID, userName, hostName);
    }

    Boolean CFPreferencesSynchronize(CFStringRef applicationID, CFStringRef userName,
                                     CFStringRef hostName)
    {
        Location location;
        if (!locate(applicationID, userName, hostName, location))
            return false;
        CacheLock lock;
        return synchronize(location);
    }

    CFPropertyListRef CFPreferencesCopyAppValue(CFStringRef key, CFStringRef applicationID)
    {
        if (!validKey(key, "CFPreferencesCopyAppValue"))
            return nullptr;
        const CFStringRef order[][3] = {
            {applicationID, kCFPreferencesCurrentUser, kCFPreferencesCurrentHost},
            {applicationID, kCFPreferencesCurrentUser, kCFPreferencesAnyHost},
            {kCFPreferencesAnyApplication, kCFPreferencesCurrentUser, kCFPreferencesCurrentHost},
            {kCFPreferencesAnyApplication, kCFPreferencesCurrentUser, kCFPreferencesAnyHost},
            {applicationID, kCFPreferencesAnyUser, kCFPreferencesCurrentHost},
            {applicationID, kCFPreferencesAnyUser, kCFPreferencesAnyHost},
            {kCFPreferencesAnyApplication, kCFPreferencesAnyUser, kCFPreferencesCurrentHost},
            {kCFPreferencesAnyApplication, kCFPreferencesAnyUser, kCFPreferencesAnyHost}};
        for (const auto& domain : order)
        {
            Location location;
            if (!locate(domain[0], domain[1], domain[2], location))
                continue;
            CacheLock lock;
            if (CFPropertyListRef value = copyValue(key, location))
                return value;
        }
        return nullptr;
    }

    Boolean CFPreferencesGetAppBooleanValue(CFStringRef key, CFStringRef applicationID,
                                            Boolean* keyExistsAndHasValidFormat)
    {
        bool valid = false, result = false;
        CFPropertyListRef value = CFPreferencesCopyAppValue(key, applicationID);
        if (cf::isType(value, cf::kBooleanTypeID))
        {
            valid = true;
            result = CFBooleanGetValue(static_cast<CFBooleanRef>(value));
        }
        else if (cf::isType(value, cf::kNumberTypeID))
        {
            valid = true;
            result = cf::numberAsDouble(static_cast<CFNumberRef>(value)) != 0;
        }
        else if (cf::isType(value, cf::kStringTypeID))
        {
            for (const char* yes : {"YES", "true", "1"})
                if (CFStringCompare(static_cast<CFStringRef>(value),
                                    __CFStringMakeConstantString(yes),
                                    kCFCompareCaseInsensitive) == kCFCompareEqualTo)
                    valid = result = true;
            for (const char* no : {"NO", "false", "0"})
                if (CFStringCompare(static_cast<CFStringRef>(value),
                                    __CFStringMakeConstantString(no),
                                    kCFCompareCaseInsensitive) == kCFCompareEqualTo)
                    valid = true;
        }
        if (value)
            CFRelease(value);
        if (keyExistsAndHasValidFormat)
            *keyExistsAndHasValidFormat = valid;
        return result;
    }

    CFIndex CFPreferencesGetAppIntegerValue(CFStringRef key, CFStringRef applicationID,
                                            Boolean* keyExistsAndHasValidFormat)
    {
        bool valid = false;
        CFIndex result = 0;
        CFPropertyListRef value = CFPreferencesCopyAppValue(key, applicationID);
        if (cf::isType(value, cf::kNumberTypeID))
        {
            valid = true;
            CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberCFIndexType, &result);
        }
        else if (cf::isType(value, cf::kStringTypeID))
        {
            const std::string text = cf::utf8OrEmpty(static_cast<CFStringRef>(value));
            char* end = nullptr;
            errno = 0;
            const long parsed = std::strtol(text.c_str(), &end, 10);
            if (!text.empty() && end && *end == '\0' && errno == 0)
            {
                valid = true;
                result = parsed;
            }
        }
        if (value)
            CFRelease(value);
        if (keyExistsAndHasValidFormat)
            *keyExistsAndHasValidFormat = valid;
        return result;
    }

    void CFPreferencesSetAppValue(CFStringRef key, CFPropertyListRef value,
                                  CFStringRef applicationID)
    {
        CFPreferencesSetValue(key, value, applicationID, kCFPreferencesCurrentUser,
                              kCFPreferencesAnyHost);
    }

    Boolean CFPreferencesAppSynchronize(CFStringRef applicationID)
    {
        return CFPreferencesSynchronize(applicationID, kCFPreferencesCurrentUser,
                                        kCFPreferencesAnyHost);
    }

} // extern "C"
