#include "Internal.h"

#include <list>
#include <unordered_map>

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
CFHashCode hashValue(const void* value)
{
    return CFHash(value);
}
const void* copyStringKey(CFAllocatorRef, const void* value)
{
    return CFStringCreateCopy(nullptr, static_cast<CFStringRef>(value));
}
} // namespace

struct __CFDictionary : __CFRuntimeBase
{
    struct Entry
    {
        const void* key;
        const void* value;
    };
    using Entries = std::list<Entry>;

    __CFDictionary(const CFDictionaryKeyCallBacks* keyCallBacks,
                   const CFDictionaryValueCallBacks* valueCallBacks, bool mutableDictionary)
        : __CFRuntimeBase(cf::kDictionaryTypeID), m_mutable(mutableDictionary)
    {
        if (keyCallBacks)
            m_keyCallBacks = *keyCallBacks;
        if (valueCallBacks)
            m_valueCallBacks = *valueCallBacks;
    }
    ~__CFDictionary() override { clear(); }

    CFHashCode hashKey(const void* key) const
    {
        return m_keyCallBacks.hash ? m_keyCallBacks.hash(key)
                                   : static_cast<CFHashCode>(reinterpret_cast<uintptr_t>(key));
    }
    bool sameKey(const void* a, const void* b) const
    {
        return a == b || (m_keyCallBacks.equal && m_keyCallBacks.equal(a, b));
    }
    bool sameValue(const void* a, const void* b) const
    {
        return a == b || (m_valueCallBacks.equal && m_valueCallBacks.equal(a, b));
    }

    Entries::iterator find(const void* key)
    {
        auto range = m_index.equal_range(hashKey(key));
        for (auto it = range.first; it != range.second; ++it)
            if (sameKey(it->second->key, key))
                return it->second;
        return m_entries.end();
    }
    Entries::const_iterator find(const void* key) const
    {
        return const_cast<__CFDictionary*>(this)->find(key);
    }

    // Adds or replaces; an existing entry keeps its key, as CoreFoundation does.
    void set(const void* key, const void* value, bool add, bool replace)
    {
        auto found = find(key);
        if (found != m_entries.end())
        {
            if (!replace)
                return;
            const void* stored =
                m_valueCallBacks.retain ? m_valueCallBacks.retain(nullptr, value) : value;
            const void* old = found->value;
            found->value = stored;
            if (m_valueCallBacks.release)
                m_valueCallBacks.release(nullptr, old);
            return;
        }
        if (!add)
            return;
        const void* storedKey = m_keyCallBacks.retain ? m_keyCallBacks.retain(nullptr, key) : key;
        const void* stored =
            m_valueCallBacks.retain ? m_valueCallBacks.retain(nullptr, value) : value;
        m_entries.push_back({storedKey, stored});
        m_index.emplace(hashKey(storedKey), std::prev(m_entries.end()));
    }

    void remove(const void* key)
    {
        auto range = m_index.equal_range(hashKey(key));
        for (auto it = range.first; it != range.second; ++it)
            if (sameKey(it->second->key, key))
            {
                Entry entry = *it->second;
                m_entries.erase(it->second);
                m_index.erase(it);
                releaseEntry(entry);
                return;
            }
    }

    void releaseEntry(const Entry& entry) const
    {
        if (m_keyCallBacks.release)
            m_keyCallBacks.release(nullptr, entry.key);
        if (m_valueCallBacks.release)
            m_valueCallBacks.release(nullptr, entry.value);
    }

    void clear()
    {
        Entries entries;
        entries.swap(m_entries);
        m_index.clear();
        for (const Entry& entry : entries)
            releaseEntry(entry);
    }

    bool equal(const __CFRuntimeBase* other) const override
    {
        auto o = static_cast<const __CFDictionary*>(other);
        if (m_entries.size() != o->m_entries.size())
            return false;
        for (const Entry& entry : m_entries)
        {
            auto found = o->find(entry.key);
            if (found == o->m_entries.end() || !sameValue(entry.value, found->value))
                return false;
        }
        return true;
    }
    CFHashCode hash() const override { return m_entries.size(); }
    std::string describe() const override
    {
        std::string text = "{\n";
        for (const Entry& entry : m_entries)
            text += "    " + describeWith(m_keyCallBacks.copyDescription, entry.key) + " = " +
                    describeWith(m_valueCallBacks.copyDescription, entry.value) + ";\n";
        return text + "}";
    }
    static std::string describeWith(CFDictionaryCopyDescriptionCallBack callBack, const void* value)
    {
        return cf::describeWith(callBack, value);
    }

    CFDictionaryKeyCallBacks m_keyCallBacks{0, nullptr, nullptr, nullptr, nullptr, nullptr};
    CFDictionaryValueCallBacks m_valueCallBacks{0, nullptr, nullptr, nullptr, nullptr};
    Entries m_entries;
    std::unordered_multimap<CFHashCode, Entries::iterator> m_index;
    const bool m_mutable;
};

namespace
{
const __CFDictionary* dictionary(CFDictionaryRef d, const char* caller)
{
    return cf::as<__CFDictionary>(d, cf::kDictionaryTypeID, caller);
}

__CFDictionary* mutableDictionary(CFMutableDictionaryRef d, const char* caller)
{
    const __CFDictionary* object = dictionary(d, caller);
    if (object && !object->m_mutable)
    {
        cf::warn(std::string(caller) + ": the dictionary is immutable");
        return nullptr;
    }
    return const_cast<__CFDictionary*>(object);
}

__CFDictionary* copyOf(const __CFDictionary* source, bool mutableDictionary)
{
    auto* copy =
        new __CFDictionary(&source->m_keyCallBacks, &source->m_valueCallBacks, mutableDictionary);
    for (const auto& entry : source->m_entries)
        copy->set(entry.key, entry.value, true, true);
    return copy;
}
} // namespace

extern "C"
{

    const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {
        0, retainValue, releaseValue, CFCopyDescription, equalValues, hashValue};
    const CFDictionaryKeyCallBacks kCFCopyStringDictionaryKeyCallBacks = {
        0, copyStringKey, releaseValue, CFCopyDescription, equalValues, hashValue};
    const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks = {
        0, retainValue, releaseValue, CFCopyDescription, equalValues};

    CFTypeID CFDictionaryGetTypeID(void)
    {
        return cf::kDictionaryTypeID;
    }

    CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void** keys, const void** values,
                                       CFIndex numValues,
                                       const CFDictionaryKeyCallBacks* keyCallBacks,
                                       const CFDictionaryValueCallBacks* valueCallBacks)
    {
        if (numValues < 0 || ((!keys || !values) && numValues > 0))
            return nullptr;
        auto* d = new __CFDictionary(keyCallBacks, valueCallBacks, false);
        for (CFIndex i = 0; i < numValues; ++i)
            d->set(keys[i], values[i], true, true);
        return d;
    }

    CFDictionaryRef CFDictionaryCreateCopy(CFAllocatorRef, CFDictionaryRef theDict)
    {
        const __CFDictionary* d = dictionary(theDict, "CFDictionaryCreateCopy");
        return d ? copyOf(d, false) : nullptr;
    }

    CFMutableDictionaryRef
    CFDictionaryCreateMutable(CFAllocatorRef, CFIndex, const CFDictionaryKeyCallBacks* keyCallBacks,
                              const CFDictionaryValueCallBacks* valueCallBacks)
    {
        return new __CFDictionary(keyCallBacks, valueCallBacks, true);
    }

    CFMutableDictionaryRef CFDictionaryCreateMutableCopy(CFAllocatorRef, CFIndex,
                                                         CFDictionaryRef theDict)
    {
        const __CFDictionary* d = dictionary(theDict, "CFDictionaryCreateMutableCopy");
        return d ? copyOf(d, true) : nullptr;
    }

    CFIndex CFDictionaryGetCount(CFDictionaryRef theDict)
    {
        const __CFDictionary* d = dictionary(theDict, "CFDictionaryGetCount");
        return d ? static_cast<CFIndex>(d->m_entries.size()) : 0;
    }

    CFIndex CFDictionaryGetCountOfKey(CFDictionaryRef theDict, const void* key)
    {
        return CFDictionaryContainsKey(theDict, key) ? 1 : 0;
    }

    CFIndex CFDictionaryGetCountOfValue(CFDictionaryRef theDict, const void* value)
    {
        const __CFDictionary* d = dictionary(theDict, "CFDictionaryGetCountOfValue");
        CFIndex count = 0;
        if (d)
            for (const auto& entry : d->m_entries)
                if (d->sameValue(entry.value, value))
                    ++count;
        return count;
    }

    Boolean CFDictionaryContainsKey(CFDictionaryRef theDict, const void* key)
    {
        const __CFDictionary* d = dictionary(theDict, "CFDictionaryContainsKey");
        return d && d->find(key) != d->m_entries.end();
    }

    Boolean CFDictionaryContainsValue(CFDictionaryRef theDict, const void* value)
    {
        return CFDictionaryGetCountOfValue(theDict, value) > 0;
    }

    const void* CFDictionaryGetValue(CFDictionaryRef theDict, const void* key)
    {
        const void* value = nullptr;
        return CFDictionaryGetValueIfPresent(theDict, key, &value) ? value : nullptr;
    }

    Boolean CFDictionaryGetValueIfPresent(CFDictionaryRef theDict, const void* key,
                                          const void** value)
    {
        const __CFDictionary* d = dictionary(theDict, "CFDictionaryGetValueIfPresent");
        if (!d)
            return false;
        auto found = d->find(key);
        if (found == d->m_entries.end())
            return false;
        if (value)
            *value = found->value;
        return true;
    }

    void CFDictionaryGetKeysAndValues(CFDictionaryRef theDict, const void** keys,
                                      const void** values)
    {
        const __CFDictionary* d = dictionary(theDict, "CFDictionaryGetKeysAndValues");
        if (!d)
            return;
        size_t i = 0;
        for (const auto& entry : d->m_entries)
        {
            if (keys)
                keys[i] = entry.key;
            if (values)
                values[i] = entry.value;
            ++i;
        }
    }

    void CFDictionaryApplyFunction(CFDictionaryRef theDict, CFDictionaryApplierFunction applier,
                                   void* context)
    {
        const __CFDictionary* d = dictionary(theDict, "CFDictionaryApplyFunction");
        if (!d || !applier)
            return;
        for (const auto& entry : d->m_entries)
            applier(entry.key, entry.value, context);
    }

    void CFDictionaryAddValue(CFMutableDictionaryRef theDict, const void* key, const void* value)
    {
        __CFDictionary* d = mutableDictionary(theDict, "CFDictionaryAddValue");
        if (d)
            d->set(key, value, true, false);
    }

    void CFDictionarySetValue(CFMutableDictionaryRef theDict, const void* key, const void* value)
    {
        __CFDictionary* d = mutableDictionary(theDict, "CFDictionarySetValue");
        if (d)
            d->set(key, value, true, true);
    }

    void CFDictionaryReplaceValue(CFMutableDictionaryRef theDict, const void* key,
                                  const void* value)
    {
        __CFDictionary* d = mutableDictionary(theDict, "CFDictionaryReplaceValue");
        if (d)
            d->set(key, value, false, true);
    }

    void CFDictionaryRemoveValue(CFMutableDictionaryRef theDict, const void* key)
    {
        __CFDictionary* d = mutableDictionary(theDict, "CFDictionaryRemoveValue");
        if (d)
            d->remove(key);
    }

    void CFDictionaryRemoveAllValues(CFMutableDictionaryRef theDict)
    {
        __CFDictionary* d = mutableDictionary(theDict, "CFDictionaryRemoveAllValues");
        if (d)
            d->clear();
    }

} // extern "C"
