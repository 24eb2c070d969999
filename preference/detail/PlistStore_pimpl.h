#pragma once

#include "CFTypePtr.h"
#include "DomainFileLock.h"

#include <preference/CFStringPtr.h>
#include <preference/PreferenceBase.h>

#include <boost/thread/recursive_mutex.hpp>

#include <map>
#include <string>
#include <vector>

namespace Preference
{
namespace detail
{

// A store over one CoreFoundation preferences domain. Key paths map onto nested
// dictionaries below a top-level entry of the domain.
class PlistStore_pimpl : public PreferenceBase
{
public:
    PlistStore_pimpl(CFStringRef applicationId, CFStringRef user, CFStringRef host);
    ~PlistStore_pimpl() override;

    PlistStore_pimpl(const PlistStore_pimpl&) = delete;
    PlistStore_pimpl& operator=(const PlistStore_pimpl&) = delete;

    using PreferenceBase::DeleteEmptyKey;
    using PreferenceBase::DeleteKey;
    using PreferenceBase::DeleteValue;
    using PreferenceBase::ListKeys;
    using PreferenceBase::ListValues;
    using PreferenceBase::Read;
    using PreferenceBase::Write;

    bool TryLock(int timeout) override;
    void UnLock() override;
    int GetLockTimeout() const override;

    bool Reload() override;
    bool Commit() override;
    bool Write(const std::wstring& key, const std::wstring& name,
               const std::wstring& value) override;
    bool Read(const std::wstring& key, const std::wstring& name, std::wstring& value,
              const std::wstring& defaultValue) override;
    bool Write(const std::wstring& key, const std::wstring& name, int value) override;
    bool Read(const std::wstring& key, const std::wstring& name, int& value,
              int defaultValue) override;
    bool DeleteValue(const std::wstring& key, const std::wstring& name) override;
    bool DeleteKey(const std::wstring& key) override;
    bool DeleteEmptyKey(const std::wstring& key) override;
    void ListKeys(const std::wstring& key, std::vector<std::wstring>& names) override;
    void ListValues(const std::wstring& key, std::vector<std::wstring>& names) override;

    // The top-level entry of that name; empty when absent.
    virtual CFTypePtr ReadPreference(const CFStringPtr& name);
    // Sets the top-level entry; a null value removes it.
    virtual bool WritePreference(const CFStringPtr& name, CFPropertyListRef value);

protected:
    typedef boost::recursive_timed_mutex Guard;

    // Whether changes stay in this store's memory until the commit; a store
    // that writes every change at once says no.
    virtual bool KeepsChangesInMemory() const { return true; }

    // For stores that share another process-wide lock.
    PlistStore_pimpl(CFStringRef applicationId, CFStringRef user, CFStringRef host, Guard& guard);

    Guard& GetGuard() { return m_gGuard; }
    // For stores whose changes reach their file as they are made.
    void MarkClean() { m_bDirty = false; }

private:
    // Dictionaries that exist along a path, from the top-level entry down.
    struct Chain
    {
        CFTypePtr top; // keeps the chain alive
        std::vector<CFDictionaryRef> dictionaries;
    };

    // Holds the counted lock for one operation when it was obtained.
    class Frame;

    static std::vector<CFStringPtr> NormalizeAndSplitPath(const std::wstring& path);
    // NormalizeAndSplitPath, remembered for the last key; valid until the next call.
    const std::vector<CFStringPtr>& SplitPath(const std::wstring& key);
    Chain FindExistingDictionaries(const std::vector<CFStringPtr>& names);
    static std::vector<CFMutableDictionaryPtr>
    CloneExistingDictionaries(const std::vector<CFStringPtr>& names, const Chain& chain);
    // Looks the value up; null when the path or the value is absent.
    CFTypeRef FindValue(const std::wstring& key, const std::wstring& name, Chain& chain);
    bool WriteValue(const std::wstring& key, const std::wstring& name, CFPropertyListRef value);
    // Removes entry from the dictionary at names[0..count), writing the new tree.
    bool RemoveEntry(const std::vector<CFStringPtr>& names, std::size_t count, const Chain& chain,
                     CFStringRef entry);
    void ListEntries(const std::wstring& key, std::vector<std::wstring>& names, bool keys);

    // The dictionary at the path in the changed copy of its top-level entry,
    // made (with the missing dictionaries) when create is set; null when absent.
    CFMutableDictionaryRef WorkingDictionary(const std::vector<CFStringPtr>& names,
                                             std::size_t count, bool create);
    // Hands the changed top-level entries to CoreFoundation.
    void FlushWorkingCopy();

    static Guard& PreferenceGuard();

    Guard& m_gGuard;
    CFStringPtr m_pApplicationId;
    CFStringPtr m_pUser;
    CFStringPtr m_pHost;
    bool m_bLoaded;
    bool m_bDirty;
    // Whether the domain was reread since the real lock was taken: only then
    // do reads under the lock see what other processes committed before it.
    bool m_bSyncedUnderLock = false;
    DomainFileLock m_lDomainLock;
    // Top-level entries changed since the last commit, by name: a deeply
    // mutable copy changed in place, or null for a removed entry. Writes touch
    // only these, so a batch of changes costs each one a few lookups, and the
    // domain is written once, at the commit.
    struct WorkingEntry
    {
        CFStringPtr name;
        CFMutableDictionaryPtr tree;
    };
    std::map<std::string, WorkingEntry> m_mapWorking;
    bool m_bSplitKnown = false;
    std::wstring m_sSplitKey;
    std::vector<CFStringPtr> m_lSplitNames;
};

} // namespace detail
} // namespace Preference
