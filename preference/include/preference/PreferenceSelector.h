#pragma once

#include <preference/PreferenceFactory.h>
#include <preference/preference_export.h>

#include <boost/shared_ptr.hpp>

namespace Preference
{

class PreferenceBase;

namespace detail
{
class PreferenceSelector_pimpl;
}

// Maps scope numbers to store factories and gives each thread its own store
// instance per scope, rebuilt when the scope's factory is replaced.
class PREFERENCE_EXPORT PreferenceSelector
{
public:
    PreferenceSelector();
    virtual ~PreferenceSelector();

    PreferenceSelector(const PreferenceSelector&) = delete;
    PreferenceSelector& operator=(const PreferenceSelector&) = delete;

    // The calling thread's store for the scope; scope 0's when the scope has no
    // factory; empty when neither has one.
    boost::shared_ptr<PreferenceBase> Get(int scope);
    // The factory in force for the scope, or scope 0's; may be empty.
    PreferenceFactory GetFactory(int scope);
    // Every thread builds a new store from it at its next Get for the scope.
    void SetFactory(int scope, PreferenceFactory factory);
    // Every thread reloads the stores it holds at its next Get.
    void ReloadAll();

private:
    detail::PreferenceSelector_pimpl* m_pImpl;
};

} // namespace Preference
