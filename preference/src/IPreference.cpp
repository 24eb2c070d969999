#include <preference/IPreference.h>

#include <boost/lexical_cast.hpp>
#include <boost/regex.hpp>

#include <ctime>

namespace Preference
{
namespace detail
{
namespace
{

void FilterNames(const std::vector<std::wstring>& names, const std::wstring& pattern,
                 std::vector<std::wstring>& result)
{
    const boost::wregex expression(pattern);
    for (const std::wstring& name : names)
        if (boost::regex_match(name, expression))
            result.push_back(name);
}

// Holds the counted lock for the grouped operations when it was obtained.
class CountedAcquisition
{
public:
    explicit CountedAcquisition(ILockable& store)
        : m_pStore(&store), m_bLocked(store.CountedTryLock(store.GetLockTimeout()))
    {
    }
    ~CountedAcquisition()
    {
        if (m_bLocked)
            m_pStore->CountedUnLock();
    }
    CountedAcquisition(const CountedAcquisition&) = delete;
    CountedAcquisition& operator=(const CountedAcquisition&) = delete;

private:
    ILockable* m_pStore;
    bool m_bLocked;
};

} // namespace

IPreference::IPreference() = default;

IPreference::~IPreference() = default;

bool IPreference::Write(const std::wstring& key, const std::wstring& name, int value)
{
    return Write(key, name, std::to_wstring(value));
}

bool IPreference::Read(const std::wstring& key, const std::wstring& name, int& value,
                       int defaultValue)
{
    std::wstring text;
    if (!Read(key, name, text, std::wstring()))
    {
        value = defaultValue;
        return false;
    }
    value = boost::lexical_cast<std::int32_t>(text);
    return true;
}

bool IPreference::DeleteEmptyKey(const std::wstring& key)
{
    std::vector<std::wstring> subKeys;
    ListKeys(key, subKeys);
    if (!subKeys.empty())
        return false;
    return DeleteKey(key);
}

void IPreference::ListKeys(const std::wstring& key, std::vector<std::wstring>& names,
                           const std::wstring& pattern)
{
    names.clear();
    std::vector<std::wstring> all;
    ListKeys(key, all);
    FilterNames(all, pattern, names);
}

void IPreference::ListValues(const std::wstring& key, std::vector<std::wstring>& names,
                             const std::wstring& pattern)
{
    names.clear();
    std::vector<std::wstring> all;
    ListValues(key, all);
    FilterNames(all, pattern, names);
}

bool IPreference::Write(const std::wstring& key, const Container& container)
{
    CountedAcquisition lock(*this);
    if (!IsLocked())
        return false;

    // Only sub-keys that an earlier container write made are replaced.
    std::vector<std::wstring> subKeys;
    ListKeys(key, subKeys);
    for (const std::wstring& subKey : subKeys)
    {
        const std::wstring path = key + L"/" + subKey;
        std::wstring name;
        if (Read(path, PROP_KEY_VALUE_NAME(), name, std::wstring()))
            DeleteKey(path);
    }

    bool result = true;
    int index = 0;
    for (const auto& entry : container.GetMap())
    {
        const std::wstring path = key + L"/" + std::to_wstring(index++);
        if (!Write(path, PROP_KEY_VALUE_NAME(), entry.first))
            result = false;
        if (!Write(path, PROP_VALUE_VALUE_NAME(), entry.second))
            result = false;
    }
    return result;
}

bool IPreference::Read(const std::wstring& key, Container& container)
{
    CountedAcquisition lock(*this);

    container.GetMap().clear();
    container.OnChange();

    std::vector<std::wstring> subKeys;
    ListKeys(key, subKeys);
    for (const std::wstring& subKey : subKeys)
    {
        const std::wstring path = key + L"/" + subKey;
        std::wstring name;
        std::wstring value;
        if (Read(path, PROP_KEY_VALUE_NAME(), name, std::wstring()) &&
            Read(path, PROP_VALUE_VALUE_NAME(), value, std::wstring()))
            container.Set(name, value);
    }
    container.OnReadComplete();
    return true;
}

bool IPreference::TestWrite(const std::wstring& key)
{
    const std::unique_ptr<ILockable::Locker> lock = GetScopedLock();
    if (!IsLocked())
        return false;

    const std::wstring name = L"__ombrel_permission_test";
    const std::wstring text = L"__test_value_" + std::to_wstring(std::time(nullptr));

    std::wstring found;
    if (Read(key, name, found, std::wstring()))
    {
        // A previous test left its value behind.
        DeleteValue(key, name);
        Commit();
        Reload();
        if (Read(key, name, found, std::wstring()))
            return false;
    }
    if (!Write(key, name, text))
        return false;
    if (!Commit())
    {
        DeleteValue(key, name);
        return false;
    }
    if (!Reload() || !Read(key, name, found, std::wstring()) || found != text)
        return false;
    DeleteValue(key, name);
    return true;
}

std::unique_ptr<ILockable::Locker> IPreference::GetScopedLock()
{
    return std::unique_ptr<ILockable::Locker>(new ILockable::Locker(*this));
}

const std::wstring& IPreference::PROP_KEY_VALUE_NAME()
{
    static const std::wstring name(L"key");
    return name;
}

const std::wstring& IPreference::PROP_VALUE_VALUE_NAME()
{
    static const std::wstring name(L"value");
    return name;
}

} // namespace detail
} // namespace Preference
