// Property lists as Python's plistlib and other writers leave them: other
// encodings, keyed archives, binary strings XML cannot hold, and structure
// errors both readers refuse.
#include "tests/support/TestEnvironment.h"

#include <CoreFoundation/CFKeyedArchiverUID.h>
#include <CoreFoundation/CoreFoundation.h>

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace
{
std::string path(const std::string& name)
{
    return TestSupport::testDirectory() + "/" + name;
}

// Runs a Python script with the given arguments; the test fails when it does.
std::string python(const std::string& script, const std::vector<std::string>& arguments = {})
{
    std::vector<std::string> all = {"-c", script};
    all.insert(all.end(), arguments.begin(), arguments.end());
    const TestSupport::ProgramResult result = TestSupport::runProgram("python3", all);
    EXPECT_EQ(result.status, 0) << result.err;
    return result.out;
}

struct Parsed
{
    CFPropertyListRef plist = nullptr;
    std::string problem;
    ~Parsed()
    {
        if (plist)
            CFRelease(plist);
    }
};

void parse(const std::string& bytes, Parsed& parsed, CFOptionFlags options = 0)
{
    CFDataRef data = CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(bytes.data()),
                                  static_cast<CFIndex>(bytes.size()));
    CFErrorRef error = nullptr;
    parsed.plist = CFPropertyListCreateWithData(nullptr, data, options, nullptr, &error);
    CFRelease(data);
    if (error)
    {
        CFStringRef description = CFErrorCopyDescription(error);
        char buffer[512] = "";
        CFStringGetCString(description, buffer, sizeof buffer, kCFStringEncodingUTF8);
        parsed.problem = buffer;
        CFRelease(description);
        CFRelease(error);
    }
}

std::string serialize(CFPropertyListRef plist, CFPropertyListFormat format, std::string* problem)
{
    CFErrorRef error = nullptr;
    CFDataRef data = CFPropertyListCreateData(nullptr, plist, format, 0, &error);
    if (error)
    {
        CFStringRef description = CFErrorCopyDescription(error);
        char buffer[512] = "";
        CFStringGetCString(description, buffer, sizeof buffer, kCFStringEncodingUTF8);
        if (problem)
            *problem = buffer;
        CFRelease(description);
        CFRelease(error);
    }
    if (!data)
        return std::string();
    std::string bytes(reinterpret_cast<const char*>(CFDataGetBytePtr(data)),
                      static_cast<std::size_t>(CFDataGetLength(data)));
    CFRelease(data);
    return bytes;
}

std::u16string utf16(CFTypeRef string)
{
    EXPECT_EQ(CFGetTypeID(string), CFStringGetTypeID());
    const auto s = static_cast<CFStringRef>(string);
    std::u16string out(static_cast<std::size_t>(CFStringGetLength(s)), u'\0');
    CFStringGetCharacters(s, CFRangeMake(0, CFStringGetLength(s)),
                          reinterpret_cast<UniChar*>(&out[0]));
    return out;
}

CFTypeRef entry(CFPropertyListRef dict, const char* key)
{
    return CFDictionaryGetValue(static_cast<CFDictionaryRef>(dict),
                                __CFStringMakeConstantString(key));
}
} // namespace

TEST(ForeignPropertyLists, ReadsEveryEncodingAppleReads)
{
    // plistlib writes UTF-8; the other encodings are its document re-encoded,
    // each checked to be one that plistlib itself reads back.
    const std::string script =
        "import plistlib, sys\n"
        "d = {'Entry%02d' % i: 'caf\\u00e9 %d' % i for i in range(16)}\n"
        "x = plistlib.dumps(d).decode()\n"
        "latin = x.replace('UTF-8', 'ISO-8859-1')\n"
        "utf16 = x.replace('UTF-8', 'UTF-16')\n"
        "forms = {'plain': x.encode(), 'bom': b'\\xef\\xbb\\xbf' + x.encode(),\n"
        "         'utf16le': b'\\xff\\xfe' + utf16.encode('utf-16-le'),\n"
        "         'utf16be': b'\\xfe\\xff' + utf16.encode('utf-16-be'),\n"
        "         'latin1': latin.encode('latin-1')}\n"
        "for name, data in forms.items():\n"
        "    assert plistlib.loads(data) == d, name\n"
        "    open(sys.argv[1] + '/' + name + '.plist', 'wb').write(data)\n";
    python(script, {TestSupport::testDirectory()});
    Parsed plain;
    parse(TestSupport::readFile(path("plain.plist")), plain);
    ASSERT_NE(plain.plist, nullptr) << plain.problem;
    ASSERT_EQ(CFDictionaryGetCount(static_cast<CFDictionaryRef>(plain.plist)), 16);
    for (const char* name : {"bom", "utf16le", "utf16be", "latin1"})
    {
        Parsed other;
        parse(TestSupport::readFile(path(std::string(name) + ".plist")), other);
        ASSERT_NE(other.plist, nullptr) << name << ": " << other.problem;
        EXPECT_TRUE(CFEqual(other.plist, plain.plist)) << name;
    }

    // The byte order mark decides, as in Apple's parser, even against the declaration.
    const std::string plainText = TestSupport::readFile(path("plain.plist"));
    std::string marked = "\xFF\xFE";
    for (char c : plainText)
        marked += std::string{c, '\0'};
    Parsed contradicted;
    parse(marked, contradicted);
    EXPECT_NE(contradicted.plist, nullptr) << contradicted.problem;

    Parsed unknown;
    parse("<?xml version=\"1.0\" encoding=\"x-no-such-charset\"?><plist version=\"1.0\">"
          "<string>a</string></plist>",
          unknown);
    EXPECT_EQ(unknown.plist, nullptr);
    EXPECT_NE(unknown.problem.find("x-no-such-charset"), std::string::npos) << unknown.problem;
}

TEST(ForeignPropertyLists, StructureErrorsAreRefusedAsPlistlibRefusesThem)
{
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\">";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"<array><key>a</key></array>", "<key>"},
        {"<array><string>a</string><key>b</key></array>", "<key>"},
        {"<dict><key>a</key><key>b</key></dict>", "<key>"},
        {"<dict><string>a</string></dict>", "no key"},
        {"<key>a</key>", "<key>"},
    };
    for (const auto& bad : cases)
    {
        const std::string text = head + bad.first + "</plist>";
        const TestSupport::ProgramResult peer = TestSupport::runProgram(
            "python3", {"-c", "import plistlib, sys; plistlib.loads(sys.argv[1].encode())", text});
        EXPECT_NE(peer.status, 0) << "plistlib accepts " << bad.first;
        Parsed ours;
        parse(text, ours);
        EXPECT_EQ(ours.plist, nullptr) << bad.first;
        EXPECT_NE(ours.problem.find(bad.second), std::string::npos) << ours.problem;
    }
}

TEST(ForeignPropertyLists, BinaryStringsKeepNulAndLoneSurrogates)
{
    // plistlib stores "ab\0cd" as an ASCII string and "ab\0cd\u00e9" as UTF-16.
    python("import plistlib, sys\n"
           "open(sys.argv[1], 'wb').write(plistlib.dumps({'ascii': 'ab\\0cd', 'wide': "
           "'ab\\0cd\\u00e9'}, fmt=plistlib.FMT_BINARY))\n"
           "b = bytearray(plistlib.dumps({'lone': 'x\\u00e9y'}, fmt=plistlib.FMT_BINARY))\n"
           "i = b.find(b'\\x00\\xe9'); b[i:i + 2] = b'\\xd8\\x00'\n"
           "open(sys.argv[2], 'wb').write(bytes(b))\n",
           {path("nul.plist"), path("lone.plist")});
    Parsed nul;
    parse(TestSupport::readFile(path("nul.plist")), nul);
    ASSERT_NE(nul.plist, nullptr) << nul.problem;
    EXPECT_EQ(utf16(entry(nul.plist, "ascii")), std::u16string(u"ab\0cd", 5));
    EXPECT_EQ(utf16(entry(nul.plist, "wide")), std::u16string(u"ab\0cd\u00e9", 6));

    Parsed lone;
    parse(TestSupport::readFile(path("lone.plist")), lone);
    ASSERT_NE(lone.plist, nullptr) << lone.problem;
    EXPECT_EQ(utf16(entry(lone.plist, "lone")), (std::u16string{u'x', char16_t(0xD800), u'y'}));

    // The binary writer keeps them; plistlib reads the NUL strings back.
    std::string problem;
    const std::string written = serialize(nul.plist, kCFPropertyListBinaryFormat_v1_0, &problem);
    ASSERT_FALSE(written.empty()) << problem;
    TestSupport::writeFile(path("nul-again.plist"), written);
    EXPECT_EQ(python("import plistlib, sys\n"
                     "d = plistlib.load(open(sys.argv[1], 'rb'))\n"
                     "print(d == {'ascii': 'ab\\0cd', 'wide': 'ab\\0cd\\u00e9'})\n",
                     {path("nul-again.plist")}),
              "True\n");
    Parsed loneAgain;
    parse(serialize(lone.plist, kCFPropertyListBinaryFormat_v1_0, nullptr), loneAgain);
    ASSERT_NE(loneAgain.plist, nullptr) << loneAgain.problem;
    EXPECT_TRUE(CFEqual(loneAgain.plist, lone.plist));

    // XML has no way to hold either: the writer says so instead of cutting the text.
    problem.clear();
    EXPECT_EQ(serialize(nul.plist, kCFPropertyListXMLFormat_v1_0, &problem), "");
    EXPECT_NE(problem.find("string"), std::string::npos) << problem;
    EXPECT_EQ(serialize(lone.plist, kCFPropertyListXMLFormat_v1_0, nullptr), "");
}

TEST(ForeignPropertyLists, KeyedArchiveUidsRoundTripAsUids)
{
    python("import plistlib, sys\n"
           "d = {'$archiver': 'NSKeyedArchiver', '$top': {'root': plistlib.UID(1)},\n"
           "     '$objects': ['$null', {'next': plistlib.UID(300), 'far': plistlib.UID(70000)}]}\n"
           "open(sys.argv[1], 'wb').write(plistlib.dumps(d, fmt=plistlib.FMT_BINARY))\n",
           {path("archive.plist")});
    Parsed archive;
    parse(TestSupport::readFile(path("archive.plist")), archive);
    ASSERT_NE(archive.plist, nullptr) << archive.problem;
    CFTypeRef root = CFDictionaryGetValue(
        static_cast<CFDictionaryRef>(entry(archive.plist, "$top")), CFSTR("root"));
    ASSERT_EQ(CFGetTypeID(root), _CFKeyedArchiverUIDGetTypeID());
    EXPECT_EQ(_CFKeyedArchiverUIDGetValue(static_cast<CFKeyedArchiverUIDRef>(root)), 1u);

    TestSupport::writeFile(path("archive-again.plist"),
                           serialize(archive.plist, kCFPropertyListBinaryFormat_v1_0, nullptr));
    EXPECT_EQ(python("import plistlib, sys\n"
                     "d = plistlib.load(open(sys.argv[1], 'rb'))\n"
                     "print(d['$top']['root'], d['$objects'][1]['next'], "
                     "d['$objects'][1]['far'])\n",
                     {path("archive-again.plist")}),
              "UID(1) UID(300) UID(70000)\n");

    // In XML a UID is the one-entry dictionary CF$UID, read back as a UID.
    const std::string xml = serialize(archive.plist, kCFPropertyListXMLFormat_v1_0, nullptr);
    EXPECT_NE(xml.find("<key>CF$UID</key>"), std::string::npos) << xml;
    Parsed fromXml;
    parse(xml, fromXml);
    ASSERT_NE(fromXml.plist, nullptr) << fromXml.problem;
    EXPECT_TRUE(CFEqual(fromXml.plist, archive.plist));
}
