#pragma once

#include <string>

namespace Preference
{
namespace detail
{

// Conversions between the interface's wide strings and the UTF-8 kept inside.
// Both throw std::range_error on text that cannot be converted.
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

} // namespace detail
} // namespace Preference
