#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <boost/shared_ptr.hpp>

#include <type_traits>

namespace Preference
{

// Shared ownership of one CoreFoundation string: the last owner releases it.
class CFStringPtr : public boost::shared_ptr<std::remove_pointer<CFStringRef>::type>
{
public:
    typedef boost::shared_ptr<std::remove_pointer<CFStringRef>::type> base_type;

    CFStringPtr() = default;
    // Takes over one reference, as the Create and Copy functions hand it out.
    explicit CFStringPtr(CFStringRef adopted) : base_type(adopted, &Release) {}

private:
    static void Release(CFStringRef string)
    {
        if (string)
            CFRelease(string);
    }
};

} // namespace Preference
