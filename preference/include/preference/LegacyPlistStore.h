#pragma once

#include <preference/CFStringPtr.h>
#include <preference/PreferenceBaseDecorator.h>
#include <preference/PreferenceFactory.h>
#include <preference/preference_export.h>

#include <CoreFoundation/CoreFoundation.h>

namespace Preference
{

// A store kept in the property-list file "<directory>/<application id>.plist",
// locked against other processes while its counted lock is held. Every change
// is written to the file at once.
class PREFERENCE_EXPORT LegacyPlistStore : public PreferenceBaseDecorator
{
public:
    LegacyPlistStore(CFStringRef directory, CFStringRef applicationId);
    ~LegacyPlistStore() override;

    // A factory that builds a new LegacyPlistStore for copies of the two strings.
    static PreferenceFactory GetFactory(CFStringRef directory, CFStringRef applicationId);
};

// A new LegacyPlistStore for the file.
PREFERENCE_EXPORT boost::shared_ptr<PreferenceBase> Create(const CFStringPtr& directory,
                                                           const CFStringPtr& applicationId);

} // namespace Preference
