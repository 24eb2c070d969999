#include "Internal.h"

#include <CoreFoundation/CFKeyedArchiverUID.h>

struct __CFKeyedArchiverUID : __CFRuntimeBase
{
    explicit __CFKeyedArchiverUID(uint32_t value)
        : __CFRuntimeBase(cf::kKeyedArchiverUIDTypeID), m_value(value)
    {
    }
    bool equal(const __CFRuntimeBase* other) const override
    {
        return m_value == static_cast<const __CFKeyedArchiverUID*>(other)->m_value;
    }
    CFHashCode hash() const override { return m_value; }
    std::string describe() const override
    {
        return "<CFKeyedArchiverUID>{value = " + std::to_string(m_value) + "}";
    }
    const uint32_t m_value;
};

extern "C"
{

    CFTypeID _CFKeyedArchiverUIDGetTypeID(void)
    {
        return cf::kKeyedArchiverUIDTypeID;
    }

    CFKeyedArchiverUIDRef _CFKeyedArchiverUIDCreate(CFAllocatorRef, uint32_t value)
    {
        return new __CFKeyedArchiverUID(value);
    }

    uint32_t _CFKeyedArchiverUIDGetValue(CFKeyedArchiverUIDRef uid)
    {
        const __CFKeyedArchiverUID* object = cf::as<__CFKeyedArchiverUID>(
            uid, cf::kKeyedArchiverUIDTypeID, "_CFKeyedArchiverUIDGetValue");
        return object ? object->m_value : 0;
    }

} // extern "C"
