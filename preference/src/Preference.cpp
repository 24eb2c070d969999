#include <preference/Preference.h>

#include <preference/PlistStore.h>

#include <boost/make_shared.hpp>

#include <stdexcept>

namespace Preference
{
namespace
{

PreferenceFactory UserRegistryFactory()
{
    return PlistStore::GetFactory(CFSTR("com.ombrel.Registry"), kCFPreferencesCurrentUser,
                                  kCFPreferencesAnyHost);
}

PreferenceFactory MachineSettingsFactory()
{
    return PlistStore::GetFactory(CFSTR("com.ombrel.settings"), kCFPreferencesAnyUser,
                                  kCFPreferencesCurrentHost);
}

} // namespace

boost::shared_ptr<PreferenceSelector>& Selector()
{
    static boost::shared_ptr<PreferenceSelector> selector;
    return selector;
}

void Initialize()
{
    boost::shared_ptr<PreferenceSelector> selector = boost::make_shared<PreferenceSelector>();
    Selector().swap(selector);
    for (int scope = ScopeCurrentUser; scope <= ScopeApplication; ++scope)
        Selector()->SetFactory(scope, GetDefaultFactory(static_cast<Scope>(scope)));
}

void UnInitialize()
{
    Selector().reset();
}

boost::shared_ptr<PreferenceBase> Get(Scope scope)
{
    const boost::shared_ptr<PreferenceSelector>& selector = Selector();
    if (!selector)
        return boost::shared_ptr<PreferenceBase>();
    return selector->Get(scope);
}

PreferenceFactory GetFactory(Scope scope)
{
    const boost::shared_ptr<PreferenceSelector>& selector = Selector();
    if (!selector)
        return GetDefaultFactory(scope);
    return selector->GetFactory(scope);
}

PreferenceFactory GetDefaultFactory(Scope scope)
{
    switch (static_cast<int>(scope))
    {
    case 0:
    case 2:
    case 4:
        return UserRegistryFactory();
    case 1:
    case 3:
        return MachineSettingsFactory();
    default:
        return PreferenceFactory();
    }
}

void SetGlobalOverride(Scope scope, PreferenceFactory factory)
{
    const boost::shared_ptr<PreferenceSelector>& selector = Selector();
    if (!selector)
        throw std::logic_error(
            "Preference::SetGlobalOverride: no selector, Preference::Initialize has not run");
    selector->SetFactory(scope, std::move(factory));
}

} // namespace Preference
