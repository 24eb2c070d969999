#include "StringConversion.h"

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
    return ToCFString(ToUtf8(text));
}

std::wstring ToWideString(CFStringRef string)
{
    if (!string)
        return std::wstring();
    if (const char* direct = CFStringGetCStringPtr(string, kCFStringEncodingUTF8))
        return FromUtf8(direct, std::char_traits<char>::length(direct));
    const CFIndex length = CFStringGetLength(string);
    const CFIndex size = CFStringGetMaximumSizeForEncoding(length, kCFStringEncodingUTF8) + 1;
    std::vector<char> buffer(static_cast<std::size_t>(size));
    if (!CFStringGetCString(string, buffer.data(), size, kCFStringEncodingUTF8))
        throw std::range_error("wstring_convert: from_bytes error");
    return FromUtf8(buffer.data(), std::char_traits<char>::length(buffer.data()));
}

} // namespace detail
} // namespace Preference
