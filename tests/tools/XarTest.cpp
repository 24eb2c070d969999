#include "ToolTestSupport.h"
#include "platform/tools/src/XarReader.h"
#include "tests/support/TestEnvironment.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <set>
#include <sys/stat.h>
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

namespace
{
struct SInode
{
    ino_t ino = 0;
    nlink_t links = 0;
};

SInode inodeOf(const std::string& sPath)
{
    struct stat st = {};
    if (::lstat(sPath.c_str(), &st) != 0)
        return SInode();
    return SInode{st.st_ino, st.st_nlink};
}

// Both names are one file holding the data, which has that many names.
void expectLinked(const std::string& sFirst, const std::string& sSecond, const std::string& sData,
                  nlink_t names = 2)
{
    EXPECT_EQ(readFile(sFirst), sData);
    EXPECT_EQ(readFile(sSecond), sData);
    EXPECT_EQ(inodeOf(sFirst).ino, inodeOf(sSecond).ino) << sFirst << " and " << sSecond;
    EXPECT_EQ(inodeOf(sFirst).links, names);
}
} // namespace

TEST(Xar, HardLinksAreReadInEitherOrderAndWrittenOnce)
{
    // Apple's layout with the link listed before its original.
    const std::string data = "linked content";
    std::string original = xarFile(2, "original", data, 0, "<mode>0640</mode>");
    original.replace(original.find("<type>file</type>"), 17,
                     "<type link=\"original\">hardlink</type>");
    const std::string files = "<file id=\"1\"><type link=\"2\">hardlink</type><mode>0640</mode>"
                              "<name>alias</name></file>" +
                              original;
    writeFile("apple.xar", xar(files, data));
    fs::create_directory("x");
    SResult result = run("xar", {"-x", "-f", "../apple.xar"}, "x");
    ASSERT_EQ(result.status, 0) << result.err;
    expectLinked("x/alias", "x/original", data);
    writeFile("apple.pkg", xar(files, data));
    result = run("pkgutil", {"--expand", "apple.pkg", "expanded"});
    ASSERT_EQ(result.status, 0) << result.err;
    expectLinked("expanded/alias", "expanded/original", data);
    // Only the link asked for: it gets the original's data.
    fs::create_directory("only");
    result = run("xar", {"-x", "-f", "../apple.xar", "^alias$"}, "only");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(readFile("only/alias"), data);
    EXPECT_FALSE(fs::exists("only/original"));

    // Our own archives store a hard-linked file once and link the other names to it.
    writeFile("src/a", std::string(50000, 'a'));
    fs::create_hard_link("src/a", "src/b");
    fs::create_directories("src/sub");
    fs::create_hard_link("src/a", "src/sub/c");
    result = run("xar", {"-c", "-f", "own.xar", "-C", "src", "."});
    ASSERT_EQ(result.status, 0) << result.err;
    int withData = 0, links = 0;
    const PlatformTools::CXarReader reader("own.xar");
    for (const auto& entry : reader.entries())
    {
        withData += entry.bHasData ? 1 : 0;
        links += entry.type == PlatformTools::CXarReader::Entry::Hardlink ? 1 : 0;
    }
    EXPECT_EQ(withData, 1);
    EXPECT_EQ(links, 2);
    fs::create_directory("own");
    result = run("xar", {"-x", "-f", "../own.xar"}, "own");
    ASSERT_EQ(result.status, 0) << result.err;
    expectLinked("own/a", "own/b", std::string(50000, 'a'), 3);
    EXPECT_EQ(inodeOf("own/sub/c").ino, inodeOf("own/a").ino);
    if (!haveProgram("bsdtar"))
        GTEST_SKIP() << "bsdtar is not installed";
    fs::create_directory("bsd");
    result = run("bsdtar", {"-xf", "../own.xar"}, "bsd", "", true);
    ASSERT_EQ(result.status, 0) << result.err;
    expectLinked("bsd/a", "bsd/b", std::string(50000, 'a'), 3);
}

TEST(Xar, FolderTimesAreRestoredAndSpecialMembersAreNotSkippedSilently)
{
    writeFile("src/dir/inner/file", "x");
    const struct timespec old[2] = {{978307200, 0}, {978307200, 0}}; // 2001-01-01
    ASSERT_EQ(::utimensat(AT_FDCWD, "src/dir/inner", old, 0), 0);
    ASSERT_EQ(::utimensat(AT_FDCWD, "src/dir", old, 0), 0);
    auto mtimeOf = [](const std::string& sPath)
    {
        struct stat st = {};
        ::lstat(sPath.c_str(), &st);
        return st.st_mtime;
    };
    ASSERT_EQ(run("xar", {"-c", "-f", "own.xar", "-C", "src", "dir"}).status, 0);
    std::vector<std::string> archives = {"own.xar"};
    if (haveProgram("bsdtar"))
    {
        ASSERT_EQ(
            run("bsdtar", {"--format", "xar", "-cf", "bsd.xar", "-C", "src", "dir"}, ".", "", true)
                .status,
            0);
        archives.push_back("bsd.xar");
    }
    for (const std::string& archive : archives)
    {
        SCOPED_TRACE(archive);
        const std::string out = "out-" + archive;
        fs::create_directory(out);
        const SResult result = run("xar", {"-x", "-f", archive, "-C", out});
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(mtimeOf(out + "/dir"), 978307200);
        EXPECT_EQ(mtimeOf(out + "/dir/inner"), 978307200);
    }

    // A FIFO is made as Apple's xar makes it; a device node is refused, and
    // the run says so with its status, after extracting everything else.
    const std::string data = "plain";
    const std::string files =
        "<file id=\"1\"><type>fifo</type><mode>0600</mode><name>pipe</name>"
        "</file><file id=\"2\"><type>character special</type><mode>0666</mode>"
        "<device><major>1</major><minor>3</minor></device><name>null</name>"
        "</file>" +
        xarFile(3, "plain", data, 0);
    writeFile("special.xar", xar(files, data));
    fs::create_directory("special");
    const SResult result = run("xar", {"-x", "-f", "../special.xar"}, "special");
    EXPECT_NE(result.status, 0);
    EXPECT_NE(result.err.find("null"), std::string::npos) << result.err;
    EXPECT_TRUE(fs::is_fifo("special/pipe"));
    EXPECT_FALSE(fs::exists("special/null"));
    EXPECT_EQ(readFile("special/plain"), data);
}
