// Shared by the implementation files only: the object header every CF object
// starts with and helpers the types use from one another.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

struct __CFRuntimeBase
{
    explicit __CFRuntimeBase(CFTypeID typeID, bool immortal = false)
        : m_typeID(typeID), m_immortal(immortal)
    {
    }
    __CFRuntimeBase(const __CFRuntimeBase&) = delete;
    __CFRuntimeBase& operator=(const __CFRuntimeBase&) = delete;
    virtual ~__CFRuntimeBase();

    // Called only with an object of the same type id.
    virtual bool equal(const __CFRuntimeBase* other) const { return this == other; }
    virtual CFHashCode hash() const { return reinterpret_cast<uintptr_t>(this) >> 4; }
    virtual std::string describe() const;

    static constexpr uint32_t kMagic = 0xCF0B1EC7u;
    const uint32_t m_magic = kMagic;
    const CFTypeID m_typeID;
    const bool m_immortal;
    std::atomic<long> m_retainCount{1};
};

namespace cf
{

enum TypeId : CFTypeID
{
    kNullTypeID = 1,
    kStringTypeID,
    kNumberTypeID,
    kBooleanTypeID,
    kDataTypeID,
    kArrayTypeID,
    kDictionaryTypeID,
    kDateTypeID,
    kURLTypeID,
    kErrorTypeID,
    kKeyedArchiverUIDTypeID
};

// The object behind cf when it is a live CF object, else nullptr (and a warning
// naming the caller when cf is not NULL).
const __CFRuntimeBase* object(CFTypeRef cf, const char* caller);
void warnWrongType(const char* caller, CFTypeID got, CFTypeID expected);
bool isType(CFTypeRef cf, CFTypeID typeID);
template <typename T> const T* as(CFTypeRef cf, CFTypeID typeID, const char* caller)
{
    const __CFRuntimeBase* base = object(cf, caller);
    if (!base)
        return nullptr;
    if (base->m_typeID != typeID)
    {
        warnWrongType(caller, base->m_typeID, typeID);
        return nullptr;
    }
    return static_cast<const T*>(base);
}
void warn(const std::string& message);

std::string describe(CFTypeRef cf);
// Through a collection's copyDescription callback, or the pointer without one.
std::string describeWith(CFStringRef (*copyDescription)(const void*), const void* value);
std::string typeName(CFTypeID typeID);
CFHashCode hashBytes(const void* data, size_t size);

// Strings.
CFStringRef createString(const std::string& utf8); // NULL when not UTF-8
CFStringRef createString(std::u16string utf16);
const std::u16string& utf16Of(CFStringRef s);
bool utf8Of(CFStringRef s, std::string& out); // false when not representable
std::string utf8OrEmpty(CFStringRef s);
bool decodeUtf8(const std::string& in, std::u16string& out);
bool encodeUtf8(const std::u16string& in, std::string& out);

// Errors.
CFErrorRef createError(CFErrorDomain domain, CFIndex code, const std::string& description);
void setError(CFErrorRef* error, CFErrorDomain domain, CFIndex code,
              const std::string& description);

// Numbers.
bool numberIsFloat(CFNumberRef number);
int64_t numberAsInt64(CFNumberRef number);
double numberAsDouble(CFNumberRef number);
// Integers from 2^63 to 2^64-1 (as property lists written elsewhere may hold):
// kept exactly, read as INT64_MAX (inexact) through CFNumberGetValue.
bool numberIsAboveInt64(CFNumberRef number);
CFNumberRef createNumberAboveInt64(uint64_t value);
uint64_t numberAboveInt64Value(CFNumberRef number);

// Files.
bool readWholeFile(const std::string& path, std::vector<uint8_t>& data, int& err);
// Replaces path by data through a temporary file in the same directory that is
// flushed to disk and renamed over it. mode applies to a new file; an existing
// file keeps its own permission bits.
bool writeFileAtomically(const std::string& path, const void* data, size_t size, mode_t mode,
                         int& err);
bool fileUrlPath(CFURLRef url, std::string& path); // resolved, decoded

// Deeper nesting than any real property list; bounds the readers' recursion.
constexpr int kMaxPropertyListDepth = 512;

// A container filled while reading, handed out as the caller's mutability
// option asks: itself when mutable, else an immutable copy (it is released).
CFTypeRef finishContainer(CFTypeRef container, CFOptionFlags mutability);

// Binary property lists ("bplist00"). The writer takes a valid property list.
CFPropertyListRef parseBinaryPropertyList(const UInt8* bytes, size_t size, CFOptionFlags mutability,
                                          std::string& problem);
CFDataRef writeBinaryPropertyList(CFPropertyListRef plist);

// Whether an XML property list file can hold the value as it is (the checks
// of serialisation, without serialising); problem says why not.
bool storableInXml(CFTypeRef value, std::string& problem);

} // namespace cf
