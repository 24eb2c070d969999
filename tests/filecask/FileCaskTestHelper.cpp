// Runs file-lock and store operations in a process of its own, for the tests
// that need real competing processes. Reports on standard output, line by line.
#include <filecask/FileCask.h>
#include <filecask/FileLocker.h>
#include <filecask/SimpleFileCask.h>
#include <filecask/XmlStore.h>

#include <boost/make_shared.hpp>

#include <tinyxml.h>

#include <cstdlib>
#include <iostream>
#include <string>

namespace
{
std::wstring widen(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

// lock PATH [try0]: takes the file lock (with TryLock(0) when asked), says
// "locked", and keeps it until a line arrives on standard input.
int lockFile(const std::string& path, bool tryZero)
{
    Preference::FileLocker locker(widen(path));
    if (!(tryZero ? locker.TryLock(0) : locker.Lock()))
        return 2;
    std::cout << "locked" << std::endl;
    std::string line;
    std::getline(std::cin, line);
    locker.Unlock();
    std::cout << "unlocked" << std::endl;
    return 0;
}
// Whether the record file, read as it is now, holds a valid document.
bool fileParses(const std::string& path)
{
    Preference::FileCask raw(Preference::FileCask::PrivateAccess, widen(path));
    if (!raw.Load())
        return false;
    TiXmlDocument document;
    document.Parse(raw.GetData(0).c_str());
    return !document.Error() && document.RootElement() &&
           document.RootElement()->FirstChildElement("Preferences");
}

// add PATH M: adds 1 to the integer "Counter"/"value" M times, each time in a
// scoped lock of its own, checking under the lock that the file parses.
int addToCounter(const std::string& path, int times)
{
    auto cask =
        boost::make_shared<Preference::FileCask>(Preference::FileCask::PrivateAccess, widen(path));
    Preference::XmlStore store(cask, 0, false);
    for (int i = 0; i < times; ++i)
    {
        auto lock = store.GetScopedLock();
        if (!store.IsLocked())
            return 3;
        if (!fileParses(path))
            return 4;
        int value = 0;
        if (!store.Read(L"Counter", L"value", value, 0))
            return 5;
        if (!store.Write(L"Counter", L"value", value + 1))
            return 6;
    }
    return 0;
}

boost::shared_ptr<Preference::StreamStore> makeCask(const std::string& kind,
                                                    const std::string& path)
{
    if (kind == "simple")
        return boost::make_shared<Preference::SimpleFileCask>(Preference::FileCask::PrivateAccess,
                                                              widen(path));
    return boost::make_shared<Preference::FileCask>(Preference::FileCask::PrivateAccess,
                                                    widen(path));
}

// shared-write PATH: writes "K"/"v" = "by another user" into a shared store.
int sharedWrite(const std::string& path)
{
    Preference::XmlStore store(
        boost::make_shared<Preference::FileCask>(Preference::FileCask::SharedAccess, widen(path)),
        0, false);
    return store.Write(L"K", L"v", L"by another user") ? 0 : 1;
}

// churn cask|simple PATH: rewrites the store in scoped locks of its own, with
// values of changing size, until it is killed; says "ready" once before.
int churn(const std::string& kind, const std::string& path)
{
    Preference::XmlStore store(makeCask(kind, path), kind == "simple" ? 0 : 1, true);
    std::cout << "ready" << std::endl;
    for (unsigned int i = 0;; ++i)
    {
        auto lock = store.GetScopedLock();
        if (!store.IsLocked())
            return 3;
        store.Write(L"Churn", L"text", std::wstring(50 + (i * 7919u) % 6000u, L'a' + i % 26));
        store.Write(L"Churn", L"round", static_cast<int>(i));
    }
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return 64;
    const std::string command = argv[1];
    if (command == "add" && argc > 3)
        return addToCounter(argv[2], std::atoi(argv[3]));
    if (command == "shared-write")
        return sharedWrite(argv[2]);
    if (command == "churn")
        return churn(argv[2], argc > 3 ? argv[3] : "");
    if (command == "lock")
        return lockFile(argv[2], argc > 3 && std::string(argv[3]) == "try0");
    return 64;
}
