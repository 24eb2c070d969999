// Feeds arbitrary bytes to the property-list readers the way callers use them
// on files from disk (XML and binary "bplist00" alike). Whatever parses must be
// a valid property list that can be written again, and what was written must
// read back. Any crash, sanitizer report, leak or hang is a finding; a refusal
// with an error is the expected outcome for most inputs.

#include <CoreFoundation/CoreFoundation.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace
{
[[noreturn]] void finding(const char* what)
{
    std::fprintf(stderr, "PropertyListFuzz: %s\n", what);
    std::abort();
}

// The written form of plist must read back into a valid property list.
void checkWritten(CFDataRef written, CFPropertyListFormat expected)
{
    CFPropertyListFormat format = 0;
    CFErrorRef error = nullptr;
    CFPropertyListRef again =
        CFPropertyListCreateWithData(nullptr, written, kCFPropertyListImmutable, &format, &error);
    if (!again)
        finding("a written property list does not read back");
    if (error)
        finding("a read that succeeded also reported an error");
    if (format != expected)
        finding("a written property list reads back in another format");
    if (!CFPropertyListIsValid(again, format))
        finding("a property list read back is not valid");
    CFRelease(again);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CFDataRef bytes = CFDataCreate(nullptr, data, static_cast<CFIndex>(size));

    // The older entry point, with mutable containers and leaves.
    CFStringRef errorString = nullptr;
    CFPropertyListRef legacy = CFPropertyListCreateFromXMLData(
        nullptr, bytes, kCFPropertyListMutableContainersAndLeaves, &errorString);
    if (legacy)
    {
        if (errorString)
            finding("a read that succeeded also reported an error");
        CFRelease(legacy);
    }
    else
    {
        if (!errorString)
            finding("a failed read must say why");
        CFRelease(errorString);
    }

    CFPropertyListFormat format = 0;
    CFErrorRef error = nullptr;
    CFPropertyListRef plist =
        CFPropertyListCreateWithData(nullptr, bytes, kCFPropertyListImmutable, &format, &error);
    CFRelease(bytes);
    if ((plist == nullptr) != (legacy == nullptr))
        finding("the two entry points disagree about the same bytes");
    if (!plist)
    {
        if (!error)
            finding("a failed read must say why");
        CFRelease(error);
        return 0;
    }
    if (error)
        finding("a read that succeeded also reported an error");
    if (format != kCFPropertyListXMLFormat_v1_0 && format != kCFPropertyListBinaryFormat_v1_0)
        finding("a read reported no format");
    if (!CFPropertyListIsValid(plist, format))
        finding("a property list that was read is not valid");

    // Strings may hold characters XML cannot carry; then writing refuses, which is fine.
    if (CFDataRef xml = CFPropertyListCreateXMLData(nullptr, plist))
    {
        checkWritten(xml, kCFPropertyListXMLFormat_v1_0);
        CFRelease(xml);
    }
    CFErrorRef writeError = nullptr;
    if (CFDataRef binary = CFPropertyListCreateData(
            nullptr, plist, kCFPropertyListBinaryFormat_v1_0, 0, &writeError))
    {
        checkWritten(binary, kCFPropertyListBinaryFormat_v1_0);
        CFRelease(binary);
    }
    if (writeError)
        CFRelease(writeError);
    CFRelease(plist);
    return 0;
}
