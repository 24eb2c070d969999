#pragma once

#include <preference/CFStringPtr.h>

#include <string>

namespace Preference
{
namespace detail
{

// UTF-8 is the encoding inside the stores. Both throw std::range_error for text
// that cannot be converted.
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const char* text, std::size_t length);
inline std::wstring FromUtf8(const std::string& text)
{
    return FromUtf8(text.data(), text.size());
}

CFStringPtr ToCFString(const std::wstring& text);
CFStringPtr ToCFString(const std::string& utf8);
// A null string converts to the empty string.
std::wstring ToWideString(CFStringRef string);

} // namespace detail
} // namespace Preference
