#include <preference/PreferenceSelector.h>

#include "preference/detail/PreferenceSelector_pimpl.h"

namespace Preference
{

PreferenceSelector::PreferenceSelector() : m_pImpl(new detail::PreferenceSelector_pimpl) {}

PreferenceSelector::~PreferenceSelector()
{
    delete m_pImpl;
}

boost::shared_ptr<PreferenceBase> PreferenceSelector::Get(int scope)
{
    return m_pImpl->Get(scope);
}

PreferenceFactory PreferenceSelector::GetFactory(int scope)
{
    return m_pImpl->GetFactory(scope);
}

void PreferenceSelector::SetFactory(int scope, PreferenceFactory factory)
{
    m_pImpl->SetFactory(scope, std::move(factory));
}

void PreferenceSelector::ReloadAll()
{
    m_pImpl->ReloadAll();
}

} // namespace Preference
