#include <preference/LegacyPlistStore.h>

#include "preference/detail/LegacyPlistStore_pimpl.h"

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

LegacyPlistStore::LegacyPlistStore(CFStringRef directory, CFStringRef applicationId)
    : PreferenceBaseDecorator(
          boost::make_shared<detail::LegacyPlistStore_pimpl>(directory, applicationId))
{
}

LegacyPlistStore::~LegacyPlistStore() = default;

PreferenceFactory LegacyPlistStore::GetFactory(CFStringRef directory, CFStringRef applicationId)
{
    const CFStringPtr directoryCopy(CopyOrNull(directory));
    const CFStringPtr id(CopyOrNull(applicationId));
    return [directoryCopy, id]() { return Create(directoryCopy, id); };
}

boost::shared_ptr<PreferenceBase> Create(const CFStringPtr& directory,
                                         const CFStringPtr& applicationId)
{
    return boost::make_shared<LegacyPlistStore>(directory.get(), applicationId.get());
}

} // namespace Preference
