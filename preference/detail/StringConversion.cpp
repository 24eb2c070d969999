#include "StringConversion.h"

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace Preference
{
namespace detail
{

CFStringPtr ToCFString(const std::string& utf8)
{
    return CFStringPtr(
        CFStringCreateWithCString(kCFAllocatorDefault, utf8.c_str(), kCFStringEncodingUTF8));
}

CFStringPtr ToCFString(const std::wstring& text)
{
    // Straight to UTF-16, the form CoreFoundation keeps: the same checks as
    // ToUtf8, without making the UTF-8 text first.
    // Names and most values are short: they need no buffer from the heap.
    UniChar small[128];
    std::vector<UniChar> large;
    UniChar* units = small;
    if (2 * text.size() > sizeof small / sizeof small[0])
    {
        large.resize(2 * text.size());
        units = large.data();
    }
    std::size_t count = 0;
    for (const wchar_t character : text)
    {
        const auto c = static_cast<std::uint32_t>(character);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            throw std::range_error("wstring_convert: to_bytes error");
        if (c < 0x10000)
            units[count++] = static_cast<UniChar>(c);
        else
        {
            units[count++] = static_cast<UniChar>(0xD800 + ((c - 0x10000) >> 10));
            units[count++] = static_cast<UniChar>(0xDC00 + ((c - 0x10000) & 0x3FF));
        }
    }
    return CFStringPtr(
        CFStringCreateWithCharacters(kCFAllocatorDefault, units, static_cast<CFIndex>(count)));
}

std::wstring ToWideString(CFStringRef string)
{
    std::wstring text;
    AssignWideString(string, text);
    return text;
}

void AssignWideString(CFStringRef string, std::wstring& text)
{
    text.clear();
    if (!string)
        return;
    // From UTF-16, the form CoreFoundation keeps, pairing surrogates; a lone one
    // cannot be a wide character.
    const CFIndex length = CFStringGetLength(string);
    UniChar small[128];
    std::vector<UniChar> large;
    UniChar* units = small;
    if (length > static_cast<CFIndex>(sizeof small / sizeof small[0]))
    {
        large.resize(static_cast<std::size_t>(length));
        units = large.data();
    }
    CFStringGetCharacters(string, CFRangeMake(0, length), units);
    text.reserve(static_cast<std::size_t>(length));
    for (CFIndex i = 0; i < length; ++i)
    {
        const std::uint32_t unit = units[i];
        if (unit < 0xD800 || unit > 0xDFFF)
            text += static_cast<wchar_t>(unit);
        else if (unit <= 0xDBFF && i + 1 < length && units[i + 1] >= 0xDC00 &&
                 units[i + 1] <= 0xDFFF)
            text += static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (units[++i] - 0xDC00));
        else
            throw std::range_error("wstring_convert: from_bytes error");
    }
}

} // namespace detail
} // namespace Preference
