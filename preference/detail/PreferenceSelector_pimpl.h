#pragma once

#include "FactoryContainer.h"
#include "ThreadLocalStorage.h"

#include <boost/thread/mutex.hpp>
#include <boost/thread/tss.hpp>

#include <atomic>
#include <cstdint>
#include <map>

namespace Preference
{
namespace detail
{

class PreferenceSelector_pimpl
{
public:
    PreferenceSelector_pimpl();
    ~PreferenceSelector_pimpl();

    PreferenceSelector_pimpl(const PreferenceSelector_pimpl&) = delete;
    PreferenceSelector_pimpl& operator=(const PreferenceSelector_pimpl&) = delete;

    boost::shared_ptr<PreferenceBase> Get(int id);
    PreferenceFactory GetFactory(int id);
    void SetFactory(int id, PreferenceFactory factory);
    void ReloadAll();

private:
    // Brings the calling thread's stores up to date with the factory table.
    ThreadLocalStorage& UpdateLocalMap();

    std::map<int, FactoryContainer> m_mapFactories;
    // Read without the mutex on every Get, hence atomic.
    std::atomic<std::uint32_t> m_nReplacementGeneration;
    std::atomic<std::uint32_t> m_nReloadGeneration;
    boost::thread_specific_ptr<ThreadLocalStorage> m_pLocalStorage;
    boost::mutex m_mutex;
    const std::uint64_t m_nSerial;
};

} // namespace detail
} // namespace Preference
