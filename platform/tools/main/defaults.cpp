// defaults: reads values from property-list files as Apple's `defaults read` does.
#include "platform/tools/src/PlistText.h"

#include <cstdlib>
#include <iostream>
#include <string>
#include <sys/stat.h>

using namespace PlatformTools;

namespace
{
// A path names a file with or without its ".plist"; a bare domain lives in the user's
// preferences folder.
std::string fileForDomain(const std::string& sDomain)
{
    if (sDomain.find('/') == std::string::npos)
    {
        const char* home = std::getenv("HOME");
        return std::string(home ? home : "") + "/Library/Preferences/" + sDomain + ".plist";
    }
    const std::string sSuffix = ".plist";
    struct stat st;
    if (sDomain.size() > sSuffix.size() &&
        sDomain.compare(sDomain.size() - sSuffix.size(), sSuffix.size(), sSuffix) == 0 &&
        ::stat(sDomain.c_str(), &st) == 0)
        return sDomain;
    return sDomain + sSuffix;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 3 || argc > 4 || std::string(argv[1]) != "read")
    {
        std::cerr << "usage: defaults read DOMAIN|PATH [KEY]\n";
        return 1;
    }
    const std::string sDomain = argv[2];
    CFPropertyListRef root = nullptr;
    try
    {
        root = CPlistText::readFile(fileForDomain(sDomain));
    }
    catch (const std::exception& error)
    {
        std::cerr << "defaults: " << error.what() << '\n';
        return 1;
    }
    CFPropertyListRef value = root;
    if (root && argc == 4)
    {
        CFStringRef key = CFStringCreateWithCString(nullptr, argv[3], kCFStringEncodingUTF8);
        value = key && CFGetTypeID(root) == CFDictionaryGetTypeID()
                    ? CFDictionaryGetValue(static_cast<CFDictionaryRef>(root), key)
                    : nullptr;
        if (key)
            CFRelease(key);
    }
    if (!value)
    {
        if (argc == 4)
            std::cerr << "\nThe domain/default pair of (" << sDomain << ", " << argv[3]
                      << ") does not exist\n";
        else
            std::cerr << "\nDomain " << sDomain << " does not exist\n";
        if (root)
            CFRelease(root);
        return 1;
    }
    std::cout << CPlistText::format(value) << '\n';
    CFRelease(root);
    std::cout.flush();
    return std::cout ? 0 : 1;
}
