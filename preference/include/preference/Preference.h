#pragma once

#include <preference/PreferenceBase.h>
#include <preference/PreferenceFactory.h>
#include <preference/PreferenceSelector.h>
#include <preference/preference_export.h>

#include <boost/shared_ptr.hpp>

namespace Preference
{

// Store scopes; the selector keys them by these numbers.
enum Scope : int
{
    // "com.ombrel.Registry" of the current user, valid on any computer.
    ScopeCurrentUser = 0,
    // "com.ombrel.settings" of this computer, shared by all its users.
    ScopeLocalMachine = 1,
    ScopeUserSettings = 2,
    ScopeMachineSettings = 3,
    // The application's own settings (per user, like scope 0).
    ScopeApplication = 4
};

// Creates the process-wide selector with the default factories of scopes 0 to 4.
// Call once on the main thread before other threads ask for stores.
PREFERENCE_EXPORT void Initialize();
// Releases the process-wide selector; stores still held stay usable.
PREFERENCE_EXPORT void UnInitialize();
// The process-wide selector; empty before Initialize and after UnInitialize.
PREFERENCE_EXPORT boost::shared_ptr<PreferenceSelector>& Selector();
// The calling thread's store for the scope; empty before Initialize.
PREFERENCE_EXPORT boost::shared_ptr<PreferenceBase> Get(Scope scope);
// The factory in force; the default one before Initialize.
PREFERENCE_EXPORT PreferenceFactory GetFactory(Scope scope);
// A new default factory for scopes 0 to 4; empty for any other value.
PREFERENCE_EXPORT PreferenceFactory GetDefaultFactory(Scope scope);
// Installs a factory for the scope in the process-wide selector. Throws
// std::logic_error when Initialize has not run.
PREFERENCE_EXPORT void SetGlobalOverride(Scope scope, PreferenceFactory factory);

} // namespace Preference
