#include "Internal.h"

#include <CoreFoundation/CFKeyedArchiverUID.h>

#include <utils/XmlNesting.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iconv.h>
#include <limits>
#include <memory>

namespace
{
constexpr int kMaxDepth = cf::kMaxPropertyListDepth;

// Characters an XML 1.0 document cannot carry, even escaped.
bool xmlSafe(const std::u16string& s)
{
    for (char16_t c : s)
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0xFFFE || c == 0xFFFF)
            return false;
    return true;
}

constexpr double kSecondsPerDay = 86400.0;
// Days from 2001-01-01 to 0001-01-01 and to 10000-01-01: the years a date in an
// XML property list can spell with four digits.
constexpr int64_t kFirstDay = -730485;
constexpr int64_t kEndDay = 2921940;

// Days since 2001-01-01 of a proleptic Gregorian date, and back.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468 - 11323;
}

void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d)
{
    z += 719468 + 11323;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

bool dateWritableInXml(double at)
{
    return std::isfinite(at) && at >= static_cast<double>(kFirstDay) * kSecondsPerDay &&
           at < static_cast<double>(kEndDay) * kSecondsPerDay;
}

// XML dates carry whole seconds, as every writer of the format does.
std::string xmlDate(double at)
{
    const double whole = std::floor(at);
    const int64_t seconds = static_cast<int64_t>(whole);
    int64_t days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0)
    {
        rest += 86400;
        --days;
    }
    int64_t y = 0;
    unsigned m = 0, d = 0;
    civilFromDays(days, y, m, d);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(y), m,
                  d, static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                  static_cast<int>(rest % 60));
    return buffer;
}

// Reads YYYY[-MM[-DD[THH[:MM[:SS[.fraction]]]]]]Z, the forms Python's plistlib
// and Apple's writers produce.
bool parseXmlDate(const std::string& text, double& at)
{
    size_t i = 0;
    auto number = [&](size_t digits, int& out)
    {
        out = 0;
        for (size_t k = 0; k < digits; ++k, ++i)
        {
            if (i >= text.size() || text[i] < '0' || text[i] > '9')
                return false;
            out = out * 10 + (text[i] - '0');
        }
        return true;
    };
    int year = 0, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    double fraction = 0;
    if (!number(4, year))
        return false;
    auto next = [&](char c) { return i < text.size() && text[i] == c && (++i, true); };
    if (next('-'))
    {
        if (!number(2, month))
            return false;
        if (next('-'))
        {
            if (!number(2, day))
                return false;
            if (next('T'))
            {
                if (!number(2, hour))
                    return false;
                if (next(':'))
                {
                    if (!number(2, minute))
                        return false;
                    if (next(':'))
                    {
                        if (!number(2, second))
                            return false;
                        if (next('.'))
                        {
                            double scale = 0.1;
                            const size_t start = i;
                            for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
                            {
                                fraction += (text[i] - '0') * scale;
                                scale /= 10;
                            }
                            if (i == start)
                                return false;
                        }
                    }
                }
            }
        }
    }
    if (!next('Z') || i != text.size())
        return false;
    static const unsigned monthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (year < 1 || month < 1 || month > 12 || day < 1 ||
        static_cast<unsigned>(day) > monthDays[month - 1] || (month == 2 && day == 29 && !leap) ||
        hour > 23 || minute > 59 || second > 59)
        return false;
    const int64_t days =
        daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    at = static_cast<double>(days) * kSecondsPerDay + hour * 3600.0 + minute * 60.0 + second +
         fraction;
    return true;
}

// Decimal or 0x-hexadecimal, from -2^63 to 2^64-1; surrounding blanks allowed.
CFNumberRef parseXmlInteger(const std::string& raw)
{
    const size_t first = raw.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return nullptr;
    const std::string text = raw.substr(first, raw.find_last_not_of(" \t\r\n") - first + 1);
    size_t i = 0;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-')
        negative = text[i++] == '-';
    unsigned base = 10;
    if (text.size() > i + 1 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X'))
    {
        base = 16;
        i += 2;
    }
    if (i == text.size())
        return nullptr;
    uint64_t magnitude = 0;
    for (; i < text.size(); ++i)
    {
        const char c = text[i];
        unsigned digit = 0;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return nullptr;
        if (magnitude > (UINT64_MAX - digit) / base)
            return nullptr;
        magnitude = magnitude * base + digit;
    }
    if (negative)
    {
        if (magnitude > static_cast<uint64_t>(INT64_MAX) + 1)
            return nullptr;
        const int64_t value = magnitude == static_cast<uint64_t>(INT64_MAX) + 1
                                  ? INT64_MIN
                                  : -static_cast<int64_t>(magnitude);
        return CFNumberCreate(nullptr, kCFNumberSInt64Type, &value);
    }
    if (magnitude > static_cast<uint64_t>(INT64_MAX))
        return cf::createNumberAboveInt64(magnitude);
    const int64_t value = static_cast<int64_t>(magnitude);
    return CFNumberCreate(nullptr, kCFNumberSInt64Type, &value);
}

bool parseXmlReal(const std::string& raw, double& value)
{
    const size_t first = raw.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return false;
    std::string text = raw.substr(first, raw.find_last_not_of(" \t\r\n") - first + 1);
    bool negative = false;
    if (text[0] == '+' || text[0] == '-')
    {
        negative = text[0] == '-';
        text.erase(0, 1);
    }
    std::string lower = text;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "nan")
        value = std::numeric_limits<double>::quiet_NaN();
    else if (lower == "inf" || lower == "infinity")
        value = std::numeric_limits<double>::infinity();
    else
    {
        // from_chars ignores the locale, which Qt programs set from the environment.
        if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '.'))
            return false;
        const auto end = text.data() + text.size();
        const auto result = std::from_chars(text.data(), end, value);
        if (result.ec != std::errc() || result.ptr != end)
            return false;
    }
    if (negative)
        value = -value;
    return true;
}

// Written as the earlier releases wrote it, so files stay byte for byte the same.
std::string xmlReal(double value)
{
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value > 0 ? "+infinity" : "-infinity";
    if (value == 0.0)
        return "0.0";
    char buffer[64];
    auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 17);
    return std::string(buffer, result.ptr);
}

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

bool decodeBase64(const std::string& text, std::vector<UInt8>& out)
{
    uint32_t bits = 0;
    int count = 0, padding = 0;
    for (char c : text)
    {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            continue;
        if (c == '=')
        {
            ++padding;
            continue;
        }
        const char* at = std::strchr(kBase64, c);
        if (!at || c == '\0' || padding)
            return false;
        bits = (bits << 6) | static_cast<uint32_t>(at - kBase64);
        if (++count == 4)
        {
            out.push_back(static_cast<UInt8>(bits >> 16));
            out.push_back(static_cast<UInt8>(bits >> 8));
            out.push_back(static_cast<UInt8>(bits));
            bits = 0;
            count = 0;
        }
    }
    if (count == 1 || padding > 2)
        return false;
    if (count == 2)
        out.push_back(static_cast<UInt8>(bits >> 4));
    else if (count == 3)
    {
        out.push_back(static_cast<UInt8>(bits >> 10));
        out.push_back(static_cast<UInt8>(bits >> 2));
    }
    return true;
}

struct Validator
{
    CFPropertyListFormat format;
    std::vector<CFTypeRef> path;
    std::string problem;

    bool check(CFTypeRef value)
    {
        if (!value || !cf::object(value, "CFPropertyListIsValid"))
            return fail("a NULL or foreign object");
        const CFTypeID type = CFGetTypeID(value);
        switch (type)
        {
        case cf::kStringTypeID:
        case cf::kDataTypeID:
            return true;
        case cf::kNumberTypeID:
        case cf::kBooleanTypeID:
        case cf::kDateTypeID:
        case cf::kKeyedArchiverUIDTypeID:
            return format != kCFPropertyListOpenStepFormat ||
                   fail("a " + cf::typeName(type) + " in the OpenStep format");
        case cf::kArrayTypeID:
        case cf::kDictionaryTypeID:
            break;
        default:
            return fail("a " + cf::typeName(type) + ", which is not a property list type");
        }
        for (CFTypeRef outer : path)
            if (outer == value)
                return fail("a container that contains itself");
        if (static_cast<int>(path.size()) >= kMaxDepth)
            return fail("containers nested too deeply");
        path.push_back(value);
        bool ok = true;
        if (type == cf::kArrayTypeID)
        {
            auto array = static_cast<CFArrayRef>(value);
            const CFIndex count = CFArrayGetCount(array);
            for (CFIndex i = 0; ok && i < count; ++i)
                ok = check(CFArrayGetValueAtIndex(array, i));
        }
        else
        {
            auto dict = static_cast<CFDictionaryRef>(value);
            const CFIndex count = CFDictionaryGetCount(dict);
            std::vector<const void*> keys(static_cast<size_t>(count)),
                values(static_cast<size_t>(count));
            CFDictionaryGetKeysAndValues(dict, keys.data(), values.data());
            for (CFIndex i = 0; ok && i < count; ++i)
            {
                if (!cf::isType(keys[static_cast<size_t>(i)], cf::kStringTypeID))
                    ok = fail("a dictionary key that is not a string");
                else
                    ok = check(values[static_cast<size_t>(i)]);
            }
        }
        path.pop_back();
        return ok;
    }

    bool fail(const std::string& what)
    {
        if (problem.empty())
            problem = "The property list holds " + what + ".";
        return false;
    }
};

void appendEscaped(const std::string& text, std::string& out)
{
    for (char c : text)
    {
        switch (c)
        {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '\r':
            // A raw carriage return would read back as a line feed in other readers.
            out += "&#13;";
            break;
        default:
            out += c;
        }
    }
}

bool xmlText(CFStringRef string, std::string& text)
{
    return cf::utf8Of(string, text) && text.find('\0') == std::string::npos &&
           xmlSafe(cf::utf16Of(string));
}

// Writes one value of a valid property list (nesting already bounded) at the
// given depth, in the layout earlier releases produced.
bool writeXml(CFTypeRef value, size_t depth, std::string& out, std::string& problem)
{
    const std::string indent(depth, '\t');
    const CFTypeID type = CFGetTypeID(value);
    switch (type)
    {
    case cf::kStringTypeID:
    {
        std::string text;
        if (!xmlText(static_cast<CFStringRef>(value), text))
        {
            problem = "A string holds characters a property list file cannot store.";
            return false;
        }
        out += indent + "<string>";
        appendEscaped(text, out);
        out += "</string>\n";
        return true;
    }
    case cf::kNumberTypeID:
    {
        auto number = static_cast<CFNumberRef>(value);
        if (cf::numberIsFloat(number))
            out += indent + "<real>" + xmlReal(cf::numberAsDouble(number)) + "</real>\n";
        else if (cf::numberIsAboveInt64(number))
        {
            out += indent + "<integer>" + std::to_string(cf::numberAboveInt64Value(number)) +
                   "</integer>\n";
        }
        else
            out +=
                indent + "<integer>" + std::to_string(cf::numberAsInt64(number)) + "</integer>\n";
        return true;
    }
    case cf::kBooleanTypeID:
        out += indent +
               (CFBooleanGetValue(static_cast<CFBooleanRef>(value)) ? "<true/>\n" : "<false/>\n");
        return true;
    case cf::kKeyedArchiverUIDTypeID:
        // XML has no UID element; keyed archives spell it as this dictionary.
        out +=
            indent + "<dict>\n" + indent + "\t<key>CF$UID</key>\n" + indent + "\t<integer>" +
            std::to_string(_CFKeyedArchiverUIDGetValue(static_cast<CFKeyedArchiverUIDRef>(value))) +
            "</integer>\n" + indent + "</dict>\n";
        return true;
    case cf::kDataTypeID:
    {
        auto data = static_cast<CFDataRef>(value);
        const UInt8* bytes = CFDataGetBytePtr(data);
        const size_t size = static_cast<size_t>(CFDataGetLength(data));
        // Lines shrink with the indentation, which stops growing at eight tabs.
        const size_t lineIndent = std::min<size_t>(depth, 8);
        const size_t width = 76 - 8 * lineIndent;
        std::string encoded;
        encoded.reserve((size + 2) / 3 * 4);
        for (size_t i = 0; i < size; i += 3)
        {
            const uint32_t n = static_cast<uint32_t>(bytes[i]) << 16 |
                               (i + 1 < size ? static_cast<uint32_t>(bytes[i + 1]) << 8 : 0) |
                               (i + 2 < size ? bytes[i + 2] : 0);
            encoded += kBase64[n >> 18 & 63];
            encoded += kBase64[n >> 12 & 63];
            encoded += i + 1 < size ? kBase64[n >> 6 & 63] : '=';
            encoded += i + 2 < size ? kBase64[n & 63] : '=';
        }
        out += indent + "<data>\n";
        for (size_t i = 0; i < encoded.size(); i += width)
            out += std::string(lineIndent, '\t') + encoded.substr(i, width) + "\n";
        out += indent + "</data>\n";
        return true;
    }
    case cf::kDateTypeID:
    {
        const double at = CFDateGetAbsoluteTime(static_cast<CFDateRef>(value));
        if (!dateWritableInXml(at))
        {
            problem = "A date lies outside the years 1 to 9999, which an XML property list "
                      "cannot store.";
            return false;
        }
        out += indent + "<date>" + xmlDate(at) + "</date>\n";
        return true;
    }
    case cf::kArrayTypeID:
    {
        auto array = static_cast<CFArrayRef>(value);
        const CFIndex count = CFArrayGetCount(array);
        if (count == 0)
        {
            out += indent + "<array/>\n";
            return true;
        }
        out += indent + "<array>\n";
        for (CFIndex i = 0; i < count; ++i)
            if (!writeXml(CFArrayGetValueAtIndex(array, i), depth + 1, out, problem))
                return false;
        out += indent + "</array>\n";
        return true;
    }
    case cf::kDictionaryTypeID:
    {
        auto dict = static_cast<CFDictionaryRef>(value);
        const CFIndex count = CFDictionaryGetCount(dict);
        if (count == 0)
        {
            out += indent + "<dict/>\n";
            return true;
        }
        std::vector<const void*> keys(static_cast<size_t>(count)),
            values(static_cast<size_t>(count));
        CFDictionaryGetKeysAndValues(dict, keys.data(), values.data());
        out += indent + "<dict>\n";
        for (size_t i = 0; i < keys.size(); ++i)
        {
            std::string key;
            if (!xmlText(static_cast<CFStringRef>(keys[i]), key))
            {
                problem = "A dictionary key holds characters a property list file cannot store.";
                return false;
            }
            out += indent + "\t<key>";
            appendEscaped(key, out);
            out += "</key>\n";
            if (!writeXml(values[i], depth + 1, out, problem))
                return false;
        }
        out += indent + "</dict>\n";
        return true;
    }
    default:
        problem = "The property list holds a " + cf::typeName(type) + ".";
        return false;
    }
}

bool storableWithin(CFTypeRef value, int depth, std::string& problem)
{
    if (depth > kMaxDepth)
    {
        problem = "The property list nests too deeply.";
        return false;
    }
    const CFTypeID type = CFGetTypeID(value);
    switch (type)
    {
    case cf::kStringTypeID:
    {
        std::string text;
        const auto string = static_cast<CFStringRef>(value);
        if (!cf::utf8Of(string, text) || text.find('\0') != std::string::npos ||
            !xmlSafe(cf::utf16Of(string)))
        {
            problem = "A string holds characters a property list file cannot store.";
            return false;
        }
        return true;
    }
    case cf::kNumberTypeID:
    case cf::kBooleanTypeID:
    case cf::kDataTypeID:
    case cf::kKeyedArchiverUIDTypeID:
        return true;
    case cf::kDateTypeID:
        if (dateWritableInXml(CFDateGetAbsoluteTime(static_cast<CFDateRef>(value))))
            return true;
        problem = "A date lies outside the years 1 to 9999, which an XML property list cannot "
                  "store.";
        return false;
    case cf::kArrayTypeID:
    {
        auto array = static_cast<CFArrayRef>(value);
        for (CFIndex i = 0, n = CFArrayGetCount(array); i < n; ++i)
            if (!storableWithin(CFArrayGetValueAtIndex(array, i), depth + 1, problem))
                return false;
        return true;
    }
    case cf::kDictionaryTypeID:
    {
        auto dict = static_cast<CFDictionaryRef>(value);
        const CFIndex count = CFDictionaryGetCount(dict);
        std::vector<const void*> keys(static_cast<size_t>(count)),
            values(static_cast<size_t>(count));
        CFDictionaryGetKeysAndValues(dict, keys.data(), values.data());
        for (size_t i = 0; i < keys.size(); ++i)
        {
            std::string key;
            if (!cf::isType(keys[i], cf::kStringTypeID))
            {
                problem = "The property list holds a dictionary key that is not a string.";
                return false;
            }
            const auto keyString = static_cast<CFStringRef>(keys[i]);
            if (!cf::utf8Of(keyString, key) || key.find('\0') != std::string::npos ||
                !xmlSafe(cf::utf16Of(keyString)))
            {
                problem = "A dictionary key holds characters a property list file cannot store.";
                return false;
            }
            if (!storableWithin(values[i], depth + 1, problem))
                return false;
        }
        return true;
    }
    default:
        problem = "The property list holds a " + cf::typeName(type) + ".";
        return false;
    }
}

// Reads an XML property list without recursion: containers being filled sit on
// an explicit stack bounded by kMaxDepth.
class XmlReader
{
public:
    XmlReader(const char* text, size_t size, CFOptionFlags mutability)
        : m_p(text), m_end(text + size), m_mutability(mutability)
    {
    }
    ~XmlReader()
    {
        for (Frame& frame : m_stack)
        {
            CFRelease(frame.container);
            if (frame.key)
                CFRelease(frame.key);
        }
        if (m_result)
            CFRelease(m_result);
    }

    CFPropertyListRef read(std::string& problem)
    {
        if (!run())
        {
            // The message quotes the input, which need not be valid UTF-8.
            for (char& c : m_problem)
                if (static_cast<unsigned char>(c) >= 0x80 || static_cast<unsigned char>(c) < 0x20)
                    c = '?';
            problem = "The data is not a valid XML property list: " + m_problem;
            return nullptr;
        }
        CFPropertyListRef result = m_result;
        m_result = nullptr;
        return result;
    }

private:
    struct Frame
    {
        bool dict;
        CFTypeRef container;
        CFStringRef key;
    };

    bool fail(const std::string& what)
    {
        if (m_problem.empty())
            m_problem = what + ".";
        return false;
    }
    bool startsWith(const char* literal) const
    {
        const size_t n = std::strlen(literal);
        return static_cast<size_t>(m_end - m_p) >= n && std::memcmp(m_p, literal, n) == 0;
    }
    bool skipPast(const char* literal)
    {
        const size_t n = std::strlen(literal);
        for (const char* q = m_p; static_cast<size_t>(m_end - q) >= n; ++q)
            if (std::memcmp(q, literal, n) == 0)
            {
                m_p = q + n;
                return true;
            }
        return false;
    }
    static bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

    // Skips a comment or processing instruction at m_p; false when there is none.
    bool skipMarkup(bool& ok)
    {
        ok = true;
        if (startsWith("<!--"))
            ok = skipPast("-->") || fail("a comment is not closed");
        else if (startsWith("<?"))
            ok = skipPast("?>") || fail("a processing instruction is not closed");
        else
            return false;
        return true;
    }

    // Parses the tag at m_p ("<name ...>", "<name/>" or "</name>").
    bool tag(std::string& name, bool& closing, bool& empty)
    {
        ++m_p;
        closing = m_p < m_end && *m_p == '/';
        if (closing)
            ++m_p;
        const char* start = m_p;
        while (m_p < m_end && !blank(*m_p) && *m_p != '>' && *m_p != '/')
            ++m_p;
        name.assign(start, m_p);
        char quote = 0;
        for (; m_p < m_end; ++m_p)
        {
            if (quote)
            {
                if (*m_p == quote)
                    quote = 0;
            }
            else if (*m_p == '"' || *m_p == '\'')
                quote = *m_p;
            else if (*m_p == '>')
                break;
        }
        if (m_p >= m_end || name.empty())
            return fail("a tag is not closed");
        empty = m_p[-1] == '/' && !closing;
        ++m_p;
        return true;
    }

    // The text of a leaf element up to its end tag, entities and CDATA resolved.
    bool content(const std::string& name, std::string& text)
    {
        while (m_p < m_end)
        {
            const char c = *m_p;
            if (c == '<')
            {
                bool ok = true;
                if (skipMarkup(ok))
                {
                    if (!ok)
                        return false;
                    continue;
                }
                if (startsWith("<![CDATA["))
                {
                    const char* start = m_p + 9;
                    m_p = start;
                    if (!skipPast("]]>"))
                        return fail("a CDATA section is not closed");
                    text.append(start, m_p - 3);
                    continue;
                }
                std::string endName;
                bool closing = false, empty = false;
                if (!tag(endName, closing, empty))
                    return false;
                if (!closing || endName != name)
                    return fail("<" + name + "> holds another element");
                return true;
            }
            if (c == '&')
            {
                if (!entity(text))
                    return false;
                continue;
            }
            text += c;
            ++m_p;
        }
        return fail("<" + name + "> is not closed");
    }

    bool entity(std::string& text)
    {
        const char* semicolon = static_cast<const char*>(
            std::memchr(m_p, ';', static_cast<size_t>(std::min<ptrdiff_t>(m_end - m_p, 12))));
        if (!semicolon)
            return fail("an entity reference is not closed");
        const std::string name(m_p + 1, semicolon);
        m_p = semicolon + 1;
        static const std::pair<const char*, char> named[] = {
            {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
        for (const auto& entry : named)
            if (name == entry.first)
            {
                text += entry.second;
                return true;
            }
        if (name.size() < 2 || name[0] != '#')
            return fail("unknown entity &" + name + ";");
        const bool hex = name[1] == 'x';
        uint32_t code = 0;
        const size_t first = hex ? 2 : 1;
        if (first >= name.size())
            return fail("an empty character reference");
        for (size_t i = first; i < name.size(); ++i)
        {
            const char c = name[i];
            uint32_t digit;
            if (c >= '0' && c <= '9')
                digit = static_cast<uint32_t>(c - '0');
            else if (hex && c >= 'a' && c <= 'f')
                digit = static_cast<uint32_t>(c - 'a' + 10);
            else if (hex && c >= 'A' && c <= 'F')
                digit = static_cast<uint32_t>(c - 'A' + 10);
            else
                return fail("a malformed character reference");
            code = code * (hex ? 16 : 10) + digit;
            if (code > 0x10FFFF)
                return fail("a character reference beyond Unicode");
        }
        if (code == 0 || (code >= 0xD800 && code <= 0xDFFF))
            return fail("a character reference to a character XML cannot hold");
        if (code < 0x80)
            text += static_cast<char>(code);
        else if (code < 0x800)
        {
            text += static_cast<char>(0xC0 | code >> 6);
            text += static_cast<char>(0x80 | (code & 0x3F));
        }
        else if (code < 0x10000)
        {
            text += static_cast<char>(0xE0 | code >> 12);
            text += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        }
        else
        {
            text += static_cast<char>(0xF0 | code >> 18);
            text += static_cast<char>(0x80 | (code >> 12 & 0x3F));
            text += static_cast<char>(0x80 | (code >> 6 & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        }
        return true;
    }

    // Hands a finished value (owned) to the container being filled, or keeps it as the result.
    bool deliver(CFTypeRef value, bool isKey)
    {
        // A key belongs only where a dictionary waits for one, as in Apple's
        // parser and plistlib; anywhere else it is a structure error.
        if (isKey && (m_stack.empty() || !m_stack.back().dict || m_stack.back().key))
        {
            CFRelease(value);
            return fail(m_stack.empty()       ? "a <key> outside any <dict>"
                        : m_stack.back().dict ? "a <key> where a value should follow a <key>"
                                              : "a <key> inside an <array>");
        }
        if (m_stack.empty())
        {
            if (m_result || m_closedPlist)
            {
                CFRelease(value);
                return fail("more than one top-level value");
            }
            m_result = value;
            return true;
        }
        Frame& top = m_stack.back();
        if (!top.dict)
        {
            CFArrayAppendValue(static_cast<CFMutableArrayRef>(const_cast<void*>(top.container)),
                               value);
            CFRelease(value);
            return true;
        }
        if (isKey)
        {
            top.key = static_cast<CFStringRef>(value);
            return true;
        }
        if (!top.key)
        {
            CFRelease(value);
            return fail("a dictionary value has no key");
        }
        CFDictionarySetValue(static_cast<CFMutableDictionaryRef>(const_cast<void*>(top.container)),
                             top.key, value);
        CFRelease(top.key);
        top.key = nullptr;
        CFRelease(value);
        return true;
    }

    // Keyed archives write a UID as the dictionary {"CF$UID": n}; like Apple's
    // parser, read it back as the UID.
    static CFTypeRef uidOrDictionary(CFTypeRef dict)
    {
        auto dictionary = static_cast<CFDictionaryRef>(dict);
        if (CFDictionaryGetCount(dictionary) != 1)
            return dict;
        const void* value = CFDictionaryGetValue(dictionary, CFSTR("CF$UID"));
        int64_t n = -1;
        if (!value || CFGetTypeID(value) != cf::kNumberTypeID ||
            cf::numberIsFloat(static_cast<CFNumberRef>(value)) ||
            cf::numberIsAboveInt64(static_cast<CFNumberRef>(value)) ||
            (n = cf::numberAsInt64(static_cast<CFNumberRef>(value))) < 0 || n > UINT32_MAX)
            return dict;
        CFRelease(dict);
        return _CFKeyedArchiverUIDCreate(nullptr, static_cast<uint32_t>(n));
    }

    CFTypeRef leaf(const std::string& name, const std::string& text)
    {
        if (name == "string" || name == "key")
        {
            CFStringRef string = cf::createString(text);
            if (!string)
                fail("a string is not valid UTF-8");
            return string;
        }
        if (name == "integer")
        {
            CFNumberRef number = parseXmlInteger(text);
            if (!number)
                fail("\"" + text.substr(0, 40) + "\" is not an integer from -2^63 to 2^64-1");
            return number;
        }
        if (name == "real")
        {
            double value = 0;
            if (!parseXmlReal(text, value))
            {
                fail("\"" + text.substr(0, 40) + "\" is not a real number");
                return nullptr;
            }
            return CFNumberCreate(nullptr, kCFNumberFloat64Type, &value);
        }
        if (name == "date")
        {
            double at = 0;
            if (!parseXmlDate(text, at))
            {
                fail("\"" + text.substr(0, 40) + "\" is not a date");
                return nullptr;
            }
            return CFDateCreate(nullptr, at);
        }
        if (name == "data")
        {
            std::vector<UInt8> bytes;
            if (!decodeBase64(text, bytes))
            {
                fail("<data> holds text that is not Base64");
                return nullptr;
            }
            if (m_mutability == kCFPropertyListMutableContainersAndLeaves)
            {
                CFMutableDataRef data = CFDataCreateMutable(nullptr, 0);
                CFDataAppendBytes(data, bytes.data(), static_cast<CFIndex>(bytes.size()));
                return data;
            }
            return CFDataCreate(nullptr, bytes.data(), static_cast<CFIndex>(bytes.size()));
        }
        if (name == "true" || name == "false")
        {
            if (text.find_first_not_of(" \t\r\n") != std::string::npos)
            {
                fail("<" + name + "> holds text");
                return nullptr;
            }
            return name == "true" ? kCFBooleanTrue : kCFBooleanFalse;
        }
        fail("unknown element <" + name.substr(0, 40) + ">");
        return nullptr;
    }

    bool run()
    {
        bool inPlist = false;
        while (true)
        {
            while (m_p < m_end && (blank(*m_p) || *m_p == '\0'))
                ++m_p;
            if (m_p >= m_end)
                break;
            if (*m_p != '<')
                return fail("text outside any value");
            bool ok = true;
            if (skipMarkup(ok))
            {
                if (!ok)
                    return false;
                continue;
            }
            if (startsWith("<!DOCTYPE"))
            {
                if (m_result || inPlist || !m_stack.empty())
                    return fail("a document type declaration inside the document");
                const char* bracket = nullptr;
                for (const char* q = m_p; q < m_end; ++q)
                    if (*q == '[' || *q == '>')
                    {
                        bracket = q;
                        break;
                    }
                if (!bracket)
                    return fail("the document type declaration is not closed");
                m_p = bracket;
                if (!(*bracket == '[' ? skipPast("]") && skipPast(">") : skipPast(">")))
                    return fail("the document type declaration is not closed");
                continue;
            }
            if (startsWith("<!"))
                return fail("markup outside any value");
            std::string name;
            bool closing = false, empty = false;
            if (!tag(name, closing, empty))
                return false;
            if (name == "plist")
            {
                if (closing)
                {
                    if (!inPlist || !m_stack.empty())
                        return fail("</plist> out of place");
                    inPlist = false;
                    m_closedPlist = true;
                }
                else
                {
                    if (inPlist || m_closedPlist || m_result || !m_stack.empty())
                        return fail("<plist> out of place");
                    inPlist = !empty;
                    m_closedPlist = empty;
                }
                continue;
            }
            if (name == "dict" || name == "array")
            {
                const bool dict = name == "dict";
                if (closing)
                {
                    if (m_stack.empty() || m_stack.back().dict != dict)
                        return fail("</" + name + "> does not close the open element");
                    Frame frame = m_stack.back();
                    m_stack.pop_back();
                    if (frame.key)
                    {
                        CFRelease(frame.key);
                        CFRelease(frame.container);
                        return fail("a dictionary key has no value");
                    }
                    CFTypeRef finished = cf::finishContainer(frame.container, m_mutability);
                    if (!deliver(dict ? uidOrDictionary(finished) : finished, false))
                        return false;
                    continue;
                }
                if (m_result || m_closedPlist)
                    return fail("more than one top-level value");
                if (static_cast<int>(m_stack.size()) >= kMaxDepth)
                    return fail("containers are nested too deeply");
                CFTypeRef container =
                    dict ? static_cast<CFTypeRef>(
                               CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                         &kCFTypeDictionaryValueCallBacks))
                         : static_cast<CFTypeRef>(
                               CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks));
                if (empty)
                {
                    if (!deliver(cf::finishContainer(container, m_mutability), false))
                        return false;
                    continue;
                }
                m_stack.push_back(Frame{dict, container, nullptr});
                continue;
            }
            if (closing)
                return fail("</" + name.substr(0, 40) + "> out of place");
            std::string text;
            if (!empty && !content(name, text))
                return false;
            if (empty && name == "integer")
                return fail("an empty <integer>");
            CFTypeRef value = leaf(name, text);
            if (!value || !deliver(value, name == "key"))
                return false;
        }
        if (!m_stack.empty() || inPlist)
            return fail("the document ends inside an element");
        if (!m_result)
            return fail("it holds no value");
        return true;
    }

    const char* m_p;
    const char* const m_end;
    const CFOptionFlags m_mutability;
    std::vector<Frame> m_stack;
    CFTypeRef m_result = nullptr;
    bool m_closedPlist = false;
    std::string m_problem;
};

// Refuses nesting beyond what the reader accepts before reading at all. Every
// element counts, so that leaves the room of two per container (key and value).
bool xmlNestingAcceptable(const char* text, size_t size)
{
    return orbilib::utils::xmlNestingWithin(text, size, 2 * kMaxDepth + 8);
}

bool sameName(const std::string& a, const char* b)
{
    const size_t n = std::strlen(b);
    if (a.size() != n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != b[i])
            return false;
    return true;
}

// The encoding named by the XML declaration at the start, or "" without one.
std::string declaredEncoding(const char* bytes, size_t size)
{
    if (size < 6 || std::memcmp(bytes, "<?xml", 5) != 0)
        return std::string();
    const char* end =
        static_cast<const char*>(std::memchr(bytes, '>', std::min<size_t>(size, 512)));
    const std::string declaration(bytes, end ? end : bytes + std::min<size_t>(size, 512));
    size_t at = declaration.find("encoding");
    if (at == std::string::npos)
        return std::string();
    at = declaration.find_first_not_of(" \t\r\n", at + 8);
    if (at == std::string::npos || declaration[at] != '=')
        return std::string();
    at = declaration.find_first_not_of(" \t\r\n", at + 1);
    if (at == std::string::npos || (declaration[at] != '"' && declaration[at] != '\''))
        return std::string();
    const size_t close = declaration.find(declaration[at], at + 1);
    return close == std::string::npos ? std::string() : declaration.substr(at + 1, close - at - 1);
}

bool fromUnicode(const char* bytes, size_t size, CFStringEncoding encoding, std::string& text,
                 std::string& problem)
{
    CFStringRef string = CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>(bytes),
                                                 static_cast<CFIndex>(size), encoding, false);
    const bool ok = string && cf::utf8Of(string, text);
    if (string)
        CFRelease(string);
    if (!ok)
        problem = "The data is not a valid XML property list: it is not valid text in its "
                  "encoding.";
    return ok;
}

// Converts text in an encoding named by its declaration to UTF-8 through iconv.
bool fromNamedEncoding(const char* bytes, size_t size, const std::string& name, std::string& text,
                       std::string& problem)
{
    std::string printable = name.substr(0, 40);
    for (char& c : printable)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F)
            c = '?';
    iconv_t converter = iconv_open("UTF-8", name.c_str());
    if (converter == reinterpret_cast<iconv_t>(-1))
    {
        problem = "The data is not a valid XML property list: it declares the unknown encoding \"" +
                  printable + "\".";
        return false;
    }
    text.clear();
    char buffer[16384];
    char* in = const_cast<char*>(bytes);
    size_t left = size;
    bool ok = true;
    while (ok && left > 0)
    {
        char* out = buffer;
        size_t room = sizeof buffer;
        const size_t rc = iconv(converter, &in, &left, &out, &room);
        text.append(buffer, static_cast<size_t>(out - buffer));
        ok = rc != static_cast<size_t>(-1) || errno == E2BIG;
    }
    iconv_close(converter);
    if (!ok)
        problem =
            "The data is not a valid XML property list: it is not valid " + printable + " text.";
    return ok;
}

// The document as UTF-8, read as Apple's parser reads it: a byte order mark
// decides (UTF-8, UTF-16 or UTF-32 in either byte order), then a NUL in the
// first two bytes (UTF-16 without a mark), then the encoding the declaration
// names; UTF-8 when nothing says otherwise.
bool documentText(const char* bytes, size_t size, std::string& text, std::string& problem)
{
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    if (size >= 4 && b[0] == 0 && b[1] == 0 && b[2] == 0xFE && b[3] == 0xFF)
        return fromUnicode(bytes + 4, size - 4, kCFStringEncodingUTF32BE, text, problem);
    if (size >= 4 && b[0] == 0xFF && b[1] == 0xFE && b[2] == 0 && b[3] == 0)
        return fromUnicode(bytes + 4, size - 4, kCFStringEncodingUTF32LE, text, problem);
    if (size >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF)
    {
        text.assign(bytes + 3, size - 3);
        return true;
    }
    if (size >= 2 && b[0] == 0xFE && b[1] == 0xFF)
        return fromUnicode(bytes + 2, size - 2, kCFStringEncodingUTF16BE, text, problem);
    if (size >= 2 && b[0] == 0xFF && b[1] == 0xFE)
        return fromUnicode(bytes + 2, size - 2, kCFStringEncodingUTF16LE, text, problem);
    if (size >= 2 && (b[0] == 0) != (b[1] == 0))
        return fromUnicode(bytes, size,
                           b[0] == 0 ? kCFStringEncodingUTF16BE : kCFStringEncodingUTF16LE, text,
                           problem);
    const std::string name = declaredEncoding(bytes, size);
    if (name.empty() || sameName(name, "utf-8") || sameName(name, "utf8"))
    {
        text.assign(bytes, size);
        return true;
    }
    return fromNamedEncoding(bytes, size, name, text, problem);
}

CFPropertyListRef parse(CFDataRef data, CFOptionFlags options, CFPropertyListFormat* format,
                        std::string& problem)
{
    if (!cf::isType(data, cf::kDataTypeID) || CFDataGetLength(data) == 0)
    {
        problem = "Cannot parse a NULL or zero-length data.";
        return nullptr;
    }
    const auto* bytes = reinterpret_cast<const char*>(CFDataGetBytePtr(data));
    const size_t size = static_cast<size_t>(CFDataGetLength(data));
    if (size > UINT32_MAX)
    {
        problem = "The property list is too large.";
        return nullptr;
    }
    if (size >= 8 && std::memcmp(bytes, "bplist00", 8) == 0)
    {
        CFPropertyListRef result = cf::parseBinaryPropertyList(
            reinterpret_cast<const UInt8*>(bytes), size, options, problem);
        if (result && format)
            *format = kCFPropertyListBinaryFormat_v1_0;
        return result;
    }
    std::string text;
    if (!documentText(bytes, size, text, problem))
        return nullptr;
    if (!xmlNestingAcceptable(text.data(), text.size()))
    {
        problem = "The property list is nested too deeply.";
        return nullptr;
    }
    // XML cannot hold U+0000. NUL bytes after the last character (a terminator
    // written with the text) stay harmless.
    const char* end = text.data() + text.size();
    const char* nul = static_cast<const char*>(std::memchr(text.data(), 0, text.size()));
    if (nul && std::find_if(nul, end, [](char c) { return c != 0; }) != end)
    {
        problem = "The data is not a valid XML property list: it holds a NUL character.";
        return nullptr;
    }
    CFPropertyListRef result = XmlReader(text.data(), text.size(), options).read(problem);
    if (result && format)
        *format = kCFPropertyListXMLFormat_v1_0;
    return result;
}

CFDataRef serialize(CFPropertyListRef plist, CFPropertyListFormat format, std::string& problem)
{
    if (format != kCFPropertyListXMLFormat_v1_0 && format != kCFPropertyListBinaryFormat_v1_0)
    {
        problem = "Only the XML and binary property list formats can be written.";
        return nullptr;
    }
    Validator validator{format, {}, {}};
    if (!validator.check(plist))
    {
        problem = validator.problem;
        return nullptr;
    }
    if (format == kCFPropertyListBinaryFormat_v1_0)
        return cf::writeBinaryPropertyList(plist);
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC "
                      "\"-//Apple//DTD PLIST 1.0//EN\" "
                      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist "
                      "version=\"1.0\">\n";
    if (!writeXml(plist, 0, out, problem))
        return nullptr;
    out += "</plist>\n";
    return CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(out.data()),
                        static_cast<CFIndex>(out.size()));
}

CFTypeRef deepCopy(CFTypeRef value, CFOptionFlags mutability)
{
    const CFTypeID type = CFGetTypeID(value);
    if (type == cf::kDataTypeID)
        return mutability == kCFPropertyListMutableContainersAndLeaves
                   ? CFDataCreateMutableCopy(nullptr, 0, static_cast<CFDataRef>(value))
                   : CFDataCreateCopy(nullptr, static_cast<CFDataRef>(value));
    if (type == cf::kArrayTypeID)
    {
        auto array = static_cast<CFArrayRef>(value);
        CFMutableArrayRef copy = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
        for (CFIndex i = 0, n = CFArrayGetCount(array); i < n; ++i)
        {
            CFTypeRef item = deepCopy(CFArrayGetValueAtIndex(array, i), mutability);
            CFArrayAppendValue(copy, item);
            CFRelease(item);
        }
        return cf::finishContainer(copy, mutability);
    }
    if (type == cf::kDictionaryTypeID)
    {
        auto dict = static_cast<CFDictionaryRef>(value);
        const CFIndex count = CFDictionaryGetCount(dict);
        std::vector<const void*> keys(static_cast<size_t>(count)),
            values(static_cast<size_t>(count));
        CFDictionaryGetKeysAndValues(dict, keys.data(), values.data());
        CFMutableDictionaryRef copy = CFDictionaryCreateMutable(
            nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
        for (size_t i = 0; i < keys.size(); ++i)
        {
            CFTypeRef item = deepCopy(values[i], mutability);
            CFDictionarySetValue(copy, keys[i], item);
            CFRelease(item);
        }
        return cf::finishContainer(copy, mutability);
    }
    // Strings, numbers, booleans and dates are immutable and can be shared.
    return CFRetain(value);
}
} // namespace

CFTypeRef cf::finishContainer(CFTypeRef container, CFOptionFlags mutability)
{
    if (mutability != kCFPropertyListImmutable)
        return container;
    CFTypeRef frozen = CFGetTypeID(container) == kDictionaryTypeID
                           ? static_cast<CFTypeRef>(CFDictionaryCreateCopy(
                                 nullptr, static_cast<CFDictionaryRef>(container)))
                           : static_cast<CFTypeRef>(
                                 CFArrayCreateCopy(nullptr, static_cast<CFArrayRef>(container)));
    CFRelease(container);
    return frozen;
}

bool cf::storableInXml(CFTypeRef value, std::string& problem)
{
    return value && storableWithin(value, 0, problem);
}

extern "C"
{

    CFPropertyListRef CFPropertyListCreateFromXMLData(CFAllocatorRef, CFDataRef xmlData,
                                                      CFOptionFlags mutabilityOption,
                                                      CFStringRef* errorString)
    {
        if (errorString)
            *errorString = nullptr;
        std::string problem;
        CFPropertyListRef result = parse(xmlData, mutabilityOption, nullptr, problem);
        if (!result && errorString)
            *errorString = cf::createString(problem);
        return result;
    }

    CFPropertyListRef CFPropertyListCreateWithData(CFAllocatorRef, CFDataRef data,
                                                   CFOptionFlags options,
                                                   CFPropertyListFormat* format, CFErrorRef* error)
    {
        if (error)
            *error = nullptr;
        std::string problem;
        CFPropertyListRef result = parse(data, options, format, problem);
        if (!result)
            cf::setError(error, kCFErrorDomainCocoa, kCFPropertyListReadCorruptError, problem);
        return result;
    }

    CFDataRef CFPropertyListCreateXMLData(CFAllocatorRef, CFPropertyListRef propertyList)
    {
        std::string problem;
        CFDataRef data = serialize(propertyList, kCFPropertyListXMLFormat_v1_0, problem);
        if (!data)
            cf::warn("CFPropertyListCreateXMLData: " + problem);
        return data;
    }

    CFDataRef CFPropertyListCreateData(CFAllocatorRef, CFPropertyListRef propertyList,
                                       CFPropertyListFormat format, CFOptionFlags,
                                       CFErrorRef* error)
    {
        if (error)
            *error = nullptr;
        std::string problem;
        CFDataRef data = serialize(propertyList, format, problem);
        if (!data)
            cf::setError(error, kCFErrorDomainCocoa, kCFPropertyListWriteStreamError, problem);
        return data;
    }

    CFPropertyListRef CFPropertyListCreateDeepCopy(CFAllocatorRef, CFPropertyListRef propertyList,
                                                   CFOptionFlags mutabilityOption)
    {
        Validator validator{kCFPropertyListBinaryFormat_v1_0, {}, {}};
        if (!validator.check(propertyList))
        {
            cf::warn("CFPropertyListCreateDeepCopy: " + validator.problem);
            return nullptr;
        }
        return deepCopy(propertyList, mutabilityOption);
    }

    Boolean CFPropertyListIsValid(CFPropertyListRef plist, CFPropertyListFormat format)
    {
        if (format != kCFPropertyListOpenStepFormat && format != kCFPropertyListXMLFormat_v1_0 &&
            format != kCFPropertyListBinaryFormat_v1_0)
            return false;
        Validator validator{format, {}, {}};
        return validator.check(plist);
    }

} // extern "C"
