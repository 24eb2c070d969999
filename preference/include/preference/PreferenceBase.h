#pragma once

#include <preference/CFStringPtr.h>
#include <preference/IPreference.h>
#include <preference/preference_export.h>

#include <CoreFoundation/CoreFoundation.h>

#include <string>
#include <vector>

namespace Preference
{

// The settings-store interface: the wide-string operations plus the same
// operations on CoreFoundation strings, converted through UTF-8.
class PREFERENCE_EXPORT PreferenceBase : public detail::IPreference
{
public:
    PreferenceBase();
    ~PreferenceBase() override;

    using detail::IPreference::DeleteEmptyKey;
    using detail::IPreference::DeleteKey;
    using detail::IPreference::DeleteValue;
    using detail::IPreference::ListKeys;
    using detail::IPreference::ListValues;
    using detail::IPreference::Read;
    using detail::IPreference::TestWrite;
    using detail::IPreference::Write;

    virtual bool Write(CFStringRef key, CFStringRef name, CFStringRef value);
    // value always receives a new string: the stored text or defaultValue.
    virtual bool Read(CFStringRef key, CFStringRef name, CFStringPtr& value,
                      CFStringRef defaultValue);
    virtual bool Write(CFStringRef key, CFStringRef name, int value);
    virtual bool Read(CFStringRef key, CFStringRef name, int& value, int defaultValue);
    virtual bool DeleteValue(CFStringRef key, CFStringRef name);
    virtual bool DeleteKey(CFStringRef key);
    virtual bool DeleteEmptyKey(CFStringRef key);
    virtual void ListKeys(CFStringRef key, std::vector<CFStringPtr>& names);
    virtual void ListValues(CFStringRef key, std::vector<CFStringPtr>& names);
    virtual void ListKeys(CFStringRef key, std::vector<CFStringPtr>& names, CFStringRef pattern);
    virtual void ListValues(CFStringRef key, std::vector<CFStringPtr>& names, CFStringRef pattern);
    virtual bool TestWrite(CFStringRef key);
};

} // namespace Preference
