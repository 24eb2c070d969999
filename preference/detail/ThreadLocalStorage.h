#pragma once

#include "FactoryContainer.h"

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <map>

namespace Preference
{

class PreferenceBase;

namespace detail
{

// What one thread holds of one selector.
struct ThreadLocalStorage
{
    // The factory table as it stood at the thread's last refresh.
    std::map<int, FactoryContainer> m_mapFactories;
    std::map<int, boost::shared_ptr<PreferenceBase>> m_mapStores;
    std::uint32_t m_nReplacementGeneration = 0;
    std::uint32_t m_nReloadGeneration = 0;
    // The selector this storage belongs to: a new selector may reuse the address
    // of a destroyed one, and with it the thread-specific slot.
    std::uint64_t m_nSelectorSerial = 0;
};

} // namespace detail
} // namespace Preference
