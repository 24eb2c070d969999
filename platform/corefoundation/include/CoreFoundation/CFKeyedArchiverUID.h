#pragma once

#include <CoreFoundation/CFBase.h>

CF_EXTERN_C_BEGIN

// The object references of keyed archives: a binary property list's UID, and in
// XML the one-entry dictionary {"CF$UID": n}. Apple declares these privately.
typedef const struct __CFKeyedArchiverUID* CFKeyedArchiverUIDRef;
CF_EXPORT CFTypeID _CFKeyedArchiverUIDGetTypeID(void);
CF_EXPORT CFKeyedArchiverUIDRef _CFKeyedArchiverUIDCreate(CFAllocatorRef allocator, uint32_t value);
CF_EXPORT uint32_t _CFKeyedArchiverUIDGetValue(CFKeyedArchiverUIDRef uid);

CF_EXTERN_C_END
