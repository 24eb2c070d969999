#include "Internal.h"

#include <clocale>
#include <cstring>
#include <cwctype>
#include <locale.h>
#include <mutex>
#include <unordered_map>

struct __CFString : __CFRuntimeBase
{
    explicit __CFString(std::u16string utf16, bool immortal = false)
        : __CFRuntimeBase(cf::kStringTypeID, immortal), m_utf16(std::move(utf16))
    {
        for (char16_t c : m_utf16)
        {
            if (c >= 0x80)
                m_ascii = false;
            if (c == u'\0')
                m_hasNul = true;
        }
    }
    bool equal(const __CFRuntimeBase* other) const override
    {
        return m_utf16 == static_cast<const __CFString*>(other)->m_utf16;
    }
    CFHashCode hash() const override
    {
        // Keys are looked up again and again; the text never changes.
        CFHashCode known = m_hash.load(std::memory_order_relaxed);
        if (known == 0)
        {
            known = cf::hashBytes(m_utf16.data(), m_utf16.size() * sizeof(char16_t));
            m_hash.store(known, std::memory_order_relaxed);
        }
        return known;
    }
    std::string describe() const override { return utf8Valid() ? utf8() : "<invalid UTF-16>"; }

    // The UTF-8 form is made on first use: most strings never need it. Strings
    // are shared between threads, so the one-time work is guarded.
    bool utf8Valid() const
    {
        std::call_once(m_utf8Once, [this] { m_utf8Valid = cf::encodeUtf8(m_utf16, m_utf8); });
        return m_utf8Valid;
    }
    const std::string& utf8() const
    {
        utf8Valid();
        return m_utf8;
    }

    const std::u16string m_utf16;
    bool m_ascii = true;
    bool m_hasNul = false;

private:
    mutable std::atomic<CFHashCode> m_hash{0}; // 0 until computed
    mutable std::once_flag m_utf8Once;
    mutable std::string m_utf8;
    mutable bool m_utf8Valid = false;
};

namespace
{
const __CFString* str(CFStringRef s, const char* caller)
{
    return cf::as<__CFString>(s, cf::kStringTypeID, caller);
}

bool isUtf16(CFStringEncoding e)
{
    return e == kCFStringEncodingUTF16 || e == kCFStringEncodingUTF16BE ||
           e == kCFStringEncodingUTF16LE;
}
bool isUtf32(CFStringEncoding e)
{
    return e == kCFStringEncodingUTF32 || e == kCFStringEncodingUTF32BE ||
           e == kCFStringEncodingUTF32LE;
}
bool isLatin1(CFStringEncoding e)
{
    return e == kCFStringEncodingISOLatin1 || e == kCFStringEncodingWindowsLatin1;
}
bool isAsciiOnly(CFStringEncoding e)
{
    return e == kCFStringEncodingASCII || e == kCFStringEncodingMacRoman ||
           e == kCFStringEncodingNextStepLatin || e == kCFStringEncodingNonLossyASCII;
}
bool supported(CFStringEncoding e)
{
    return e == kCFStringEncodingUTF8 || isUtf16(e) || isUtf32(e) || isLatin1(e) || isAsciiOnly(e);
}

bool bigEndianHost()
{
    const uint16_t probe = 1;
    return *reinterpret_cast<const uint8_t*>(&probe) == 0;
}

void appendCodePoint(std::u16string& out, uint32_t cp)
{
    if (cp >= 0x10000)
    {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
    else
        out.push_back(static_cast<char16_t>(cp));
}

// Decodes bytes in a supported encoding; false when they are not valid in it.
bool decode(const UInt8* bytes, size_t n, CFStringEncoding encoding, bool external,
            std::u16string& out)
{
    out.clear();
    if (encoding == kCFStringEncodingUTF8)
    {
        // A byte order mark is not part of the text.
        if (n >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF)
        {
            bytes += 3;
            n -= 3;
        }
        return cf::decodeUtf8(std::string(reinterpret_cast<const char*>(bytes), n), out);
    }
    if (isLatin1(encoding))
    {
        for (size_t i = 0; i < n; ++i)
            out.push_back(bytes[i]);
        return true;
    }
    if (isAsciiOnly(encoding))
    {
        for (size_t i = 0; i < n; ++i)
        {
            if (bytes[i] >= 0x80)
                return false;
            out.push_back(bytes[i]);
        }
        return true;
    }
    bool big = encoding == kCFStringEncodingUTF16BE || encoding == kCFStringEncodingUTF32BE ||
               ((encoding == kCFStringEncodingUTF16 || encoding == kCFStringEncodingUTF32) &&
                bigEndianHost());
    const bool generic = encoding == kCFStringEncodingUTF16 || encoding == kCFStringEncodingUTF32;
    if (isUtf16(encoding))
    {
        if (n % 2)
            return false;
        size_t i = 0;
        if (generic && n >= 2)
        {
            // A byte order mark decides, and is dropped, for the generic encoding.
            if (bytes[0] == 0xFE && bytes[1] == 0xFF)
            {
                big = true;
                i = 2;
            }
            else if (bytes[0] == 0xFF && bytes[1] == 0xFE)
            {
                big = false;
                i = 2;
            }
        }
        (void)external;
        for (; i < n; i += 2)
            out.push_back(static_cast<char16_t>(big ? (bytes[i] << 8 | bytes[i + 1])
                                                    : (bytes[i + 1] << 8 | bytes[i])));
        return true;
    }
    if (isUtf32(encoding))
    {
        if (n % 4)
            return false;
        size_t i = 0;
        if (generic && n >= 4)
        {
            if (bytes[0] == 0 && bytes[1] == 0 && bytes[2] == 0xFE && bytes[3] == 0xFF)
            {
                big = true;
                i = 4;
            }
            else if (bytes[0] == 0xFF && bytes[1] == 0xFE && bytes[2] == 0 && bytes[3] == 0)
            {
                big = false;
                i = 4;
            }
        }
        for (; i < n; i += 4)
        {
            uint32_t cp = big ? (uint32_t(bytes[i]) << 24 | uint32_t(bytes[i + 1]) << 16 |
                                 uint32_t(bytes[i + 2]) << 8 | bytes[i + 3])
                              : (uint32_t(bytes[i + 3]) << 24 | uint32_t(bytes[i + 2]) << 16 |
                                 uint32_t(bytes[i + 1]) << 8 | bytes[i]);
            if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
                return false;
            appendCodePoint(out, cp);
        }
        return true;
    }
    return false;
}

// Encodes units [from, to) of s; lossByte 0 makes unrepresentable characters
// stop the conversion. Returns the number of UTF-16 units converted.
size_t encode(const std::u16string& s, size_t from, size_t to, CFStringEncoding encoding,
              UInt8 lossByte, bool external, std::string& out)
{
    out.clear();
    const bool big = encoding == kCFStringEncodingUTF16BE || encoding == kCFStringEncodingUTF32BE ||
                     ((encoding == kCFStringEncodingUTF16 || encoding == kCFStringEncodingUTF32) &&
                      (bigEndianHost() || external));
    auto put16 = [&](char16_t c)
    {
        if (big)
        {
            out.push_back(static_cast<char>(c >> 8));
            out.push_back(static_cast<char>(c & 0xFF));
        }
        else
        {
            out.push_back(static_cast<char>(c & 0xFF));
            out.push_back(static_cast<char>(c >> 8));
        }
    };
    auto put32 = [&](uint32_t c)
    {
        for (int k = 0; k < 4; ++k)
        {
            int shift = big ? (24 - 8 * k) : (8 * k);
            out.push_back(static_cast<char>((c >> shift) & 0xFF));
        }
    };
    if (external && encoding == kCFStringEncodingUTF16)
        put16(0xFEFF);
    if (external && encoding == kCFStringEncodingUTF32)
        put32(0xFEFF);
    size_t i = from;
    while (i < to)
    {
        char16_t c = s[i];
        uint32_t cp = c;
        size_t units = 1;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < to && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF)
        {
            cp = 0x10000 + ((uint32_t(c) - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            units = 2;
        }
        const bool lone = cp >= 0xD800 && cp <= 0xDFFF;
        if (isUtf16(encoding))
        {
            put16(c);
            if (units == 2)
                put16(s[i + 1]);
        }
        else if (encoding == kCFStringEncodingUTF8 || isUtf32(encoding))
        {
            if (lone)
            {
                if (!lossByte)
                    break;
                out.push_back(static_cast<char>(lossByte));
            }
            else if (isUtf32(encoding))
                put32(cp);
            else
            {
                std::string piece;
                cf::encodeUtf8(s.substr(i, units), piece);
                out += piece;
            }
        }
        else
        {
            const uint32_t limit = isLatin1(encoding) ? 0x100 : 0x80;
            if (cp >= limit)
            {
                if (!lossByte)
                    break;
                out.push_back(static_cast<char>(lossByte));
            }
            else
                out.push_back(static_cast<char>(cp));
        }
        i += units;
    }
    return i - from;
}

locale_t foldingLocale()
{
    static locale_t locale = []
    {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        return l;
    }();
    return locale;
}

uint32_t fold(uint32_t c)
{
    if (c < 0x80)
        return (c >= 'A' && c <= 'Z') ? c + 32 : c;
    locale_t l = foldingLocale();
    return l ? static_cast<uint32_t>(towlower_l(static_cast<wint_t>(c), l)) : c;
}

std::u32string codePoints(const std::u16string& s)
{
    std::u32string out;
    for (size_t i = 0; i < s.size(); ++i)
    {
        char16_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] <= 0xDFFF)
        {
            out.push_back(0x10000 + ((uint32_t(c) - 0xD800) << 10) + (s[i + 1] - 0xDC00));
            ++i;
        }
        else
            out.push_back(c);
    }
    return out;
}

bool isDigit(uint32_t c)
{
    return c >= '0' && c <= '9';
}

CFComparisonResult compare(const std::u16string& a16, const std::u16string& b16,
                           CFStringCompareFlags flags)
{
    const bool caseless = flags & kCFCompareCaseInsensitive;
    const bool numeric = flags & kCFCompareNumerically;
    if (!caseless && !numeric)
    {
        int r = a16.compare(b16);
        return r < 0 ? kCFCompareLessThan : (r > 0 ? kCFCompareGreaterThan : kCFCompareEqualTo);
    }
    const std::u32string a = codePoints(a16), b = codePoints(b16);
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size())
    {
        if (numeric && isDigit(a[i]) && isDigit(b[j]))
        {
            size_t ei = i, ej = j;
            while (ei < a.size() && isDigit(a[ei]))
                ++ei;
            while (ej < b.size() && isDigit(b[ej]))
                ++ej;
            // Compare by value: skip leading zeros, then longer is larger.
            size_t si = i, sj = j;
            while (si + 1 < ei && a[si] == '0')
                ++si;
            while (sj + 1 < ej && b[sj] == '0')
                ++sj;
            if (ei - si != ej - sj)
                return (ei - si < ej - sj) ? kCFCompareLessThan : kCFCompareGreaterThan;
            for (; si < ei; ++si, ++sj)
                if (a[si] != b[sj])
                    return a[si] < b[sj] ? kCFCompareLessThan : kCFCompareGreaterThan;
            i = ei;
            j = ej;
            continue;
        }
        uint32_t x = caseless ? fold(a[i]) : a[i];
        uint32_t y = caseless ? fold(b[j]) : b[j];
        if (x != y)
            return x < y ? kCFCompareLessThan : kCFCompareGreaterThan;
        ++i;
        ++j;
    }
    if (i < a.size())
        return kCFCompareGreaterThan;
    if (j < b.size())
        return kCFCompareLessThan;
    return kCFCompareEqualTo;
}
} // namespace

namespace cf
{

bool decodeUtf8(const std::string& in, std::u16string& out)
{
    out.clear();
    out.reserve(in.size());
    const auto* s = reinterpret_cast<const unsigned char*>(in.data());
    const size_t n = in.size();
    size_t i = 0;
    while (i < n)
    {
        unsigned char c = s[i];
        uint32_t cp;
        size_t len;
        if (c < 0x80)
        {
            cp = c;
            len = 1;
        }
        else if ((c & 0xE0) == 0xC0)
        {
            cp = c & 0x1F;
            len = 2;
        }
        else if ((c & 0xF0) == 0xE0)
        {
            cp = c & 0x0F;
            len = 3;
        }
        else if ((c & 0xF8) == 0xF0)
        {
            cp = c & 0x07;
            len = 4;
        }
        else
            return false;
        if (i + len > n)
            return false;
        for (size_t k = 1; k < len; ++k)
        {
            if ((s[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and values beyond Unicode are invalid.
        if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
            cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        appendCodePoint(out, cp);
        i += len;
    }
    return true;
}

bool encodeUtf8(const std::u16string& in, std::string& out)
{
    out.clear();
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i)
    {
        uint32_t cp = in[i];
        if (cp >= 0xD800 && cp <= 0xDBFF)
        {
            if (i + 1 >= in.size() || in[i + 1] < 0xDC00 || in[i + 1] > 0xDFFF)
                return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
            ++i;
        }
        else if (cp >= 0xDC00 && cp <= 0xDFFF)
            return false;
        if (cp < 0x80)
            out.push_back(static_cast<char>(cp));
        else if (cp < 0x800)
        {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
        else if (cp < 0x10000)
        {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
        else
        {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return true;
}

CFStringRef createString(const std::string& utf8)
{
    std::u16string utf16;
    if (!decodeUtf8(utf8, utf16))
        return nullptr;
    return new __CFString(std::move(utf16));
}

CFStringRef createString(std::u16string utf16)
{
    return new __CFString(std::move(utf16));
}

const std::u16string& utf16Of(CFStringRef s)
{
    static const std::u16string empty;
    const __CFString* string = str(s, "CFString");
    return string ? string->m_utf16 : empty;
}

bool utf8Of(CFStringRef s, std::string& out)
{
    const __CFString* string = str(s, "CFString");
    if (!string || !string->utf8Valid())
        return false;
    out = string->utf8();
    return true;
}

std::string utf8OrEmpty(CFStringRef s)
{
    std::string out;
    if (s && !utf8Of(s, out))
        out.clear();
    return out;
}

} // namespace cf

extern "C"
{

    CFStringRef __CFStringMakeConstantString(const char* cStr)
    {
        // Interned for the life of the process; the map is never destroyed so that
        // constants stay valid during static destruction.
        static std::mutex* mutex = new std::mutex;
        static auto* table = new std::unordered_map<std::string, __CFString*>;
        if (!cStr)
            return nullptr;
        std::lock_guard<std::mutex> lock(*mutex);
        auto found = table->find(cStr);
        if (found != table->end())
            return found->second;
        std::u16string utf16;
        if (!cf::decodeUtf8(cStr, utf16))
        {
            // Not UTF-8: keep the bytes as Latin-1 rather than lose the constant.
            utf16.clear();
            for (const char* p = cStr; *p; ++p)
                utf16.push_back(static_cast<unsigned char>(*p));
        }
        auto* string = new __CFString(std::move(utf16), true);
        table->emplace(cStr, string);
        return string;
    }

    CFTypeID CFStringGetTypeID(void)
    {
        return cf::kStringTypeID;
    }

    CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char* cStr,
                                          CFStringEncoding encoding)
    {
        if (!cStr || !supported(encoding))
            return nullptr;
        std::u16string utf16;
        if (!decode(reinterpret_cast<const UInt8*>(cStr), std::strlen(cStr), encoding, false,
                    utf16))
            return nullptr;
        return new __CFString(std::move(utf16));
    }

    CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8* bytes, CFIndex numBytes,
                                        CFStringEncoding encoding, Boolean isExternalRepresentation)
    {
        if ((!bytes && numBytes > 0) || numBytes < 0 || !supported(encoding))
            return nullptr;
        std::u16string utf16;
        if (!decode(bytes, static_cast<size_t>(numBytes), encoding, isExternalRepresentation,
                    utf16))
            return nullptr;
        return new __CFString(std::move(utf16));
    }

    CFStringRef CFStringCreateWithCharacters(CFAllocatorRef, const UniChar* chars, CFIndex numChars)
    {
        if ((!chars && numChars > 0) || numChars < 0)
            return nullptr;
        return new __CFString(std::u16string(reinterpret_cast<const char16_t*>(chars),
                                             static_cast<size_t>(numChars)));
    }

    CFStringRef CFStringCreateCopy(CFAllocatorRef, CFStringRef theString)
    {
        const __CFString* s = str(theString, "CFStringCreateCopy");
        if (!s)
            return nullptr;
        // Strings are immutable, so a copy can share the original.
        return static_cast<CFStringRef>(CFRetain(s));
    }

    CFStringRef CFStringCreateWithSubstring(CFAllocatorRef, CFStringRef theString, CFRange range)
    {
        const __CFString* s = str(theString, "CFStringCreateWithSubstring");
        if (!s || range.location < 0 || range.length < 0 ||
            static_cast<size_t>(range.location + range.length) > s->m_utf16.size())
            return nullptr;
        return new __CFString(s->m_utf16.substr(static_cast<size_t>(range.location),
                                                static_cast<size_t>(range.length)));
    }

    CFIndex CFStringGetLength(CFStringRef theString)
    {
        const __CFString* s = str(theString, "CFStringGetLength");
        return s ? static_cast<CFIndex>(s->m_utf16.size()) : 0;
    }

    UniChar CFStringGetCharacterAtIndex(CFStringRef theString, CFIndex idx)
    {
        const __CFString* s = str(theString, "CFStringGetCharacterAtIndex");
        if (!s || idx < 0 || static_cast<size_t>(idx) >= s->m_utf16.size())
            return 0;
        return s->m_utf16[static_cast<size_t>(idx)];
    }

    void CFStringGetCharacters(CFStringRef theString, CFRange range, UniChar* buffer)
    {
        const __CFString* s = str(theString, "CFStringGetCharacters");
        if (!s || !buffer || range.location < 0 || range.length < 0 ||
            static_cast<size_t>(range.location + range.length) > s->m_utf16.size())
            return;
        std::memcpy(buffer, s->m_utf16.data() + range.location,
                    static_cast<size_t>(range.length) * sizeof(UniChar));
    }

    Boolean CFStringGetCString(CFStringRef theString, char* buffer, CFIndex bufferSize,
                               CFStringEncoding encoding)
    {
        const __CFString* s = str(theString, "CFStringGetCString");
        if (!s || !buffer || bufferSize <= 0 || !supported(encoding))
            return false;
        std::string out;
        if (encoding == kCFStringEncodingUTF8 && s->utf8Valid())
            out = s->utf8();
        else if (encode(s->m_utf16, 0, s->m_utf16.size(), encoding, 0, false, out) !=
                 s->m_utf16.size())
        {
            buffer[0] = '\0';
            return false;
        }
        if (static_cast<CFIndex>(out.size()) + 1 > bufferSize)
        {
            buffer[0] = '\0';
            return false;
        }
        std::memcpy(buffer, out.data(), out.size());
        buffer[out.size()] = '\0';
        return true;
    }

    const char* CFStringGetCStringPtr(CFStringRef theString, CFStringEncoding encoding)
    {
        const __CFString* s = str(theString, "CFStringGetCStringPtr");
        if (!s || s->m_hasNul || !s->utf8Valid())
            return nullptr;
        if (encoding == kCFStringEncodingUTF8 ||
            ((isAsciiOnly(encoding) || isLatin1(encoding)) && s->m_ascii))
            return s->utf8().c_str();
        return nullptr;
    }

    CFIndex CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding,
                             UInt8 lossByte, Boolean isExternalRepresentation, UInt8* buffer,
                             CFIndex maxBufLen, CFIndex* usedBufLen)
    {
        if (usedBufLen)
            *usedBufLen = 0;
        const __CFString* s = str(theString, "CFStringGetBytes");
        if (!s || range.location < 0 || range.length < 0 || !supported(encoding) ||
            static_cast<size_t>(range.location + range.length) > s->m_utf16.size())
            return 0;
        std::string out;
        size_t done = encode(s->m_utf16, static_cast<size_t>(range.location),
                             static_cast<size_t>(range.location + range.length), encoding, lossByte,
                             isExternalRepresentation, out);
        if (buffer)
        {
            if (static_cast<CFIndex>(out.size()) > maxBufLen)
            {
                // Convert only what fits, never splitting a character.
                std::string part;
                size_t lo = 0, hi = done;
                while (lo < hi)
                {
                    size_t mid = (lo + hi + 1) / 2;
                    encode(s->m_utf16, static_cast<size_t>(range.location),
                           static_cast<size_t>(range.location) + mid, encoding, lossByte,
                           isExternalRepresentation, part);
                    if (static_cast<CFIndex>(part.size()) <= maxBufLen)
                        lo = mid;
                    else
                        hi = mid - 1;
                }
                done = encode(s->m_utf16, static_cast<size_t>(range.location),
                              static_cast<size_t>(range.location) + lo, encoding, lossByte,
                              isExternalRepresentation, out);
            }
            std::memcpy(buffer, out.data(), out.size());
        }
        if (usedBufLen)
            *usedBufLen = static_cast<CFIndex>(out.size());
        return static_cast<CFIndex>(done);
    }

    CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding)
    {
        if (length < 0 || !supported(encoding))
            return kCFNotFound;
        if (encoding == kCFStringEncodingUTF8)
            return length * 3;
        if (isUtf16(encoding))
            return length * 2;
        if (isUtf32(encoding))
            return length * 4;
        return length;
    }

    Boolean CFStringIsEncodingAvailable(CFStringEncoding encoding)
    {
        return supported(encoding);
    }

    CFComparisonResult CFStringCompare(CFStringRef theString1, CFStringRef theString2,
                                       CFStringCompareFlags compareOptions)
    {
        const __CFString* a = str(theString1, "CFStringCompare");
        const __CFString* b = str(theString2, "CFStringCompare");
        if (!a || !b)
            return a ? kCFCompareGreaterThan : (b ? kCFCompareLessThan : kCFCompareEqualTo);
        return compare(a->m_utf16, b->m_utf16, compareOptions);
    }

    Boolean CFStringHasPrefix(CFStringRef theString, CFStringRef prefix)
    {
        const __CFString* s = str(theString, "CFStringHasPrefix");
        const __CFString* p = str(prefix, "CFStringHasPrefix");
        return s && p && s->m_utf16.compare(0, p->m_utf16.size(), p->m_utf16) == 0;
    }

    Boolean CFStringHasSuffix(CFStringRef theString, CFStringRef suffix)
    {
        const __CFString* s = str(theString, "CFStringHasSuffix");
        const __CFString* p = str(suffix, "CFStringHasSuffix");
        return s && p && s->m_utf16.size() >= p->m_utf16.size() &&
               s->m_utf16.compare(s->m_utf16.size() - p->m_utf16.size(), p->m_utf16.size(),
                                  p->m_utf16) == 0;
    }

} // extern "C"
