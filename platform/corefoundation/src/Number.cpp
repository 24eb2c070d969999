#include "Internal.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

namespace
{
CFNumberType storageType(CFNumberType t)
{
    switch (t)
    {
    case kCFNumberSInt8Type:
    case kCFNumberCharType:
        return kCFNumberSInt8Type;
    case kCFNumberSInt16Type:
    case kCFNumberShortType:
        return kCFNumberSInt16Type;
    case kCFNumberSInt32Type:
    case kCFNumberIntType:
        return kCFNumberSInt32Type;
    case kCFNumberSInt64Type:
    case kCFNumberLongLongType:
        return kCFNumberSInt64Type;
    case kCFNumberLongType:
    case kCFNumberCFIndexType:
    case kCFNumberNSIntegerType:
        return sizeof(long) == 8 ? kCFNumberSInt64Type : kCFNumberSInt32Type;
    case kCFNumberFloat32Type:
    case kCFNumberFloatType:
        return kCFNumberFloat32Type;
    case kCFNumberFloat64Type:
    case kCFNumberDoubleType:
    case kCFNumberCGFloatType:
        return kCFNumberFloat64Type;
    default:
        return 0;
    }
}

bool isFloatStorage(CFNumberType t)
{
    return t == kCFNumberFloat32Type || t == kCFNumberFloat64Type;
}

CFIndex byteSize(CFNumberType storage)
{
    switch (storage)
    {
    case kCFNumberSInt8Type:
        return 1;
    case kCFNumberSInt16Type:
        return 2;
    case kCFNumberSInt32Type:
    case kCFNumberFloat32Type:
        return 4;
    default:
        return 8;
    }
}

CFHashCode hashInteger(int64_t v)
{
    return cf::hashBytes(&v, sizeof v);
}

template <typename T> bool storeInteger(int64_t v, void* out)
{
    const int64_t lo = std::numeric_limits<T>::min(), hi = std::numeric_limits<T>::max();
    const T clamped = static_cast<T>(v < lo ? lo : (v > hi ? hi : v));
    std::memcpy(out, &clamped, sizeof clamped);
    return clamped == v;
}

template <typename T> bool storeIntegerFromDouble(double d, void* out)
{
    T result = 0;
    bool exact = false;
    if (!std::isnan(d))
    {
        const long double lo = std::numeric_limits<T>::min(), hi = std::numeric_limits<T>::max();
        if (d <= lo)
            result = std::numeric_limits<T>::min();
        else if (d >= hi)
            result = std::numeric_limits<T>::max();
        else
            result = static_cast<T>(std::trunc(d));
        exact = static_cast<long double>(result) == static_cast<long double>(d);
    }
    std::memcpy(out, &result, sizeof result);
    return exact;
}
} // namespace

struct __CFNumber : __CFRuntimeBase
{
    __CFNumber(CFNumberType storage, int64_t i, double d, bool above = false)
        : __CFRuntimeBase(cf::kNumberTypeID), m_storage(storage), m_int(i), m_double(d),
          m_aboveInt64(above)
    {
    }
    bool isFloat() const { return isFloatStorage(m_storage); }
    long double value() const
    {
        if (isFloat())
            return static_cast<long double>(m_double);
        return m_aboveInt64 ? static_cast<long double>(static_cast<uint64_t>(m_int))
                            : static_cast<long double>(m_int);
    }
    int compare(const __CFNumber* other) const
    {
        if (!isFloat() && !other->isFloat())
        {
            // Values above INT64_MAX exceed every signed one.
            if (m_aboveInt64 != other->m_aboveInt64)
                return m_aboveInt64 ? 1 : -1;
            if (m_aboveInt64)
            {
                const uint64_t a = static_cast<uint64_t>(m_int),
                               b = static_cast<uint64_t>(other->m_int);
                return a < b ? -1 : (a > b ? 1 : 0);
            }
            return m_int < other->m_int ? -1 : (m_int > other->m_int ? 1 : 0);
        }
        // NaN sorts before everything and equals itself, so numbers stay usable as keys.
        const bool nanA = isFloat() && std::isnan(m_double);
        const bool nanB = other->isFloat() && std::isnan(other->m_double);
        if (nanA || nanB)
            return nanA == nanB ? 0 : (nanA ? -1 : 1);
        const long double a = value(), b = other->value();
        return a < b ? -1 : (a > b ? 1 : 0);
    }
    bool equal(const __CFRuntimeBase* other) const override
    {
        return compare(static_cast<const __CFNumber*>(other)) == 0;
    }
    CFHashCode hash() const override
    {
        if (!isFloat())
            return hashInteger(m_int);
        // Integral doubles hash like the equal integer.
        if (std::isfinite(m_double) && std::trunc(m_double) == m_double &&
            std::fabs(m_double) < 9.2e18)
            return hashInteger(static_cast<int64_t>(m_double));
        double d = std::isnan(m_double) ? std::numeric_limits<double>::quiet_NaN() : m_double;
        return cf::hashBytes(&d, sizeof d);
    }
    std::string describe() const override
    {
        if (!isFloat())
            return m_aboveInt64 ? std::to_string(static_cast<uint64_t>(m_int))
                                : std::to_string(m_int);
        char buffer[40];
        std::snprintf(buffer, sizeof buffer, "%.17g", m_double);
        return buffer;
    }

    const CFNumberType m_storage;
    const int64_t m_int;
    const double m_double;
    // Integers from 2^63 to 2^64-1, read from files written elsewhere, keep
    // their bits in m_int so they can be written back exactly as they were.
    const bool m_aboveInt64;
};

struct __CFBoolean : __CFRuntimeBase
{
    explicit __CFBoolean(bool value) : __CFRuntimeBase(cf::kBooleanTypeID, true), m_value(value) {}
    bool equal(const __CFRuntimeBase* other) const override
    {
        return m_value == static_cast<const __CFBoolean*>(other)->m_value;
    }
    CFHashCode hash() const override { return m_value ? 1 : 0; }
    std::string describe() const override { return m_value ? "true" : "false"; }
    const bool m_value;
};

namespace
{

const __CFNumber* num(CFNumberRef n, const char* caller)
{
    return cf::as<__CFNumber>(n, cf::kNumberTypeID, caller);
}
} // namespace

namespace cf
{
bool numberIsFloat(CFNumberRef number)
{
    const __CFNumber* n = num(number, "CFNumber");
    return n && n->isFloat();
}
int64_t numberAsInt64(CFNumberRef number)
{
    int64_t v = 0;
    CFNumberGetValue(number, kCFNumberSInt64Type, &v);
    return v;
}
bool numberIsAboveInt64(CFNumberRef number)
{
    const __CFNumber* n = num(number, "CFNumber");
    return n && n->m_aboveInt64;
}
uint64_t numberAboveInt64Value(CFNumberRef number)
{
    const __CFNumber* n = num(number, "CFNumber");
    return n ? static_cast<uint64_t>(n->m_int) : 0;
}
CFNumberRef createNumberAboveInt64(uint64_t value)
{
    return new __CFNumber(kCFNumberSInt64Type, static_cast<int64_t>(value), 0,
                          value > static_cast<uint64_t>(INT64_MAX));
}
double numberAsDouble(CFNumberRef number)
{
    double v = 0;
    CFNumberGetValue(number, kCFNumberFloat64Type, &v);
    return v;
}
} // namespace cf

extern "C"
{

    // Never destroyed: other libraries may still use them from static destructors.
    const CFBooleanRef kCFBooleanTrue = new __CFBoolean(true);
    const CFBooleanRef kCFBooleanFalse = new __CFBoolean(false);

    CFTypeID CFBooleanGetTypeID(void)
    {
        return cf::kBooleanTypeID;
    }

    Boolean CFBooleanGetValue(CFBooleanRef boolean)
    {
        const __CFBoolean* b =
            cf::as<__CFBoolean>(boolean, cf::kBooleanTypeID, "CFBooleanGetValue");
        return b && b->m_value;
    }

    CFTypeID CFNumberGetTypeID(void)
    {
        return cf::kNumberTypeID;
    }

    CFNumberRef CFNumberCreate(CFAllocatorRef, CFNumberType theType, const void* valuePtr)
    {
        const CFNumberType storage = storageType(theType);
        if (!storage || !valuePtr)
        {
            cf::warn("CFNumberCreate: invalid number type or NULL value");
            return nullptr;
        }
        int64_t i = 0;
        double d = 0;
        switch (theType)
        {
        case kCFNumberSInt8Type:
        case kCFNumberCharType:
        {
            int8_t v;
            std::memcpy(&v, valuePtr, sizeof v);
            i = v;
            break;
        }
        case kCFNumberSInt16Type:
        case kCFNumberShortType:
        {
            int16_t v;
            std::memcpy(&v, valuePtr, sizeof v);
            i = v;
            break;
        }
        case kCFNumberSInt32Type:
        case kCFNumberIntType:
        {
            int32_t v;
            std::memcpy(&v, valuePtr, sizeof v);
            i = v;
            break;
        }
        case kCFNumberSInt64Type:
        case kCFNumberLongLongType:
        {
            int64_t v;
            std::memcpy(&v, valuePtr, sizeof v);
            i = v;
            break;
        }
        case kCFNumberLongType:
        case kCFNumberCFIndexType:
        case kCFNumberNSIntegerType:
        {
            long v;
            std::memcpy(&v, valuePtr, sizeof v);
            i = v;
            break;
        }
        case kCFNumberFloat32Type:
        case kCFNumberFloatType:
        {
            float v;
            std::memcpy(&v, valuePtr, sizeof v);
            d = v;
            break;
        }
        default:
        {
            double v;
            std::memcpy(&v, valuePtr, sizeof v);
            d = v;
            break;
        }
        }
        return new __CFNumber(storage, i, d);
    }

    CFNumberType CFNumberGetType(CFNumberRef number)
    {
        const __CFNumber* n = num(number, "CFNumberGetType");
        return n ? n->m_storage : 0;
    }

    CFIndex CFNumberGetByteSize(CFNumberRef number)
    {
        const __CFNumber* n = num(number, "CFNumberGetByteSize");
        return n ? byteSize(n->m_storage) : 0;
    }

    Boolean CFNumberIsFloatType(CFNumberRef number)
    {
        const __CFNumber* n = num(number, "CFNumberIsFloatType");
        return n && n->isFloat();
    }

    Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr)
    {
        const __CFNumber* n = num(number, "CFNumberGetValue");
        const CFNumberType target = storageType(theType);
        if (!n || !target || !valuePtr)
            return false;
        const bool longIs64 = sizeof(long) == 8;
        const bool targetIsLong = theType == kCFNumberLongType || theType == kCFNumberCFIndexType ||
                                  theType == kCFNumberNSIntegerType;
        if (!n->isFloat() && n->m_aboveInt64)
        {
            // No signed integer holds the value: clamp like any other overflow.
            const uint64_t u = static_cast<uint64_t>(n->m_int);
            if (target == kCFNumberFloat32Type)
            {
                const float f = static_cast<float>(u);
                std::memcpy(valuePtr, &f, sizeof f);
                return static_cast<long double>(f) == static_cast<long double>(u);
            }
            if (target == kCFNumberFloat64Type)
            {
                const double f = static_cast<double>(u);
                std::memcpy(valuePtr, &f, sizeof f);
                return static_cast<long double>(f) == static_cast<long double>(u);
            }
        }
        if (!n->isFloat())
        {
            const bool exact = !n->m_aboveInt64;
            const int64_t v = exact ? n->m_int : INT64_MAX;
            switch (target)
            {
            case kCFNumberSInt8Type:
                return storeInteger<int8_t>(v, valuePtr) && exact;
            case kCFNumberSInt16Type:
                return storeInteger<int16_t>(v, valuePtr) && exact;
            case kCFNumberSInt32Type:
                return (targetIsLong && !longIs64 ? storeInteger<long>(v, valuePtr)
                                                  : storeInteger<int32_t>(v, valuePtr)) &&
                       exact;
            case kCFNumberSInt64Type:
                return (targetIsLong ? storeInteger<long>(v, valuePtr)
                                     : storeInteger<int64_t>(v, valuePtr)) &&
                       exact;
            case kCFNumberFloat32Type:
            {
                const float f = static_cast<float>(v);
                std::memcpy(valuePtr, &f, sizeof f);
                return static_cast<long double>(f) == static_cast<long double>(v);
            }
            default:
            {
                const double f = static_cast<double>(v);
                std::memcpy(valuePtr, &f, sizeof f);
                return static_cast<long double>(f) == static_cast<long double>(v);
            }
            }
        }
        const double d = n->m_double;
        switch (target)
        {
        case kCFNumberSInt8Type:
            return storeIntegerFromDouble<int8_t>(d, valuePtr);
        case kCFNumberSInt16Type:
            return storeIntegerFromDouble<int16_t>(d, valuePtr);
        case kCFNumberSInt32Type:
            return targetIsLong && !longIs64 ? storeIntegerFromDouble<long>(d, valuePtr)
                                             : storeIntegerFromDouble<int32_t>(d, valuePtr);
        case kCFNumberSInt64Type:
            return targetIsLong ? storeIntegerFromDouble<long>(d, valuePtr)
                                : storeIntegerFromDouble<int64_t>(d, valuePtr);
        case kCFNumberFloat32Type:
        {
            float f;
            if (std::isnan(d))
                f = std::numeric_limits<float>::quiet_NaN();
            else if (std::isfinite(d) && std::fabs(d) > FLT_MAX)
                f = d > 0 ? FLT_MAX : -FLT_MAX;
            else
                f = static_cast<float>(d);
            std::memcpy(valuePtr, &f, sizeof f);
            return std::isnan(d) || static_cast<double>(f) == d;
        }
        default:
            std::memcpy(valuePtr, &d, sizeof d);
            return true;
        }
    }

    CFComparisonResult CFNumberCompare(CFNumberRef number, CFNumberRef otherNumber, void*)
    {
        const __CFNumber* a = num(number, "CFNumberCompare");
        const __CFNumber* b = num(otherNumber, "CFNumberCompare");
        if (!a || !b)
            return kCFCompareEqualTo;
        return static_cast<CFComparisonResult>(a->compare(b));
    }

} // extern "C"
