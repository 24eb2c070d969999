#include "XmlStore_pimpl.h"

#include <filecask/FileCask.h>

#include <utils/XmlNesting.h>

#include "preference/detail/Utf8.h"
#include "utils/TinyXmlText.h"

#include <boost/make_shared.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <sys/stat.h>
#include <tinyxml.h>

namespace Preference
{
namespace detail
{

const char* const ROOT = "Root";
const char* const SUB_ROOT = "Preferences";
const char* const KEY = "key";
const char* const VALUE = "value";
const char* const NAME = "name";
const char* const DATA = "data";

namespace
{
// Deeper documents than this are refused before parsing: the parser recurses
// once per level, and a hostile file must not exhaust the stack.
const int kMaxDepth = 2000;

// Takes the store's counted lock for one operation and gives it back on every
// way out.
class OperationLock
{
public:
    explicit OperationLock(ILockable& store)
        : m_store(store), m_bTaken(store.CountedTryLock(store.GetLockTimeout()))
    {
    }
    ~OperationLock()
    {
        if (m_bTaken)
            m_store.CountedUnLock();
    }
    OperationLock(const OperationLock&) = delete;
    OperationLock& operator=(const OperationLock&) = delete;

private:
    ILockable& m_store;
    bool m_bTaken;
};

// "a\\b/c", "/a/b/c/" and "a//b\\c" all name the same key.
std::vector<std::string> SplitPath(const std::wstring& path)
{
    std::vector<std::string> names;
    std::wstring name;
    for (wchar_t c : path)
    {
        if (c == L'\\' || c == L'/')
        {
            if (!name.empty())
                names.push_back(ToUtf8(name));
            name.clear();
        }
        else
        {
            name += c;
        }
    }
    if (!name.empty())
        names.push_back(ToUtf8(name));
    return names;
}

} // namespace

XmlStore_pimpl::XmlStore_pimpl(const boost::shared_ptr<StreamStore>& store, int recordIndex,
                               bool pretty)
    : m_pStreamStore(store), m_lRecordIndex(recordIndex), m_bPretty(pretty)
{
    if (!store)
        throw std::invalid_argument("XmlStore: the stream store is missing");
    if (recordIndex < 0)
        throw std::invalid_argument("XmlStore: the record index must not be negative");
}

XmlStore_pimpl::~XmlStore_pimpl() = default;

void XmlStore_pimpl::ResetData()
{
    auto document = boost::make_shared<TiXmlDocument>();
    document->LinkEndChild(new TiXmlDeclaration("1.0", "utf-8", "yes"));
    auto* root = new TiXmlElement(ROOT);
    root->LinkEndChild(new TiXmlElement(SUB_ROOT));
    document->LinkEndChild(root);
    ForgetChildIndex();
    m_pDocument = document;
}

std::string XmlStore_pimpl::Serialize()
{
    if (!m_pDocument)
        ResetData();
    TiXmlPrinter printer;
    if (!m_bPretty)
    {
        printer.SetIndent("");
        printer.SetLineBreak("");
    }
    m_pDocument->Accept(&printer);
    return printer.Str();
}

bool XmlStore_pimpl::Deserialize(const std::string& text)
{
    auto document = boost::make_shared<TiXmlDocument>();
    const std::string parsed = orbilib::utils::tinyXmlText(text);
    const bool tooDeep =
        !orbilib::utils::xmlNestingWithin(parsed.c_str(), std::strlen(parsed.c_str()), kMaxDepth);
    if (!tooDeep)
        document->Parse(parsed.c_str(), nullptr, TIXML_ENCODING_UTF8);
    ForgetChildIndex();
    m_pDocument = document;
    m_bParsedRecord = !(tooDeep || document->Error() || !document->RootElement() ||
                        !document->RootElement()->FirstChildElement(SUB_ROOT));
    if (!m_bParsedRecord)
        ResetData();
    return m_pDocument->RootElement() != nullptr;
}

TiXmlElement* XmlStore_pimpl::FindChild(TiXmlElement* parent, const char* element,
                                        const std::string& name) const
{
    const auto indexKey = std::make_pair(parent, std::strcmp(element, KEY) == 0);
    auto index = m_mapChildIndex.find(indexKey);
    if (index == m_mapChildIndex.end())
    {
        ChildIndex children;
        for (TiXmlElement* child = parent->FirstChildElement(element); child;
             child = child->NextSiblingElement(element))
        {
            // The first of equally named elements is the one that counts.
            if (const char* attribute = child->Attribute(NAME))
                children.emplace(attribute, child);
        }
        index = m_mapChildIndex.emplace(indexKey, std::move(children)).first;
    }
    const auto found = index->second.find(name);
    return found == index->second.end() ? nullptr : found->second;
}

TiXmlElement* XmlStore_pimpl::AddChild(TiXmlElement* parent, const char* element,
                                       const std::string& name) const
{
    auto* added = new TiXmlElement(element);
    added->SetAttribute(NAME, name);
    parent->LinkEndChild(added);
    const auto index = m_mapChildIndex.find(std::make_pair(parent, std::strcmp(element, KEY) == 0));
    if (index != m_mapChildIndex.end())
        index->second.emplace(name, added);
    return added;
}

bool XmlStore_pimpl::TryLock(int timeout)
{
    return m_pStreamStore->TryLock(timeout);
}

void XmlStore_pimpl::UnLock()
{
    Commit();
    m_pStreamStore->UnLock();
}

int XmlStore_pimpl::GetLockTimeout() const
{
    return -1;
}

bool XmlStore_pimpl::IsLocked() const
{
    return m_pStreamStore->IsLocked();
}

bool XmlStore_pimpl::Reload()
{
    const bool wasUnreadable = m_bUnreadable;
    m_bLoaded = false;
    m_bDirty = false;
    m_bUnreadable = false;
    ResetData();
    bool loaded = false;
    {
        OperationLock lock(*this);
        if (!IsLocked())
            return false;
        loaded = m_pStreamStore->Load();
    }
    const std::string record = m_pStreamStore->GetData(static_cast<unsigned>(m_lRecordIndex));
    const bool parsed = Deserialize(record);
    // Only a missing or empty file is an empty store. Anything else we cannot
    // read stays as it is: a change would replace it with our empty tree.
    m_bUnreadable = (!loaded && !HoldsNothing()) || (!record.empty() && !m_bParsedRecord);
    if (m_bUnreadable && !wasUnreadable)
        std::fprintf(stderr,
                     "XmlStore: %s cannot be read and is left as it is; changes are "
                     "refused until it can be\n",
                     StoreName().c_str());
    m_bLoaded = true;
    if (!parsed)
        m_bDirty = true;
    return parsed && !m_bUnreadable;
}

bool XmlStore_pimpl::Commit()
{
    if (!m_bDirty)
        return true;
    if (m_bUnreadable)
        return false;
    m_pStreamStore->SetData(static_cast<unsigned>(m_lRecordIndex), Serialize());
    OperationLock lock(*this);
    if (!IsLocked())
        return false;
    const bool saved = m_pStreamStore->Save();
    if (saved)
        m_bDirty = false;
    return saved;
}

bool XmlStore_pimpl::HoldsNothing() const
{
    // Stores of other kinds cannot tell; they keep counting a failed load as empty.
    auto* cask = dynamic_cast<FileCask*>(m_pStreamStore.get());
    if (!cask)
        return true;
    struct stat status;
    const std::string path = ToUtf8(cask->GetPreferenceFilePath());
    return ::stat(path.c_str(), &status) != 0 ? errno == ENOENT : status.st_size == 0;
}

std::string XmlStore_pimpl::StoreName() const
{
    auto* cask = dynamic_cast<FileCask*>(m_pStreamStore.get());
    return cask ? ToUtf8(cask->GetPreferenceFilePath()) : std::string("the stream store");
}

bool XmlStore_pimpl::Committed(bool outermost) const
{
    // The operation's own lock was the outermost one, so its release committed:
    // changes still pending mean the file did not take them.
    return !outermost || !m_bDirty;
}

void XmlStore_pimpl::ReloadUnlessDirty()
{
    if (!m_bLoaded || !m_bDirty)
        Reload();
}

void XmlStore_pimpl::RefreshForReading()
{
    if (!m_bLoaded)
    {
        Reload();
        return;
    }
    // A caller holding the file lock means to read what the file holds now, as
    // in a read-modify-write; without pending changes that may differ from the
    // last reload, since other processes write between our locks.
    if (!m_bDirty && GetLockCount() > 0 && IsLocked())
        Reload();
}

TiXmlElement* XmlStore_pimpl::Preferences() const
{
    TiXmlElement* root = m_pDocument ? m_pDocument->RootElement() : nullptr;
    return root ? root->FirstChildElement(SUB_ROOT) : nullptr;
}

TiXmlElement* XmlStore_pimpl::Walk(const std::vector<std::string>& path, bool create) const
{
    TiXmlElement* element = Preferences();
    for (const std::string& name : path)
    {
        if (!element)
            return nullptr;
        TiXmlElement* child = FindChild(element, KEY, name);
        if (!child && create)
            child = AddChild(element, KEY, name);
        element = child;
    }
    return element;
}

bool XmlStore_pimpl::Write(const std::wstring& key, const std::wstring& name,
                           const std::wstring& value)
{
    const std::vector<std::string> path = SplitPath(key);
    const std::string valueName = ToUtf8(name);
    const std::string data = ToUtf8(value);
    const bool outermost = GetLockCount() == 0;
    {
        OperationLock lock(*this);
        if (!IsLocked())
            return false;
        ReloadUnlessDirty();
        if (m_bUnreadable || !Preferences())
            return false;
        TiXmlElement* keyElement = Walk(path, true);
        TiXmlElement* valueElement = FindChild(keyElement, VALUE, valueName);
        if (!valueElement)
            valueElement = AddChild(keyElement, VALUE, valueName);
        valueElement->SetAttribute(DATA, data);
        m_bDirty = true;
    }
    return Committed(outermost);
}

bool XmlStore_pimpl::Read(const std::wstring& key, const std::wstring& name, std::wstring& value,
                          const std::wstring& defaultValue)
{
    value = defaultValue;
    const std::vector<std::string> path = SplitPath(key);
    const std::string valueName = ToUtf8(name);
    RefreshForReading();
    if (!m_bLoaded)
        return false;
    TiXmlElement* keyElement = Walk(path, false);
    if (!keyElement)
        return false;
    TiXmlElement* valueElement = FindChild(keyElement, VALUE, valueName);
    // A value without data is damaged, not empty: it reads as absent.
    const char* data = valueElement ? valueElement->Attribute(DATA) : nullptr;
    if (!data)
        return false;
    value = FromUtf8(data);
    return true;
}

bool XmlStore_pimpl::DeleteValue(const std::wstring& key, const std::wstring& name)
{
    const std::vector<std::string> path = SplitPath(key);
    const std::string valueName = ToUtf8(name);
    const bool outermost = GetLockCount() == 0;
    {
        OperationLock lock(*this);
        if (!IsLocked())
            return false;
        ReloadUnlessDirty();
        if (m_bUnreadable || !Preferences())
            return false;
        TiXmlElement* keyElement = Walk(path, false);
        if (!keyElement)
            return true;
        if (TiXmlElement* valueElement = FindChild(keyElement, VALUE, valueName))
        {
            ForgetChildIndex();
            keyElement->RemoveChild(valueElement);
            m_bDirty = true;
        }
    }
    return Committed(outermost);
}

bool XmlStore_pimpl::DeleteKey(const std::wstring& key)
{
    const std::vector<std::string> path = SplitPath(key);
    // An empty path names the whole tree, which is not a key to remove.
    if (path.empty())
        return false;
    const bool outermost = GetLockCount() == 0;
    {
        OperationLock lock(*this);
        if (!IsLocked())
            return false;
        ReloadUnlessDirty();
        if (m_bUnreadable)
            return false;
        TiXmlElement* keyElement = Walk(path, false);
        if (!keyElement)
            return true;
        ForgetChildIndex();
        keyElement->Parent()->RemoveChild(keyElement);
        m_bDirty = true;
    }
    return Committed(outermost);
}

void XmlStore_pimpl::List(const std::wstring& key, const char* element,
                          std::vector<std::wstring>& names)
{
    const std::vector<std::string> path = SplitPath(key);
    RefreshForReading();
    if (!m_bLoaded)
        return;
    TiXmlElement* keyElement = Walk(path, false);
    if (!keyElement)
        return;
    for (TiXmlElement* child = keyElement->FirstChildElement(element); child;
         child = child->NextSiblingElement(element))
    {
        if (const char* name = child->Attribute(NAME))
            names.push_back(FromUtf8(name));
    }
}

void XmlStore_pimpl::ListKeys(const std::wstring& key, std::vector<std::wstring>& names)
{
    List(key, KEY, names);
}

void XmlStore_pimpl::ListValues(const std::wstring& key, std::vector<std::wstring>& names)
{
    List(key, VALUE, names);
}

} // namespace detail
} // namespace Preference
