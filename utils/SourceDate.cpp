#include "utils/SourceDate.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace orbilib
{
namespace utils
{

std::optional<std::time_t> sourceDateEpoch()
{
    const char* const text = std::getenv("SOURCE_DATE_EPOCH");
    if (!text || !*text || std::strlen(text) > 19)
        return std::nullopt;
    for (const char* c = text; *c; ++c)
    {
        if (*c < '0' || *c > '9')
            return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (errno != 0 || *end ||
        value > static_cast<unsigned long long>(std::numeric_limits<std::time_t>::max()))
        return std::nullopt;
    return static_cast<std::time_t>(value);
}

std::time_t clampedToSourceDate(std::time_t t)
{
    const std::optional<std::time_t> epoch = sourceDateEpoch();
    return epoch && t > *epoch ? *epoch : t;
}

std::time_t recordedNow()
{
    const std::optional<std::time_t> epoch = sourceDateEpoch();
    return epoch ? *epoch : std::time(nullptr);
}

} // namespace utils
} // namespace orbilib
