#pragma once

#include <string>
#include <vector>

namespace Preference
{
namespace detail
{

class StreamStore_pimpl
{
public:
    std::vector<std::string> m_lRecords;
};

} // namespace detail
} // namespace Preference
