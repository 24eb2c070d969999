#include "Internal.h"

struct __CFError : __CFRuntimeBase
{
    __CFError(CFStringRef domain, CFIndex code, CFDictionaryRef userInfo)
        : __CFRuntimeBase(cf::kErrorTypeID), m_domain(CFStringCreateCopy(nullptr, domain)),
          m_code(code), m_userInfo(userInfo ? CFDictionaryCreateCopy(nullptr, userInfo)
                                            : CFDictionaryCreate(nullptr, nullptr, nullptr, 0,
                                                                 &kCFTypeDictionaryKeyCallBacks,
                                                                 &kCFTypeDictionaryValueCallBacks))
    {
    }
    ~__CFError() override
    {
        CFRelease(m_domain);
        CFRelease(m_userInfo);
    }
    bool equal(const __CFRuntimeBase* other) const override
    {
        auto e = static_cast<const __CFError*>(other);
        return m_code == e->m_code && CFEqual(m_domain, e->m_domain) &&
               CFEqual(m_userInfo, e->m_userInfo);
    }
    CFHashCode hash() const override { return static_cast<CFHashCode>(m_code); }
    std::string describe() const override
    {
        CFStringRef description = CFErrorCopyDescription(const_cast<__CFError*>(this));
        std::string text = cf::utf8OrEmpty(description);
        if (description)
            CFRelease(description);
        return text;
    }

    const CFStringRef m_domain;
    const CFIndex m_code;
    const CFDictionaryRef m_userInfo;
};

namespace
{
const __CFError* error(CFErrorRef e, const char* caller)
{
    return cf::as<__CFError>(e, cf::kErrorTypeID, caller);
}
} // namespace

namespace cf
{
CFErrorRef createError(CFErrorDomain domain, CFIndex code, const std::string& description)
{
    CFStringRef text = createString(description);
    if (!text)
        text = createString(std::string("(unprintable error description)"));
    const void* keys[] = {kCFErrorDescriptionKey};
    const void* values[] = {text};
    CFDictionaryRef userInfo = CFDictionaryCreate(
        nullptr, keys, values, 1, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    CFErrorRef result = CFErrorCreate(nullptr, domain, code, userInfo);
    CFRelease(userInfo);
    CFRelease(text);
    return result;
}

void setError(CFErrorRef* error, CFErrorDomain domain, CFIndex code, const std::string& description)
{
    if (error)
        *error = createError(domain, code, description);
}
} // namespace cf

extern "C"
{

    const CFErrorDomain kCFErrorDomainPOSIX = CFSTR("NSPOSIXErrorDomain");
    const CFErrorDomain kCFErrorDomainOSStatus = CFSTR("NSOSStatusErrorDomain");
    const CFErrorDomain kCFErrorDomainMach = CFSTR("NSMachErrorDomain");
    const CFErrorDomain kCFErrorDomainCocoa = CFSTR("NSCocoaErrorDomain");
    const CFStringRef kCFErrorLocalizedDescriptionKey = CFSTR("NSLocalizedDescription");
    const CFStringRef kCFErrorLocalizedFailureReasonKey = CFSTR("NSLocalizedFailureReason");
    const CFStringRef kCFErrorDescriptionKey = CFSTR("NSDescription");
    const CFStringRef kCFErrorDebugDescriptionKey = CFSTR("NSDebugDescription");
    const CFStringRef kCFErrorUnderlyingErrorKey = CFSTR("NSUnderlyingError");
    const CFStringRef kCFErrorFilePathKey = CFSTR("NSFilePath");

    CFTypeID CFErrorGetTypeID(void)
    {
        return cf::kErrorTypeID;
    }

    CFErrorRef CFErrorCreate(CFAllocatorRef, CFErrorDomain domain, CFIndex code,
                             CFDictionaryRef userInfo)
    {
        if (!cf::isType(domain, cf::kStringTypeID))
            return nullptr;
        return new __CFError(domain, code, userInfo);
    }

    CFErrorDomain CFErrorGetDomain(CFErrorRef err)
    {
        const __CFError* e = error(err, "CFErrorGetDomain");
        return e ? e->m_domain : nullptr;
    }

    CFIndex CFErrorGetCode(CFErrorRef err)
    {
        const __CFError* e = error(err, "CFErrorGetCode");
        return e ? e->m_code : 0;
    }

    CFDictionaryRef CFErrorCopyUserInfo(CFErrorRef err)
    {
        const __CFError* e = error(err, "CFErrorCopyUserInfo");
        return e ? static_cast<CFDictionaryRef>(CFRetain(e->m_userInfo)) : nullptr;
    }

    CFStringRef CFErrorCopyDescription(CFErrorRef err)
    {
        const __CFError* e = error(err, "CFErrorCopyDescription");
        if (!e)
            return nullptr;
        for (CFStringRef key : {kCFErrorLocalizedDescriptionKey, kCFErrorDescriptionKey})
        {
            const void* value = CFDictionaryGetValue(e->m_userInfo, key);
            if (cf::isType(value, cf::kStringTypeID))
                return static_cast<CFStringRef>(CFRetain(value));
        }
        return cf::createString("The operation couldn't be completed. (" +
                                cf::utf8OrEmpty(e->m_domain) + " error " +
                                std::to_string(e->m_code) + ".)");
    }

    CFStringRef CFErrorCopyFailureReason(CFErrorRef err)
    {
        const __CFError* e = error(err, "CFErrorCopyFailureReason");
        if (!e)
            return nullptr;
        const void* value = CFDictionaryGetValue(e->m_userInfo, kCFErrorLocalizedFailureReasonKey);
        return cf::isType(value, cf::kStringTypeID) ? static_cast<CFStringRef>(CFRetain(value))
                                                    : nullptr;
    }

} // extern "C"
