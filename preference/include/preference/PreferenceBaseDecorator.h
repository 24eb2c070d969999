#pragma once

#include <preference/LockableDecorator.h>
#include <preference/preference_export.h>

#include <boost/shared_ptr.hpp>

namespace Preference
{

// A store that forwards its lock and data operations to a wrapped store. The
// shared operations (DeleteEmptyKey, pattern listings, CoreFoundation overloads)
// run here and reach the wrapped store through the forwarded ones.
class PREFERENCE_EXPORT PreferenceBaseDecorator : public LockableDecorator
{
public:
    // Throws std::invalid_argument when store is empty.
    explicit PreferenceBaseDecorator(const boost::shared_ptr<PreferenceBase>& store);
    // Releases the wrapped store; neither commits nor unlocks.
    ~PreferenceBaseDecorator() override;

    using PreferenceBase::DeleteKey;
    using PreferenceBase::DeleteValue;
    using PreferenceBase::ListKeys;
    using PreferenceBase::ListValues;
    using PreferenceBase::Read;
    using PreferenceBase::TestWrite;
    using PreferenceBase::Write;

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
    void ListKeys(const std::wstring& key, std::vector<std::wstring>& names) override;
    void ListValues(const std::wstring& key, std::vector<std::wstring>& names) override;
    bool Write(const std::wstring& key, const Container& container) override;
    bool Read(const std::wstring& key, Container& container) override;
    bool TestWrite(const std::wstring& key) override;

private:
    boost::shared_ptr<PreferenceBase> m_pStore;
};

} // namespace Preference
