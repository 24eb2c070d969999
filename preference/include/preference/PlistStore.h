#pragma once

#include <preference/CFStringPtr.h>
#include <preference/PreferenceBaseDecorator.h>
#include <preference/PreferenceFactory.h>
#include <preference/preference_export.h>

#include <CoreFoundation/CoreFoundation.h>

namespace Preference
{

// A store over the CoreFoundation preferences domain of an application id, a
// user and a host. Changes reach the disk when the outermost counted lock ends.
class PREFERENCE_EXPORT PlistStore : public PreferenceBaseDecorator
{
public:
    PlistStore(CFStringRef applicationId, CFStringRef user, CFStringRef host);
    ~PlistStore() override;

    // A factory that builds a new PlistStore for copies of the three strings.
    static PreferenceFactory GetFactory(CFStringRef applicationId, CFStringRef user,
                                        CFStringRef host);
};

// A new PlistStore for the domain.
PREFERENCE_EXPORT boost::shared_ptr<PreferenceBase>
Create(const CFStringPtr& applicationId, const CFStringPtr& user, const CFStringPtr& host);

} // namespace Preference
