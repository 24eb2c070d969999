#include "PlistText.h"

#include "RegularFile.h"

#include <CoreFoundation/CFKeyedArchiverUID.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/stat.h>
#include <vector>

namespace PlatformTools
{
namespace
{
// Property lists that tools read are small; a larger file is not what it claims to be.
const std::uint64_t kMaxPlistBytes = 8u * 1024 * 1024;

// CoreFoundation counts dates from 2001-01-01.
const double kAppleEpoch = 978307200.0;

// UTF-8 of a string, NUL characters included; a lone surrogate prints as U+FFFD.
std::string textOf(CFStringRef string)
{
    const CFIndex length = CFStringGetLength(string);
    std::vector<UniChar> units(static_cast<std::size_t>(length));
    CFStringGetCharacters(string, CFRangeMake(0, length), units.data());
    std::string text;
    for (std::size_t i = 0; i < units.size(); ++i)
    {
        std::uint32_t cp = units[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (units[++i] - 0xDC00);
        else if (cp >= 0xD800 && cp <= 0xDFFF)
            cp = 0xFFFD;
        if (cp < 0x80)
            text += static_cast<char>(cp);
        else if (cp < 0x800)
            text += {static_cast<char>(0xC0 | cp >> 6), static_cast<char>(0x80 | (cp & 0x3F))};
        else if (cp < 0x10000)
            text += {static_cast<char>(0xE0 | cp >> 12), static_cast<char>(0x80 | (cp >> 6 & 0x3F)),
                     static_cast<char>(0x80 | (cp & 0x3F))};
        else
            text +=
                {static_cast<char>(0xF0 | cp >> 18), static_cast<char>(0x80 | (cp >> 12 & 0x3F)),
                 static_cast<char>(0x80 | (cp >> 6 & 0x3F)), static_cast<char>(0x80 | (cp & 0x3F))};
    }
    return text;
}

std::string describe(CFTypeRef value)
{
    CFStringRef description = CFCopyDescription(value);
    const std::string text = description ? textOf(description) : std::string();
    if (description)
        CFRelease(description);
    return text;
}

std::string scalarText(CFTypeRef value, bool& bHandled)
{
    bHandled = true;
    const CFTypeID type = CFGetTypeID(value);
    if (type == CFBooleanGetTypeID())
        return CFBooleanGetValue(static_cast<CFBooleanRef>(value)) ? "1" : "0";
    if (type == CFNumberGetTypeID())
    {
        const auto number = static_cast<CFNumberRef>(value);
        if (!CFNumberIsFloatType(number))
            return describe(number); // exact, also beyond INT64_MAX
        double real = 0;
        CFNumberGetValue(number, kCFNumberFloat64Type, &real);
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.15g", real);
        if (std::strtod(buffer, nullptr) != real)
            std::snprintf(buffer, sizeof buffer, "%.17g", real);
        return buffer;
    }
    if (type == CFDateGetTypeID())
    {
        const double at = CFDateGetAbsoluteTime(static_cast<CFDateRef>(value)) + kAppleEpoch;
        const std::time_t t = static_cast<std::time_t>(at < 0 ? at - 1 : at);
        struct tm parts;
        char buffer[64] = "";
        if (gmtime_r(&t, &parts))
            std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S +0000", &parts);
        return buffer;
    }
    if (type == CFDataGetTypeID())
    {
        const auto data = static_cast<CFDataRef>(value);
        const CFIndex length = CFDataGetLength(data);
        const UInt8* bytes = CFDataGetBytePtr(data);
        std::string text = "{length = " + std::to_string(length) + ", bytes = 0x";
        static const char digits[] = "0123456789abcdef";
        for (CFIndex i = 0; i < length; ++i)
        {
            text += digits[bytes[i] >> 4];
            text += digits[bytes[i] & 0xf];
        }
        return text + "}";
    }
    if (type == _CFKeyedArchiverUIDGetTypeID())
        return std::to_string(
            _CFKeyedArchiverUIDGetValue(static_cast<CFKeyedArchiverUIDRef>(value)));
    bHandled = false;
    return std::string();
}
} // namespace

std::string CPlistText::quoted(const std::string& sText)
{
    bool bPlain = !sText.empty();
    for (unsigned char c : sText)
        if (!(std::isalnum(c) || c == '_' || c == '.' || c == '$' || c == '/' || c == ':' ||
              c == '-'))
            bPlain = false;
    if (bPlain)
        return sText;
    std::string result = "\"";
    for (char c : sText)
    {
        if (c == '"' || c == '\\')
            result += '\\';
        if (c == '\n')
        {
            result += "\\n";
            continue;
        }
        result += c;
    }
    return result + "\"";
}

std::string CPlistText::formatNested(CFPropertyListRef value, int indent)
{
    const std::string pad(static_cast<std::size_t>(indent) * 4, ' ');
    const std::string inner(static_cast<std::size_t>(indent + 1) * 4, ' ');
    const CFTypeID type = CFGetTypeID(value);
    if (type == CFStringGetTypeID())
        return quoted(textOf(static_cast<CFStringRef>(value)));
    if (type == CFArrayGetTypeID())
    {
        const auto array = static_cast<CFArrayRef>(value);
        const CFIndex count = CFArrayGetCount(array);
        if (count == 0)
            return "(\n" + pad + ")";
        std::string text = "(\n";
        for (CFIndex i = 0; i < count; ++i)
            text += inner + formatNested(CFArrayGetValueAtIndex(array, i), indent + 1) +
                    (i + 1 < count ? ",\n" : "\n");
        return text + pad + ")";
    }
    if (type == CFDictionaryGetTypeID())
    {
        const auto dict = static_cast<CFDictionaryRef>(value);
        const CFIndex count = CFDictionaryGetCount(dict);
        std::vector<const void*> keys(static_cast<std::size_t>(count)),
            values(static_cast<std::size_t>(count));
        CFDictionaryGetKeysAndValues(dict, keys.data(), values.data());
        std::string text = "{\n";
        for (std::size_t i = 0; i < keys.size(); ++i)
            text += inner + quoted(textOf(static_cast<CFStringRef>(keys[i]))) + " = " +
                    formatNested(values[i], indent + 1) + ";\n";
        return text + pad + "}";
    }
    bool bHandled = false;
    const std::string text = scalarText(value, bHandled);
    if (type == CFDateGetTypeID())
        return "\"" + text + "\"";
    return bHandled ? text : "<unknown>";
}

std::string CPlistText::format(CFPropertyListRef value)
{
    if (CFGetTypeID(value) == CFStringGetTypeID())
        return textOf(static_cast<CFStringRef>(value));
    return formatNested(value, 0);
}

CFPropertyListRef CPlistText::readFile(const std::string& sPath)
{
    struct stat st;
    if (::lstat(sPath.c_str(), &st) != 0 && errno == ENOENT)
        return nullptr;
    const std::string data = CRegularFile::read(sPath, kMaxPlistBytes);
    if (data.empty())
        return nullptr;
    CFDataRef bytes = CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(data.data()),
                                   static_cast<CFIndex>(data.size()));
    CFPropertyListRef root =
        CFPropertyListCreateWithData(nullptr, bytes, kCFPropertyListImmutable, nullptr, nullptr);
    CFRelease(bytes);
    return root;
}

} // namespace PlatformTools
