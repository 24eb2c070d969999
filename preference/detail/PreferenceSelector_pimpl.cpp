#include "PreferenceSelector_pimpl.h"

#include <preference/PreferenceBase.h>

namespace Preference
{
namespace detail
{
namespace
{

std::uint64_t NextSerial()
{
    static std::atomic<std::uint64_t> serial(0);
    return ++serial;
}

} // namespace

PreferenceSelector_pimpl::PreferenceSelector_pimpl()
    : m_nReplacementGeneration(0), m_nReloadGeneration(0), m_nSerial(NextSerial())
{
}

PreferenceSelector_pimpl::~PreferenceSelector_pimpl() = default;

void PreferenceSelector_pimpl::SetFactory(int id, PreferenceFactory factory)
{
    boost::mutex::scoped_lock lock(m_mutex);
    auto it = m_mapFactories.find(id);
    if (it == m_mapFactories.end())
    {
        FactoryContainer entry;
        entry.m_pFactory = std::move(factory);
        m_mapFactories.emplace(id, std::move(entry));
    }
    else
    {
        it->second.m_pFactory = std::move(factory);
        ++it->second.m_nReplacementCount;
    }
    m_nReplacementGeneration.fetch_add(1, std::memory_order_release);
}

void PreferenceSelector_pimpl::ReloadAll()
{
    boost::mutex::scoped_lock lock(m_mutex);
    m_nReloadGeneration.fetch_add(1, std::memory_order_release);
    for (auto& entry : m_mapFactories)
        ++entry.second.m_nReloadCount;
}

PreferenceFactory PreferenceSelector_pimpl::GetFactory(int id)
{
    boost::mutex::scoped_lock lock(m_mutex);
    auto it = m_mapFactories.find(id);
    if (it == m_mapFactories.end() && id != 0)
        it = m_mapFactories.find(0);
    return it == m_mapFactories.end() ? PreferenceFactory() : it->second.m_pFactory;
}

ThreadLocalStorage& PreferenceSelector_pimpl::UpdateLocalMap()
{
    ThreadLocalStorage* local = m_pLocalStorage.get();
    if (!local || local->m_nSelectorSerial != m_nSerial)
    {
        local = new ThreadLocalStorage;
        local->m_nSelectorSerial = m_nSerial;
        m_pLocalStorage.reset(local);
    }
    if (local->m_nReloadGeneration == m_nReloadGeneration.load(std::memory_order_acquire) &&
        local->m_nReplacementGeneration == m_nReplacementGeneration.load(std::memory_order_acquire))
        return *local;

    std::map<int, FactoryContainer> table;
    std::uint32_t replacementGeneration;
    std::uint32_t reloadGeneration;
    {
        boost::mutex::scoped_lock lock(m_mutex);
        replacementGeneration = m_nReplacementGeneration.load(std::memory_order_relaxed);
        reloadGeneration = m_nReloadGeneration.load(std::memory_order_relaxed);
        table = m_mapFactories;
    }

    // Factories and reloads run without the mutex. Each entry is recorded as seen
    // once handled, and the generations only at the end, so that a factory that
    // throws is tried again at the next Get instead of being forgotten.
    for (const auto& entry : table)
    {
        const int scope = entry.first;
        const FactoryContainer& current = entry.second;
        const auto previous = local->m_mapFactories.find(scope);
        const bool known = previous != local->m_mapFactories.end();
        if ((!known || previous->second.m_nReplacementCount != current.m_nReplacementCount) &&
            current.m_pFactory)
            local->m_mapStores[scope] = current.m_pFactory();
        if (known && previous->second.m_nReloadCount != current.m_nReloadCount)
        {
            const auto store = local->m_mapStores.find(scope);
            if (store != local->m_mapStores.end() && store->second)
                store->second->Reload();
        }
        local->m_mapFactories[scope] = current;
    }
    local->m_nReplacementGeneration = replacementGeneration;
    local->m_nReloadGeneration = reloadGeneration;
    return *local;
}

boost::shared_ptr<PreferenceBase> PreferenceSelector_pimpl::Get(int id)
{
    ThreadLocalStorage& local = UpdateLocalMap();
    auto it = local.m_mapStores.find(id);
    if (it == local.m_mapStores.end() && id != 0)
        it = local.m_mapStores.find(0);
    return it == local.m_mapStores.end() ? boost::shared_ptr<PreferenceBase>() : it->second;
}

} // namespace detail
} // namespace Preference
