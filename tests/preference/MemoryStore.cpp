#include "MemoryStore.h"

#include <set>

bool MemoryStore::TryLock(int)
{
    if (m_bRefuseLock)
        return false;
    m_bHoldsRealLock = true;
    return true;
}

void MemoryStore::UnLock()
{
    Commit();
    ++m_nUnLocks;
    m_bHoldsRealLock = false;
}

bool MemoryStore::Reload()
{
    ++m_nReloads;
    m_mapWorking = m_mapCommitted;
    m_bDirty = false;
    return true;
}

bool MemoryStore::Commit()
{
    if (m_bDirty)
    {
        ++m_nCommits;
        m_mapCommitted = m_mapWorking;
        m_bDirty = false;
    }
    return true;
}

std::wstring MemoryStore::Normalize(const std::wstring& path)
{
    std::wstring result;
    for (wchar_t c : path)
    {
        if (c == L'\\' || c == L'/')
        {
            if (!result.empty() && result.back() != L'/')
                result += L'/';
        }
        else
        {
            result += c;
        }
    }
    if (!result.empty() && result.back() == L'/')
        result.pop_back();
    return result;
}

bool MemoryStore::Begin(bool& acquired)
{
    acquired = CountedTryLock(GetLockTimeout());
    return IsLocked();
}

void MemoryStore::End(bool acquired)
{
    if (acquired)
        CountedUnLock();
}

bool MemoryStore::Write(const std::wstring& key, const std::wstring& name,
                        const std::wstring& value)
{
    bool acquired;
    if (!Begin(acquired))
        return false;
    if (!m_bFailWrites)
    {
        m_mapWorking[Normalize(key)][name] = value;
        m_bDirty = true;
    }
    End(acquired);
    return !m_bFailWrites;
}

bool MemoryStore::Read(const std::wstring& key, const std::wstring& name, std::wstring& value,
                       const std::wstring& defaultValue)
{
    value = defaultValue;
    const auto keyIt = m_mapWorking.find(Normalize(key));
    if (keyIt == m_mapWorking.end())
        return false;
    const auto valueIt = keyIt->second.find(name);
    if (valueIt == keyIt->second.end())
        return false;
    value = valueIt->second;
    return true;
}

bool MemoryStore::DeleteValue(const std::wstring& key, const std::wstring& name)
{
    bool acquired;
    if (!Begin(acquired))
        return false;
    const auto keyIt = m_mapWorking.find(Normalize(key));
    if (keyIt != m_mapWorking.end() && keyIt->second.erase(name))
        m_bDirty = true;
    End(acquired);
    return true;
}

bool MemoryStore::DeleteKey(const std::wstring& key)
{
    const std::wstring path = Normalize(key);
    if (path.empty())
        return false;
    bool acquired;
    if (!Begin(acquired))
        return false;
    for (auto it = m_mapWorking.begin(); it != m_mapWorking.end();)
    {
        if (it->first == path || it->first.compare(0, path.size() + 1, path + L"/") == 0)
            it = m_mapWorking.erase(it);
        else
            ++it;
    }
    m_bDirty = true;
    End(acquired);
    return true;
}

void MemoryStore::ListKeys(const std::wstring& key, std::vector<std::wstring>& names)
{
    const std::wstring prefix = Normalize(key) + L"/";
    std::set<std::wstring> found;
    for (const auto& entry : m_mapWorking)
        if (entry.first.compare(0, prefix.size(), prefix) == 0)
            found.insert(entry.first.substr(prefix.size(),
                                            entry.first.find(L'/', prefix.size()) - prefix.size()));
    names.insert(names.end(), found.begin(), found.end());
}

void MemoryStore::ListValues(const std::wstring& key, std::vector<std::wstring>& names)
{
    const auto keyIt = m_mapWorking.find(Normalize(key));
    if (keyIt == m_mapWorking.end())
        return;
    for (const auto& value : keyIt->second)
        names.push_back(value.first);
}
