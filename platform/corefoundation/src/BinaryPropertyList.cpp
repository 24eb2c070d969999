// Binary property lists ("bplist00"): objects, an offset table and a 32-byte
// trailer. Strings are kept exactly as stored, NUL characters and lone UTF-16
// surrogates included, and UIDs stay UIDs, as in Apple's reader and writer.
#include "Internal.h"

#include <CoreFoundation/CFKeyedArchiverUID.h>

#include <cstring>
#include <map>
#include <unordered_map>

namespace
{
constexpr size_t kHeaderSize = 8;
constexpr size_t kTrailerSize = 32;

uint64_t readBig(const UInt8* p, size_t n)
{
    uint64_t value = 0;
    for (size_t i = 0; i < n; ++i)
        value = (value << 8) | p[i];
    return value;
}

void appendBig(std::string& out, uint64_t value, size_t n)
{
    for (size_t i = n; i-- > 0;)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

class BinaryReader
{
public:
    BinaryReader(const UInt8* bytes, size_t size, CFOptionFlags mutability)
        : m_bytes(bytes), m_size(size), m_mutability(mutability)
    {
    }
    ~BinaryReader()
    {
        for (CFTypeRef object : m_shared)
            if (object)
                CFRelease(object);
    }
    BinaryReader(const BinaryReader&) = delete;
    BinaryReader& operator=(const BinaryReader&) = delete;

    CFPropertyListRef read(std::string& problem)
    {
        CFPropertyListRef result = nullptr;
        if (readTrailer())
            result = object(m_top, 0);
        if (!result)
            problem = "The data is not a valid binary property list: " + m_problem;
        return result;
    }

private:
    bool fail(const std::string& what)
    {
        if (m_problem.empty())
            m_problem = what + ".";
        return false;
    }

    bool readTrailer()
    {
        if (m_size < kHeaderSize + kTrailerSize + 1)
            return fail("it is too short");
        const UInt8* trailer = m_bytes + m_size - kTrailerSize;
        m_offsetSize = trailer[6];
        m_refSize = trailer[7];
        m_count = readBig(trailer + 8, 8);
        m_top = readBig(trailer + 16, 8);
        m_table = readBig(trailer + 24, 8);
        if (m_offsetSize < 1 || m_offsetSize > 8 || m_refSize < 1 || m_refSize > 8)
            return fail("its trailer is damaged");
        if (m_count == 0 || m_top >= m_count)
            return fail("its trailer names no top object");
        if (m_table < kHeaderSize + 1 || m_table > m_size - kTrailerSize ||
            m_count > (m_size - kTrailerSize - m_table) / m_offsetSize)
            return fail("its offset table lies outside the data");
        // A reference width too small for the object count cannot address them all.
        if (m_refSize < 8 && m_count - 1 > (uint64_t(1) << (8 * m_refSize)) - 1)
            return fail("its trailer is damaged");
        m_state.assign(static_cast<size_t>(m_count), 0);
        m_shared.assign(static_cast<size_t>(m_count), nullptr);
        // Shared containers are rebuilt for every reference when they are mutable;
        // this bounds what a file of a few bytes can make us build.
        m_budget = m_count * 64 + 65536;
        return true;
    }

    bool offsetOf(uint64_t index, uint64_t& offset)
    {
        offset = readBig(m_bytes + m_table + index * m_offsetSize, m_offsetSize);
        return (offset >= kHeaderSize && offset < m_table) ||
               fail("an object lies outside the data");
    }

    // The number of entries after a marker, in its low nibble or in the integer that follows.
    bool countAfter(uint64_t& at, uint64_t& count)
    {
        count = m_bytes[at] & 0x0F;
        ++at;
        if (count != 0x0F)
            return true;
        if (at >= m_table || (m_bytes[at] >> 4) != 0x1 || (m_bytes[at] & 0x0F) > 3)
            return fail("an object's length is damaged");
        const size_t width = size_t(1) << (m_bytes[at] & 0x0F);
        if (width > m_table - at - 1)
            return fail("an object's length lies outside the data");
        count = readBig(m_bytes + at + 1, width);
        at += 1 + width;
        return true;
    }

    bool within(uint64_t at, uint64_t count, uint64_t unit)
    {
        return (at <= m_table && count <= (m_table - at) / unit) ||
               fail("an object's contents lie outside the data");
    }

    CFTypeRef object(uint64_t index, int depth)
    {
        if (index >= m_count)
        {
            fail("a reference names a missing object");
            return nullptr;
        }
        const size_t slot = static_cast<size_t>(index);
        if (m_shared[slot])
            return CFRetain(m_shared[slot]);
        if (m_state[slot])
        {
            fail("a container contains itself");
            return nullptr;
        }
        if (depth > cf::kMaxPropertyListDepth)
        {
            fail("containers are nested too deeply");
            return nullptr;
        }
        uint64_t at = 0;
        if (!offsetOf(index, at))
            return nullptr;
        m_state[slot] = 1;
        bool shareable = true;
        CFTypeRef result = build(at, depth, shareable);
        m_state[slot] = 0;
        if (result && shareable)
            m_shared[slot] = CFRetain(result);
        return result;
    }

    CFTypeRef build(uint64_t at, int depth, bool& shareable)
    {
        const UInt8 marker = m_bytes[at];
        const unsigned type = marker >> 4, low = marker & 0x0F;
        switch (type)
        {
        case 0x0:
            if (marker == 0x08 || marker == 0x09)
                return marker == 0x09 ? kCFBooleanTrue : kCFBooleanFalse;
            fail(marker == 0x00 ? "it holds a null, which property lists cannot"
                                : "it holds an object of an unknown kind");
            return nullptr;
        case 0x1:
            return integer(at, low);
        case 0x2:
        {
            if (low != 2 && low != 3)
                break;
            const size_t width = size_t(1) << low;
            if (!within(at + 1, width, 1))
                return nullptr;
            const uint64_t bits = readBig(m_bytes + at + 1, width);
            if (width == 4)
            {
                const uint32_t narrow = static_cast<uint32_t>(bits);
                float value;
                std::memcpy(&value, &narrow, sizeof value);
                return CFNumberCreate(nullptr, kCFNumberFloat32Type, &value);
            }
            double value;
            std::memcpy(&value, &bits, sizeof value);
            return CFNumberCreate(nullptr, kCFNumberFloat64Type, &value);
        }
        case 0x3:
        {
            if (marker != 0x33 || !within(at + 1, 8, 1))
                break;
            const uint64_t bits = readBig(m_bytes + at + 1, 8);
            double value;
            std::memcpy(&value, &bits, sizeof value);
            return CFDateCreate(nullptr, value);
        }
        case 0x4:
        {
            uint64_t count = 0;
            if (!countAfter(at, count) || !within(at, count, 1))
                return nullptr;
            if (m_mutability == kCFPropertyListMutableContainersAndLeaves)
            {
                shareable = false;
                CFMutableDataRef data = CFDataCreateMutable(nullptr, 0);
                CFDataAppendBytes(data, m_bytes + at, static_cast<CFIndex>(count));
                return data;
            }
            return CFDataCreate(nullptr, m_bytes + at, static_cast<CFIndex>(count));
        }
        case 0x5:
        case 0x6:
        {
            // ASCII (one byte a character) or UTF-16 in big-endian order.
            const size_t unit = type == 0x5 ? 1 : 2;
            uint64_t count = 0;
            if (!countAfter(at, count) || !within(at, count, unit))
                return nullptr;
            std::u16string text;
            text.reserve(static_cast<size_t>(count));
            for (uint64_t i = 0; i < count; ++i)
            {
                const auto c = static_cast<char16_t>(readBig(m_bytes + at + unit * i, unit));
                if (unit == 1 && c >= 0x80)
                {
                    fail("an ASCII string holds a byte above 127");
                    return nullptr;
                }
                text += c;
            }
            return cf::createString(std::move(text));
        }
        case 0x8:
        {
            const size_t width = low + 1u;
            if (!within(at + 1, width, 1))
                return nullptr;
            // Leading zero bytes beyond the 32 bits a UID holds are harmless.
            for (size_t i = 0; i + 4 < width; ++i)
                if (m_bytes[at + 1 + i] != 0)
                {
                    fail("a UID does not fit in 32 bits");
                    return nullptr;
                }
            const size_t used = width < 4 ? width : 4;
            return _CFKeyedArchiverUIDCreate(
                nullptr, static_cast<uint32_t>(readBig(m_bytes + at + 1 + width - used, used)));
        }
        case 0xA:
        case 0xD:
            return container(at, type == 0xD, depth, shareable);
        default:
            break;
        }
        fail("it holds an object of an unknown kind");
        return nullptr;
    }

    CFTypeRef integer(uint64_t at, unsigned low)
    {
        if (low > 4)
        {
            fail("an integer has an impossible width");
            return nullptr;
        }
        const size_t width = size_t(1) << low;
        if (!within(at + 1, width, 1))
            return nullptr;
        if (width == 16)
        {
            // Written for values above INT64_MAX; the upper half is zero then.
            const uint64_t high = readBig(m_bytes + at + 1, 8);
            const uint64_t value = readBig(m_bytes + at + 9, 8);
            if (high == 0 && value > static_cast<uint64_t>(INT64_MAX))
                return cf::createNumberAboveInt64(value);
            if (high != 0 && high != UINT64_MAX)
            {
                fail("an integer does not fit in 64 bits");
                return nullptr;
            }
            const int64_t signedValue = static_cast<int64_t>(value);
            return CFNumberCreate(nullptr, kCFNumberSInt64Type, &signedValue);
        }
        // One to four bytes are unsigned, eight bytes signed.
        const int64_t value = static_cast<int64_t>(readBig(m_bytes + at + 1, width));
        return CFNumberCreate(nullptr, kCFNumberSInt64Type, &value);
    }

    CFTypeRef container(uint64_t at, bool dict, int depth, bool& shareable)
    {
        uint64_t count = 0;
        if (!countAfter(at, count) || !within(at, count, dict ? 2 * m_refSize : m_refSize))
            return nullptr;
        if (m_mutability != kCFPropertyListImmutable)
        {
            shareable = false;
            if (m_budget < count + 1)
            {
                fail("it expands to too many objects");
                return nullptr;
            }
            m_budget -= count + 1;
        }
        auto reference = [&](uint64_t i)
        { return readBig(m_bytes + at + i * m_refSize, m_refSize); };
        if (!dict)
        {
            CFMutableArrayRef array = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
            for (uint64_t i = 0; i < count; ++i)
            {
                CFTypeRef item = object(reference(i), depth + 1);
                if (!item)
                {
                    CFRelease(array);
                    return nullptr;
                }
                CFArrayAppendValue(array, item);
                CFRelease(item);
            }
            return cf::finishContainer(array, m_mutability);
        }
        CFMutableDictionaryRef dictionary = CFDictionaryCreateMutable(
            nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
        for (uint64_t i = 0; i < count; ++i)
        {
            CFTypeRef key = object(reference(i), depth + 1);
            if (key && CFGetTypeID(key) != CFStringGetTypeID())
            {
                CFRelease(key);
                key = nullptr;
                fail("a dictionary key is not a string");
            }
            CFTypeRef value = key ? object(reference(count + i), depth + 1) : nullptr;
            if (value)
                CFDictionarySetValue(dictionary, key, value);
            if (key)
                CFRelease(key);
            if (!value)
            {
                CFRelease(dictionary);
                return nullptr;
            }
            CFRelease(value);
        }
        return cf::finishContainer(dictionary, m_mutability);
    }

    const UInt8* const m_bytes;
    const size_t m_size;
    const CFOptionFlags m_mutability;
    size_t m_offsetSize = 0, m_refSize = 0;
    uint64_t m_count = 0, m_top = 0, m_table = 0, m_budget = 0;
    // 1 while an object is being built, so a reference back to it is a cycle.
    std::vector<char> m_state;
    // Objects already built that can serve every reference to them.
    std::vector<CFTypeRef> m_shared;
    std::string m_problem;
};

// Collects the objects of a valid property list, one entry per distinct
// string, number, date, data and UID and one per container, and writes them.
class BinaryWriter
{
public:
    std::string write(CFPropertyListRef root)
    {
        add(root);
        const size_t count = m_objects.size();
        m_refSize = widthFor(count - 1);
        std::string out = "bplist00";
        std::vector<uint64_t> offsets;
        offsets.reserve(count);
        for (const Object& object : m_objects)
        {
            offsets.push_back(out.size());
            out += object.bytes;
            for (size_t reference : object.references)
                appendBig(out, reference, m_refSize);
        }
        const uint64_t table = out.size();
        const size_t offsetSize = widthFor(offsets.empty() ? 0 : offsets.back());
        for (uint64_t offset : offsets)
            appendBig(out, offset, offsetSize);
        out += std::string(6, '\0');
        out += static_cast<char>(offsetSize);
        out += static_cast<char>(m_refSize);
        appendBig(out, count, 8);
        appendBig(out, 0, 8);
        appendBig(out, table, 8);
        return out;
    }

private:
    struct Object
    {
        std::string bytes; // the marker and contents, without the references
        std::vector<size_t> references;
    };

    static size_t widthFor(uint64_t value)
    {
        return value <= 0xFF ? 1 : value <= 0xFFFF ? 2 : value <= 0xFFFFFFFFu ? 4 : 8;
    }

    static void marker(std::string& out, unsigned type, uint64_t count)
    {
        if (count < 15)
        {
            out += static_cast<char>(type << 4 | count);
            return;
        }
        out += static_cast<char>(type << 4 | 0x0F);
        const size_t width = widthFor(count);
        out += static_cast<char>(0x10 | (width == 1 ? 0 : width == 2 ? 1 : width == 4 ? 2 : 3));
        appendBig(out, count, width);
    }

    static std::string scalar(CFTypeRef value)
    {
        std::string out;
        const CFTypeID type = CFGetTypeID(value);
        if (type == cf::kBooleanTypeID)
            out += CFBooleanGetValue(static_cast<CFBooleanRef>(value)) ? '\x09' : '\x08';
        else if (type == cf::kNumberTypeID)
        {
            auto number = static_cast<CFNumberRef>(value);
            if (cf::numberIsFloat(number))
            {
                const double real = cf::numberAsDouble(number);
                uint64_t bits;
                std::memcpy(&bits, &real, sizeof bits);
                out += '\x23';
                appendBig(out, bits, 8);
            }
            else if (cf::numberIsAboveInt64(number))
            {
                out += '\x14';
                appendBig(out, 0, 8);
                appendBig(out, cf::numberAboveInt64Value(number), 8);
            }
            else
            {
                const int64_t integer = cf::numberAsInt64(number);
                const size_t width = integer < 0 ? 8 : widthFor(static_cast<uint64_t>(integer));
                out += static_cast<char>(0x10 | (width == 1   ? 0
                                                 : width == 2 ? 1
                                                 : width == 4 ? 2
                                                              : 3));
                appendBig(out, static_cast<uint64_t>(integer), width);
            }
        }
        else if (type == cf::kDateTypeID)
        {
            const double at = CFDateGetAbsoluteTime(static_cast<CFDateRef>(value));
            uint64_t bits;
            std::memcpy(&bits, &at, sizeof bits);
            out += '\x33';
            appendBig(out, bits, 8);
        }
        else if (type == cf::kDataTypeID)
        {
            auto data = static_cast<CFDataRef>(value);
            const auto size = static_cast<size_t>(CFDataGetLength(data));
            marker(out, 0x4, size);
            out.append(reinterpret_cast<const char*>(CFDataGetBytePtr(data)), size);
        }
        else if (type == cf::kStringTypeID)
        {
            const std::u16string& text = cf::utf16Of(static_cast<CFStringRef>(value));
            bool ascii = true;
            for (char16_t c : text)
                ascii = ascii && c < 0x80;
            marker(out, ascii ? 0x5 : 0x6, text.size());
            for (char16_t c : text)
                appendBig(out, c, ascii ? 1 : 2);
        }
        else if (type == cf::kKeyedArchiverUIDTypeID)
        {
            const uint32_t uid =
                _CFKeyedArchiverUIDGetValue(static_cast<CFKeyedArchiverUIDRef>(value));
            const size_t width = widthFor(uid);
            out += static_cast<char>(0x80 | (width - 1));
            appendBig(out, uid, width);
        }
        return out;
    }

    size_t add(CFTypeRef value)
    {
        const CFTypeID type = CFGetTypeID(value);
        if (type != cf::kArrayTypeID && type != cf::kDictionaryTypeID)
        {
            // Equal scalars are stored once; the encoding tells them apart, so
            // 1 and 1.0 or a string and data of the same bytes stay distinct.
            std::string bytes = scalar(value);
            const auto found = m_unique.find(bytes);
            if (found != m_unique.end())
                return found->second;
            m_objects.push_back(Object{bytes, {}});
            m_unique.emplace(std::move(bytes), m_objects.size() - 1);
            return m_objects.size() - 1;
        }
        const size_t index = m_objects.size();
        m_objects.emplace_back();
        std::vector<size_t> references;
        if (type == cf::kArrayTypeID)
        {
            auto array = static_cast<CFArrayRef>(value);
            const CFIndex count = CFArrayGetCount(array);
            for (CFIndex i = 0; i < count; ++i)
                references.push_back(add(CFArrayGetValueAtIndex(array, i)));
            marker(m_objects[index].bytes, 0xA, static_cast<uint64_t>(count));
        }
        else
        {
            auto dict = static_cast<CFDictionaryRef>(value);
            const CFIndex count = CFDictionaryGetCount(dict);
            std::vector<const void*> keys(static_cast<size_t>(count)),
                values(static_cast<size_t>(count));
            CFDictionaryGetKeysAndValues(dict, keys.data(), values.data());
            for (const void* key : keys)
                references.push_back(add(key));
            for (const void* item : values)
                references.push_back(add(item));
            marker(m_objects[index].bytes, 0xD, static_cast<uint64_t>(count));
        }
        m_objects[index].references = std::move(references);
        return index;
    }

    std::vector<Object> m_objects;
    std::unordered_map<std::string, size_t> m_unique;
    size_t m_refSize = 1;
};
} // namespace

namespace cf
{

CFPropertyListRef parseBinaryPropertyList(const UInt8* bytes, size_t size, CFOptionFlags mutability,
                                          std::string& problem)
{
    return BinaryReader(bytes, size, mutability).read(problem);
}

CFDataRef writeBinaryPropertyList(CFPropertyListRef plist)
{
    const std::string bytes = BinaryWriter().write(plist);
    return CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(bytes.data()),
                        static_cast<CFIndex>(bytes.size()));
}

} // namespace cf
