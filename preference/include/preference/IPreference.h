#pragma once

#include <preference/ILockable.h>
#include <preference/PropertyContainer.h>
#include <preference/preference_export.h>

#include <memory>
#include <string>
#include <vector>

namespace Preference
{
namespace detail
{

// The store operations on wide strings, with the operations every store shares
// built on a few primitives. Key paths separate key names by "\\" or "/".
class PREFERENCE_EXPORT IPreference : public ILockable
{
public:
    typedef PropertyContainer<std::wstring, std::wstring> Container;

    IPreference();
    ~IPreference() override;

    // Makes the store reflect its backing data.
    virtual bool Reload() = 0;
    // Writes pending changes to the backing data.
    virtual bool Commit() = 0;
    virtual bool Write(const std::wstring& key, const std::wstring& name,
                       const std::wstring& value) = 0;
    // value receives the stored text, or defaultValue when the result is false.
    virtual bool Read(const std::wstring& key, const std::wstring& name, std::wstring& value,
                      const std::wstring& defaultValue) = 0;
    // Stores the decimal text of the integer.
    virtual bool Write(const std::wstring& key, const std::wstring& name, int value);
    // Throws boost::bad_lexical_cast when the stored text is not a 32-bit integer.
    virtual bool Read(const std::wstring& key, const std::wstring& name, int& value,
                      int defaultValue);
    virtual bool DeleteValue(const std::wstring& key, const std::wstring& name) = 0;
    // Removes the key with all it holds.
    virtual bool DeleteKey(const std::wstring& key) = 0;
    // Removes the key only when it has no sub-keys; values do not prevent it.
    virtual bool DeleteEmptyKey(const std::wstring& key);
    // Append the names of the key's sub-keys or values.
    virtual void ListKeys(const std::wstring& key, std::vector<std::wstring>& names) = 0;
    virtual void ListValues(const std::wstring& key, std::vector<std::wstring>& names) = 0;
    // Replace names by the names that the Perl regular expression matches as a whole.
    virtual void ListKeys(const std::wstring& key, std::vector<std::wstring>& names,
                          const std::wstring& pattern);
    virtual void ListValues(const std::wstring& key, std::vector<std::wstring>& names,
                            const std::wstring& pattern);
    // Stores the container as numbered sub-keys, each holding "key" and "value".
    virtual bool Write(const std::wstring& key, const Container& container);
    virtual bool Read(const std::wstring& key, Container& container);
    // Whether values under the key can be written, found out by writing,
    // committing, reloading and reading back a test value.
    virtual bool TestWrite(const std::wstring& key);

    // An acquisition of this store's counted lock, released when the Locker goes.
    std::unique_ptr<ILockable::Locker> GetScopedLock();

    static const std::wstring& PROP_KEY_VALUE_NAME();
    static const std::wstring& PROP_VALUE_VALUE_NAME();
};

} // namespace detail
} // namespace Preference
