#pragma once

#include <localization/localization_export.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Localization
{
class StringsTable;

// Looks strings up in .strings tables of the current language. Tables are read on
// first use and kept; lookups may come from any thread.
class LOCALIZATION_EXPORT Localizer
{
public:
    // searchDirectories: candidate resource directories, in order of preference; for
    // each language the first directory holding <lang>.lproj/<table>.strings wins.
    // languageCode: "en_US" form.
    Localizer(std::wstring applicationName, std::wstring defaultTableName,
              std::vector<std::wstring> searchDirectories, std::wstring languageCode);
    ~Localizer();
    Localizer(const Localizer&) = delete;
    Localizer& operator=(const Localizer&) = delete;

    // Translation of key from the string table (the default table when table is
    // empty); empty when there is none. The language falls back from "de_CH" to "de".
    std::wstring GetString(const std::wstring& key, const std::string& table) const;

    // Current user-interface language, "en_US" form.
    std::wstring GetLanguageCode() const;

    std::wstring GetApplicationName() const;
    std::vector<std::wstring> GetSearchDirectories() const;

    // The user's language from LC_ALL, LC_MESSAGES and LANG (first one set), without
    // encoding or modifier; "en_US" when none is set, for "C"/"POSIX" and for values
    // that are not a language code.
    static std::wstring LanguageFromEnvironment();

private:
    const StringsTable& table(const std::wstring& language, const std::wstring& tableName) const;

    const std::wstring m_sApplicationName;
    const std::wstring m_sDefaultTableName;
    const std::vector<std::wstring> m_lSearchDirectories;
    const std::wstring m_sLanguageCode;
    const std::vector<std::wstring> m_lLanguageChain;

    mutable std::mutex m_mutex;
    // (language, table) -> table read from disk; a missing file is an empty table.
    mutable std::map<std::pair<std::wstring, std::wstring>, std::unique_ptr<StringsTable>>
        m_lTables;
};

} // namespace Localization
