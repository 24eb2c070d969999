#include <preference/PlistStore.h>

#include "../detail/PlistStore_pimpl.h"

#include <boost/make_shared.hpp>

namespace Preference
{

PlistStore::PlistStore(CFStringRef applicationId, CFStringRef user, CFStringRef host)
    : PreferenceBaseDecorator(
          boost::make_shared<detail::PlistStore_pimpl>(applicationId, user, host))
{
}

PlistStore::~PlistStore() = default;

PreferenceFactory PlistStore::GetFactory(CFStringRef applicationId, CFStringRef user,
                                         CFStringRef host)
{
    const CFStringPtr id(CFStringCreateCopy(kCFAllocatorDefault, applicationId));
    const CFStringPtr userCopy(CFStringCreateCopy(kCFAllocatorDefault, user));
    const CFStringPtr hostCopy(CFStringCreateCopy(kCFAllocatorDefault, host));
    return [id, userCopy, hostCopy]() { return Create(id, userCopy, hostCopy); };
}

boost::shared_ptr<PreferenceBase> Create(const CFStringPtr& applicationId, const CFStringPtr& user,
                                         const CFStringPtr& host)
{
    return boost::make_shared<PlistStore>(applicationId.get(), user.get(), host.get());
}

} // namespace Preference
