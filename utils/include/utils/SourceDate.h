#pragma once

#include <ctime>
#include <optional>

namespace orbilib
{
namespace utils
{

// The time reproducible builds name in SOURCE_DATE_EPOCH (whole seconds since 1970):
// outputs made while it is set record it instead of the clock, so the same inputs
// give the same bytes. Nothing when it is not set or is no such number.
std::optional<std::time_t> sourceDateEpoch();

// The time to record for t: t itself, or the source date when t is later (files
// written while publishing), as reproducible builds clamp. t unchanged without one.
std::time_t clampedToSourceDate(std::time_t t);

// The time to record for "now".
std::time_t recordedNow();

} // namespace utils
} // namespace orbilib
