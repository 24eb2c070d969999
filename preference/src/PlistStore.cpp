#include <preference/PlistStore.h>

#include "preference/detail/PlistStore_pimpl.h"

#include <boost/make_shared.hpp>

namespace Preference
{
namespace
{

// A null string stays null; the store built from it reports it.
CFStringRef CopyOrNull(CFStringRef string)
{
    return string ? CFStringCreateCopy(kCFAllocatorDefault, string) : nullptr;
}

} // namespace

PlistStore::PlistStore(CFStringRef applicationId, CFStringRef user, CFStringRef host)
    : PreferenceBaseDecorator(
          boost::make_shared<detail::PlistStore_pimpl>(applicationId, user, host))
{
}

PlistStore::~PlistStore() = default;

PreferenceFactory PlistStore::GetFactory(CFStringRef applicationId, CFStringRef user,
                                         CFStringRef host)
{
    const CFStringPtr id(CopyOrNull(applicationId));
    const CFStringPtr userCopy(CopyOrNull(user));
    const CFStringPtr hostCopy(CopyOrNull(host));
    return [id, userCopy, hostCopy]() { return Create(id, userCopy, hostCopy); };
}

boost::shared_ptr<PreferenceBase> Create(const CFStringPtr& applicationId, const CFStringPtr& user,
                                         const CFStringPtr& host)
{
    return boost::make_shared<PlistStore>(applicationId.get(), user.get(), host.get());
}

} // namespace Preference
