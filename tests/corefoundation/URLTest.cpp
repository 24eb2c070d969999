#include "tests/support/TestEnvironment.h"

#include <CoreFoundation/CoreFoundation.h>

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
std::string text(CFStringRef s)
{
    if (!s)
        return "<null>";
    char buffer[4096];
    return CFStringGetCString(s, buffer, sizeof buffer, kCFStringEncodingUTF8) ? buffer : "<bad>";
}

std::string takeText(CFStringRef s)
{
    std::string result = text(s);
    if (s)
        CFRelease(s);
    return result;
}

CFURLRef fileUrl(const std::string& path, bool directory = false)
{
    return CFURLCreateFromFileSystemRepresentation(nullptr,
                                                   reinterpret_cast<const UInt8*>(path.data()),
                                                   static_cast<CFIndex>(path.size()), directory);
}

std::string fileContent(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

CFDataRef data(const std::string& bytes)
{
    return CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(bytes.data()),
                        static_cast<CFIndex>(bytes.size()));
}
} // namespace

TEST(CFURL, FileSystemPathsSurviveEscaping)
{
    const std::string path = "/tmp/a dir/50% #1?\xC3\xA9.plist";
    CFURLRef url = fileUrl(path);
    EXPECT_EQ(text(CFURLGetString(url)), "file:///tmp/a%20dir/50%25%20%231%3F%C3%A9.plist");
    UInt8 buffer[1024];
    ASSERT_TRUE(CFURLGetFileSystemRepresentation(url, true, buffer, sizeof buffer));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer)), path);
    EXPECT_FALSE(CFURLGetFileSystemRepresentation(url, true, buffer, 10));
    EXPECT_EQ(takeText(CFURLCopyFileSystemPath(url, kCFURLPOSIXPathStyle)), path);
    EXPECT_EQ(takeText(CFURLCopyLastPathComponent(url)), "50% #1?\xC3\xA9.plist");
    EXPECT_EQ(takeText(CFURLCopyPathExtension(url)), "plist");

    CFStringRef pathString = CFStringCreateWithCString(nullptr, "/var/lib", kCFStringEncodingUTF8);
    CFURLRef dir = CFURLCreateWithFileSystemPath(nullptr, pathString, kCFURLPOSIXPathStyle, true);
    EXPECT_EQ(text(CFURLGetString(dir)), "file:///var/lib/");
    EXPECT_TRUE(CFURLHasDirectoryPath(dir));
    EXPECT_EQ(takeText(CFURLCopyFileSystemPath(dir, kCFURLPOSIXPathStyle)), "/var/lib");

    // Relative paths are relative to the current directory.
    CFURLRef relative = fileUrl("sub/file.txt");
    ASSERT_TRUE(CFURLGetFileSystemRepresentation(relative, true, buffer, sizeof buffer));
    char cwd[1024];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer)), std::string(cwd) + "/sub/file.txt");
    CFRelease(relative);
    CFRelease(dir);
    CFRelease(pathString);
    CFRelease(url);
}

TEST(CFURL, StringsAreValidatedAndResolved)
{
    EXPECT_EQ(CFURLCreateWithString(nullptr, CFSTR("file:///a b"), nullptr), nullptr);
    EXPECT_EQ(CFURLCreateWithString(nullptr, CFSTR("http://x/%zz"), nullptr), nullptr);

    CFURLRef base = CFURLCreateWithString(nullptr, CFSTR("http://host/a/b/c?q"), nullptr);
    ASSERT_NE(base, nullptr);
    CFURLRef rel = CFURLCreateWithString(nullptr, CFSTR("../d/./e#f"), base);
    ASSERT_NE(rel, nullptr);
    EXPECT_EQ(text(CFURLGetString(rel)), "../d/./e#f");
    CFURLRef absolute = CFURLCopyAbsoluteURL(rel);
    EXPECT_EQ(text(CFURLGetString(absolute)), "http://host/a/d/e#f");
    EXPECT_EQ(takeText(CFURLCopyHostName(absolute)), "host");
    EXPECT_EQ(CFURLCreateFilePathURL(nullptr, absolute, nullptr), nullptr);

    // The drop handling: a file URL with escapes back to a plain path.
    CFURLRef dropped =
        CFURLCreateWithString(nullptr, CFSTR("file://localhost/tmp/My%20Package.pkg/"), nullptr);
    CFErrorRef error = nullptr;
    CFURLRef filePath = CFURLCreateFilePathURL(nullptr, dropped, &error);
    ASSERT_NE(filePath, nullptr);
    EXPECT_EQ(error, nullptr);
    CFURLRef filePathAbsolute = CFURLCopyAbsoluteURL(filePath);
    EXPECT_EQ(text(CFURLGetString(filePathAbsolute)), "file:///tmp/My%20Package.pkg/");
    EXPECT_EQ(takeText(CFURLCreateStringByReplacingPercentEscapes(
                  nullptr, CFURLGetString(filePathAbsolute), CFSTR(""))),
              "file:///tmp/My Package.pkg/");
    EXPECT_EQ(takeText(CFURLCreateStringByReplacingPercentEscapes(nullptr, CFSTR("a%2Fb%20c"),
                                                                  CFSTR("/"))),
              "a%2Fb c");
    EXPECT_EQ(CFURLCreateStringByReplacingPercentEscapes(nullptr, CFSTR("%FF"), CFSTR("")),
              nullptr);
    for (CFURLRef u : {base, rel, absolute, dropped, filePath, filePathAbsolute})
        CFRelease(u);
}

TEST(CFURLAccess, ReadsAndAtomicallyWritesFiles)
{
    const std::string dir = TestSupport::testDirectory();
    const std::string path = dir + "/data.bin";
    CFURLRef url = fileUrl(path);
    CFDataRef read = nullptr;
    SInt32 error = 0;
    EXPECT_FALSE(
        CFURLCreateDataAndPropertiesFromResource(nullptr, url, &read, nullptr, nullptr, &error));
    EXPECT_EQ(error, kCFURLResourceNotFoundError);
    EXPECT_EQ(read, nullptr);

    CFDataRef content = data(std::string("binary\0data", 11));
    ASSERT_TRUE(CFURLWriteDataAndPropertiesToResource(url, content, nullptr, &error));
    EXPECT_EQ(error, 0);
    chmod(path.c_str(), 0640);
    CFDataRef replacement = data("new");
    ASSERT_TRUE(CFURLWriteDataAndPropertiesToResource(url, replacement, nullptr, &error));
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "replacing keeps the permissions";
    EXPECT_EQ(fileContent(path), "new");

    CFDictionaryRef properties = nullptr;
    ASSERT_TRUE(CFURLCreateDataAndPropertiesFromResource(nullptr, url, &read, &properties, nullptr,
                                                         &error));
    EXPECT_TRUE(CFEqual(read, replacement));
    EXPECT_EQ(CFDictionaryGetValue(properties, kCFURLFileExists), kCFBooleanTrue);
    int64_t length = 0;
    CFNumberGetValue(static_cast<CFNumberRef>(CFDictionaryGetValue(properties, kCFURLFileLength)),
                     kCFNumberSInt64Type, &length);
    EXPECT_EQ(length, 3);
    CFRelease(properties);
    CFRelease(read);

    // Writing through a symbolic link updates its target and keeps the link.
    const std::string link = dir + "/link.bin";
    ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
    CFURLRef linkUrl = fileUrl(link);
    ASSERT_TRUE(CFURLWriteDataAndPropertiesToResource(linkUrl, content, nullptr, &error));
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(fileContent(path), std::string("binary\0data", 11));

    // A path below a regular file cannot be written; nothing is left behind.
    CFURLRef below = fileUrl(path + "/child");
    EXPECT_FALSE(CFURLWriteDataAndPropertiesToResource(below, content, nullptr, &error));
    EXPECT_NE(error, 0);
    CFURLRef remote = CFURLCreateWithString(nullptr, CFSTR("http://localhost/x"), nullptr);
    EXPECT_FALSE(CFURLWriteDataAndPropertiesToResource(remote, content, nullptr, &error));
    EXPECT_EQ(error, kCFURLUnknownSchemeError);

    CFURLRef newDir = fileUrl(dir + "/made", true);
    EXPECT_TRUE(CFURLWriteDataAndPropertiesToResource(newDir, nullptr, nullptr, &error));
    ASSERT_EQ(stat((dir + "/made").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_TRUE(CFURLDestroyResource(newDir, &error));
    for (CFTypeRef o : {static_cast<CFTypeRef>(url), static_cast<CFTypeRef>(content),
                        static_cast<CFTypeRef>(replacement), static_cast<CFTypeRef>(linkUrl),
                        static_cast<CFTypeRef>(below), static_cast<CFTypeRef>(remote),
                        static_cast<CFTypeRef>(newDir)})
        CFRelease(o);
}
