#include "Utf8.h"

#include <cstdint>
#include <stdexcept>

namespace Preference
{
namespace detail
{
namespace
{

static_assert(sizeof(wchar_t) == 4, "wide strings hold UTF-32 code points here");

const char* const FromBytesError = "wstring_convert: from_bytes error";
const char* const ToBytesError = "wstring_convert: to_bytes error";

bool IsScalarValue(std::uint32_t codePoint)
{
    return codePoint <= 0x10FFFF && (codePoint < 0xD800 || codePoint > 0xDFFF);
}

} // namespace

std::string ToUtf8(const std::wstring& text)
{
    std::string result;
    result.reserve(text.size());
    for (wchar_t character : text)
    {
        const auto c = static_cast<std::uint32_t>(character);
        if (!IsScalarValue(c))
            throw std::range_error(ToBytesError);
        if (c < 0x80)
        {
            result += static_cast<char>(c);
        }
        else if (c < 0x800)
        {
            result += static_cast<char>(0xC0 | (c >> 6));
            result += static_cast<char>(0x80 | (c & 0x3F));
        }
        else if (c < 0x10000)
        {
            result += static_cast<char>(0xE0 | (c >> 12));
            result += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            result += static_cast<char>(0x80 | (c & 0x3F));
        }
        else
        {
            result += static_cast<char>(0xF0 | (c >> 18));
            result += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            result += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            result += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return result;
}

std::wstring FromUtf8(const char* text, std::size_t length)
{
    std::wstring result;
    result.reserve(length);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    std::size_t i = 0;
    while (i < length)
    {
        const unsigned char lead = bytes[i];
        std::uint32_t c;
        std::size_t extra;
        std::uint32_t minimum;
        if (lead < 0x80)
        {
            result += static_cast<wchar_t>(lead);
            ++i;
            continue;
        }
        else if ((lead & 0xE0) == 0xC0)
        {
            c = lead & 0x1F;
            extra = 1;
            minimum = 0x80;
        }
        else if ((lead & 0xF0) == 0xE0)
        {
            c = lead & 0x0F;
            extra = 2;
            minimum = 0x800;
        }
        else if ((lead & 0xF8) == 0xF0)
        {
            c = lead & 0x07;
            extra = 3;
            minimum = 0x10000;
        }
        else
        {
            throw std::range_error(FromBytesError);
        }
        if (length - i <= extra)
            throw std::range_error(FromBytesError);
        for (std::size_t k = 1; k <= extra; ++k)
        {
            const unsigned char next = bytes[i + k];
            if ((next & 0xC0) != 0x80)
                throw std::range_error(FromBytesError);
            c = (c << 6) | (next & 0x3F);
        }
        // Overlong forms and surrogates are not UTF-8.
        if (c < minimum || !IsScalarValue(c))
            throw std::range_error(FromBytesError);
        result += static_cast<wchar_t>(c);
        i += extra + 1;
    }
    return result;
}

} // namespace detail
} // namespace Preference
