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
// killed mid-write leaves the previous file intact. A file that exists but
// cannot be read (damaged, or in a form we do not read) reads as empty and is
// never replaced: synchronising fails, and changes stay pending until the file
// reads again. Only a missing or empty file counts as an empty domain.
#include "Internal.h"

#include <utils/OwnLink.h>

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
    // The file's bytes when values were last taken from it or written to it:
    // while it still holds them, nothing need be parsed. Compared whole, since
    // a file's status (size, times, inode) can repeat for other content.
    bool seen = false;
    std::vector<uint8_t> content;
    // Whether those bytes are a domain we can read; a domain that is not is
    // never written.
    bool readable = true;
};

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
    // The program does not change while it runs.
    static const std::string name = []
    {
        char path[4096];
        ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
        if (n > 0)
        {
            path[n] = '\0';
            const char* slash = std::strrchr(path, '/');
            return std::string(slash ? slash + 1 : path);
        }
        return std::string(program_invocation_short_name);
    }();
    return name;
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

// The file a domain's path stands for: the path itself, or the file the
// user's own link there names. A link another user owns is refused, so that
// nobody can plant one to have us read or replace some other file.
bool domainTarget(const std::string& path, std::string& target)
{
    std::string problem;
    if (orbilib::utils::followOwnLinks(path, target, problem))
        return true;
    cf::warn("preferences file " + path + ": " + problem);
    return false;
}

// The file's bytes, and whether it could be read at all (a missing file can).
FileState readDomainBytes(const std::string& path, std::vector<uint8_t>& bytes)
{
    bytes.clear();
    std::string target;
    if (!domainTarget(path, target))
        return FileState::Unreadable;
    int err = 0;
    if (cf::readWholeFile(target, bytes, err))
        return FileState::Read;
    bytes.clear();
    if (err == ENOENT)
        return FileState::Missing;
    cf::warn("cannot read preferences file " + path + ": " + std::strerror(err));
    return FileState::Unreadable;
}

// The root dictionary of the bytes as a mutable dictionary; empty unless the
// state stays Read. An empty file is an empty domain.
CFMutableDictionaryRef parseDomain(const std::string& path, const std::vector<uint8_t>& bytes,
                                   FileState& state)
{
    if (state != FileState::Read || bytes.empty())
        return newDictionary();
    CFDataRef data = CFDataCreate(nullptr, bytes.data(), static_cast<CFIndex>(bytes.size()));
    CFStringRef problem = nullptr;
    CFPropertyListRef root =
        CFPropertyListCreateFromXMLData(nullptr, data, kCFPropertyListImmutable, &problem);
    CFRelease(data);
    if (!root || CFGetTypeID(root) != CFDictionaryGetTypeID())
    {
        cf::warn(
            "preferences file " + path + " cannot be read and is left as it is: " +
            (problem ? cf::utf8OrEmpty(problem) : std::string("its root is not a dictionary")));
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
    return values;
}

// Takes the domain's values from the file's bytes (unless they are the bytes
// already taken) and returns the file's state.
FileState takeFromFile(const std::string& path, Domain& domain, std::vector<uint8_t> bytes,
                       FileState state)
{
    if (state == FileState::Unreadable)
    {
        domain.seen = false;
        return state;
    }
    if (domain.seen && domain.values && bytes == domain.content)
        return domain.readable ? FileState::Read : FileState::Damaged;
    CFMutableDictionaryRef values = parseDomain(path, bytes, state);
    if (domain.values)
        CFRelease(domain.values);
    domain.values = values;
    domain.content = std::move(bytes);
    domain.seen = true;
    domain.readable = state != FileState::Damaged;
    return state;
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

Domain& loadDomain(Domain& domain, const Location& location)
{
    if (!domain.loaded)
    {
        std::vector<uint8_t> bytes;
        const FileState state = readDomainBytes(location.path, bytes);
        takeFromFile(location.path, domain, std::move(bytes), state);
        if (!domain.values)
            domain.values = newDictionary();
        if (domain.pending)
            applyPending(domain.values, domain.pending);
        domain.loaded = true;
    }
    return domain;
}

Domain& domainAt(const Location& location)
{
    return loadDomain(domains()[location.path], location);
}

// The domain last looked up, so that a run of reads from one store does not
// work out its file each time: valid while the same three strings (retained
// here, so their addresses cannot be reused) ask for it and the environment
// that places the files is unchanged. Used under the cache lock.
class LastDomain
{
public:
    Domain* find(CFStringRef applicationID, CFStringRef userName, CFStringRef hostName)
    {
        if (!m_domain || applicationID != m_ids[0] || userName != m_ids[1] ||
            hostName != m_ids[2] || !sameEnvironment())
        {
            Location found;
            if (!locate(applicationID, userName, hostName, found))
                return nullptr;
            remember(applicationID, userName, hostName, found);
        }
        return &loadDomain(*m_domain, m_location);
    }

private:
    static constexpr const char* kPlaces[] = {"CFFIXED_USER_HOME", "XDG_CONFIG_HOME", "HOME",
                                              "TESSARY_ANY_USER_PREFERENCES"};
    static constexpr size_t kCount = sizeof kPlaces / sizeof kPlaces[0];

    // The environment as the C library holds it: an array of "NAME=value"
    // entries. setenv, putenv and unsetenv replace an entry's pointer, or
    // add or remove entries, which moves the last one; so the array, its
    // length, its last entry and the entries of the variables that place the
    // files tell a change without looking up each variable again.
    struct Fingerprint
    {
        char** array = nullptr;
        size_t length = 0;
        const char* last = nullptr;
        size_t at[kCount] = {}; // where each variable's entry is; length when absent
        const char* entry[kCount] = {};
    };

    static Fingerprint fingerprint()
    {
        Fingerprint print;
        print.array = environ;
        for (; environ && environ[print.length]; ++print.length)
            for (size_t i = 0; i < kCount; ++i)
            {
                const size_t n = std::strlen(kPlaces[i]);
                if (std::strncmp(environ[print.length], kPlaces[i], n) == 0 &&
                    environ[print.length][n] == '=')
                {
                    print.at[i] = print.length;
                    print.entry[i] = environ[print.length];
                }
            }
        for (size_t i = 0; i < kCount; ++i)
            if (!print.entry[i])
                print.at[i] = print.length;
        print.last = print.length ? environ[print.length - 1] : nullptr;
        return print;
    }

    bool sameEnvironment() const
    {
        const Fingerprint& was = m_environment;
        if (environ != was.array || !environ || environ[was.length] != nullptr ||
            (was.length && environ[was.length - 1] != was.last))
            return false;
        // As many entries, the last one unmoved: none was added or removed, so
        // a variable's entry is where it was unless setenv replaced it.
        for (size_t i = 0; i < kCount; ++i)
            if (was.entry[i] && environ[was.at[i]] != was.entry[i])
                return false;
        return true;
    }

    void remember(CFStringRef applicationID, CFStringRef userName, CFStringRef hostName,
                  const Location& location)
    {
        const CFStringRef ids[] = {applicationID, userName, hostName};
        for (size_t i = 0; i < 3; ++i)
        {
            CFRetain(ids[i]);
            if (m_ids[i])
                CFRelease(m_ids[i]);
            m_ids[i] = ids[i];
        }
        m_environment = fingerprint();
        m_location = location;
        m_domain = &domains()[location.path];
    }

    CFStringRef m_ids[3] = {nullptr, nullptr, nullptr};
    Fingerprint m_environment;
    Location m_location;
    Domain* m_domain = nullptr;
};

LastDomain& lastDomain()
{
    // Never destroyed, like the domains it points into.
    static auto* last = new LastDomain;
    return *last;
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
    // The user's own link stays; the file it names is read, locked and replaced.
    std::string path;
    if (!domainTarget(location.path, path))
        return false;
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
    // Our values are the file as last read or written plus the pending
    // changes: while the file still holds those bytes, it need not be parsed.
    std::vector<uint8_t> bytes;
    const FileState found = readDomainBytes(path, bytes);
    const FileState state = takeFromFile(path, domain, std::move(bytes), found);
    if (state == FileState::Unreadable || state == FileState::Damaged)
    {
        // What could not be read is not replaced; the changes wait for a later attempt.
        flock(lockFd, LOCK_UN);
        close(lockFd);
        applyPending(domain.values, domain.pending);
        cf::warn("the changes to " + path + " are kept pending: the file cannot be read");
        return false;
    }
    CFMutableDictionaryRef merged = CFDictionaryCreateMutableCopy(nullptr, 0, domain.values);
    applyPending(merged, domain.pending);
    CFErrorRef error = nullptr;
    CFDataRef data =
        CFPropertyListCreateData(nullptr, merged, kCFPropertyListXMLFormat_v1_0, 0, &error);
    int err = 0;
    const bool ok = data && cf::writeFileAtomically(path, CFDataGetBytePtr(data),
                                                    static_cast<size_t>(CFDataGetLength(data)),
                                                    location.fileMode, err);
    if (!ok)
        cf::warn("cannot write preferences file " + path + ": " +
                 (error ? cf::describe(error) : std::string(std::strerror(err))));
    else
    {
        const UInt8* written = CFDataGetBytePtr(data);
        domain.content.assign(written, written + CFDataGetLength(data));
        domain.seen = true;
        domain.readable = true;
    }
    if (data)
        CFRelease(data);
    if (error)
        CFRelease(error);
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
        std::vector<uint8_t> bytes;
        const FileState found = readDomainBytes(location.path, bytes);
        const FileState state = takeFromFile(location.path, domain, std::move(bytes), found);
        if (!domain.values)
            domain.values = newDictionary();
        ok = state == FileState::Read || state == FileState::Missing;
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
        if (!validKey(key, "CFPreferencesCopyValue"))
            return nullptr;
        CacheLock lock;
        Domain* domain = lastDomain().find(applicationID, userName, hostName);
        if (!domain)
            return nullptr;
        const void* value = CFDictionaryGetValue(domain->values, key);
        return value ? CFRetain(value) : nullptr;
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
