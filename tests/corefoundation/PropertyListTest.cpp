#include "tests/support/TestEnvironment.h"

#include <CoreFoundation/CoreFoundation.h>

#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace
{
CFStringRef str(const std::string& text)
{
    return CFStringCreateWithCString(nullptr, text.c_str(), kCFStringEncodingUTF8);
}

template <typename T> CFNumberRef number(CFNumberType type, T value)
{
    return CFNumberCreate(nullptr, type, &value);
}

CFURLRef fileUrl(const std::string& path)
{
    return CFURLCreateFromFileSystemRepresentation(nullptr,
                                                   reinterpret_cast<const UInt8*>(path.data()),
                                                   static_cast<CFIndex>(path.size()), false);
}

CFPropertyListRef readPlistFile(const std::string& path, CFOptionFlags options)
{
    CFURLRef url = fileUrl(path);
    CFDataRef data = nullptr;
    SInt32 error = 0;
    EXPECT_TRUE(
        CFURLCreateDataAndPropertiesFromResource(nullptr, url, &data, nullptr, nullptr, &error));
    CFRelease(url);
    if (!data)
        return nullptr;
    CFStringRef problem = nullptr;
    CFPropertyListRef plist = CFPropertyListCreateFromXMLData(nullptr, data, options, &problem);
    EXPECT_EQ(problem, nullptr);
    CFRelease(data);
    return plist;
}

// A dictionary with one value of every property-list type.
CFMutableDictionaryRef sample()
{
    CFMutableDictionaryRef d = CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                         &kCFTypeDictionaryValueCallBacks);
    auto put = [d](const char* key, CFTypeRef value)
    {
        CFDictionarySetValue(d, __CFStringMakeConstantString(key), value);
        CFRelease(value);
    };
    put("text", str("<a & b> \"quoted\" \xC3\xA9\xF0\x9F\x98\x80\ttab"));
    put("negative", number<int32_t>(kCFNumberSInt32Type, -42));
    put("large", number<int64_t>(kCFNumberSInt64Type, INT64_C(-9000000000000000000)));
    put("real", number<double>(kCFNumberDoubleType, 0.1));
    put("flag", CFRetain(kCFBooleanFalse));
    const UInt8 bytes[] = {0, 1, 2, 255};
    put("bytes", CFDataCreate(nullptr, bytes, 4));
    put("when", CFDateCreate(nullptr, 123456789.0));
    const void* items[] = {CFSTR("one"), kCFBooleanTrue};
    put("list", CFArrayCreate(nullptr, items, 2, &kCFTypeArrayCallBacks));
    CFMutableDictionaryRef inner = CFDictionaryCreateMutable(
        nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    CFDictionarySetValue(inner, CFSTR("empty"), CFSTR(""));
    put("inner", inner);
    return d;
}

// A binary property list of objects chained by one-element arrays, n deep;
// the last array refers back to the first when cyclic.
std::string arrayChain(uint32_t n, bool cyclic)
{
    auto be = [](uint64_t v, int width)
    {
        std::string out;
        for (int i = width - 1; i >= 0; --i)
            out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
        return out;
    };
    std::string body = "bplist00";
    std::vector<uint32_t> offsets;
    for (uint32_t i = 0; i < n; ++i)
    {
        offsets.push_back(static_cast<uint32_t>(body.size()));
        body += '\xA1' + be(cyclic && i + 1 == n ? 0 : i + 1, 4);
    }
    offsets.push_back(static_cast<uint32_t>(body.size()));
    body += '\x08'; // false
    const uint64_t table = body.size();
    for (uint32_t offset : offsets)
        body += be(offset, 4);
    body +=
        std::string(6, '\0') + '\x04' + '\x04' + be(offsets.size(), 8) + be(0, 8) + be(table, 8);
    return body;
}

const char* const kPythonSample =
    "import plistlib, sys, datetime\n"
    "value = {'text': 'caf\\u00e9 \\U0001F600', 'n': -7, 'big': 2**40, 'r': 2.5,\n"
    "         'yes': True, 'blob': b'\\x00\\xff', 'list': [1, 'two', {'k': 'v'}],\n"
    "         'when': datetime.datetime(2020, 5, 17, 10, 30, 0)}\n"
    "fmt = plistlib.FMT_BINARY if sys.argv[2] == 'binary' else plistlib.FMT_XML\n"
    "plistlib.dump(value, open(sys.argv[1], 'wb'), fmt=fmt)\n";
} // namespace

TEST(CFPropertyList, RoundTripsEveryTypeInXmlAndBinary)
{
    CFMutableDictionaryRef original = sample();
    for (CFPropertyListFormat format :
         {kCFPropertyListXMLFormat_v1_0, kCFPropertyListBinaryFormat_v1_0})
    {
        CFErrorRef error = nullptr;
        CFDataRef data = CFPropertyListCreateData(nullptr, original, format, 0, &error);
        ASSERT_NE(data, nullptr);
        CFPropertyListFormat seen = 0;
        CFPropertyListRef back =
            CFPropertyListCreateWithData(nullptr, data, kCFPropertyListImmutable, &seen, &error);
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(seen, format);
        EXPECT_TRUE(CFEqual(back, original)) << format;
        // Immutable means immutable, down to the nested containers.
        CFDictionarySetValue(const_cast<CFMutableDictionaryRef>(static_cast<CFDictionaryRef>(back)),
                             CFSTR("added"), kCFBooleanTrue);
        EXPECT_FALSE(CFDictionaryContainsKey(static_cast<CFDictionaryRef>(back), CFSTR("added")));
        CFRelease(back);
        CFRelease(data);
    }
    CFDataRef xml = CFPropertyListCreateXMLData(nullptr, original);
    CFPropertyListRef mutableCopy =
        CFPropertyListCreateFromXMLData(nullptr, xml, kCFPropertyListMutableContainers, nullptr);
    auto inner = static_cast<CFMutableDictionaryRef>(const_cast<void*>(
        CFDictionaryGetValue(static_cast<CFDictionaryRef>(mutableCopy), CFSTR("inner"))));
    CFDictionarySetValue(inner, CFSTR("added"), kCFBooleanTrue);
    EXPECT_EQ(CFDictionaryGetCount(inner), 2);
    CFRelease(mutableCopy);
    CFRelease(xml);
    CFRelease(original);
}

TEST(CFPropertyList, ReadsWhatPlistlibWritesAndTheOtherWayRound)
{
    for (const std::string format : {"xml", "binary"})
    {
        const std::string path = TestSupport::testDirectory() + "/python-" + format + ".plist";
        const std::string script = TestSupport::testDirectory() + "/write.py";
        std::ofstream(script) << kPythonSample;
        ASSERT_EQ(TestSupport::runCommand("python3 '" + script + "' '" + path + "' " + format), 0);
        CFPropertyListRef plist = readPlistFile(path, kCFPropertyListImmutable);
        ASSERT_NE(plist, nullptr) << format;
        auto d = static_cast<CFDictionaryRef>(plist);
        CFStringRef text = str("caf\xC3\xA9 \xF0\x9F\x98\x80");
        EXPECT_TRUE(CFEqual(CFDictionaryGetValue(d, CFSTR("text")), text));
        CFRelease(text);
        int64_t value = 0;
        CFNumberGetValue(static_cast<CFNumberRef>(CFDictionaryGetValue(d, CFSTR("n"))),
                         kCFNumberSInt64Type, &value);
        EXPECT_EQ(value, -7);
        CFNumberGetValue(static_cast<CFNumberRef>(CFDictionaryGetValue(d, CFSTR("big"))),
                         kCFNumberSInt64Type, &value);
        EXPECT_EQ(value, INT64_C(1) << 40);
        EXPECT_EQ(CFDictionaryGetValue(d, CFSTR("yes")), kCFBooleanTrue);
        EXPECT_EQ(CFDataGetLength(static_cast<CFDataRef>(CFDictionaryGetValue(d, CFSTR("blob")))),
                  2);
        auto list = static_cast<CFArrayRef>(CFDictionaryGetValue(d, CFSTR("list")));
        ASSERT_EQ(CFArrayGetCount(list), 3);
        EXPECT_EQ(CFGetTypeID(CFArrayGetValueAtIndex(list, 2)), CFDictionaryGetTypeID());
        // 2020-05-17 10:30:00 UTC in seconds since 2001.
        EXPECT_DOUBLE_EQ(
            CFDateGetAbsoluteTime(static_cast<CFDateRef>(CFDictionaryGetValue(d, CFSTR("when")))),
            611404200.0);
        CFRelease(plist);
    }

    CFMutableDictionaryRef ours = sample();
    const std::string path = TestSupport::testDirectory() + "/ours.plist";
    CFDataRef xml = CFPropertyListCreateXMLData(nullptr, ours);
    CFURLRef url = fileUrl(path);
    SInt32 error = 0;
    ASSERT_TRUE(CFURLWriteDataAndPropertiesToResource(url, xml, nullptr, &error));
    std::string out;
    ASSERT_EQ(TestSupport::runCommand(
                  "python3 -c 'import plistlib,sys; d = plistlib.load(open(sys.argv[1], \"rb\")); "
                  "print(d[\"negative\"], d[\"large\"], d[\"real\"], d[\"flag\"], "
                  "d[\"bytes\"].hex(), d[\"when\"].isoformat(), d[\"list\"], d[\"inner\"], "
                  "d[\"text\"] == \"<a & b> \\\"quoted\\\" \\u00e9\\U0001F600\\ttab\")' '" +
                      path + "'",
                  &out),
              0);
    EXPECT_EQ(out, "-42 -9000000000000000000 0.1 False 000102ff 2004-11-29T21:33:09 "
                   "['one', True] {'empty': ''} True\n");
    CFRelease(url);
    CFRelease(xml);
    CFRelease(ours);
}

TEST(CFPropertyList, ReportsUnreadableData)
{
    for (const std::string& text :
         {std::string(), std::string("not a plist"), std::string("<plist><dict><key>a</key>"),
          std::string("bplist00\xff\xff\xff", 11)})
    {
        CFDataRef data = CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(text.data()),
                                      static_cast<CFIndex>(text.size()));
        CFStringRef problem = nullptr;
        EXPECT_EQ(CFPropertyListCreateFromXMLData(nullptr, data, 0, &problem), nullptr) << text;
        ASSERT_NE(problem, nullptr);
        EXPECT_GT(CFStringGetLength(problem), 0);
        CFRelease(problem);
        CFErrorRef error = nullptr;
        EXPECT_EQ(CFPropertyListCreateWithData(nullptr, data, 0, nullptr, &error), nullptr);
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(CFErrorGetCode(error), kCFPropertyListReadCorruptError);
        EXPECT_TRUE(CFEqual(CFErrorGetDomain(error), kCFErrorDomainCocoa));
        CFRelease(error);
        CFRelease(data);
    }

    // Absurd nesting and cycles are refused instead of exhausting the stack.
    for (const std::string& binary : {arrayChain(300000, false), arrayChain(3, true)})
    {
        CFDataRef data = CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(binary.data()),
                                      static_cast<CFIndex>(binary.size()));
        EXPECT_EQ(CFPropertyListCreateFromXMLData(nullptr, data, 0, nullptr), nullptr);
        CFRelease(data);
    }
    const std::string shallow = arrayChain(20, false);
    CFDataRef shallowData = CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(shallow.data()),
                                         static_cast<CFIndex>(shallow.size()));
    CFPropertyListRef chain = CFPropertyListCreateFromXMLData(nullptr, shallowData, 0, nullptr);
    EXPECT_NE(chain, nullptr);
    if (chain)
        CFRelease(chain);
    CFRelease(shallowData);
    std::string deep = "<plist version=\"1.0\">";
    for (int i = 0; i < 200000; ++i)
        deep += "<array>";
    for (int i = 0; i < 200000; ++i)
        deep += "</array>";
    deep += "</plist>";
    CFDataRef data = CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(deep.data()),
                                  static_cast<CFIndex>(deep.size()));
    EXPECT_EQ(CFPropertyListCreateFromXMLData(nullptr, data, 0, nullptr), nullptr);
    CFRelease(data);
}

TEST(CFPropertyList, IsValidFollowsTheXmlFormatRules)
{
    CFMutableDictionaryRef d = sample();
    EXPECT_TRUE(CFPropertyListIsValid(d, kCFPropertyListXMLFormat_v1_0));
    EXPECT_FALSE(CFPropertyListIsValid(d, kCFPropertyListOpenStepFormat)); // numbers, dates

    CFNumberRef one = number<int32_t>(kCFNumberSInt32Type, 1);
    CFMutableDictionaryRef numericKey = CFDictionaryCreateMutableCopy(nullptr, 0, d);
    CFDictionarySetValue(numericKey, one, CFSTR("x"));
    EXPECT_FALSE(CFPropertyListIsValid(numericKey, kCFPropertyListXMLFormat_v1_0));
    EXPECT_EQ(CFPropertyListCreateXMLData(nullptr, numericKey), nullptr);

    CFMutableArrayRef cycle = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
    CFArrayAppendValue(cycle, cycle);
    EXPECT_FALSE(CFPropertyListIsValid(cycle, kCFPropertyListXMLFormat_v1_0));
    CFArrayRemoveAllValues(cycle); // break the cycle so it can be freed

    // The same object twice is fine; only a container inside itself is not.
    CFArrayAppendValue(cycle, one);
    CFArrayAppendValue(cycle, one);
    EXPECT_TRUE(CFPropertyListIsValid(cycle, kCFPropertyListXMLFormat_v1_0));

    CFURLRef url = fileUrl("/tmp");
    CFArrayAppendValue(cycle, url);
    EXPECT_FALSE(CFPropertyListIsValid(cycle, kCFPropertyListXMLFormat_v1_0));
    EXPECT_FALSE(CFPropertyListIsValid(nullptr, kCFPropertyListXMLFormat_v1_0));

    // A control character cannot be stored in XML; writing refuses rather than corrupts.
    CFStringRef control = str("bell\x07");
    EXPECT_TRUE(CFPropertyListIsValid(control, kCFPropertyListXMLFormat_v1_0));
    CFErrorRef error = nullptr;
    EXPECT_EQ(CFPropertyListCreateData(nullptr, control, kCFPropertyListXMLFormat_v1_0, 0, &error),
              nullptr);
    ASSERT_NE(error, nullptr);
    CFRelease(error);
    for (CFTypeRef o : {static_cast<CFTypeRef>(d), static_cast<CFTypeRef>(one),
                        static_cast<CFTypeRef>(numericKey), static_cast<CFTypeRef>(cycle),
                        static_cast<CFTypeRef>(url), static_cast<CFTypeRef>(control)})
        CFRelease(o);
}

TEST(CFPropertyList, HiddenClosingTagsDoNotLetDeepNestingThrough)
{
    // Closing tags hidden where the parser does not see them must not cancel
    // the levels really opened.
    for (const std::string& hidden :
         {std::string("<!-- </dict> -->"), std::string("<![CDATA[</dict>]]>"),
          std::string("<?pi </dict> ?>"), std::string("<key>a</key><!---</dict>--->")})
    {
        std::string deep = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
        deep.reserve(300000 * (hidden.size() + 20));
        for (int i = 0; i < 300000; ++i)
            deep += "<dict><key>k</key>" + hidden;
        deep += "<string>x</string>";
        for (int i = 0; i < 300000; ++i)
            deep += "</dict>";
        deep += "</plist>";
        CFDataRef data = CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(deep.data()),
                                      static_cast<CFIndex>(deep.size()));
        CFStringRef problem = nullptr;
        EXPECT_EQ(CFPropertyListCreateFromXMLData(nullptr, data, 0, &problem), nullptr) << hidden;
        if (problem)
            CFRelease(problem);
        CFRelease(data);
    }
}

TEST(CFPropertyList, KeepsFarDatesAndFull64BitIntegersWrittenElsewhere)
{
    const std::string dir = TestSupport::testDirectory();
    const std::string values =
        "{\"far\": datetime.datetime(4001, 1, 1), \"old\": datetime.datetime(1900, 1, 1, 0, 0, 1),"
        " \"first\": datetime.datetime(1, 1, 1), \"last\": datetime.datetime(9999, 12, 31, 23, 59, "
        "59),"
        " \"top\": 2**64 - 1, \"min\": -2**63, \"max\": 2**63 - 1, \"minus\": -1}";
    for (const std::string format : {"FMT_XML", "FMT_BINARY"})
    {
        const std::string in = dir + "/in.plist", out = dir + "/out.plist";
        ASSERT_EQ(TestSupport::runCommand("python3 -c 'import plistlib, datetime; plistlib.dump(" +
                                          values + ", open(\"" + in + "\", \"wb\"), fmt=plistlib." +
                                          format + ")'"),
                  0);
        CFPropertyListRef plist = readPlistFile(in, kCFPropertyListImmutable);
        ASSERT_NE(plist, nullptr) << format;
        for (CFPropertyListFormat written :
             {kCFPropertyListXMLFormat_v1_0, kCFPropertyListBinaryFormat_v1_0})
        {
            CFDataRef data = CFPropertyListCreateData(nullptr, plist, written, 0, nullptr);
            ASSERT_NE(data, nullptr);
            CFPropertyListRef back =
                CFPropertyListCreateWithData(nullptr, data, 0, nullptr, nullptr);
            ASSERT_NE(back, nullptr);
            EXPECT_TRUE(CFEqual(back, plist)) << format << " " << written;
            CFRelease(back);
            CFURLRef url = fileUrl(out);
            SInt32 error = 0;
            ASSERT_TRUE(CFURLWriteDataAndPropertiesToResource(url, data, nullptr, &error));
            CFRelease(url);
            CFRelease(data);
            EXPECT_EQ(TestSupport::runCommand(
                          "python3 -c 'import plistlib, datetime; assert plistlib.load(open(\"" +
                          out + "\", \"rb\")) == " + values + "'"),
                      0)
                << format << " " << written;
        }
        int64_t value = 0;
        auto top = static_cast<CFNumberRef>(
            CFDictionaryGetValue(static_cast<CFDictionaryRef>(plist), CFSTR("top")));
        EXPECT_FALSE(CFNumberGetValue(top, kCFNumberSInt64Type, &value)) << "2^64-1 is not -1";
        EXPECT_EQ(value, INT64_MAX);
        CFRelease(plist);
    }
}
