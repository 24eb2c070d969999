// Base types of the CoreFoundation subset Tessary uses off Apple systems.
// Names, types and signatures follow Apple's CoreFoundation, so product code
// compiles unchanged against either.
#pragma once

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include <CoreFoundation/CoreFoundation_export.h>

#ifdef __cplusplus
#define CF_EXTERN_C_BEGIN                                                                          \
    extern "C"                                                                                     \
    {
#define CF_EXTERN_C_END }
#else
#define CF_EXTERN_C_BEGIN
#define CF_EXTERN_C_END
#endif

#define CF_EXPORT extern COREFOUNDATION_EXPORT
#define CF_INLINE static inline
#define CF_RETURNS_RETAINED
#define CF_RETURNS_NOT_RETAINED
#define CF_RELEASES_ARGUMENT
#define CF_CONSUMED

CF_EXTERN_C_BEGIN

typedef uint8_t UInt8;
typedef int8_t SInt8;
typedef uint16_t UInt16;
typedef int16_t SInt16;
typedef uint32_t UInt32;
typedef int32_t SInt32;
typedef uint64_t UInt64;
typedef int64_t SInt64;
typedef float Float32;
typedef double Float64;
typedef unsigned char Boolean;
typedef UInt16 UniChar;
typedef UInt16 UTF16Char;
typedef UInt32 UTF32Char;
typedef UInt8 UTF8Char;
typedef SInt32 OSStatus;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

typedef unsigned long CFTypeID;
typedef unsigned long CFOptionFlags;
typedef unsigned long CFHashCode;
typedef signed long CFIndex;

typedef const void* CFTypeRef;
typedef const struct __CFString* CFStringRef;
typedef struct __CFString* CFMutableStringRef;
typedef const struct __CFAllocator* CFAllocatorRef;
typedef CFTypeRef CFPropertyListRef;
typedef const struct __CFNull* CFNullRef;

typedef struct
{
    CFIndex location;
    CFIndex length;
} CFRange;

CF_INLINE CFRange CFRangeMake(CFIndex loc, CFIndex len)
{
    CFRange range;
    range.location = loc;
    range.length = len;
    return range;
}

typedef CFIndex CFComparisonResult;
enum
{
    kCFCompareLessThan = -1L,
    kCFCompareEqualTo = 0,
    kCFCompareGreaterThan = 1
};

typedef CFComparisonResult (*CFComparatorFunction)(const void* val1, const void* val2,
                                                   void* context);

enum
{
    kCFNotFound = -1
};

// Allocators are accepted for compatibility; every object uses the C++ heap.
CF_EXPORT const CFAllocatorRef kCFAllocatorDefault;
CF_EXPORT const CFAllocatorRef kCFAllocatorSystemDefault;
CF_EXPORT const CFAllocatorRef kCFAllocatorMalloc;
CF_EXPORT const CFAllocatorRef kCFAllocatorNull;

// Reference counting follows the Create/Copy rule: objects returned by a
// function whose name holds "Create" or "Copy" belong to the caller, who
// releases them with CFRelease. Counts are atomic.
CF_EXPORT CFTypeRef CFRetain(CFTypeRef cf);
CF_EXPORT void CFRelease(CFTypeRef cf);
CF_EXPORT CFTypeRef CFAutorelease(CFTypeRef cf);
CF_EXPORT CFIndex CFGetRetainCount(CFTypeRef cf);
CF_EXPORT CFTypeID CFGetTypeID(CFTypeRef cf);
CF_EXPORT CFAllocatorRef CFGetAllocator(CFTypeRef cf);
CF_EXPORT Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2);
CF_EXPORT CFHashCode CFHash(CFTypeRef cf);
CF_EXPORT CFStringRef CFCopyDescription(CFTypeRef cf);
CF_EXPORT CFStringRef CFCopyTypeIDDescription(CFTypeID type_id);
// Writes the description of cf to standard error.
CF_EXPORT void CFShow(CFTypeRef obj);

CF_EXPORT const CFNullRef kCFNull;
CF_EXPORT CFTypeID CFNullGetTypeID(void);

CF_EXTERN_C_END
