#include <CoreFoundation/CoreFoundation.h>

#include <cstring>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace
{
CFStringRef str(const char* text)
{
    return CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8);
}

// Counts the callbacks a collection makes, to check it honours them.
struct Counters
{
    static int retains;
    static int releases;
    static const void* retain(CFAllocatorRef, const void* value)
    {
        ++retains;
        return value;
    }
    static void release(CFAllocatorRef, const void*) { ++releases; }
    // Keys are small integers smuggled in pointers; equal when equal mod 100.
    static Boolean equal(const void* a, const void* b)
    {
        return reinterpret_cast<uintptr_t>(a) % 100 == reinterpret_cast<uintptr_t>(b) % 100;
    }
    static CFHashCode hash(const void* a) { return reinterpret_cast<uintptr_t>(a) % 100; }
};
int Counters::retains = 0;
int Counters::releases = 0;

const void* key(uintptr_t n)
{
    return reinterpret_cast<const void*>(n);
}
} // namespace

TEST(CFObjects, CreateCopyRuleAndAtomicCounts)
{
    CFStringRef s = str("value");
    EXPECT_EQ(CFGetRetainCount(s), 1);
    CFMutableArrayRef array = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
    CFArrayAppendValue(array, s);
    EXPECT_EQ(CFGetRetainCount(s), 2);
    CFRelease(array);
    EXPECT_EQ(CFGetRetainCount(s), 1);

    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back(
            [s]
            {
                for (int i = 0; i < 100000; ++i)
                {
                    CFRetain(s);
                    CFRelease(s);
                }
            });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(CFGetRetainCount(s), 1);

    // Constant strings and booleans are never freed.
    CFStringRef constant = CFSTR("constant");
    EXPECT_EQ(constant, CFSTR("constant"));
    CFRelease(constant);
    CFRelease(constant);
    EXPECT_STREQ(CFStringGetCStringPtr(constant, kCFStringEncodingUTF8), "constant");
    CFRelease(kCFBooleanTrue);
    EXPECT_TRUE(CFBooleanGetValue(kCFBooleanTrue));
    CFRelease(s);
}

TEST(CFObjects, DictionaryHonoursCallbacks)
{
    CFDictionaryKeyCallBacks keys = {0,       Counters::retain, Counters::release,
                                     nullptr, Counters::equal,  Counters::hash};
    CFDictionaryValueCallBacks values = {0, Counters::retain, Counters::release, nullptr, nullptr};
    Counters::retains = Counters::releases = 0;
    CFMutableDictionaryRef d = CFDictionaryCreateMutable(nullptr, 0, &keys, &values);
    CFDictionarySetValue(d, key(1), key(10));
    CFDictionarySetValue(d, key(101), key(20)); // same key by the equal callback
    EXPECT_EQ(CFDictionaryGetCount(d), 1);
    EXPECT_EQ(CFDictionaryGetValue(d, key(201)), key(20));
    // Replacing keeps the first key and releases only the old value.
    EXPECT_EQ(Counters::retains, 3);
    EXPECT_EQ(Counters::releases, 1);
    const void* storedKey = nullptr;
    CFDictionaryGetKeysAndValues(d, &storedKey, nullptr);
    EXPECT_EQ(storedKey, key(1));
    CFDictionaryRemoveValue(d, key(1));
    EXPECT_EQ(Counters::releases, 3);
    EXPECT_FALSE(CFDictionaryContainsKey(d, key(1)));
    CFRelease(d);

    // NULL callbacks: pointer identity, nothing retained.
    CFMutableDictionaryRef raw = CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr);
    CFStringRef a1 = str("a"), a2 = str("a");
    CFDictionarySetValue(raw, a1, a1);
    EXPECT_EQ(CFGetRetainCount(a1), 1);
    EXPECT_FALSE(CFDictionaryContainsKey(raw, a2));
    EXPECT_TRUE(CFDictionaryContainsKey(raw, a1));
    CFRelease(raw);
    CFRelease(a1);
    CFRelease(a2);
}

TEST(CFObjects, TypeDictionaryRetainsCopiesAndKeepsInsertionOrder)
{
    CFMutableDictionaryRef d = CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                         &kCFTypeDictionaryValueCallBacks);
    std::vector<CFStringRef> names;
    for (int i = 0; i < 50; ++i)
    {
        names.push_back(str(("k" + std::to_string(i)).c_str()));
        CFDictionarySetValue(d, names.back(), kCFBooleanTrue);
    }
    CFDictionaryRemoveValue(d, names[10]);
    CFStringRef lookup = str("k20");
    EXPECT_TRUE(CFDictionaryContainsKey(d, lookup));
    const void* value = nullptr;
    EXPECT_TRUE(CFDictionaryGetValueIfPresent(d, lookup, &value));
    EXPECT_EQ(value, kCFBooleanTrue);
    std::vector<const void*> keys(49);
    CFDictionaryGetKeysAndValues(d, keys.data(), nullptr);
    EXPECT_EQ(keys[10], names[11]);

    CFMutableDictionaryRef copy = CFDictionaryCreateMutableCopy(nullptr, 0, d);
    EXPECT_TRUE(CFEqual(copy, d));
    EXPECT_EQ(CFHash(copy), CFHash(d));
    CFDictionarySetValue(copy, lookup, kCFBooleanFalse);
    EXPECT_FALSE(CFEqual(copy, d));
    EXPECT_EQ(CFDictionaryGetValue(d, lookup), kCFBooleanTrue);
    EXPECT_EQ(CFGetRetainCount(names[0]), 3);
    CFRelease(copy);
    CFRelease(d);
    EXPECT_EQ(CFGetRetainCount(names[0]), 1);
    for (CFStringRef name : names)
        CFRelease(name);
    CFRelease(lookup);

    // Immutable dictionaries refuse changes.
    const void* k[] = {CFSTR("a")};
    const void* v[] = {CFSTR("b")};
    CFDictionaryRef fixed = CFDictionaryCreate(nullptr, k, v, 1, &kCFTypeDictionaryKeyCallBacks,
                                               &kCFTypeDictionaryValueCallBacks);
    CFDictionarySetValue(const_cast<CFMutableDictionaryRef>(fixed), CFSTR("c"), CFSTR("d"));
    EXPECT_EQ(CFDictionaryGetCount(fixed), 1);
    CFRelease(fixed);
}

TEST(CFObjects, EqualityAndHashAcrossTypes)
{
    int32_t one = 1;
    double oneDouble = 1.0, half = 0.5;
    CFNumberRef n1 = CFNumberCreate(nullptr, kCFNumberSInt32Type, &one);
    CFNumberRef d1 = CFNumberCreate(nullptr, kCFNumberDoubleType, &oneDouble);
    CFNumberRef dHalf = CFNumberCreate(nullptr, kCFNumberDoubleType, &half);
    EXPECT_TRUE(CFEqual(n1, d1));
    EXPECT_EQ(CFHash(n1), CFHash(d1));
    EXPECT_FALSE(CFEqual(n1, dHalf));
    EXPECT_FALSE(CFEqual(n1, kCFBooleanTrue));
    EXPECT_NE(CFGetTypeID(n1), CFGetTypeID(kCFBooleanTrue));

    CFStringRef a = str("Straße"),
                b = CFStringCreateWithCString(nullptr, "Straße", kCFStringEncodingUTF8);
    EXPECT_TRUE(CFEqual(a, b));
    EXPECT_EQ(CFHash(a), CFHash(b));
    EXPECT_FALSE(CFEqual(a, CFSTR("Strasse")));

    const UInt8 bytes[] = {1, 2, 3};
    CFDataRef x = CFDataCreate(nullptr, bytes, 3), y = CFDataCreate(nullptr, bytes, 2);
    EXPECT_FALSE(CFEqual(x, y));
    const void* items[] = {a, n1};
    CFArrayRef arr1 = CFArrayCreate(nullptr, items, 2, &kCFTypeArrayCallBacks);
    const void* items2[] = {b, d1};
    CFArrayRef arr2 = CFArrayCreate(nullptr, items2, 2, &kCFTypeArrayCallBacks);
    EXPECT_TRUE(CFEqual(arr1, arr2));
    EXPECT_EQ(CFArrayGetFirstIndexOfValue(arr2, CFRangeMake(0, 2), n1), 1);
    for (CFTypeRef o :
         {static_cast<CFTypeRef>(n1), static_cast<CFTypeRef>(d1), static_cast<CFTypeRef>(dHalf),
          static_cast<CFTypeRef>(a), static_cast<CFTypeRef>(b), static_cast<CFTypeRef>(x),
          static_cast<CFTypeRef>(y), static_cast<CFTypeRef>(arr1), static_cast<CFTypeRef>(arr2)})
        CFRelease(o);
}

TEST(CFStrings, EncodingsLengthsAndComparison)
{
    // "é" and a character outside the BMP: 1 + 2 UTF-16 units.
    CFStringRef s = str("\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(CFStringGetLength(s), 3);
    char buffer[16];
    EXPECT_FALSE(CFStringGetCString(s, buffer, sizeof buffer, kCFStringEncodingASCII));
    EXPECT_FALSE(CFStringGetCString(s, buffer, 6, kCFStringEncodingUTF8)); // no room for NUL
    ASSERT_TRUE(CFStringGetCString(s, buffer, 7, kCFStringEncodingUTF8));
    EXPECT_STREQ(buffer, "\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_GE(CFStringGetMaximumSizeForEncoding(CFStringGetLength(s), kCFStringEncodingUTF8), 6);

    const UInt8 utf16be[] = {0x00, 'h', 0x00, 'i'};
    CFStringRef hi = CFStringCreateWithBytes(nullptr, utf16be, 4, kCFStringEncodingUTF16BE, false);
    EXPECT_TRUE(CFEqual(hi, CFSTR("hi")));
    const UInt8 utf32bom[] = {0xFF, 0xFE, 0, 0, 'o', 0, 0, 0, 'k', 0, 0, 0};
    CFStringRef ok = CFStringCreateWithBytes(nullptr, utf32bom, 12, kCFStringEncodingUTF32, true);
    EXPECT_TRUE(CFEqual(ok, CFSTR("ok")));
    const UInt8 latin1[] = {'c', 0xE9};
    CFStringRef cafe =
        CFStringCreateWithBytes(nullptr, latin1, 2, kCFStringEncodingISOLatin1, false);
    EXPECT_EQ(CFStringGetCharacterAtIndex(cafe, 1), 0xE9);
    // Invalid input is refused, not mangled.
    EXPECT_EQ(CFStringCreateWithCString(nullptr, "\xC3(", kCFStringEncodingUTF8), nullptr);
    EXPECT_EQ(CFStringCreateWithCString(nullptr, "\xE9", kCFStringEncodingASCII), nullptr);
    const UniChar lone[] = {0xD800};
    CFStringRef broken = CFStringCreateWithCharacters(nullptr, lone, 1);
    EXPECT_EQ(CFStringGetCStringPtr(broken, kCFStringEncodingUTF8), nullptr);
    EXPECT_FALSE(CFStringGetCString(broken, buffer, sizeof buffer, kCFStringEncodingUTF8));

    EXPECT_EQ(CFStringCompare(CFSTR("a"), CFSTR("B"), 0), kCFCompareGreaterThan);
    EXPECT_EQ(CFStringCompare(CFSTR("a"), CFSTR("B"), kCFCompareCaseInsensitive),
              kCFCompareLessThan);
    EXPECT_EQ(CFStringCompare(CFSTR("\xC3\x89T\xC3\x89"), CFSTR("\xC3\xA9t\xC3\xA9"),
                              kCFCompareCaseInsensitive),
              kCFCompareEqualTo);
    EXPECT_EQ(CFStringCompare(CFSTR("file9"), CFSTR("file10"), kCFCompareNumerically),
              kCFCompareLessThan);
    EXPECT_EQ(CFStringCompare(CFSTR("file9"), CFSTR("file10"), 0), kCFCompareGreaterThan);

    CFStringRef copy = CFStringCreateCopy(nullptr, s);
    EXPECT_TRUE(CFEqual(copy, s));
    for (CFStringRef o : {s, hi, ok, cafe, broken, copy})
        CFRelease(o);
}

TEST(CFNumbers, ConversionsReportLoss)
{
    int64_t big = 300;
    CFNumberRef n = CFNumberCreate(nullptr, kCFNumberSInt64Type, &big);
    EXPECT_EQ(CFNumberGetType(n), kCFNumberSInt64Type);
    int8_t small = 0;
    EXPECT_FALSE(CFNumberGetValue(n, kCFNumberSInt8Type, &small));
    EXPECT_EQ(small, 127); // saturates
    int32_t i32 = 0;
    EXPECT_TRUE(CFNumberGetValue(n, kCFNumberIntType, &i32));
    EXPECT_EQ(i32, 300);
    double d = 0;
    EXPECT_TRUE(CFNumberGetValue(n, kCFNumberDoubleType, &d));
    EXPECT_EQ(d, 300.0);

    double fraction = -2.75;
    CFNumberRef f = CFNumberCreate(nullptr, kCFNumberDoubleType, &fraction);
    EXPECT_EQ(CFNumberGetType(f), kCFNumberFloat64Type);
    EXPECT_TRUE(CFNumberIsFloatType(f));
    EXPECT_FALSE(CFNumberGetValue(f, kCFNumberSInt32Type, &i32));
    EXPECT_EQ(i32, -2); // truncates toward zero
    float single = 0;
    EXPECT_TRUE(CFNumberGetValue(f, kCFNumberFloat32Type, &single));
    double tenth = 0.1;
    CFNumberRef t = CFNumberCreate(nullptr, kCFNumberFloat64Type, &tenth);
    EXPECT_FALSE(CFNumberGetValue(t, kCFNumberFloat32Type, &single));

    int64_t huge = (int64_t(1) << 53) + 1;
    CFNumberRef h = CFNumberCreate(nullptr, kCFNumberLongLongType, &huge);
    EXPECT_FALSE(CFNumberGetValue(h, kCFNumberFloat64Type, &d));
    int32_t negative = -5;
    CFNumberRef neg = CFNumberCreate(nullptr, kCFNumberIntType, &negative);
    EXPECT_EQ(CFNumberGetType(neg), kCFNumberSInt32Type);
    long asLong = 0;
    EXPECT_TRUE(CFNumberGetValue(neg, kCFNumberLongType, &asLong));
    EXPECT_EQ(asLong, -5);
    EXPECT_EQ(CFNumberCompare(neg, n, nullptr), kCFCompareLessThan);
    for (CFNumberRef o : {n, f, t, h, neg})
        CFRelease(o);
}

TEST(CFObjects, ArraysHonourCallbacksAndBounds)
{
    CFStringRef a = str("a"), b = str("b");
    CFMutableArrayRef raw = CFArrayCreateMutable(nullptr, 0, nullptr);
    CFArrayAppendValue(raw, a);
    EXPECT_EQ(CFGetRetainCount(a), 1);
    CFStringRef a2 = str("a");
    EXPECT_FALSE(CFArrayContainsValue(raw, CFRangeMake(0, 1), a2)); // identity only
    CFRelease(raw);

    CFMutableArrayRef array = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
    CFArrayAppendValue(array, a);
    CFArrayInsertValueAtIndex(array, 0, b);
    CFArraySetValueAtIndex(array, 1, b);
    EXPECT_EQ(CFGetRetainCount(a), 1) << "replaced values are released";
    EXPECT_EQ(CFGetRetainCount(b), 3);
    EXPECT_TRUE(CFArrayContainsValue(array, CFRangeMake(0, 2), CFSTR("b")));
    EXPECT_EQ(CFArrayGetValueAtIndex(array, 2), nullptr); // out of bounds, no crash
    CFArrayInsertValueAtIndex(array, 5, a);               // ignored
    EXPECT_EQ(CFArrayGetCount(array), 2);

    CFArrayRef copy = CFArrayCreateCopy(nullptr, array);
    EXPECT_TRUE(CFEqual(copy, array));
    CFArrayAppendValue(const_cast<CFMutableArrayRef>(copy), a); // immutable: refused
    EXPECT_EQ(CFArrayGetCount(copy), 2);
    CFArrayRemoveValueAtIndex(array, 0);
    EXPECT_EQ(CFArrayGetCount(array), 1);
    EXPECT_FALSE(CFEqual(copy, array));
    CFRelease(copy);
    CFRelease(array);
    EXPECT_EQ(CFGetRetainCount(b), 1);
    for (CFStringRef o : {a, a2, b})
        CFRelease(o);
}

TEST(CFObjects, DataBytesAndErrors)
{
    CFMutableDataRef data = CFDataCreateMutable(nullptr, 0);
    const UInt8 bytes[] = {1, 2, 3};
    CFDataAppendBytes(data, bytes, 3);
    CFDataSetLength(data, 5);
    ASSERT_EQ(CFDataGetLength(data), 5);
    EXPECT_EQ(CFDataGetBytePtr(data)[2], 3);
    EXPECT_EQ(CFDataGetBytePtr(data)[4], 0);
    CFDataRef frozen = CFDataCreateCopy(nullptr, data);
    CFDataGetMutableBytePtr(data)[0] = 9;
    EXPECT_EQ(CFDataGetBytePtr(frozen)[0], 1) << "copies do not share bytes";
    EXPECT_EQ(CFDataGetMutableBytePtr(const_cast<CFMutableDataRef>(frozen)), nullptr);
    CFRelease(frozen);
    CFRelease(data);

    // Partial conversion never splits a character and reports what it used.
    CFStringRef s = str("a\xC3\xA9z");
    UInt8 buffer[8];
    CFIndex used = 0;
    EXPECT_EQ(
        CFStringGetBytes(s, CFRangeMake(0, 3), kCFStringEncodingUTF8, 0, false, buffer, 2, &used),
        1);
    EXPECT_EQ(used, 1);
    EXPECT_EQ(CFStringGetBytes(s, CFRangeMake(0, 3), kCFStringEncodingASCII, '?', false, buffer,
                               sizeof buffer, &used),
              3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), static_cast<size_t>(used)), "a?z");
    EXPECT_EQ(CFStringGetBytes(s, CFRangeMake(0, 3), kCFStringEncodingASCII, 0, false, buffer,
                               sizeof buffer, &used),
              1);
    CFStringRef tail = CFStringCreateWithSubstring(nullptr, s, CFRangeMake(1, 2));
    EXPECT_TRUE(CFStringHasSuffix(s, tail));
    EXPECT_FALSE(CFStringHasPrefix(s, tail));
    CFRelease(tail);
    CFRelease(s);

    CFErrorRef error = CFErrorCreate(nullptr, kCFErrorDomainPOSIX, 2, nullptr);
    CFStringRef description = CFErrorCopyDescription(error);
    char text[128];
    ASSERT_TRUE(CFStringGetCString(description, text, sizeof text, kCFStringEncodingUTF8));
    EXPECT_NE(std::string(text).find("NSPOSIXErrorDomain error 2"), std::string::npos);
    CFRelease(description);
    CFRelease(error);
}
