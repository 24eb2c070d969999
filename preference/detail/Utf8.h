#pragma once

#include <preference/preference_export.h>

#include <cstddef>
#include <string>

namespace Preference
{
namespace detail
{

// UTF-8 is the encoding inside the stores. Both throw std::range_error for text
// that cannot be converted.
//
// Not part of the library's interface: this header is never installed. The
// functions are exported only so that the file-store library, built beside this
// one, converts text exactly as the settings stores do without a copy of its own.
PREFERENCE_EXPORT std::string ToUtf8(const std::wstring& text);
PREFERENCE_EXPORT std::wstring FromUtf8(const char* text, std::size_t length);
inline std::wstring FromUtf8(const std::string& text)
{
    return FromUtf8(text.data(), text.size());
}

} // namespace detail
} // namespace Preference
