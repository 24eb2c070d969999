#pragma once

#include <preference/PreferenceFactory.h>

#include <cstdint>

namespace Preference
{
namespace detail
{

// One entry of the selector's factory table.
struct FactoryContainer
{
    std::int32_t m_nReplacementCount = 0;
    std::int32_t m_nReloadCount = 0;
    PreferenceFactory m_pFactory;
};

} // namespace detail
} // namespace Preference
