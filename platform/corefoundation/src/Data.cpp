#include "Internal.h"

#include <cstring>

struct __CFData : __CFRuntimeBase
{
    __CFData(std::vector<UInt8> bytes, bool mutableData)
        : __CFRuntimeBase(cf::kDataTypeID), m_bytes(std::move(bytes)), m_mutable(mutableData)
    {
    }
    bool equal(const __CFRuntimeBase* other) const override
    {
        return m_bytes == static_cast<const __CFData*>(other)->m_bytes;
    }
    CFHashCode hash() const override
    {
        // Hashing the first bytes is enough to spread buckets.
        return cf::hashBytes(m_bytes.data(), m_bytes.size() < 80 ? m_bytes.size() : 80) ^
               m_bytes.size();
    }
    std::string describe() const override
    {
        return "<CFData length = " + std::to_string(m_bytes.size()) + ">";
    }

    std::vector<UInt8> m_bytes;
    const bool m_mutable;
};

namespace
{
const __CFData* data(CFDataRef d, const char* caller)
{
    return cf::as<__CFData>(d, cf::kDataTypeID, caller);
}

__CFData* mutableData(CFMutableDataRef d, const char* caller)
{
    const __CFData* object = data(d, caller);
    if (object && !object->m_mutable)
    {
        cf::warn(std::string(caller) + ": the data object is immutable");
        return nullptr;
    }
    return const_cast<__CFData*>(object);
}
} // namespace

extern "C"
{

    CFTypeID CFDataGetTypeID(void)
    {
        return cf::kDataTypeID;
    }

    CFDataRef CFDataCreate(CFAllocatorRef, const UInt8* bytes, CFIndex length)
    {
        if (length < 0 || (!bytes && length > 0))
            return nullptr;
        return new __CFData(std::vector<UInt8>(bytes, bytes + length), false);
    }

    CFDataRef CFDataCreateCopy(CFAllocatorRef, CFDataRef theData)
    {
        const __CFData* d = data(theData, "CFDataCreateCopy");
        if (!d)
            return nullptr;
        if (!d->m_mutable)
            return static_cast<CFDataRef>(CFRetain(d));
        return new __CFData(d->m_bytes, false);
    }

    CFMutableDataRef CFDataCreateMutable(CFAllocatorRef, CFIndex)
    {
        return new __CFData({}, true);
    }

    CFMutableDataRef CFDataCreateMutableCopy(CFAllocatorRef, CFIndex, CFDataRef theData)
    {
        const __CFData* d = data(theData, "CFDataCreateMutableCopy");
        return d ? new __CFData(d->m_bytes, true) : nullptr;
    }

    CFIndex CFDataGetLength(CFDataRef theData)
    {
        const __CFData* d = data(theData, "CFDataGetLength");
        return d ? static_cast<CFIndex>(d->m_bytes.size()) : 0;
    }

    const UInt8* CFDataGetBytePtr(CFDataRef theData)
    {
        const __CFData* d = data(theData, "CFDataGetBytePtr");
        return d ? d->m_bytes.data() : nullptr;
    }

    UInt8* CFDataGetMutableBytePtr(CFMutableDataRef theData)
    {
        __CFData* d = mutableData(theData, "CFDataGetMutableBytePtr");
        return d ? d->m_bytes.data() : nullptr;
    }

    void CFDataGetBytes(CFDataRef theData, CFRange range, UInt8* buffer)
    {
        const __CFData* d = data(theData, "CFDataGetBytes");
        if (!d || !buffer || range.location < 0 || range.length < 0 ||
            static_cast<size_t>(range.location + range.length) > d->m_bytes.size())
            return;
        std::memcpy(buffer, d->m_bytes.data() + range.location, static_cast<size_t>(range.length));
    }

    void CFDataSetLength(CFMutableDataRef theData, CFIndex length)
    {
        __CFData* d = mutableData(theData, "CFDataSetLength");
        if (d && length >= 0)
            d->m_bytes.resize(static_cast<size_t>(length), 0);
    }

    void CFDataAppendBytes(CFMutableDataRef theData, const UInt8* bytes, CFIndex length)
    {
        __CFData* d = mutableData(theData, "CFDataAppendBytes");
        if (d && bytes && length > 0)
            d->m_bytes.insert(d->m_bytes.end(), bytes, bytes + length);
    }

} // extern "C"
