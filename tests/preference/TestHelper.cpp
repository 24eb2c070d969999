// Runs one side of the cross-process tests:
//   write <application id> <name prefix> <count>
//       writes <count> values named <prefix><i> under "Shared\Values" of the
//       current user's domain through PlistStore, one locked write each;
//   legacy-write <directory> <application id> <name prefix> <count>
//       the same through LegacyPlistStore;
//   probe <file>
//       prints "busy" when another process holds the file's lock, else "free";
//   add plist <application id> <count> [reload] | add legacy <directory> <application id> <count>
//       adds 1 to the integer "Counter"/"value" count times, each time reading
//       and writing inside a scoped lock of its own, asking again when the lock
//       is refused; with "reload" as a program does it: one lock attempt, then
//       Reload, Read and Write under it. Says on standard error which step failed;
//   churn <directory> <application id>
//       says "ready", then rewrites "Churn" through LegacyPlistStore in locks
//       of its own with values of changing size until it is killed;
//   hold <file>
//       takes an exclusive advisory lock on the file, prints "locked" and keeps
//       it until its standard input closes.
#include <preference/LegacyPlistStore.h>
#include <preference/PlistStore.h>

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace
{

Preference::CFStringPtr CFString(const char* text)
{
    return Preference::CFStringPtr(
        CFStringCreateWithCString(kCFAllocatorDefault, text, kCFStringEncodingUTF8));
}

int WriteValues(Preference::PreferenceBase& store, const char* prefix, int count)
{
    const std::string text(prefix);
    const std::wstring name(text.begin(), text.end());
    for (int i = 0; i < count; ++i)
        if (!store.Write(L"Shared\\Values", name + std::to_wstring(i), i))
        {
            std::fprintf(stderr, "write %d of %s failed\n", i, prefix);
            return 1;
        }
    return 0;
}

int AddToCounter(Preference::PreferenceBase& store, int count, bool reload = false)
{
    for (int i = 0; i < count; ++i)
    {
        // The lock waits one second at most; under load three other
        // processes may hold it longer than that between them, so ask again.
        auto lock = store.GetScopedLock();
        for (int attempt = 0; !reload && attempt < 30 && !store.IsLocked(); ++attempt)
            lock = store.GetScopedLock();
        if (!store.IsLocked())
        {
            std::fprintf(stderr, "increment %d: no lock\n", i);
            return 3;
        }
        if (reload && !store.Reload())
        {
            std::fprintf(stderr, "increment %d: Reload failed\n", i);
            return 5;
        }
        int value = 0;
        store.Read(L"Counter", L"value", value, 0);
        if (!store.Write(L"Counter", L"value", value + 1))
        {
            std::fprintf(stderr, "increment %d: Write failed\n", i);
            return 4;
        }
    }
    return 0;
}

int Churn(Preference::PreferenceBase& store)
{
    std::printf("ready\n");
    std::fflush(stdout);
    for (unsigned int i = 0;; ++i)
    {
        const auto lock = store.GetScopedLock();
        if (!store.IsLocked())
            return 3;
        store.Write(L"Churn", L"text", std::wstring(50 + (i * 7919u) % 6000u, L'a' + i % 26));
        store.Write(L"Churn", L"round", static_cast<int>(i));
    }
}

int Probe(const char* path)
{
    const int file = open(path, O_RDONLY);
    if (file < 0)
    {
        std::perror(path);
        return 1;
    }
    std::printf(flock(file, LOCK_EX | LOCK_NB) == 0 ? "free\n" : "busy\n");
    close(file);
    return 0;
}

int Hold(const char* path)
{
    const int file = open(path, O_RDWR | O_CREAT, 0644);
    if (file < 0 || flock(file, LOCK_EX) != 0)
    {
        std::perror(path);
        return 1;
    }
    std::printf("locked\n");
    std::fflush(stdout);
    char c;
    while (read(0, &c, 1) > 0)
    {
    }
    close(file);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "write" && argc == 5)
    {
        Preference::PlistStore store(CFString(argv[2]).get(), kCFPreferencesCurrentUser,
                                     kCFPreferencesAnyHost);
        return WriteValues(store, argv[3], std::stoi(argv[4]));
    }
    if (command == "legacy-write" && argc == 6)
    {
        Preference::LegacyPlistStore store(CFString(argv[2]).get(), CFString(argv[3]).get());
        return WriteValues(store, argv[4], std::stoi(argv[5]));
    }
    if (command == "add" && (argc == 5 || argc == 6) && std::string(argv[2]) == "plist")
    {
        Preference::PlistStore store(CFString(argv[3]).get(), kCFPreferencesCurrentUser,
                                     kCFPreferencesAnyHost);
        return AddToCounter(store, std::stoi(argv[4]),
                            argc == 6 && std::string(argv[5]) == "reload");
    }
    if (command == "add" && argc == 6 && std::string(argv[2]) == "legacy")
    {
        Preference::LegacyPlistStore store(CFString(argv[3]).get(), CFString(argv[4]).get());
        return AddToCounter(store, std::stoi(argv[5]));
    }
    if (command == "churn" && argc == 4)
    {
        Preference::LegacyPlistStore store(CFString(argv[2]).get(), CFString(argv[3]).get());
        return Churn(store);
    }
    if (command == "probe" && argc == 3)
        return Probe(argv[2]);
    if (command == "hold" && argc == 3)
        return Hold(argv[2]);
    std::fprintf(stderr, "usage: %s write|legacy-write|probe|hold ...\n", argv[0]);
    return 2;
}
