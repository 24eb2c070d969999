#pragma once

#include <ctime>
#include <string>

namespace PlatformTools
{

// Text from outside (certificate fields, member and file names, other tools' words) as the
// tools print it, so that no field can add a line, steer a terminal or reorder what follows.
class CReportText
{
public:
    // One line of plain text: backslash as "\\", control characters as "\n", "\t", "\x1b",
    // line and paragraph separators and the bidirectional controls as "\u202E", bytes that are
    // not UTF-8 as "\xff". Everything else is kept, so readable names stay readable.
    static std::string escaped(const std::string& sText);
    // A quoted JSON string of the text; bytes that are not UTF-8 become U+FFFD.
    static std::string json(const std::string& sText);
    // A time as the reports give it, "2024-05-01 12:00:00 +0000", or in JSON's
    // "2024-05-01T12:00:00Z".
    static std::string time(std::time_t t);
    static std::string isoTime(std::time_t t);
};

} // namespace PlatformTools
