#pragma once

#include <preference/PreferenceBase.h>

#include <map>
#include <string>
#include <vector>

// A store kept in memory that follows the lock protocol of the real stores and
// counts what reaches its "backing data", for testing the shared operations.
class MemoryStore : public Preference::PreferenceBase
{
public:
    using Preference::PreferenceBase::DeleteKey;
    using Preference::PreferenceBase::DeleteValue;
    using Preference::PreferenceBase::ListKeys;
    using Preference::PreferenceBase::ListValues;
    using Preference::PreferenceBase::Read;
    using Preference::PreferenceBase::Write;

    typedef std::map<std::wstring, std::map<std::wstring, std::wstring>> Tree;

    bool TryLock(int) override;
    void UnLock() override;
    int GetLockTimeout() const override { return 1000; }

    bool Reload() override;
    bool Commit() override;
    bool Write(const std::wstring& key, const std::wstring& name,
               const std::wstring& value) override;
    bool Read(const std::wstring& key, const std::wstring& name, std::wstring& value,
              const std::wstring& defaultValue) override;
    bool DeleteValue(const std::wstring& key, const std::wstring& name) override;
    bool DeleteKey(const std::wstring& key) override;
    void ListKeys(const std::wstring& key, std::vector<std::wstring>& names) override;
    void ListValues(const std::wstring& key, std::vector<std::wstring>& names) override;

    static std::wstring Normalize(const std::wstring& path);

    bool m_bRefuseLock = false;
    bool m_bFailWrites = false;
    bool m_bHoldsRealLock = false;
    int m_nCommits = 0;
    int m_nReloads = 0;
    int m_nUnLocks = 0;
    Tree m_mapWorking;
    Tree m_mapCommitted;

private:
    bool Begin(bool& acquired);
    void End(bool acquired);
    bool m_bDirty = false;
};
