#include "ToolTestSupport.h"
#include "platform/tools/src/XarReader.h"
#include "tests/support/TestEnvironment.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace ToolTest;
namespace fs = std::filesystem;

namespace
{
// An expanded flat package as Apple's pkgutil leaves it.
void makeExpandedPackage(const std::string& sRoot)
{
    writeFile(sRoot + "/Scripts/AdminConfig.xml", "<AdminConfig/>\n");
    writeFile(sRoot + "/Scripts/Info.plist", "<plist/>\n");
    writeFile(sRoot + "/Scripts/postinstall", "#!/bin/sh\nexit 0\n", 0755);
    writeFile(sRoot + "/Scripts/lib/helper.sh", "true\n");
    fs::create_symlink("postinstall", sRoot + "/Scripts/preinstall");
    writeFile(sRoot + "/Payload", gzip(odc({{{".", 040755}, ""}, {{"./app", 0100644}, "app"}})));
    writeFile(sRoot + "/Bom", "BOMStore");
    writeFile(sRoot + "/PackageInfo", "<pkg-info/>\n");
    writeFile(sRoot + "/Distribution", "<installer-gui-script/>\n");
}
} // namespace

TEST(Pkgutil, FlattenThenExpandGivesTheSameTree)
{
    makeExpandedPackage("expanded");
    // A product archive carries its component packages as folders with their own Scripts.
    writeFile("expanded/Agent.pkg/Scripts/postinstall", "#!/bin/sh\n", 0755);
    writeFile("expanded/Agent.pkg/Payload", gzip(odc({{{".", 040755}, ""}})));
    SResult result = run("pkgutil", {"--flatten", "expanded", "out.pkg"});
    ASSERT_EQ(result.status, 0) << result.err;
    result = run("pkgutil", {"--expand", "out.pkg", "again"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(snapshot("again"), snapshot("expanded"));
    EXPECT_TRUE(fs::is_directory("again/Scripts"));
    EXPECT_TRUE(fs::is_regular_file("again/Payload"));
    const SResult list = run("xar", {"-t", "-f", "out.pkg"});
    EXPECT_NE(list.out.find("\nAgent.pkg/Scripts\n"), std::string::npos) << list.out;
    EXPECT_EQ(list.out.find("Agent.pkg/Scripts/"), std::string::npos) << list.out;

    result = run("pkgutil", {"--flatten", "again", "second.pkg"});
    ASSERT_EQ(result.status, 0) << result.err;
    result = run("pkgutil", {"--expand", "second.pkg", "third"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(snapshot("third"), snapshot("expanded"));
}

TEST(Pkgutil, FlattenKeepsApplesLayout)
{
    makeExpandedPackage("expanded");
    ASSERT_EQ(run("pkgutil", {"--flatten", "expanded", "out.pkg"}).status, 0);
    PlatformTools::CXarReader reader("out.pkg");
    EXPECT_EQ(reader.tocChecksumStyle(), "sha1");
    std::map<std::string, std::string> encodings;
    for (const auto& entry : reader.entries())
        encodings[entry.sPath] = entry.sEncoding;
    EXPECT_EQ(encodings["Scripts"], "application/octet-stream");
    EXPECT_EQ(encodings["Payload"], "application/octet-stream");
    EXPECT_EQ(encodings["Bom"], "application/x-gzip");
    EXPECT_EQ(encodings["PackageInfo"], "application/x-gzip");
    EXPECT_EQ(encodings["Distribution"], "application/x-gzip");
    // The table-of-contents checksum opens the heap.
    const std::string package = readFile("out.pkg");
    std::size_t tocLength = 0;
    for (int i = 8; i < 16; ++i)
        tocLength = tocLength << 8 | static_cast<unsigned char>(package[i]);
    EXPECT_EQ(toHex(package.substr(28 + tocLength, 20)), sha1Hex(package.substr(28, tocLength)));

    // Scripts is a gzip-compressed odc cpio archive with "." and "./name" members.
    fs::create_directory("x");
    ASSERT_EQ(run("xar", {"-x", "-f", "../out.pkg", "^Scripts$"}, "x").status, 0);
    const std::string scripts = gunzip(readFile("x/Scripts"));
    ASSERT_FALSE(scripts.empty());
    EXPECT_EQ(scripts.substr(0, 6), "070707");
    EXPECT_NE(scripts.find(std::string("./AdminConfig.xml") + '\0'), std::string::npos);
    EXPECT_EQ(scripts.find("expanded"), std::string::npos);

    // The product unpacks it with gzip and cpio.
    fs::rename("x/Scripts", "x/Scripts.gz");
    ASSERT_EQ(run("gzip", {"-d", "Scripts.gz"}, "x", "", true).status, 0);
    const SResult result = run("cpio", {"-i", "-F", "Scripts"}, "x");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(readFile("x/AdminConfig.xml"), "<AdminConfig/>\n");
    EXPECT_EQ(fs::read_symlink("x/preinstall"), "postinstall");
}

TEST(Pkgutil, ExpandsPackagesMadeByOtherTools)
{
    fs::create_directory("real");
    SResult result =
        run("pkgutil", {"--expand", dataDirectory() + "/apple-sha512-files-gzip.xar", "real/out"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(readFile("real/out/root.txt"), "This should be in the archive root\n");

    if (!haveProgram("bsdtar"))
        GTEST_SKIP() << "bsdtar is not installed";
    writeFile("src/Scripts",
              gzip(odc({{{".", 040755}, ""}, {{"./AdminConfig.xml", 0100644}, "<a/>"}})));
    writeFile("src/PackageInfo", "<pkg-info/>");
    result =
        run("bsdtar", {"--format", "xar", "-cf", "bsd.pkg", "-C", "src", "Scripts", "PackageInfo"},
            ".", "", true);
    ASSERT_EQ(result.status, 0) << result.err;
    result = run("pkgutil", {"--expand", "bsd.pkg", "bsd"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(readFile("bsd/Scripts/AdminConfig.xml"), "<a/>");
    EXPECT_EQ(readFile("bsd/PackageInfo"), "<pkg-info/>");
}

TEST(Pkgutil, ScriptsThatAreNoArchiveStayAFile)
{
    writeFile("src/Scripts", "plain text, not an archive");
    ASSERT_EQ(run("xar", {"-c", "-f", "../a.pkg", "Scripts"}, "src").status, 0);
    ASSERT_EQ(run("pkgutil", {"--expand", "a.pkg", "out"}).status, 0);
    EXPECT_EQ(readFile("out/Scripts"), "plain text, not an archive");
}

TEST(Pkgutil, ExpandRefusesAnExistingDestination)
{
    makeExpandedPackage("expanded");
    ASSERT_EQ(run("pkgutil", {"--flatten", "expanded", "out.pkg"}).status, 0);
    fs::create_directory("exists");
    writeFile("exists/keep", "keep");
    writeFile("file", "file");
    EXPECT_EQ(run("pkgutil", {"--expand", "out.pkg", "exists"}).status, 1);
    EXPECT_EQ(run("pkgutil", {"--expand", "out.pkg", "file"}).status, 1);
    EXPECT_EQ(snapshot("exists"), (std::map<std::string, std::string>{{"keep", "F 644 keep"}}));
    EXPECT_EQ(readFile("file"), "file");
}

TEST(Pkgutil, HostileOrDamagedPackagesLeaveNothing)
{
    const std::vector<std::pair<std::string, std::string>> scripts = {
        {"dotdot", gzip(odc({{{"./ok", 0100644}, "ok"}, {{"../../escaped", 0100644}, "x"}}))},
        {"absolute", gzip(odc({{{fs::absolute("escaped").string(), 0100644}, "x"}}))},
        {"link-out",
         gzip(odc({{{"./lnk", 0120777}, "../../.."}, {{"./lnk/escaped", 0100644}, "x"}}))},
        {"truncated",
         gzip(odc({{{"./AdminConfig.xml", 0100644}, std::string(5000, 'a')}})).substr(0, 60)},
    };
    for (const auto& hostile : scripts)
    {
        SCOPED_TRACE(hostile.first);
        writeFile(hostile.first + "/Scripts", hostile.second);
        ASSERT_EQ(run("xar", {"-c", "-f", "../" + hostile.first + ".pkg", "Scripts"}, hostile.first)
                      .status,
                  0);
        const SResult result = run("pkgutil", {"--expand", hostile.first + ".pkg", "out"});
        EXPECT_EQ(result.status, 1);
        EXPECT_NE(result.err.find("pkgutil: "), std::string::npos);
        EXPECT_FALSE(fs::exists("out")) << "a failed expansion must not leave its directory";
        EXPECT_FALSE(fs::exists("escaped"));
    }
    writeFile("broken.pkg", "xar!broken");
    EXPECT_EQ(run("pkgutil", {"--expand", "broken.pkg", "out"}).status, 1);
    EXPECT_FALSE(fs::exists("out"));
}

TEST(Pkgutil, FlattenFailuresLeaveNoPackage)
{
    EXPECT_EQ(run("pkgutil", {"--flatten", "missing", "out.pkg"}).status, 1);
    EXPECT_FALSE(fs::exists("out.pkg"));
    makeExpandedPackage("expanded");
    fs::create_directory("dir.pkg");
    EXPECT_EQ(run("pkgutil", {"--flatten", "expanded", "dir.pkg"}).status, 1);
    EXPECT_TRUE(fs::is_empty("dir.pkg"));
    // A file that cannot be read stops the flattening before anything is written.
    writeFile("old.pkg", "previous package");
    fs::create_directories("expanded/Resources");
    ASSERT_EQ(mkfifo("expanded/Resources/fifo", 0644), 0);
    EXPECT_EQ(run("pkgutil", {"--flatten", "expanded", "old.pkg"}).status, 1);
    EXPECT_EQ(readFile("old.pkg"), "previous package");
    EXPECT_NE(run("pkgutil", {"--expand", "one-argument"}).status, 0);
}

TEST(Pkgutil, ExpandingAScriptsBombStopsAtItsLimit)
{
    if (!haveProgram("python3"))
        GTEST_SKIP() << "python3 is needed to write the archive";
    // A cpio member of 300 MiB of zeros, gzip-compressed to about 300 KB, streamed by Python.
    fs::create_directories("bomb");
    const SResult made = run(
        "python3",
        {"-c",
         "import sys, zlib\n"
         "def h(name, mode, size):\n"
         "    name = name + b'\\0'\n"
         "    f = [(0,6),(1,6),(mode,6),(0,6),(0,6),(1,6),(0,6),(0,11),(len(name),6),(size,11)]\n"
         "    return b'070707' + b''.join(b'%0*o' % (w, v) for v, w in f) + name\n"
         "z = zlib.compressobj(6, zlib.DEFLATED, 31)\n"
         "out = open(sys.argv[1], 'wb')\n"
         "out.write(z.compress(h(b'AdminConfig.xml', 0o100644, 300 << 20)))\n"
         "block = bytes(1 << 20)\n"
         "for i in range(300): out.write(z.compress(block))\n"
         "out.write(z.compress(h(b'TRAILER!!!', 0, 0)) + z.flush())\n",
         "bomb/Scripts"},
        ".", "", true);
    ASSERT_EQ(made.status, 0) << made.err;
    ASSERT_EQ(run("xar", {"-c", "-f", "bomb.pkg", "-C", "bomb", "--compression", "none", "Scripts"})
                  .status,
              0);
    const auto start = std::chrono::steady_clock::now();
    const SResult result = run("pkgutil", {"--expand", "bomb.pkg", "out"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("limit of 268435456 bytes"), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists("out"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}
