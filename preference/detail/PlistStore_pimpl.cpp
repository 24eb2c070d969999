#include "PlistStore_pimpl.h"

#include "StringConversion.h"

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include <stdexcept>
#include <string>

namespace Preference
{
namespace detail
{

class PlistStore_pimpl::Frame
{
public:
    explicit Frame(PlistStore_pimpl& store)
        : m_store(store), m_bOutermost(store.GetLockCount() == 0),
          m_bAcquired(store.CountedTryLock(store.GetLockTimeout())), m_bActive(store.IsLocked())
    {
        // Without pending changes of our own, see what others wrote before we
        // took the lock; while we hold it, nobody else changes the domain. A
        // domain that cannot be read takes no change: it would replace what
        // is there.
        if (m_bActive && (!m_store.m_bLoaded || (!m_store.m_bDirty && !m_store.m_bSyncedUnderLock)))
            m_bActive = m_store.Reload();
    }
    ~Frame()
    {
        if (m_bAcquired)
            m_store.CountedUnLock();
    }
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;

    bool IsActive() const { return m_bActive; }

    // Releases the lock now and returns what the operation returns: when its
    // own lock was the outermost, the release committed, and changes still
    // pending then mean that nothing was stored.
    bool Finish(bool result)
    {
        if (m_bAcquired)
        {
            m_bAcquired = false;
            m_store.CountedUnLock();
        }
        return result && (!m_bOutermost || !m_store.m_bDirty);
    }

private:
    PlistStore_pimpl& m_store;
    bool m_bOutermost;
    bool m_bAcquired;
    bool m_bActive;
};

namespace
{

// What an XML property list can hold: no control characters but tab and line
// breaks, and no non-characters U+FFFE and U+FFFF.
bool Storable(const std::wstring& text)
{
    for (const wchar_t c : text)
        if ((c < 0x20 && c != L'\t' && c != L'\n' && c != L'\r') || c == 0xFFFE || c == 0xFFFF)
            return false;
    return true;
}

bool IsDictionary(CFTypeRef object)
{
    return object && CFGetTypeID(object) == CFDictionaryGetTypeID();
}

CFStringPtr Copy(CFStringRef string, const char* what)
{
    if (!string)
        throw std::invalid_argument(std::string("PlistStore: the ") + what + " is null");
    return CFStringPtr(CFStringCreateCopy(kCFAllocatorDefault, string));
}

} // namespace

PlistStore_pimpl::PlistStore_pimpl(CFStringRef applicationId, CFStringRef user, CFStringRef host)
    : PlistStore_pimpl(applicationId, user, host, PreferenceGuard())
{
}

PlistStore_pimpl::PlistStore_pimpl(CFStringRef applicationId, CFStringRef user, CFStringRef host,
                                   Guard& guard)
    : m_gGuard(guard), m_pApplicationId(Copy(applicationId, "application id")),
      m_pUser(Copy(user, "user")), m_pHost(Copy(host, "host")), m_bLoaded(false), m_bDirty(false),
      m_lDomainLock(applicationId, user, host)
{
}

PlistStore_pimpl::~PlistStore_pimpl() = default;

PlistStore_pimpl::Guard& PlistStore_pimpl::PreferenceGuard()
{
    // Shared by every instance in the process, whatever its domain.
    static Guard _CFPreferenceGuard;
    return _CFPreferenceGuard;
}

bool PlistStore_pimpl::TryLock(int timeout)
{
    if (timeout < 0)
        m_gGuard.lock();
    else if (!m_gGuard.timed_lock(boost::posix_time::milliseconds(timeout)))
        return false;
    if (!m_lDomainLock.Acquire(timeout))
    {
        m_gGuard.unlock();
        return false;
    }
    m_bSyncedUnderLock = false;
    return true;
}

void PlistStore_pimpl::UnLock()
{
    // The merge into the domain happens while other processes are kept out.
    Commit();
    m_lDomainLock.Release();
    m_gGuard.unlock();
}

int PlistStore_pimpl::GetLockTimeout() const
{
    return 1000;
}

void PlistStore_pimpl::FlushWorkingCopy()
{
    for (const auto& entry : m_mapWorking)
        CFPreferencesSetValue(entry.second.name.get(), entry.second.tree.get(),
                              m_pApplicationId.get(), m_pUser.get(), m_pHost.get());
    m_mapWorking.clear();
}

CFMutableDictionaryRef PlistStore_pimpl::WorkingDictionary(const std::vector<CFStringPtr>& names,
                                                           std::size_t count, bool create)
{
    if (count == 0 || names.size() < count)
        return nullptr;
    const std::string top = ToUtf8(ToWideString(names[0].get()));
    auto found = m_mapWorking.find(top);
    if (found == m_mapWorking.end())
    {
        // The first change of this entry since the commit: copy it once.
        const CFTypePtr stored = AdoptCFType(CFPreferencesCopyValue(
            names[0].get(), m_pApplicationId.get(), m_pUser.get(), m_pHost.get()));
        CFMutableDictionaryPtr tree;
        if (IsDictionary(stored.get()))
            tree = AdoptCFDictionary(
                static_cast<CFMutableDictionaryRef>(const_cast<void*>(CFPropertyListCreateDeepCopy(
                    kCFAllocatorDefault, stored.get(), kCFPropertyListMutableContainers))));
        if (!tree && !create)
            return nullptr;
        found = m_mapWorking.emplace(top, WorkingEntry{names[0], tree}).first;
    }
    WorkingEntry& entry = found->second;
    if (!entry.tree)
    {
        if (!create)
            return nullptr;
        entry.tree = AdoptCFDictionary(CFDictionaryCreateMutable(kCFAllocatorDefault, 0,
                                                                 &kCFTypeDictionaryKeyCallBacks,
                                                                 &kCFTypeDictionaryValueCallBacks));
    }
    // Every dictionary below is our own mutable one: copied deeply or made here.
    CFMutableDictionaryRef dictionary = entry.tree.get();
    for (std::size_t i = 1; i < count; ++i)
    {
        const void* next = CFDictionaryGetValue(dictionary, names[i].get());
        if (!IsDictionary(next))
        {
            if (!create)
                return nullptr;
            const CFMutableDictionaryPtr made = AdoptCFDictionary(
                CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                          &kCFTypeDictionaryValueCallBacks));
            CFDictionarySetValue(dictionary, names[i].get(), made.get());
            next = made.get();
        }
        dictionary = static_cast<CFMutableDictionaryRef>(const_cast<void*>(next));
    }
    return dictionary;
}

bool PlistStore_pimpl::Reload()
{
    FlushWorkingCopy();
    // False when the domain's file exists but cannot be read (CoreFoundation
    // says why), or pending changes could not be written; the next operation
    // then tries again.
    const bool synchronized =
        CFPreferencesSynchronize(m_pApplicationId.get(), m_pUser.get(), m_pHost.get());
    m_bLoaded = synchronized;
    m_bSyncedUnderLock = synchronized && GetLockCount() > 0;
    return synchronized;
}

bool PlistStore_pimpl::Commit()
{
    if (!m_bDirty)
        return true;
    FlushWorkingCopy();
    // A domain that could not be written keeps its changes pending in
    // CoreFoundation; so does this store, and the commit says it failed.
    if (!CFPreferencesSynchronize(m_pApplicationId.get(), m_pUser.get(), m_pHost.get()))
        return false;
    m_bDirty = false;
    return true;
}

CFTypePtr PlistStore_pimpl::ReadPreference(const CFStringPtr& name)
{
    if (!m_mapWorking.empty())
    {
        const auto found = m_mapWorking.find(ToUtf8(ToWideString(name.get())));
        if (found != m_mapWorking.end())
            return found->second.tree;
    }
    return AdoptCFType(
        CFPreferencesCopyValue(name.get(), m_pApplicationId.get(), m_pUser.get(), m_pHost.get()));
}

bool PlistStore_pimpl::WritePreference(const CFStringPtr& name, CFPropertyListRef value)
{
    if (KeepsChangesInMemory())
    {
        CFMutableDictionaryPtr tree;
        if (value)
            tree = AdoptCFDictionary(
                static_cast<CFMutableDictionaryRef>(const_cast<void*>(CFPropertyListCreateDeepCopy(
                    kCFAllocatorDefault, value, kCFPropertyListMutableContainers))));
        m_mapWorking[ToUtf8(ToWideString(name.get()))] = WorkingEntry{name, tree};
        return true;
    }
    CFPreferencesSetValue(name.get(), value, m_pApplicationId.get(), m_pUser.get(), m_pHost.get());
    return true;
}

std::vector<CFStringPtr> PlistStore_pimpl::NormalizeAndSplitPath(const std::wstring& path)
{
    std::string utf8 = ToUtf8(path);
    for (char& c : utf8)
        if (c == '\\')
            c = '/';
    std::vector<CFStringPtr> names;
    std::size_t start = 0;
    while (start < utf8.size())
    {
        const std::size_t end = utf8.find('/', start);
        const std::size_t stop = end == std::string::npos ? utf8.size() : end;
        if (stop > start)
            names.push_back(ToCFString(utf8.substr(start, stop - start)));
        start = stop + 1;
    }
    return names;
}

const std::vector<CFStringPtr>& PlistStore_pimpl::SplitPath(const std::wstring& key)
{
    // Callers read and write many values below one key in a row.
    if (!m_bSplitKnown || key != m_sSplitKey)
    {
        m_lSplitNames = NormalizeAndSplitPath(key);
        m_sSplitKey = key;
        m_bSplitKnown = true;
    }
    return m_lSplitNames;
}

PlistStore_pimpl::Chain
PlistStore_pimpl::FindExistingDictionaries(const std::vector<CFStringPtr>& names)
{
    Chain chain;
    if (names.empty())
        return chain;
    chain.top = ReadPreference(names[0]);
    if (!IsDictionary(chain.top.get()))
        return chain;
    chain.dictionaries.reserve(names.size());
    chain.dictionaries.push_back(static_cast<CFDictionaryRef>(chain.top.get()));
    for (std::size_t i = 1; i < names.size(); ++i)
    {
        const void* next = nullptr;
        if (!CFDictionaryGetValueIfPresent(chain.dictionaries.back(), names[i].get(), &next) ||
            !IsDictionary(next))
            break;
        chain.dictionaries.push_back(static_cast<CFDictionaryRef>(next));
    }
    return chain;
}

std::vector<CFMutableDictionaryPtr>
PlistStore_pimpl::CloneExistingDictionaries(const std::vector<CFStringPtr>& names,
                                            const Chain& chain)
{
    std::vector<CFMutableDictionaryPtr> copies;
    copies.reserve(names.size());
    for (std::size_t i = 0; i < names.size(); ++i)
    {
        if (i < chain.dictionaries.size())
            copies.push_back(AdoptCFDictionary(
                CFDictionaryCreateMutableCopy(kCFAllocatorDefault, 0, chain.dictionaries[i])));
        else
            copies.push_back(AdoptCFDictionary(
                CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                          &kCFTypeDictionaryValueCallBacks)));
    }
    for (std::size_t i = 1; i < copies.size(); ++i)
        CFDictionarySetValue(copies[i - 1].get(), names[i].get(), copies[i].get());
    return copies;
}

bool PlistStore_pimpl::WriteValue(const std::wstring& key, const std::wstring& name,
                                  CFPropertyListRef value)
{
    if (!Storable(key) || !Storable(name))
        return false;
    Frame frame(*this);
    if (!frame.IsActive())
        return false;
    const std::vector<CFStringPtr>& names = SplitPath(key);
    // A value needs a key to live in.
    if (names.empty())
        return false;
    const CFStringPtr valueName = ToCFString(name);
    if (KeepsChangesInMemory())
    {
        CFDictionarySetValue(WorkingDictionary(names, names.size(), true), valueName.get(), value);
        m_bDirty = true;
        return frame.Finish(true);
    }
    const Chain chain = FindExistingDictionaries(names);
    const std::vector<CFMutableDictionaryPtr> copies = CloneExistingDictionaries(names, chain);
    CFDictionarySetValue(copies.back().get(), valueName.get(), value);
    const bool written = WritePreference(names[0], copies.front().get());
    m_bDirty = true;
    return frame.Finish(written);
}

bool PlistStore_pimpl::Write(const std::wstring& key, const std::wstring& name,
                             const std::wstring& value)
{
    if (!Storable(value))
        return false;
    const CFStringPtr text = ToCFString(value);
    return WriteValue(key, name, text.get());
}

bool PlistStore_pimpl::Write(const std::wstring& key, const std::wstring& name, int value)
{
    const std::int32_t number = value;
    const CFTypePtr object =
        AdoptCFType(CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &number));
    return WriteValue(key, name, object.get());
}

CFTypeRef PlistStore_pimpl::FindValue(const std::wstring& key, const std::wstring& name,
                                      Chain& chain)
{
    // A read under the caller's lock, as in read-modify-write, must see the
    // latest committed state, not the view of the last synchronisation.
    const bool stale = GetLockCount() > 0 && !m_bDirty && !m_bSyncedUnderLock;
    if ((!m_bLoaded || stale) && !Reload())
        return nullptr;
    const std::vector<CFStringPtr>& names = SplitPath(key);
    if (names.empty())
        return nullptr;
    // Only the key's own dictionary is needed: walk down to it.
    chain.top = ReadPreference(names[0]);
    const void* dictionary = chain.top.get();
    for (std::size_t i = 1; i < names.size() && IsDictionary(dictionary); ++i)
        dictionary = CFDictionaryGetValue(static_cast<CFDictionaryRef>(dictionary), names[i].get());
    if (!IsDictionary(dictionary))
        return nullptr;
    const CFStringPtr valueName = ToCFString(name);
    const void* value = nullptr;
    if (!CFDictionaryGetValueIfPresent(static_cast<CFDictionaryRef>(dictionary), valueName.get(),
                                       &value))
        return nullptr;
    return value;
}

bool PlistStore_pimpl::Read(const std::wstring& key, const std::wstring& name, std::wstring& value,
                            const std::wstring& defaultValue)
{
    value = defaultValue;
    Chain chain;
    const CFTypeRef found = FindValue(key, name, chain);
    if (!found || CFGetTypeID(found) != CFStringGetTypeID())
        return false;
    AssignWideString(static_cast<CFStringRef>(found), value);
    return true;
}

bool PlistStore_pimpl::Read(const std::wstring& key, const std::wstring& name, int& value,
                            int defaultValue)
{
    value = defaultValue;
    Chain chain;
    const CFTypeRef found = FindValue(key, name, chain);
    if (!found || CFGetTypeID(found) != CFNumberGetTypeID())
        return false;
    int number = 0;
    // Fractions and numbers beyond 32 bits are not the integers this store writes.
    if (!CFNumberGetValue(static_cast<CFNumberRef>(found), kCFNumberIntType, &number))
        return false;
    value = number;
    return true;
}

bool PlistStore_pimpl::RemoveEntry(const std::vector<CFStringPtr>& names, std::size_t count,
                                   const Chain& chain, CFStringRef entry)
{
    const void* present = nullptr;
    if (count == 0 || chain.dictionaries.size() < count ||
        !CFDictionaryGetValueIfPresent(chain.dictionaries[count - 1], entry, &present))
        return true;
    if (KeepsChangesInMemory())
    {
        if (CFMutableDictionaryRef parent = WorkingDictionary(names, count, false))
            CFDictionaryRemoveValue(parent, entry);
        m_bDirty = true;
        return true;
    }
    const std::vector<CFStringPtr> parentNames(names.begin(), names.begin() + count);
    Chain parent;
    parent.top = chain.top;
    parent.dictionaries.assign(chain.dictionaries.begin(), chain.dictionaries.begin() + count);
    const std::vector<CFMutableDictionaryPtr> copies =
        CloneExistingDictionaries(parentNames, parent);
    CFDictionaryRemoveValue(copies.back().get(), entry);
    m_bDirty = true;
    return WritePreference(names[0], copies.front().get());
}

bool PlistStore_pimpl::DeleteValue(const std::wstring& key, const std::wstring& name)
{
    Frame frame(*this);
    if (!frame.IsActive())
        return false;
    const std::vector<CFStringPtr> names = NormalizeAndSplitPath(key);
    const Chain chain = FindExistingDictionaries(names);
    if (names.empty() || chain.dictionaries.size() != names.size())
        return true;
    const CFStringPtr valueName = ToCFString(name);
    return frame.Finish(RemoveEntry(names, names.size(), chain, valueName.get()));
}

bool PlistStore_pimpl::DeleteKey(const std::wstring& key)
{
    Frame frame(*this);
    if (!frame.IsActive())
        return false;
    const std::vector<CFStringPtr> names = NormalizeAndSplitPath(key);
    if (names.empty())
        return false;
    m_bDirty = true;
    if (names.size() == 1)
        return frame.Finish(WritePreference(names[0], nullptr));
    const Chain chain = FindExistingDictionaries(names);
    return frame.Finish(RemoveEntry(names, names.size() - 1, chain, names.back().get()));
}

bool PlistStore_pimpl::DeleteEmptyKey(const std::wstring& key)
{
    Frame frame(*this);
    if (!frame.IsActive())
        return false;
    const std::vector<CFStringPtr> names = NormalizeAndSplitPath(key);
    const Chain chain = FindExistingDictionaries(names);
    if (names.empty() || chain.dictionaries.size() != names.size())
        return true;
    const CFDictionaryRef dictionary = chain.dictionaries.back();
    const CFIndex count = CFDictionaryGetCount(dictionary);
    std::vector<const void*> values(static_cast<std::size_t>(count));
    CFDictionaryGetKeysAndValues(dictionary, nullptr, values.data());
    for (const void* value : values)
        if (IsDictionary(value))
            return false;
    m_bDirty = true;
    if (names.size() == 1)
        return frame.Finish(WritePreference(names[0], nullptr));
    return frame.Finish(RemoveEntry(names, names.size() - 1, chain, names.back().get()));
}

void PlistStore_pimpl::ListEntries(const std::wstring& key, std::vector<std::wstring>& names,
                                   bool keys)
{
    Frame frame(*this);
    if (!frame.IsActive())
        return;
    const std::vector<CFStringPtr> path = NormalizeAndSplitPath(key);
    const Chain chain = FindExistingDictionaries(path);
    if (path.empty() || chain.dictionaries.size() != path.size())
        return;
    const CFDictionaryRef dictionary = chain.dictionaries.back();
    const auto count = static_cast<std::size_t>(CFDictionaryGetCount(dictionary));
    std::vector<const void*> entryNames(count);
    std::vector<const void*> values(count);
    CFDictionaryGetKeysAndValues(dictionary, entryNames.data(), values.data());
    for (std::size_t i = 0; i < count; ++i)
    {
        if (!entryNames[i] || CFGetTypeID(entryNames[i]) != CFStringGetTypeID() || !values[i])
            continue;
        const CFTypeID type = CFGetTypeID(values[i]);
        const bool wanted = keys ? type == CFDictionaryGetTypeID()
                                 : type == CFStringGetTypeID() || type == CFNumberGetTypeID();
        if (wanted)
            names.push_back(ToWideString(static_cast<CFStringRef>(entryNames[i])));
    }
}

void PlistStore_pimpl::ListKeys(const std::wstring& key, std::vector<std::wstring>& names)
{
    ListEntries(key, names, true);
}

void PlistStore_pimpl::ListValues(const std::wstring& key, std::vector<std::wstring>& names)
{
    ListEntries(key, names, false);
}

} // namespace detail
} // namespace Preference
