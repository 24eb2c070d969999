#pragma once

#include <CoreFoundation/CFArray.h>
#include <CoreFoundation/CFData.h>
#include <CoreFoundation/CFDictionary.h>
#include <CoreFoundation/CFURL.h>

CF_EXTERN_C_BEGIN

typedef CFIndex CFURLError;
enum
{
    kCFURLUnknownError = -10L,
    kCFURLUnknownSchemeError = -11L,
    kCFURLResourceNotFoundError = -12L,
    kCFURLResourceAccessViolationError = -13L,
    kCFURLRemoteHostUnavailableError = -14L,
    kCFURLImproperArgumentsError = -15L,
    kCFURLUnknownPropertyKeyError = -16L,
    kCFURLPropertyKeyUnavailableError = -17L,
    kCFURLTimeoutError = -18L
};

CF_EXPORT const CFStringRef kCFURLFileExists;
CF_EXPORT const CFStringRef kCFURLFileDirectoryContents;
CF_EXPORT const CFStringRef kCFURLFileLength;
CF_EXPORT const CFStringRef kCFURLFileLastModificationTime;
CF_EXPORT const CFStringRef kCFURLFilePOSIXMode;
CF_EXPORT const CFStringRef kCFURLFileOwnerID;
CF_EXPORT const CFStringRef kCFURLHTTPStatusCode;
CF_EXPORT const CFStringRef kCFURLHTTPStatusLine;

// Only file URLs are supported. Reading returns the whole file; writing
// replaces the file atomically (a temporary file beside it, flushed to disk,
// then renamed over it), so readers never see a partly written file. A URL
// with a directory path and no data creates the directory.
CF_EXPORT Boolean CFURLCreateDataAndPropertiesFromResource(CFAllocatorRef alloc, CFURLRef url,
                                                           CFDataRef* resourceData,
                                                           CFDictionaryRef* properties,
                                                           CFArrayRef desiredProperties,
                                                           SInt32* errorCode);
CF_EXPORT Boolean CFURLWriteDataAndPropertiesToResource(CFURLRef url, CFDataRef dataToWrite,
                                                        CFDictionaryRef propertiesToWrite,
                                                        SInt32* errorCode);
CF_EXPORT Boolean CFURLDestroyResource(CFURLRef url, SInt32* errorCode);

CF_EXTERN_C_END
