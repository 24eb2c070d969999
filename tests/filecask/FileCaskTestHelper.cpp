// Runs file-lock and store operations in a process of its own, for the tests
// that need real competing processes. Reports on standard output, line by line.
#include <filecask/FileLocker.h>

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
} // namespace

int main(int argc, char** argv)
{
    if (argc < 3)
        return 64;
    const std::string command = argv[1];
    if (command == "lock")
        return lockFile(argv[2], argc > 3 && std::string(argv[3]) == "try0");
    return 64;
}
