#include "Internal.h"

#include <utils/XmlNesting.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <plist/plist.h>

namespace
{
// Deeper nesting than any real property list; bounds the recursion below.
constexpr int kMaxDepth = 512;

std::mutex& libplistMutex()
{
    static std::mutex mutex;
    return mutex;
}

struct PlistDeleter
{
    void operator()(void* node) const
    {
        if (node)
            plist_free(static_cast<plist_t>(node));
    }
};
using PlistHolder = std::unique_ptr<void, PlistDeleter>;

// Characters an XML 1.0 document cannot carry, even escaped.
bool xmlSafe(const std::u16string& s)
{
    for (char16_t c : s)
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0xFFFE || c == 0xFFFF)
            return false;
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

// Converts a valid property list into a libplist tree.
plist_t toPlist(CFTypeRef value, bool forXml, std::string& problem)
{
    const CFTypeID type = CFGetTypeID(value);
    switch (type)
    {
    case cf::kStringTypeID:
    {
        std::string text;
        const auto string = static_cast<CFStringRef>(value);
        if (!cf::utf8Of(string, text) || text.find('\0') != std::string::npos ||
            (forXml && !xmlSafe(cf::utf16Of(string))))
        {
            problem = "A string holds characters a property list file cannot store.";
            return nullptr;
        }
        return plist_new_string(text.c_str());
    }
    case cf::kNumberTypeID:
    {
        auto number = static_cast<CFNumberRef>(value);
        if (cf::numberIsFloat(number))
            return plist_new_real(cf::numberAsDouble(number));
        return plist_new_uint(static_cast<uint64_t>(cf::numberAsInt64(number)));
    }
    case cf::kBooleanTypeID:
        return plist_new_bool(CFBooleanGetValue(static_cast<CFBooleanRef>(value)) ? 1 : 0);
    case cf::kDataTypeID:
    {
        auto data = static_cast<CFDataRef>(value);
        return plist_new_data(reinterpret_cast<const char*>(CFDataGetBytePtr(data)),
                              static_cast<uint64_t>(CFDataGetLength(data)));
    }
    case cf::kDateTypeID:
    {
        const double at = CFDateGetAbsoluteTime(static_cast<CFDateRef>(value));
        double seconds = std::floor(at);
        double micro = std::round((at - seconds) * 1e6);
        if (micro >= 1e6)
        {
            seconds += 1;
            micro -= 1e6;
        }
        return plist_new_date(static_cast<int32_t>(seconds), static_cast<int32_t>(micro));
    }
    case cf::kArrayTypeID:
    {
        auto array = static_cast<CFArrayRef>(value);
        PlistHolder node(plist_new_array());
        for (CFIndex i = 0, n = CFArrayGetCount(array); i < n; ++i)
        {
            plist_t item = toPlist(CFArrayGetValueAtIndex(array, i), forXml, problem);
            if (!item)
                return nullptr;
            plist_array_append_item(node.get(), item);
        }
        return node.release();
    }
    case cf::kDictionaryTypeID:
    {
        auto dict = static_cast<CFDictionaryRef>(value);
        const CFIndex count = CFDictionaryGetCount(dict);
        std::vector<const void*> keys(static_cast<size_t>(count)),
            values(static_cast<size_t>(count));
        CFDictionaryGetKeysAndValues(dict, keys.data(), values.data());
        PlistHolder node(plist_new_dict());
        for (size_t i = 0; i < keys.size(); ++i)
        {
            std::string key;
            const auto keyString = static_cast<CFStringRef>(keys[i]);
            if (!cf::utf8Of(keyString, key) || key.find('\0') != std::string::npos ||
                (forXml && !xmlSafe(cf::utf16Of(keyString))))
            {
                problem = "A dictionary key holds characters a property list file cannot store.";
                return nullptr;
            }
            plist_t item = toPlist(values[i], forXml, problem);
            if (!item)
                return nullptr;
            plist_dict_set_item(node.get(), key.c_str(), item);
        }
        return node.release();
    }
    default:
        problem = "The property list holds a " + cf::typeName(type) + ".";
        return nullptr;
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
    case cf::kDateTypeID:
        return true;
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

CFTypeRef createString(const char* text, std::string& problem)
{
    CFStringRef s = cf::createString(std::string(text ? text : ""));
    if (!s)
        problem = "The property list holds a string that is not valid UTF-8.";
    return s;
}

CFTypeRef fromPlist(plist_t node, CFOptionFlags mutability, int depth, std::string& problem)
{
    if (depth > kMaxDepth)
    {
        problem = "The property list is nested too deeply.";
        return nullptr;
    }
    switch (plist_get_node_type(node))
    {
    case PLIST_BOOLEAN:
    {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return value ? kCFBooleanTrue : kCFBooleanFalse;
    }
    case PLIST_UINT:
    {
        // libplist keeps integers as 64 bits; negative ones are two's complement.
        uint64_t raw = 0;
        plist_get_uint_val(node, &raw);
        const int64_t value = static_cast<int64_t>(raw);
        return CFNumberCreate(nullptr, kCFNumberSInt64Type, &value);
    }
    case PLIST_REAL:
    {
        double value = 0;
        plist_get_real_val(node, &value);
        return CFNumberCreate(nullptr, kCFNumberFloat64Type, &value);
    }
    case PLIST_STRING:
    case PLIST_KEY:
    {
        char* text = nullptr;
        if (plist_get_node_type(node) == PLIST_STRING)
            plist_get_string_val(node, &text);
        else
            plist_get_key_val(node, &text);
        CFTypeRef result = createString(text, problem);
        std::free(text);
        return result;
    }
    case PLIST_DATA:
    {
        char* bytes = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &bytes, &length);
        CFTypeRef result;
        if (mutability == kCFPropertyListMutableContainersAndLeaves)
        {
            CFMutableDataRef data = CFDataCreateMutable(nullptr, 0);
            CFDataAppendBytes(data, reinterpret_cast<const UInt8*>(bytes),
                              static_cast<CFIndex>(length));
            result = data;
        }
        else
            result = CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(bytes),
                                  static_cast<CFIndex>(length));
        std::free(bytes);
        return result;
    }
    case PLIST_DATE:
    {
        int32_t seconds = 0, micro = 0;
        plist_get_date_val(node, &seconds, &micro);
        return CFDateCreate(nullptr, static_cast<double>(seconds) + micro * 1e-6);
    }
    case PLIST_UID:
    {
        // Keyed-archiver references read as Apple's XML writes them.
        uint64_t uid = 0;
        plist_get_uid_val(node, &uid);
        const int64_t value = static_cast<int64_t>(uid);
        CFNumberRef number = CFNumberCreate(nullptr, kCFNumberSInt64Type, &value);
        const void* keys[] = {CFSTR("CF$UID")};
        const void* values[] = {number};
        CFTypeRef result =
            mutability != kCFPropertyListImmutable
                ? static_cast<CFTypeRef>(CFDictionaryCreateMutable(
                      nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks))
                : nullptr;
        if (result)
            CFDictionarySetValue(static_cast<CFMutableDictionaryRef>(const_cast<void*>(result)),
                                 keys[0], values[0]);
        else
            result = CFDictionaryCreate(nullptr, keys, values, 1, &kCFTypeDictionaryKeyCallBacks,
                                        &kCFTypeDictionaryValueCallBacks);
        CFRelease(number);
        return result;
    }
    case PLIST_ARRAY:
    {
        CFMutableArrayRef array = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
        for (uint32_t i = 0, n = plist_array_get_size(node); i < n; ++i)
        {
            CFTypeRef item =
                fromPlist(plist_array_get_item(node, i), mutability, depth + 1, problem);
            if (!item)
            {
                CFRelease(array);
                return nullptr;
            }
            CFArrayAppendValue(array, item);
            CFRelease(item);
        }
        if (mutability != kCFPropertyListImmutable)
            return array;
        CFArrayRef frozen = CFArrayCreateCopy(nullptr, array);
        CFRelease(array);
        return frozen;
    }
    case PLIST_DICT:
    {
        CFMutableDictionaryRef dict = CFDictionaryCreateMutable(
            nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        bool ok = true;
        while (ok && it)
        {
            char* key = nullptr;
            plist_t item = nullptr;
            plist_dict_next_item(node, it, &key, &item);
            if (!key || !item)
            {
                std::free(key);
                break;
            }
            CFTypeRef keyString = createString(key, problem);
            std::free(key);
            CFTypeRef value = keyString ? fromPlist(item, mutability, depth + 1, problem) : nullptr;
            if (value)
                CFDictionarySetValue(dict, keyString, value);
            ok = value != nullptr;
            if (keyString)
                CFRelease(keyString);
            if (value)
                CFRelease(value);
        }
        std::free(it);
        if (!ok)
        {
            CFRelease(dict);
            return nullptr;
        }
        if (mutability != kCFPropertyListImmutable)
            return dict;
        CFDictionaryRef frozen = CFDictionaryCreateCopy(nullptr, dict);
        CFRelease(dict);
        return frozen;
    }
    default:
        problem = "The property list holds a value of an unknown kind.";
        return nullptr;
    }
}

// libplist parses XML without recursion but frees recursively; refuse nesting
// that could exhaust the stack before handing the text over. Every element
// counts, so that leaves the room of two per container (key and value).
bool xmlNestingAcceptable(const char* text, size_t size)
{
    return orbilib::utils::xmlNestingWithin(text, size, 2 * kMaxDepth + 8);
}

uint64_t readBigEndian(const unsigned char* p, size_t n)
{
    uint64_t value = 0;
    for (size_t i = 0; i < n; ++i)
        value = (value << 8) | p[i];
    return value;
}

// libplist parses binary property lists recursively; walk the object graph
// without recursion first and refuse nesting (or structure) it could choke on.
bool binaryNestingAcceptable(const unsigned char* bytes, size_t size)
{
    if (size < 8 + 32)
        return false;
    const unsigned char* trailer = bytes + size - 32;
    const size_t offsetSize = trailer[6], refSize = trailer[7];
    const uint64_t count = readBigEndian(trailer + 8, 8);
    const uint64_t top = readBigEndian(trailer + 16, 8);
    const uint64_t table = readBigEndian(trailer + 24, 8);
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || count == 0 ||
        top >= count || table >= size - 32 || count > (size - 32 - table) / offsetSize)
        return false;
    auto offsetOf = [&](uint64_t object)
    { return readBigEndian(bytes + table + object * offsetSize, offsetSize); };
    // The count in an object's marker, or in the integer after it; first is then
    // the position of the object's contents.
    auto countOf = [&](uint64_t offset, uint64_t& first, uint64_t& entries)
    {
        entries = bytes[offset] & 0x0F;
        first = offset + 1;
        if (entries != 0x0F)
            return true;
        if (first >= table || (bytes[first] >> 4) != 0x1)
            return false;
        const size_t width = size_t(1) << (bytes[first] & 0x0F);
        if (width > 8 || first + 1 + width > table)
            return false;
        entries = readBigEndian(bytes + first + 1, width);
        first += 1 + width;
        return true;
    };
    // Children of a container object as (first reference position, number of references).
    auto children = [&](uint64_t object, uint64_t& first, uint64_t& n)
    {
        n = 0;
        const uint64_t offset = offsetOf(object);
        if (offset >= table)
            return false;
        const unsigned type = bytes[offset] >> 4;
        uint64_t entries = 0;
        if (type == 0x6)
        {
            // libplist aborts the process on a UTF-16 string holding U+0000; such a
            // string could not be written back either, so the list is refused.
            if (!countOf(offset, first, entries) || entries > (table - first) / 2)
                return false;
            for (uint64_t i = 0; i < entries; ++i)
                if (bytes[first + 2 * i] == 0 && bytes[first + 2 * i + 1] == 0)
                    return false;
            return true;
        }
        if (type != 0xA && type != 0xC && type != 0xD)
            return true;
        if (!countOf(offset, first, entries))
            return false;
        n = type == 0xD ? entries * 2 : entries;
        return entries <= table && n <= (table - first) / refSize;
    };
    // Iterative depth-first walk; height[] memoises finished objects so shared
    // subtrees are visited once. 0 = unvisited, -1 = on the current path.
    std::vector<int> height(static_cast<size_t>(count), 0);
    struct Frame
    {
        uint64_t object, first, n, next;
        int best;
    };
    std::vector<Frame> stack;
    auto push = [&](uint64_t object)
    {
        Frame frame{object, 0, 0, 0, 0};
        if (!children(object, frame.first, frame.n))
            return false;
        height[object] = -1;
        stack.push_back(frame);
        return static_cast<int>(stack.size()) <= kMaxDepth;
    };
    if (!push(top))
        return false;
    while (!stack.empty())
    {
        Frame& frame = stack.back();
        if (frame.next == frame.n)
        {
            height[frame.object] = frame.best + 1;
            const int finished = height[frame.object];
            stack.pop_back();
            if (!stack.empty() && finished > stack.back().best)
                stack.back().best = finished;
            continue;
        }
        const uint64_t child = readBigEndian(bytes + frame.first + frame.next * refSize, refSize);
        ++frame.next;
        if (child >= count || height[child] < 0)
            return false; // out of range, or a cycle
        if (height[child] > 0)
        {
            if (height[child] > frame.best)
                frame.best = height[child];
            if (frame.best + static_cast<int>(stack.size()) > kMaxDepth)
                return false;
            continue;
        }
        if (!push(child))
            return false;
    }
    return true;
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
    const bool binary = size >= 8 && std::memcmp(bytes, "bplist00", 8) == 0;
    if (binary ? !binaryNestingAcceptable(reinterpret_cast<const unsigned char*>(bytes), size)
               : !xmlNestingAcceptable(bytes, size))
    {
        problem = binary ? "The data is not a valid binary property list, or is nested too "
                           "deeply."
                         : "The property list is nested too deeply.";
        return nullptr;
    }
    if (!binary)
    {
        // XML cannot hold U+0000, and libplist copies a NUL byte inside a string or key
        // into the value and then aborts the process on it. NUL bytes after the last
        // character (a terminator written with the text) stay harmless.
        const char* end = bytes + size;
        const char* nul = static_cast<const char*>(std::memchr(bytes, 0, size));
        if (nul && std::find_if(nul, end, [](char c) { return c != 0; }) != end)
        {
            problem = "The data is not a valid XML property list: it holds a NUL character.";
            return nullptr;
        }
    }
    plist_t root = nullptr;
    {
        std::lock_guard<std::mutex> lock(libplistMutex());
        if (binary)
            plist_from_bin(bytes, static_cast<uint32_t>(size), &root);
        else
            plist_from_xml(bytes, static_cast<uint32_t>(size), &root);
    }
    PlistHolder holder(root);
    if (!root)
    {
        problem = binary ? "The data is not a valid binary property list."
                         : "The data is not a valid XML property list.";
        return nullptr;
    }
    CFPropertyListRef result = fromPlist(root, options, 0, problem);
    if (result && format)
        *format = binary ? kCFPropertyListBinaryFormat_v1_0 : kCFPropertyListXMLFormat_v1_0;
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
    PlistHolder root(toPlist(plist, format == kCFPropertyListXMLFormat_v1_0, problem));
    if (!root)
        return nullptr;
    char* out = nullptr;
    uint32_t length = 0;
    {
        std::lock_guard<std::mutex> lock(libplistMutex());
        if (format == kCFPropertyListXMLFormat_v1_0)
            plist_to_xml(root.get(), &out, &length);
        else
            plist_to_bin(root.get(), &out, &length);
    }
    if (!out)
    {
        problem = "The property list could not be serialized.";
        return nullptr;
    }
    CFDataRef data =
        CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(out), static_cast<CFIndex>(length));
    if (format == kCFPropertyListXMLFormat_v1_0)
        plist_to_xml_free(out);
    else
        plist_to_bin_free(out);
    return data;
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
        if (mutability != kCFPropertyListImmutable)
            return copy;
        CFArrayRef frozen = CFArrayCreateCopy(nullptr, copy);
        CFRelease(copy);
        return frozen;
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
        if (mutability != kCFPropertyListImmutable)
            return copy;
        CFDictionaryRef frozen = CFDictionaryCreateCopy(nullptr, copy);
        CFRelease(copy);
        return frozen;
    }
    // Strings, numbers, booleans and dates are immutable and can be shared.
    return CFRetain(value);
}
} // namespace

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
