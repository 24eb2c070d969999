#pragma once

#include <string>

namespace PlatformTools
{

// Property-list values as Apple's `defaults read` prints them: strings as they are at the top
// level, numbers in decimal, booleans as 1 or 0, containers in the old-style text format.
class CPlistText
{
public:
    // node is a libplist plist_t.
    static std::string format(void* node);
    // Reads an XML or binary property list; returns null (plist_t) when the file is missing or
    // holds none. Throws CToolError when it is no regular file or larger than a few MB.
    static void* readFile(const std::string& sPath);

private:
    static std::string formatNested(void* node, int indent);
    static std::string quoted(const std::string& sText);
};

} // namespace PlatformTools
