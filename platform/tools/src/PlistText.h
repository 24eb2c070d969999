#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <string>

namespace PlatformTools
{

// Property-list values as Apple's `defaults read` prints them: strings as they are at the top
// level, numbers in decimal, booleans as 1 or 0, containers in the old-style text format.
class CPlistText
{
public:
    static std::string format(CFPropertyListRef value);
    // Reads a property list as CoreFoundation does (XML in any encoding it reads, or binary);
    // returns null when the file is missing or holds none, else a list the caller releases.
    // Throws CToolError when it is no regular file or larger than a few MB.
    static CFPropertyListRef readFile(const std::string& sPath);

private:
    static std::string formatNested(CFPropertyListRef value, int indent);
    static std::string quoted(const std::string& sText);
};

} // namespace PlatformTools
