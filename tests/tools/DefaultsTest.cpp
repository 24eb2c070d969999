#include "ToolTestSupport.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace ToolTest;

namespace
{
const char* const kXml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>CFBundleName</key>
	<string>Ombrel Agent – Ünïcode</string>
	<key>CFBundleShortVersionString</key>
	<string>8.1.2</string>
	<key>Count</key>
	<integer>-42</integer>
	<key>Enabled</key>
	<true/>
	<key>List</key>
	<array>
		<string>one</string>
		<string>two words</string>
	</array>
</dict>
</plist>
)";
} // namespace

TEST(Defaults, ReadsXmlAndBinaryPropertyLists)
{
    writeFile("xml/Info.plist", kXml);
    if (!ToolTest::haveProgram("python3"))
        GTEST_SKIP() << "python3 is needed to write a binary property list";
    const SResult converted =
        run("python3",
            {"-c",
             "import plistlib,sys; d=plistlib.load(open(sys.argv[1],'rb')); "
             "plistlib.dump(d, open(sys.argv[2],'wb'), fmt=plistlib.FMT_BINARY)",
             "xml/Info.plist", "bin/Info.plist"},
            ".", "", true);
    ASSERT_EQ(run("mkdir", {"-p", "bin"}, ".", "", true).status, 0);
    const SResult again = run("python3",
                              {"-c",
                               "import plistlib,sys; d=plistlib.load(open(sys.argv[1],'rb')); "
                               "plistlib.dump(d, open(sys.argv[2],'wb'), fmt=plistlib.FMT_BINARY)",
                               "xml/Info.plist", "bin/Info.plist"},
                              ".", "", true);
    ASSERT_EQ(again.status, 0) << converted.err << again.err;
    ASSERT_EQ(readFile("bin/Info.plist").substr(0, 6), "bplist");

    for (const char* dir : {"xml", "bin"})
    {
        SCOPED_TRACE(dir);
        // The product names the file without ".plist", as Apple's tool accepts.
        const std::string path = std::string(dir) + "/Info";
        SResult result = run("defaults", {"read", path, "CFBundleName"});
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, "Ombrel Agent – Ünïcode\n");
        result = run("defaults", {"read", path + ".plist", "CFBundleShortVersionString"});
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, "8.1.2\n");
        EXPECT_EQ(run("defaults", {"read", path, "Count"}).out, "-42\n");
        EXPECT_EQ(run("defaults", {"read", path, "Enabled"}).out, "1\n");
        EXPECT_EQ(run("defaults", {"read", path, "List"}).out,
                  "(\n    one,\n    \"two words\"\n)\n");
    }
}

TEST(Defaults, MissingFileOrKeyExitsWithOne)
{
    writeFile("Info.plist", kXml);
    SResult result = run("defaults", {"read", "Info", "Missing"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("The domain/default pair of (Info, Missing) does not exist"),
              std::string::npos)
        << result.err;

    result = run("defaults", {"read", "nowhere/Info", "CFBundleName"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("The domain/default pair of (nowhere/Info, CFBundleName) does not "
                              "exist"),
              std::string::npos);

    writeFile("broken.plist", "<plist><dict><key>CFBundleName</key>");
    EXPECT_EQ(run("defaults", {"read", "broken", "CFBundleName"}).status, 1);
    EXPECT_EQ(run("defaults", {"write", "Info", "K", "V"}).status, 1);
}

TEST(Defaults, SpecialFilesAndHugeFilesAreRefusedAtOnce)
{
    // A FIFO would block the reader until a writer came; /dev/zero never ends.
    std::filesystem::create_directories("special");
    ASSERT_EQ(::mkfifo("special/Fifo.plist", 0644), 0);
    std::filesystem::create_symlink("/dev/zero", "special/Zero.plist");
    writeFile("special/Huge.plist", std::string(9 * 1024 * 1024, ' '));
    const auto start = std::chrono::steady_clock::now();
    for (const char* name : {"Fifo", "Zero", "Huge"})
    {
        const SResult result = run("defaults", {"read", std::string("special/") + name, "Key"});
        EXPECT_EQ(result.status, 1) << name;
        EXPECT_NE(result.err.find(std::string("special/") + name + ".plist"), std::string::npos)
            << result.err;
    }
    EXPECT_NE(run("defaults", {"read", "special/Huge", "Key"}).err.find("limit"),
              std::string::npos);
    // hdiutil and xar meet the same FIFO.
    EXPECT_EQ(run("hdiutil", {"imageinfo", "special/Fifo.plist"}).status, 1);
    EXPECT_EQ(run("xar", {"-t", "-f", "special/Fifo.plist"}).status, 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(Defaults, ReadsWhatOtherToolsWroteInEveryEncoding)
{
    // plistlib's document with a byte order mark and re-encoded as UTF-16, and a
    // binary list whose strings hold NUL characters.
    const SResult written =
        run("python3",
            {"-c", "import plistlib, sys\n"
                   "d = {'Name': 'caf\\u00e9', 'Nested': {'List': ['a b', 'c']}}\n"
                   "x = plistlib.dumps(d).decode()\n"
                   "open('bom.plist', 'wb').write(b'\\xef\\xbb\\xbf' + x.encode())\n"
                   "open('utf16.plist', 'wb').write(b'\\xff\\xfe' + x.replace('UTF-8', "
                   "'UTF-16').encode('utf-16-le'))\n"
                   "open('nul.plist', 'wb').write(plistlib.dumps({'Name': 'ab\\0cd\\u00e9'}, "
                   "fmt=plistlib.FMT_BINARY))\n"},
            ".", "", true);
    ASSERT_EQ(written.status, 0) << written.err;
    for (const char* name : {"./bom", "./utf16"})
    {
        SCOPED_TRACE(name);
        SResult result = run("defaults", {"read", name, "Name"});
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, "caf\xC3\xA9\n");
        result = run("defaults", {"read", name, "Nested"});
        EXPECT_EQ(result.out, "{\n    List = (\n        \"a b\",\n        c\n    );\n}\n");
    }
    const SResult nul = run("defaults", {"read", "./nul", "Name"});
    EXPECT_EQ(nul.status, 0) << nul.err;
    EXPECT_EQ(nul.out, std::string("ab\0cd\xC3\xA9\n", 8));
}
