#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <boost/shared_ptr.hpp>

namespace Preference
{
namespace detail
{

inline void ReleaseCFType(CFTypeRef object)
{
    if (object)
        CFRelease(object);
}

// Shared ownership of one CoreFoundation object, released by its last owner.
typedef boost::shared_ptr<const void> CFTypePtr;
typedef boost::shared_ptr<std::remove_pointer<CFMutableDictionaryRef>::type> CFMutableDictionaryPtr;

// Take over one reference, as the Create and Copy functions hand it out.
inline CFTypePtr AdoptCFType(CFTypeRef object)
{
    return CFTypePtr(object, &ReleaseCFType);
}

inline CFMutableDictionaryPtr AdoptCFDictionary(CFMutableDictionaryRef dictionary)
{
    return CFMutableDictionaryPtr(dictionary, &ReleaseCFType);
}

} // namespace detail
} // namespace Preference
