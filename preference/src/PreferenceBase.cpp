#include <preference/PreferenceBase.h>

#include "preference/detail/StringConversion.h"

namespace Preference
{
namespace
{

using detail::ToCFString;
using detail::ToWideString;

void AppendNames(const std::vector<std::wstring>& names, std::vector<CFStringPtr>& result)
{
    for (const std::wstring& name : names)
        result.push_back(ToCFString(name));
}

} // namespace

PreferenceBase::PreferenceBase() = default;

PreferenceBase::~PreferenceBase() = default;

bool PreferenceBase::Write(CFStringRef key, CFStringRef name, CFStringRef value)
{
    return Write(ToWideString(key), ToWideString(name), ToWideString(value));
}

bool PreferenceBase::Read(CFStringRef key, CFStringRef name, CFStringPtr& value,
                          CFStringRef defaultValue)
{
    std::wstring text;
    const bool result =
        Read(ToWideString(key), ToWideString(name), text, ToWideString(defaultValue));
    value = ToCFString(text);
    return result;
}

bool PreferenceBase::Write(CFStringRef key, CFStringRef name, int value)
{
    return Write(ToWideString(key), ToWideString(name), value);
}

bool PreferenceBase::Read(CFStringRef key, CFStringRef name, int& value, int defaultValue)
{
    return Read(ToWideString(key), ToWideString(name), value, defaultValue);
}

bool PreferenceBase::DeleteValue(CFStringRef key, CFStringRef name)
{
    return DeleteValue(ToWideString(key), ToWideString(name));
}

bool PreferenceBase::DeleteKey(CFStringRef key)
{
    return DeleteKey(ToWideString(key));
}

bool PreferenceBase::DeleteEmptyKey(CFStringRef key)
{
    return DeleteEmptyKey(ToWideString(key));
}

void PreferenceBase::ListKeys(CFStringRef key, std::vector<CFStringPtr>& names)
{
    std::vector<std::wstring> wideNames;
    ListKeys(ToWideString(key), wideNames);
    AppendNames(wideNames, names);
}

void PreferenceBase::ListValues(CFStringRef key, std::vector<CFStringPtr>& names)
{
    std::vector<std::wstring> wideNames;
    ListValues(ToWideString(key), wideNames);
    AppendNames(wideNames, names);
}

void PreferenceBase::ListKeys(CFStringRef key, std::vector<CFStringPtr>& names, CFStringRef pattern)
{
    std::vector<std::wstring> wideNames;
    ListKeys(ToWideString(key), wideNames, ToWideString(pattern));
    AppendNames(wideNames, names);
}

void PreferenceBase::ListValues(CFStringRef key, std::vector<CFStringPtr>& names,
                                CFStringRef pattern)
{
    std::vector<std::wstring> wideNames;
    ListValues(ToWideString(key), wideNames, ToWideString(pattern));
    AppendNames(wideNames, names);
}

bool PreferenceBase::TestWrite(CFStringRef key)
{
    return TestWrite(ToWideString(key));
}

} // namespace Preference
