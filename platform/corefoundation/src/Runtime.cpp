#include "Internal.h"

#include <cinttypes>
#include <cstdio>

__CFRuntimeBase::~__CFRuntimeBase() = default;

std::string __CFRuntimeBase::describe() const
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "<%s %p>", cf::typeName(m_typeID).c_str(),
                  static_cast<const void*>(this));
    return buffer;
}

namespace
{
struct AllocatorPlaceholder
{
    int m_unused;
};
const AllocatorPlaceholder g_systemDefault{0};
const AllocatorPlaceholder g_malloc{0};
const AllocatorPlaceholder g_null{0};

struct NullObject : __CFRuntimeBase
{
    NullObject() : __CFRuntimeBase(cf::kNullTypeID, true) {}
    bool equal(const __CFRuntimeBase*) const override { return true; }
    CFHashCode hash() const override { return 0; }
    std::string describe() const override { return "<CFNull>"; }
};
} // namespace

extern "C"
{
    const CFAllocatorRef kCFAllocatorDefault = nullptr;
    const CFAllocatorRef kCFAllocatorSystemDefault =
        reinterpret_cast<CFAllocatorRef>(&g_systemDefault);
    const CFAllocatorRef kCFAllocatorMalloc = reinterpret_cast<CFAllocatorRef>(&g_malloc);
    const CFAllocatorRef kCFAllocatorNull = reinterpret_cast<CFAllocatorRef>(&g_null);
    const CFNullRef kCFNull = static_cast<CFNullRef>(static_cast<const void*>(new NullObject));
}

namespace cf
{

void warn(const std::string& message)
{
    std::fprintf(stderr, "CoreFoundation: %s\n", message.c_str());
}

const __CFRuntimeBase* object(CFTypeRef cf, const char* caller)
{
    if (!cf)
    {
        warn(std::string(caller) + ": NULL object");
        return nullptr;
    }
    auto base = static_cast<const __CFRuntimeBase*>(cf);
    if (base->m_magic != __CFRuntimeBase::kMagic)
    {
        warn(std::string(caller) + ": not a CoreFoundation object");
        return nullptr;
    }
    return base;
}

bool isType(CFTypeRef cf, CFTypeID typeID)
{
    return cf && static_cast<const __CFRuntimeBase*>(cf)->m_magic == __CFRuntimeBase::kMagic &&
           static_cast<const __CFRuntimeBase*>(cf)->m_typeID == typeID;
}

void warnWrongType(const char* caller, CFTypeID got, CFTypeID expected)
{
    warn(std::string(caller) + ": expected a " + typeName(expected) + ", got a " + typeName(got));
}

std::string typeName(CFTypeID typeID)
{
    switch (typeID)
    {
    case kNullTypeID:
        return "CFNull";
    case kStringTypeID:
        return "CFString";
    case kNumberTypeID:
        return "CFNumber";
    case kBooleanTypeID:
        return "CFBoolean";
    case kDataTypeID:
        return "CFData";
    case kArrayTypeID:
        return "CFArray";
    case kDictionaryTypeID:
        return "CFDictionary";
    case kDateTypeID:
        return "CFDate";
    case kURLTypeID:
        return "CFURL";
    case kErrorTypeID:
        return "CFError";
    case kKeyedArchiverUIDTypeID:
        return "CFKeyedArchiverUID";
    default:
        return "CFType";
    }
}

std::string describe(CFTypeRef cf)
{
    if (!cf)
        return "(null)";
    const __CFRuntimeBase* base = object(cf, "CFCopyDescription");
    return base ? base->describe() : "<invalid>";
}

std::string describeWith(CFStringRef (*copyDescription)(const void*), const void* value)
{
    if (!copyDescription)
    {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%p", value);
        return buffer;
    }
    CFStringRef text = copyDescription(value);
    std::string result = utf8OrEmpty(text);
    if (text)
        CFRelease(text);
    return result;
}

CFHashCode hashBytes(const void* data, size_t size)
{
    // FNV-1a: cheap and good enough for dictionary buckets.
    uint64_t hash = 1469598103934665603ull;
    auto bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i)
    {
        hash ^= bytes[i];
        hash *= 1099511628211ull;
    }
    return static_cast<CFHashCode>(hash);
}

} // namespace cf

extern "C"
{

    CFTypeRef CFRetain(CFTypeRef cf)
    {
        const __CFRuntimeBase* base = cf::object(cf, "CFRetain");
        if (base && !base->m_immortal)
            const_cast<__CFRuntimeBase*>(base)->m_retainCount.fetch_add(1,
                                                                        std::memory_order_relaxed);
        return cf;
    }

    void CFRelease(CFTypeRef cf)
    {
        const __CFRuntimeBase* base = cf::object(cf, "CFRelease");
        if (!base || base->m_immortal)
            return;
        auto object = const_cast<__CFRuntimeBase*>(base);
        if (object->m_retainCount.fetch_sub(1, std::memory_order_acq_rel) == 1)
            delete object;
    }

    CFTypeRef CFAutorelease(CFTypeRef cf)
    {
        // No autorelease pools here: the object simply stays alive.
        return cf;
    }

    CFIndex CFGetRetainCount(CFTypeRef cf)
    {
        const __CFRuntimeBase* base = cf::object(cf, "CFGetRetainCount");
        if (!base)
            return 0;
        if (base->m_immortal)
            return static_cast<CFIndex>(INT64_C(1152921504606846975));
        return base->m_retainCount.load(std::memory_order_relaxed);
    }

    CFTypeID CFGetTypeID(CFTypeRef cf)
    {
        const __CFRuntimeBase* base = cf::object(cf, "CFGetTypeID");
        return base ? base->m_typeID : 0;
    }

    CFAllocatorRef CFGetAllocator(CFTypeRef)
    {
        return kCFAllocatorDefault;
    }

    Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2)
    {
        if (cf1 == cf2)
            return cf1 != nullptr;
        const __CFRuntimeBase* a = cf::object(cf1, "CFEqual");
        const __CFRuntimeBase* b = cf::object(cf2, "CFEqual");
        if (!a || !b || a->m_typeID != b->m_typeID)
            return false;
        return a->equal(b);
    }

    CFHashCode CFHash(CFTypeRef cf)
    {
        const __CFRuntimeBase* base = cf::object(cf, "CFHash");
        return base ? base->hash() : 0;
    }

    CFStringRef CFCopyDescription(CFTypeRef cf)
    {
        if (!cf)
            return nullptr;
        return cf::createString(cf::describe(cf));
    }

    CFStringRef CFCopyTypeIDDescription(CFTypeID type_id)
    {
        return cf::createString(cf::typeName(type_id));
    }

    void CFShow(CFTypeRef obj)
    {
        std::fprintf(stderr, "%s\n", cf::describe(obj).c_str());
    }

    CFTypeID CFNullGetTypeID(void)
    {
        return cf::kNullTypeID;
    }

} // extern "C"
