#pragma once

#include <filecask/StreamStore.h>

#include <preference/PreferenceBase.h>

#include <boost/shared_ptr.hpp>

#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

class TiXmlDocument;
class TiXmlElement;

namespace Preference
{
namespace detail
{

extern const char* const ROOT;
extern const char* const SUB_ROOT;
extern const char* const KEY;
extern const char* const VALUE;
extern const char* const NAME;
extern const char* const DATA;

// The XML store itself; XmlStore forwards every operation here.
class XmlStore_pimpl : public PreferenceBase
{
public:
    XmlStore_pimpl(const boost::shared_ptr<StreamStore>& store, int recordIndex, bool pretty);
    ~XmlStore_pimpl() override;

    using PreferenceBase::DeleteKey;
    using PreferenceBase::DeleteValue;
    using PreferenceBase::ListKeys;
    using PreferenceBase::ListValues;
    using PreferenceBase::Read;
    using PreferenceBase::Write;

    bool TryLock(int timeout) override;
    void UnLock() override;
    int GetLockTimeout() const override;
    bool IsLocked() const override;
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

    const boost::shared_ptr<StreamStore>& GetStreamStore() const { return m_pStreamStore; }

    // The document handling, public for the store's own helpers.
    void ResetData();
    std::string Serialize();
    bool Deserialize(const std::string& text);

private:
    // Whether the stream store's file is missing or empty (a store of another
    // kind is taken to be).
    bool HoldsNothing() const;
    // The file's path, for messages.
    std::string StoreName() const;
    // What a changing operation returns once its own lock is released.
    bool Committed(bool outermost) const;
    // Rereads the file before a change unless changes are pending.
    void ReloadUnlessDirty();
    // Loads before a read, and rereads while the caller holds the file lock.
    void RefreshForReading();
    TiXmlElement* Preferences() const;
    // The key element for the path, created on the way when create is set;
    // null when a key is missing.
    TiXmlElement* Walk(const std::vector<std::string>& path, bool create) const;
    void List(const std::wstring& key, const char* element, std::vector<std::wstring>& names);
    // The first child "key" or "value" element with the name, or null.
    TiXmlElement* FindChild(TiXmlElement* parent, const char* element,
                            const std::string& name) const;
    // Appends a new named child element and returns it.
    TiXmlElement* AddChild(TiXmlElement* parent, const char* element,
                           const std::string& name) const;
    // Called whenever elements are removed or the document is replaced.
    void ForgetChildIndex() const { m_mapChildIndex.clear(); }

    boost::shared_ptr<StreamStore> m_pStreamStore;
    int m_lRecordIndex;
    boost::shared_ptr<TiXmlDocument> m_pDocument;
    bool m_bLoaded = false;
    bool m_bDirty = false;
    bool m_bPretty;
    // Whether the last reload found data it could not read; the store then
    // takes no change, so that it never replaces that data.
    bool m_bUnreadable = false;
    // Whether the last Deserialize found a usable document in its text.
    bool m_bParsedRecord = false;
    // Name lookups of children, built per parent on first use, so that many
    // values under one key are found without scanning all of them each time.
    typedef std::unordered_map<std::string, TiXmlElement*> ChildIndex;
    mutable std::map<std::pair<const TiXmlElement*, bool>, ChildIndex> m_mapChildIndex;
};

} // namespace detail
} // namespace Preference
