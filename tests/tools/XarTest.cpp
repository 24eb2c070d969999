#include "ToolTestSupport.h"
#include "platform/tools/src/XarReader.h"
#include "tests/support/TestEnvironment.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <set>
#include <unistd.h>
#include <zlib.h>

using namespace ToolTest;
namespace fs = std::filesystem;

namespace
{
void makeSampleTree(const std::string& sRoot)
{
    writeFile(sRoot + "/top.txt", "top\n");
    writeFile(sRoot + "/dir/sub/tool", "#!/bin/sh\necho hi\n", 0755);
    writeFile(sRoot + "/dir/empty", "");
    writeFile(sRoot + "/dir/with space & <markup> \"ünïcode\".txt", "names survive the XML");
    std::string binary;
    for (unsigned long i = 0; i < 300000; ++i)
        binary += static_cast<char>((i * 7919) % 251);
    writeFile(sRoot + "/dir/binary.bin", binary);
    fs::create_directories(sRoot + "/dir/nothing");
    fs::create_symlink("sub/tool", sRoot + "/dir/link");
}
} // namespace

TEST(Xar, ReadsArchivesMadeByOtherTools)
{
    const SResult list = run("xar", {"-t", "-f", dataDirectory() + "/apple-sha512-files-gzip.xar"});
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.out, "subdirectory\nsubdirectory/sub-root.txt\nroot.txt\n");

    for (const char* name :
         {"apple-sha512-files-gzip.xar", "md5-dir.xar", "sha1-dir.xar", "sha1-file-nocomp.xar"})
    {
        fs::create_directory(name);
        const SResult result = run("xar", {"-x", "-f", dataDirectory() + "/" + name}, name);
        EXPECT_EQ(result.status, 0) << name << ": " << result.err;
    }
    EXPECT_EQ(readFile("apple-sha512-files-gzip.xar/root.txt"),
              "This should be in the archive root\n");
    EXPECT_TRUE(fs::is_regular_file("apple-sha512-files-gzip.xar/subdirectory/sub-root.txt"));
    EXPECT_TRUE(fs::is_directory("md5-dir.xar/dir1"));
    EXPECT_TRUE(fs::is_directory("sha1-dir.xar/dir1"));
    EXPECT_EQ(readFile("sha1-file-nocomp.xar/f1").size(), 16u);
}

TEST(Xar, OwnArchivesRoundTripAndOpenInBsdtar)
{
    makeSampleTree("src");
    SResult result = run("xar", {"-c", "-f", "../sample.xar", "top.txt", "dir"}, "src");
    ASSERT_EQ(result.status, 0) << result.err;
    fs::create_directory("out");
    result = run("xar", {"-x", "-f", "sample.xar", "-C", "out"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(snapshot("out"), snapshot("src"));

    if (!haveProgram("bsdtar"))
        GTEST_SKIP() << "bsdtar is not installed";
    fs::create_directory("bsd");
    result = run("bsdtar", {"-xf", "../sample.xar"}, "bsd", "", true);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(snapshot("bsd"), snapshot("src"));
}

TEST(Xar, ExtractsArchivesMadeByBsdtar)
{
    if (!haveProgram("bsdtar"))
        GTEST_SKIP() << "bsdtar is not installed";
    makeSampleTree("src");
    SResult result =
        run("bsdtar", {"--format", "xar", "-cf", "bsd.xar", "-C", "src", "."}, ".", "", true);
    ASSERT_EQ(result.status, 0) << result.err;
    fs::create_directory("out");
    result = run("xar", {"-x", "-f", "../bsd.xar"}, "out");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(snapshot("out"), snapshot("src"));
}

TEST(Xar, ExtractsOnlyMembersMatchingAPattern)
{
    writeFile("src/Scripts", "scripts");
    writeFile("src/ScriptsOld", "old");
    writeFile("src/Payload", "payload");
    ASSERT_EQ(run("xar", {"-cf", "../a.xar", "Scripts", "ScriptsOld", "Payload"}, "src").status, 0);
    fs::create_directory("out");
    const SResult result = run("xar", {"-x", "-f", "../a.xar", "^Scripts$"}, "out");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(snapshot("out"), (std::map<std::string, std::string>{{"Scripts", "F 644 scripts"}}));

    EXPECT_EQ(run("xar", {"-x", "-f", "../a.xar", "^Nothing$"}, "out").status, 0);
    EXPECT_NE(run("xar", {"-x", "-f", "../a.xar", "(unclosed"}, "out").status, 0);
}

TEST(Xar, CompressionOptionsChooseTheEncoding)
{
    writeFile("src/Payload", "payload payload payload payload");
    writeFile("src/Bom", "bom bom bom bom bom bom bom bom");
    auto encodings = [](const std::string& sArchive)
    {
        std::map<std::string, std::string> result;
        const PlatformTools::CXarReader reader(sArchive);
        for (const auto& entry : reader.entries())
            result[entry.sPath] = entry.sEncoding;
        return result;
    };
    ASSERT_EQ(
        run("xar", {"-c", "-f", "../a.xar", "--no-compress", "^Payload$", "Payload", "Bom"}, "src")
            .status,
        0);
    EXPECT_EQ(encodings("a.xar"),
              (std::map<std::string, std::string>{{"Bom", "application/x-gzip"},
                                                  {"Payload", "application/octet-stream"}}));
    ASSERT_EQ(run("xar", {"-cf", "../b.xar", "--compression=none", "Payload", "Bom"}, "src").status,
              0);
    EXPECT_EQ(encodings("b.xar"),
              (std::map<std::string, std::string>{{"Bom", "application/octet-stream"},
                                                  {"Payload", "application/octet-stream"}}));
    fs::create_directory("out");
    ASSERT_EQ(run("xar", {"-xf", "b.xar", "-C", "out"}).status, 0);
    EXPECT_EQ(snapshot("out"), snapshot("src"));
}

TEST(Xar, TakesTheFirstOfRepeatedNameElements)
{
    // productbuild writes the name of a member two or three times.
    const std::string data = "bundle info";
    const std::string files =
        xarFile(1, "Distribution", data, 0, "<name>Distribution</name><name>Distribution</name>");
    writeFile("repeated.xar", xar(files, data));
    const SResult list = run("xar", {"-t", "-f", "repeated.xar"});
    ASSERT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.out, "Distribution\n");
    fs::create_directory("out");
    ASSERT_EQ(run("xar", {"-x", "-f", "../repeated.xar"}, "out").status, 0);
    EXPECT_EQ(readFile("out/Distribution"), data);
}

TEST(Xar, HonoursAHeaderThatNamesItsAlgorithm)
{
    // Another xar fork writes 3 ("other") and the algorithm's name after the usual 28 bytes.
    const std::string data = "named algorithm";
    const std::string toc = "<?xml version=\"1.0\"?><xar><toc><checksum style=\"sha256\">"
                            "<offset>0</offset><size>32</size></checksum>" +
                            xarFile(1, "f", data, 12) + "</toc></xar>";
    uLongf size = compressBound(static_cast<uLong>(toc.size()));
    std::string compressed(size, '\0');
    compress(reinterpret_cast<Bytef*>(compressed.data()), &size,
             reinterpret_cast<const Bytef*>(toc.data()), static_cast<uLong>(toc.size()));
    compressed.resize(size);
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(compressed.data()), compressed.size(), digest);
    std::string header = "xar!";
    auto put = [&](unsigned long long value, int bytes)
    {
        for (int i = bytes - 1; i >= 0; --i)
            header += static_cast<char>((value >> (8 * i)) & 0xff);
    };
    put(28 + 8, 2);
    put(1, 2);
    put(compressed.size(), 8);
    put(toc.size(), 8);
    put(3, 4);
    header += std::string("sha256\0\0", 8);
    writeFile("named.xar", header + compressed +
                               std::string(reinterpret_cast<char*>(digest), sizeof digest) + data);
    fs::create_directory("out");
    const SResult result = run("xar", {"-x", "-f", "../named.xar"}, "out");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(readFile("out/f"), data);
}

TEST(Xar, HostileMembersWriteNothingOutside)
{
    const std::string data = "evil";
    const std::string symlink = "<file id=\"1\"><type>symlink</type><link type=\"file\">%s</link>"
                                "<name>lnk</name></file>";
    auto link = [&](const std::string& sTarget)
    {
        std::string s = symlink;
        return s.replace(s.find("%s"), 2, sTarget);
    };
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"dotdot", xar(xarFile(1, "../escaped", data, 0), data)},
        {"absolute", xar(xarFile(1, fs::absolute("escaped").string(), data, 0), data)},
        {"nested-dotdot", xar("<file id=\"1\"><type>directory</type><name>..</name>" +
                                  xarFile(2, "escaped", data, 0) + "</file>",
                              data)},
        {"link-out", xar(link("../escaped"), "")},
        {"link-absolute", xar(link(fs::absolute(".").string()), "")},
        {"write-through-link", xar(link(".") + xarFile(2, "lnk/inner", data, 0), data)},
        {"link-chain",
         xar(link(".") + "<file id=\"2\"><type>symlink</type><link type=\"file\">lnk/..</link>"
                         "<name>up</name></file>",
             "")},
    };
    for (const auto& hostile : cases)
    {
        SCOPED_TRACE(hostile.first);
        fs::create_directories("box/" + hostile.first + "/target");
        writeFile("box/" + hostile.first + ".xar", hostile.second);
        const SResult result = run("xar", {"-x", "-f", "../../" + hostile.first + ".xar"},
                                   "box/" + hostile.first + "/target");
        EXPECT_NE(result.status, 0);
        EXPECT_NE(result.err.find("refusing"), std::string::npos) << result.err;
        EXPECT_FALSE(fs::exists("escaped"));
        EXPECT_FALSE(fs::exists("box/escaped"));
        EXPECT_FALSE(fs::exists("box/" + hostile.first + "/escaped"));
        EXPECT_FALSE(fs::exists("box/" + hostile.first + "/inner"));
        EXPECT_FALSE(fs::exists("box/" + hostile.first + "/target/up"));
    }
}

TEST(Xar, DamagedArchivesFailCleanly)
{
    writeFile("src/file", std::string(100000, 'x') + "tail");
    ASSERT_EQ(run("xar", {"-c", "-f", "../good.xar", "file"}, "src").status, 0);
    const std::string good = readFile("good.xar");

    std::string wrongData = good;
    wrongData[wrongData.size() - 5] ^= 0x40; // inside the compressed member
    std::string wrongToc = good;
    const std::size_t tocLength =
        static_cast<unsigned char>(good[15]) | static_cast<unsigned char>(good[14]) << 8;
    wrongToc[28 + tocLength] ^= 1; // first byte of the stored table-of-contents checksum
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"truncated-heap", good.substr(0, good.size() - 40)},
        {"wrong-member-checksum", wrongData},
        {"wrong-toc-checksum", wrongToc},
        {"truncated-toc", good.substr(0, 40)},
        {"header-only", good.substr(0, 20)},
        {"not-xar", "PK\x03\x04 this is something else entirely, long enough"},
    };
    for (const auto& damaged : cases)
    {
        SCOPED_TRACE(damaged.first);
        writeFile(damaged.first + ".xar", damaged.second);
        fs::create_directory(damaged.first);
        const SResult result =
            run("xar", {"-x", "-f", "../" + damaged.first + ".xar"}, damaged.first);
        EXPECT_NE(result.status, 0);
        EXPECT_FALSE(result.err.empty());
        EXPECT_FALSE(fs::exists(damaged.first + "/file")) << "a partial member was left behind";
    }
}

TEST(Xar, ReportsUsageErrors)
{
    EXPECT_NE(run("xar", {}).status, 0);
    EXPECT_NE(run("xar", {"-x"}).status, 0);
    EXPECT_NE(run("xar", {"-x", "-f", "missing.xar"}).status, 0);
    EXPECT_NE(run("xar", {"-c", "-f", "out.xar", "missing"}).status, 0);
    EXPECT_FALSE(fs::exists("out.xar"));
    EXPECT_NE(run("xar", {"-c", "-f", "out.xar", "../x"}).status, 0);
    // An archive that cannot be written: its folder is a regular file.
    writeFile("plain", "plain");
    const SResult result = run("xar", {"-c", "-f", "plain/out.xar", "plain"});
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.err.find("plain/out.xar"), std::string::npos) << result.err;
}

TEST(Xar, MemberNamesAreKeptByteForByte)
{
    if (!haveProgram("bsdtar"))
        GTEST_SKIP() << "bsdtar is not installed";
    // Runs of spaces, spaces at either end, a tab, and names bsdtar stores base64-encoded.
    const std::vector<std::string> names = {"a  b",
                                            " lead",
                                            "trail ",
                                            "t\tab",
                                            "\xc3\xbcn\xc3\xaf",
                                            "\xe6\x97\xa5\xe6\x9c\xac",
                                            "dir  two/ inner  file "};
    for (const std::string& name : names)
        writeFile("src/" + name, "data of " + name);
    auto lines = [](std::string text)
    {
        // bsdtar lists a tab as "\t".
        for (std::size_t at = text.find("\\t"); at != std::string::npos; at = text.find("\\t"))
            text.replace(at, 2, "\t");
        std::set<std::string> set;
        std::size_t start = 0;
        for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            set.insert(text.substr(start, end - start));
        return set;
    };

    // An archive made by bsdtar: the same listing, the same files.
    SResult result =
        run("bsdtar", {"--format", "xar", "-cf", "bsd.xar", "-C", "src", "."}, ".", "", true);
    ASSERT_EQ(result.status, 0) << result.err;
    const SResult bsdList = run("bsdtar", {"-tf", "bsd.xar"}, ".", "", true);
    result = run("xar", {"-t", "-f", "bsd.xar"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(lines(result.out), lines(bsdList.out));
    EXPECT_TRUE(lines(result.out).count("\xe6\x97\xa5\xe6\x9c\xac"));
    fs::create_directory("out");
    ASSERT_EQ(run("xar", {"-x", "-f", "bsd.xar", "-C", "out"}).status, 0);
    EXPECT_EQ(snapshot("out"), snapshot("src"));

    // Our archive read by bsdtar.
    ASSERT_EQ(run("xar", {"-c", "-f", "own.xar", "-C", "src", "."}).status, 0);
    EXPECT_EQ(lines(run("bsdtar", {"-tf", "own.xar"}, ".", "", true).out),
              lines(run("xar", {"-t", "-f", "own.xar"}).out));
    fs::create_directory("bsd");
    ASSERT_EQ(run("bsdtar", {"-xf", "../own.xar"}, "bsd", "", true).status, 0);
    EXPECT_EQ(snapshot("bsd"), snapshot("src"));

    // Publishing expands and flattens; names that are no UTF-8 at all survive too.
    for (const std::string& name : names)
        writeFile("expanded/Resources/" + name, name);
    writeFile("expanded/Resources/raw \xff\xfe name", "latin");
    writeFile("expanded/Scripts/ spaced  script ", "#!/bin/sh\n");
    result = run("pkgutil", {"--flatten", "expanded", "flat.pkg"});
    ASSERT_EQ(result.status, 0) << result.err;
    result = run("pkgutil", {"--expand", "flat.pkg", "again"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(snapshot("again"), snapshot("expanded"));
}
