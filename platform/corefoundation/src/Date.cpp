#include "Internal.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <sys/time.h>

struct __CFDate : __CFRuntimeBase
{
    explicit __CFDate(CFAbsoluteTime at) : __CFRuntimeBase(cf::kDateTypeID), m_time(at) {}
    bool equal(const __CFRuntimeBase* other) const override
    {
        return m_time == static_cast<const __CFDate*>(other)->m_time;
    }
    CFHashCode hash() const override { return static_cast<CFHashCode>(std::llround(m_time)); }
    std::string describe() const override
    {
        const time_t seconds = static_cast<time_t>(std::floor(m_time + 978307200.0));
        struct tm utc;
        char buffer[64] = "";
        if (gmtime_r(&seconds, &utc))
            std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S +0000", &utc);
        return buffer;
    }
    const CFAbsoluteTime m_time;
};

extern "C"
{

    const CFTimeInterval kCFAbsoluteTimeIntervalSince1970 = 978307200.0;
    const CFTimeInterval kCFAbsoluteTimeIntervalSince1904 = 3061152000.0;

    CFAbsoluteTime CFAbsoluteTimeGetCurrent(void)
    {
        struct timeval now;
        gettimeofday(&now, nullptr);
        return static_cast<double>(now.tv_sec) - kCFAbsoluteTimeIntervalSince1970 +
               static_cast<double>(now.tv_usec) * 1e-6;
    }

    CFTypeID CFDateGetTypeID(void)
    {
        return cf::kDateTypeID;
    }

    CFDateRef CFDateCreate(CFAllocatorRef, CFAbsoluteTime at)
    {
        return new __CFDate(at);
    }

    CFAbsoluteTime CFDateGetAbsoluteTime(CFDateRef theDate)
    {
        const __CFDate* d = cf::as<__CFDate>(theDate, cf::kDateTypeID, "CFDateGetAbsoluteTime");
        return d ? d->m_time : 0;
    }

    CFComparisonResult CFDateCompare(CFDateRef theDate, CFDateRef otherDate, void*)
    {
        const CFAbsoluteTime a = CFDateGetAbsoluteTime(theDate),
                             b = CFDateGetAbsoluteTime(otherDate);
        return a < b ? kCFCompareLessThan : (a > b ? kCFCompareGreaterThan : kCFCompareEqualTo);
    }

} // extern "C"
