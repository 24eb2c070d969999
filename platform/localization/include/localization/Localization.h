#pragma once

#include <localization/localization_export.h>

#include <memory>
#include <string>

namespace Preference
{
class PreferenceSelector;
}

namespace Localization
{
class Localizer;

// Sets up the process-wide localizer. tableName is the string table used when a
// lookup names none ("Localizable" gives <lang>.lproj/Localizable.strings).
// resourceDirectory is where the <lang>.lproj folders live; when empty, the first of
// $TESSARY_STRINGS_DIR, <executable dir>/../share/tessary/strings and the Qt resource
// path ":/strings" that exists is used. The language is read from the environment
// now. A later call replaces the localizer. Never throws; a missing or broken table
// only leaves strings untranslated.
LOCALIZATION_EXPORT void
Initialize(const std::wstring& applicationName, const std::wstring& tableName,
           const std::wstring& resourceDirectory,
           const std::shared_ptr<Preference::PreferenceSelector>& selector);

// The current localizer, or null before Initialize and after UnInitialize.
LOCALIZATION_EXPORT std::shared_ptr<Localizer> GetInstance();

// Drops the process-wide localizer; holders of a shared pointer keep theirs.
LOCALIZATION_EXPORT void UnInitialize();

} // namespace Localization
