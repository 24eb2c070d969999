#include "ReportText.h"

#include <cstdint>
#include <cstdio>

namespace PlatformTools
{
namespace
{
// The code point of the UTF-8 sequence at i and its length, or length 0 when the bytes there
// are not strict UTF-8 (no overlong forms, surrogates or values above U+10FFFF).
std::uint32_t decode(const std::string& sText, std::size_t i, std::size_t& length)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(sText[i + k]); };
    const unsigned char lead = byte(0);
    length = 0;
    if (lead < 0x80)
    {
        length = 1;
        return lead;
    }
    std::size_t count = 0;
    std::uint32_t value = 0, minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF)
        count = 2, value = lead & 0x1Fu, minimum = 0x80;
    else if (lead >= 0xE0 && lead <= 0xEF)
        count = 3, value = lead & 0x0Fu, minimum = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4)
        count = 4, value = lead & 0x07u, minimum = 0x10000;
    else
        return 0;
    if (sText.size() - i < count)
        return 0;
    for (std::size_t k = 1; k < count; ++k)
    {
        if ((byte(k) & 0xC0) != 0x80)
            return 0;
        value = value << 6 | (byte(k) & 0x3Fu);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    length = count;
    return value;
}

// Characters that move text about or hide it: line and paragraph separators, the bidirectional
// embeddings, overrides, isolates and marks, and the invisible zero-width space and BOM.
bool isInvisibleControl(std::uint32_t c)
{
    return c == 0x061C || c == 0x200B || c == 0x200E || c == 0x200F ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

std::string formatted(std::time_t t, const char* format)
{
    struct tm parts;
    gmtime_r(&t, &parts);
    char buffer[40];
    std::strftime(buffer, sizeof buffer, format, &parts);
    return buffer;
}

std::string hex(const char* format, unsigned value)
{
    char buffer[12];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}
} // namespace

std::string CReportText::escaped(const std::string& sText)
{
    std::string result;
    result.reserve(sText.size());
    for (std::size_t i = 0; i < sText.size();)
    {
        std::size_t length = 0;
        const std::uint32_t c = decode(sText, i, length);
        if (length == 0)
        {
            result += hex("\\x%02x", static_cast<unsigned char>(sText[i]));
            ++i;
            continue;
        }
        if (c == '\\')
            result += "\\\\";
        else if (c == '\n')
            result += "\\n";
        else if (c == '\r')
            result += "\\r";
        else if (c == '\t')
            result += "\\t";
        else if (c < 0x20 || c == 0x7F)
            result += hex("\\x%02x", c);
        else if ((c >= 0x80 && c < 0xA0) || isInvisibleControl(c))
            result += hex("\\u%04X", c);
        else
            result.append(sText, i, length);
        i += length;
    }
    return result;
}

std::string CReportText::json(const std::string& sText)
{
    std::string result = "\"";
    for (std::size_t i = 0; i < sText.size();)
    {
        std::size_t length = 0;
        const std::uint32_t c = decode(sText, i, length);
        if (length == 0)
        {
            result += "\\ufffd";
            ++i;
            continue;
        }
        if (c == '"' || c == '\\')
            result += std::string("\\") + static_cast<char>(c);
        else if (c == '\n')
            result += "\\n";
        else if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0) || c == 0x2028 || c == 0x2029)
            result += hex("\\u%04x", c);
        else
            result.append(sText, i, length);
        i += length;
    }
    return result + "\"";
}

std::string CReportText::time(std::time_t t)
{
    return formatted(t, "%Y-%m-%d %H:%M:%S +0000");
}

std::string CReportText::isoTime(std::time_t t)
{
    return formatted(t, "%Y-%m-%dT%H:%M:%SZ");
}

} // namespace PlatformTools
