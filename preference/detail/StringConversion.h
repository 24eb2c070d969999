#pragma once

#include "Utf8.h"

#include <preference/CFStringPtr.h>

#include <string>

namespace Preference
{
namespace detail
{

CFStringPtr ToCFString(const std::wstring& text);
CFStringPtr ToCFString(const std::string& utf8);
// A null string converts to the empty string.
std::wstring ToWideString(CFStringRef string);
// The same into text, reusing its storage.
void AssignWideString(CFStringRef string, std::wstring& text);

} // namespace detail
} // namespace Preference
