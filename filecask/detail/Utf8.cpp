#include "Utf8.h"

#include <stdexcept>

namespace Preference
{
namespace detail
{

std::string ToUtf8(const std::wstring& text)
{
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text)
    {
        const unsigned long c = static_cast<unsigned long>(wc);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            throw std::range_error("wstring_convert: to_bytes error");
        if (c < 0x80)
        {
            out += static_cast<char>(c);
        }
        else if (c < 0x800)
        {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
        else if (c < 0x10000)
        {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
        else
        {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::wstring FromUtf8(const std::string& text)
{
    std::wstring out;
    out.reserve(text.size());
    const std::size_t size = text.size();
    for (std::size_t i = 0; i < size;)
    {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        unsigned long c;
        std::size_t extra;
        if (lead < 0x80)
        {
            c = lead;
            extra = 0;
        }
        else if (lead >= 0xC2 && lead <= 0xDF)
        {
            c = lead & 0x1F;
            extra = 1;
        }
        else if (lead >= 0xE0 && lead <= 0xEF)
        {
            c = lead & 0x0F;
            extra = 2;
        }
        else if (lead >= 0xF0 && lead <= 0xF4)
        {
            c = lead & 0x07;
            extra = 3;
        }
        else
        {
            throw std::range_error("wstring_convert: from_bytes error");
        }
        for (std::size_t k = 1; k <= extra; ++k)
        {
            if (i + k >= size)
                throw std::range_error("wstring_convert: from_bytes error");
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                throw std::range_error("wstring_convert: from_bytes error");
            c = (c << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past the last code point are not UTF-8.
        if ((extra == 2 && c < 0x800) || (extra == 3 && c < 0x10000) || c > 0x10FFFF ||
            (c >= 0xD800 && c <= 0xDFFF))
            throw std::range_error("wstring_convert: from_bytes error");
        out += static_cast<wchar_t>(c);
        i += extra + 1;
    }
    return out;
}

} // namespace detail
} // namespace Preference
