#include "Internal.h"

namespace
{
const void* retainValue(CFAllocatorRef, const void* value)
{
    return CFRetain(value);
}
void releaseValue(CFAllocatorRef, const void* value)
{
    CFRelease(value);
}
Boolean equalValues(const void* a, const void* b)
{
    return CFEqual(a, b);
}
} // namespace

struct __CFArray : __CFRuntimeBase
{
    __CFArray(const CFArrayCallBacks* callBacks, bool mutableArray)
        : __CFRuntimeBase(cf::kArrayTypeID), m_mutable(mutableArray)
    {
        if (callBacks)
            m_callBacks = *callBacks;
    }
    ~__CFArray() override { clear(); }

    const void* retained(const void* value) const
    {
        return m_callBacks.retain ? m_callBacks.retain(nullptr, value) : value;
    }
    void release(const void* value) const
    {
        if (m_callBacks.release)
            m_callBacks.release(nullptr, value);
    }
    bool same(const void* a, const void* b) const
    {
        return a == b || (m_callBacks.equal && m_callBacks.equal(a, b));
    }
    void clear()
    {
        for (const void* value : m_values)
            release(value);
        m_values.clear();
    }
    bool equal(const __CFRuntimeBase* other) const override
    {
        auto o = static_cast<const __CFArray*>(other);
        if (m_values.size() != o->m_values.size())
            return false;
        for (size_t i = 0; i < m_values.size(); ++i)
            if (!same(m_values[i], o->m_values[i]))
                return false;
        return true;
    }
    CFHashCode hash() const override { return m_values.size(); }
    std::string describe() const override
    {
        std::string text = "(\n";
        for (const void* value : m_values)
            text += "    " + cf::describeWith(m_callBacks.copyDescription, value) + ",\n";
        return text + ")";
    }

    CFArrayCallBacks m_callBacks{0, nullptr, nullptr, nullptr, nullptr};
    std::vector<const void*> m_values;
    const bool m_mutable;
};

namespace
{
const __CFArray* array(CFArrayRef a, const char* caller)
{
    return cf::as<__CFArray>(a, cf::kArrayTypeID, caller);
}

__CFArray* mutableArray(CFMutableArrayRef a, const char* caller)
{
    const __CFArray* object = array(a, caller);
    if (object && !object->m_mutable)
    {
        cf::warn(std::string(caller) + ": the array is immutable");
        return nullptr;
    }
    return const_cast<__CFArray*>(object);
}

bool validRange(const __CFArray* a, CFRange range)
{
    return range.location >= 0 && range.length >= 0 &&
           static_cast<size_t>(range.location + range.length) <= a->m_values.size();
}

__CFArray* copyOf(const __CFArray* source, bool mutableArray)
{
    auto* copy = new __CFArray(&source->m_callBacks, mutableArray);
    copy->m_values.reserve(source->m_values.size());
    for (const void* value : source->m_values)
        copy->m_values.push_back(copy->retained(value));
    return copy;
}
} // namespace

extern "C"
{

    const CFArrayCallBacks kCFTypeArrayCallBacks = {0, retainValue, releaseValue, CFCopyDescription,
                                                    equalValues};

    CFTypeID CFArrayGetTypeID(void)
    {
        return cf::kArrayTypeID;
    }

    CFArrayRef CFArrayCreate(CFAllocatorRef, const void** values, CFIndex numValues,
                             const CFArrayCallBacks* callBacks)
    {
        if (numValues < 0 || (!values && numValues > 0))
            return nullptr;
        auto* a = new __CFArray(callBacks, false);
        a->m_values.reserve(static_cast<size_t>(numValues));
        for (CFIndex i = 0; i < numValues; ++i)
            a->m_values.push_back(a->retained(values[i]));
        return a;
    }

    CFArrayRef CFArrayCreateCopy(CFAllocatorRef, CFArrayRef theArray)
    {
        const __CFArray* a = array(theArray, "CFArrayCreateCopy");
        return a ? copyOf(a, false) : nullptr;
    }

    CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef, CFIndex,
                                           const CFArrayCallBacks* callBacks)
    {
        return new __CFArray(callBacks, true);
    }

    CFMutableArrayRef CFArrayCreateMutableCopy(CFAllocatorRef, CFIndex, CFArrayRef theArray)
    {
        const __CFArray* a = array(theArray, "CFArrayCreateMutableCopy");
        return a ? copyOf(a, true) : nullptr;
    }

    CFIndex CFArrayGetCount(CFArrayRef theArray)
    {
        const __CFArray* a = array(theArray, "CFArrayGetCount");
        return a ? static_cast<CFIndex>(a->m_values.size()) : 0;
    }

    const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx)
    {
        const __CFArray* a = array(theArray, "CFArrayGetValueAtIndex");
        if (!a || idx < 0 || static_cast<size_t>(idx) >= a->m_values.size())
        {
            if (a)
                cf::warn("CFArrayGetValueAtIndex: index " + std::to_string(idx) + " out of bounds");
            return nullptr;
        }
        return a->m_values[static_cast<size_t>(idx)];
    }

    void CFArrayGetValues(CFArrayRef theArray, CFRange range, const void** values)
    {
        const __CFArray* a = array(theArray, "CFArrayGetValues");
        if (!a || !values || !validRange(a, range))
            return;
        for (CFIndex i = 0; i < range.length; ++i)
            values[i] = a->m_values[static_cast<size_t>(range.location + i)];
    }

    CFIndex CFArrayGetFirstIndexOfValue(CFArrayRef theArray, CFRange range, const void* value)
    {
        const __CFArray* a = array(theArray, "CFArrayGetFirstIndexOfValue");
        if (!a || !validRange(a, range))
            return kCFNotFound;
        for (CFIndex i = range.location; i < range.location + range.length; ++i)
            if (a->same(a->m_values[static_cast<size_t>(i)], value))
                return i;
        return kCFNotFound;
    }

    Boolean CFArrayContainsValue(CFArrayRef theArray, CFRange range, const void* value)
    {
        return CFArrayGetFirstIndexOfValue(theArray, range, value) != kCFNotFound;
    }

    void CFArrayApplyFunction(CFArrayRef theArray, CFRange range, CFArrayApplierFunction applier,
                              void* context)
    {
        const __CFArray* a = array(theArray, "CFArrayApplyFunction");
        if (!a || !applier || !validRange(a, range))
            return;
        for (CFIndex i = range.location; i < range.location + range.length; ++i)
            applier(a->m_values[static_cast<size_t>(i)], context);
    }

    void CFArrayAppendValue(CFMutableArrayRef theArray, const void* value)
    {
        __CFArray* a = mutableArray(theArray, "CFArrayAppendValue");
        if (a)
            a->m_values.push_back(a->retained(value));
    }

    void CFArrayInsertValueAtIndex(CFMutableArrayRef theArray, CFIndex idx, const void* value)
    {
        __CFArray* a = mutableArray(theArray, "CFArrayInsertValueAtIndex");
        if (!a || idx < 0 || static_cast<size_t>(idx) > a->m_values.size())
            return;
        a->m_values.insert(a->m_values.begin() + idx, a->retained(value));
    }

    void CFArraySetValueAtIndex(CFMutableArrayRef theArray, CFIndex idx, const void* value)
    {
        __CFArray* a = mutableArray(theArray, "CFArraySetValueAtIndex");
        if (!a || idx < 0 || static_cast<size_t>(idx) > a->m_values.size())
            return;
        const void* stored = a->retained(value);
        if (static_cast<size_t>(idx) == a->m_values.size())
            a->m_values.push_back(stored);
        else
        {
            a->release(a->m_values[static_cast<size_t>(idx)]);
            a->m_values[static_cast<size_t>(idx)] = stored;
        }
    }

    void CFArrayRemoveValueAtIndex(CFMutableArrayRef theArray, CFIndex idx)
    {
        __CFArray* a = mutableArray(theArray, "CFArrayRemoveValueAtIndex");
        if (!a || idx < 0 || static_cast<size_t>(idx) >= a->m_values.size())
            return;
        const void* value = a->m_values[static_cast<size_t>(idx)];
        a->m_values.erase(a->m_values.begin() + idx);
        a->release(value);
    }

    void CFArrayRemoveAllValues(CFMutableArrayRef theArray)
    {
        __CFArray* a = mutableArray(theArray, "CFArrayRemoveAllValues");
        if (a)
            a->clear();
    }

} // extern "C"
