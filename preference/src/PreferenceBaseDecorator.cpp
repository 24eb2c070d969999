#include <preference/PreferenceBaseDecorator.h>

#include <stdexcept>

namespace Preference
{
namespace
{

PreferenceBase* Checked(const boost::shared_ptr<PreferenceBase>& store)
{
    if (!store)
        throw std::invalid_argument("PreferenceBaseDecorator: the wrapped store is empty");
    return store.get();
}

} // namespace

PreferenceBaseDecorator::PreferenceBaseDecorator(const boost::shared_ptr<PreferenceBase>& store)
    : LockableDecorator(Checked(store)), m_pStore(store)
{
}

PreferenceBaseDecorator::~PreferenceBaseDecorator() = default;

bool PreferenceBaseDecorator::Reload()
{
    return m_pStore->Reload();
}

bool PreferenceBaseDecorator::Commit()
{
    return m_pStore->Commit();
}

bool PreferenceBaseDecorator::Write(const std::wstring& key, const std::wstring& name,
                                    const std::wstring& value)
{
    return m_pStore->Write(key, name, value);
}

bool PreferenceBaseDecorator::Read(const std::wstring& key, const std::wstring& name,
                                   std::wstring& value, const std::wstring& defaultValue)
{
    return m_pStore->Read(key, name, value, defaultValue);
}

bool PreferenceBaseDecorator::Write(const std::wstring& key, const std::wstring& name, int value)
{
    return m_pStore->Write(key, name, value);
}

bool PreferenceBaseDecorator::Read(const std::wstring& key, const std::wstring& name, int& value,
                                   int defaultValue)
{
    return m_pStore->Read(key, name, value, defaultValue);
}

bool PreferenceBaseDecorator::DeleteValue(const std::wstring& key, const std::wstring& name)
{
    return m_pStore->DeleteValue(key, name);
}

bool PreferenceBaseDecorator::DeleteKey(const std::wstring& key)
{
    return m_pStore->DeleteKey(key);
}

void PreferenceBaseDecorator::ListKeys(const std::wstring& key, std::vector<std::wstring>& names)
{
    m_pStore->ListKeys(key, names);
}

void PreferenceBaseDecorator::ListValues(const std::wstring& key, std::vector<std::wstring>& names)
{
    m_pStore->ListValues(key, names);
}

bool PreferenceBaseDecorator::Write(const std::wstring& key, const Container& container)
{
    return m_pStore->Write(key, container);
}

bool PreferenceBaseDecorator::Read(const std::wstring& key, Container& container)
{
    return m_pStore->Read(key, container);
}

bool PreferenceBaseDecorator::TestWrite(const std::wstring& key)
{
    return m_pStore->TestWrite(key);
}

} // namespace Preference
