#pragma once

#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>

namespace Preference
{

class PreferenceBase;

// Builds a new store instance on every call; may be empty.
typedef boost::function<boost::shared_ptr<PreferenceBase>()> PreferenceFactory;

} // namespace Preference
