#pragma once

#include <preference/preference_export.h>

#include <map>

namespace Preference
{

// A group of named properties that a store reads and writes as one unit. The
// notifications let a subclass follow changes and know when a store finished
// filling it.
template <class Key, class Value> class PREFERENCE_EXPORT PropertyContainer
{
public:
    typedef Key key_type;
    typedef Value value_type;
    typedef std::map<Key, Value> map_type;

    PropertyContainer() = default;
    virtual ~PropertyContainer() = default;

    // Removes every property; notifies only when something was removed.
    virtual void Clear()
    {
        if (m_mapProperties.empty())
            return;
        m_mapProperties.clear();
        OnChange();
    }
    // Called after the content changed.
    virtual void OnChange() {}
    // Called when a store has finished filling the container.
    virtual void OnReadComplete() {}

    // Stores the value unless the name already holds an equal one.
    void Set(const Key& name, const Value& value)
    {
        auto it = m_mapProperties.find(name);
        if (it != m_mapProperties.end())
        {
            if (it->second == value)
                return;
            it->second = value;
        }
        else
        {
            m_mapProperties.emplace(name, value);
        }
        OnChange();
    }

    // False, leaving value alone, when the name is absent.
    bool Get(const Key& name, Value& value) const
    {
        auto it = m_mapProperties.find(name);
        if (it == m_mapProperties.end())
            return false;
        value = it->second;
        return true;
    }

    const map_type& GetMap() const { return m_mapProperties; }
    map_type& GetMap() { return m_mapProperties; }

private:
    map_type m_mapProperties;
};

} // namespace Preference
