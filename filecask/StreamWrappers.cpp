#include <filecask/IStreamWrapper.h>
#include <filecask/OStreamWrapper.h>

namespace Preference
{

IStreamWrapper::~IStreamWrapper() = default;
OStreamWrapper::~OStreamWrapper() = default;

} // namespace Preference
