#pragma once

#include <QString>
#include <QStringList>

namespace Localization
{

// Locale names as the environment gives them ("de_CH.UTF-8@euro") turned into the
// language codes that name string-table folders ("de_CH").
class LanguageCode
{
public:
    static constexpr const char* DefaultCode = "en_US";

    // "en_US" form of a POSIX locale name: encoding and modifier dropped, language in
    // lower case, region in upper case. Empty when the name is not a language
    // ("C", "POSIX", empty, or anything that is not letters and a region), so a
    // hostile value can never reach a file path.
    static QString normalize(const QString& localeName);

    // Value of the first of LC_ALL, LC_MESSAGES and LANG that is set and not empty,
    // normalized; DefaultCode when there is none or it is not a language.
    static QString fromEnvironment();

    // Codes to try for a language, most specific first: "de_CH" gives de_CH, de.
    static QStringList fallbackChain(const QString& code);
};

} // namespace Localization
