#include "ToolTestSupport.h"
#include "tests/support/TestEnvironment.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

using namespace ToolTest;
namespace fs = std::filesystem;

namespace
{
class Hdiutil : public testing::Test
{
protected:
    void SetUp() override
    {
        // Each test keeps its attach records to itself.
        m_sState = TestSupport::testDirectory() + "/runtime";
        fs::create_directories(m_sState);
        setenv("XDG_RUNTIME_DIR", m_sState.c_str(), 1);
    }

    std::size_t records() const
    {
        const std::string sDir = m_sState + "/tessary-hdiutil";
        if (!fs::exists(sDir))
            return 0;
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(sDir), fs::directory_iterator()));
    }

    std::string m_sState;
};

// The value that follows <key>name</key> in a property list printed by hdiutil.
std::string plistValue(const std::string& sPlist, const std::string& sKey)
{
    const std::size_t key = sPlist.find("<key>" + sKey + "</key>");
    if (key == std::string::npos)
        return "(missing)";
    const std::size_t open = sPlist.find('<', key + sKey.size() + 11);
    const std::size_t close = sPlist.find('>', open);
    const std::string sTag = sPlist.substr(open, close - open + 1);
    if (sTag.back() == '/' || sTag == "<true/>" || sTag == "<false/>")
        return sTag;
    return sPlist.substr(close + 1, sPlist.find('<', close) - close - 1);
}

std::uint64_t bigEndian(const std::string& s, std::size_t at, int bytes)
{
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = value << 8 | static_cast<unsigned char>(s[at + i]);
    return value;
}

void putBigEndian(std::string& s, std::size_t at, std::uint64_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i, value >>= 8)
        s[at + i] = static_cast<char>(value & 0xff);
}

// A copy of a real image whose property list also carries a licence ("LPic"), rewritten at the
// end of the data fork with the trailer pointing at it, as a tool adding a licence does.
std::string withLicence(const std::string& sImage)
{
    std::string koly = sImage.substr(sImage.size() - 512);
    std::string xml = sImage.substr(bigEndian(koly, 216, 8), bigEndian(koly, 224, 8));
    const std::size_t dict = xml.find("<dict>", xml.find("<key>resource-fork</key>"));
    xml.insert(dict + 6, "<key>LPic</key><array><dict><key>Data</key><data>AAAAAQ==</data>"
                         "<key>ID</key><string>5000</string></dict></array>");
    std::string result = sImage.substr(0, sImage.size() - 512);
    putBigEndian(koly, 216, result.size(), 8);
    putBigEndian(koly, 224, xml.size(), 8);
    return result + xml + koly;
}
} // namespace

TEST_F(Hdiutil, ImageinfoReportsRealImages)
{
    const std::vector<std::pair<std::string, std::string>> images = {
        {"compression-zlib.dmg", "UDZO"},
        {"compression-adc.dmg", "UDCO"},
        {"compression-lzfse.dmg", "ULFO"},
        {"gpt.dmg", "UDZO"}};
    for (const auto& image : images)
    {
        SCOPED_TRACE(image.first);
        const SResult result =
            run("hdiutil", {"imageinfo", dataDirectory() + "/" + image.first, "-plist"});
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(plistValue(result.out, "Format"), image.second);
        EXPECT_EQ(plistValue(result.out, "Software License Agreement"), "<false/>");
        EXPECT_EQ(plistValue(result.out, "Compressed"), "<true/>");
    }
}

TEST_F(Hdiutil, ImageinfoFindsALicence)
{
    writeFile("licensed.dmg", withLicence(readFile(dataDirectory() + "/compression-zlib.dmg")));
    SResult result = run("hdiutil", {"imageinfo", "licensed.dmg", "-plist"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(plistValue(result.out, "Software License Agreement"), "<true/>");

    // A trailer pointing past the file, and files that are no image at all.
    std::string damaged = readFile(dataDirectory() + "/compression-zlib.dmg");
    putBigEndian(damaged, damaged.size() - 512 + 216, damaged.size(), 8);
    writeFile("damaged.dmg", damaged);
    writeFile("text.dmg", std::string(40000, 't'));
    for (const char* name : {"damaged.dmg", "text.dmg", "missing.dmg"})
    {
        result = run("hdiutil", {"imageinfo", name, "-plist"});
        EXPECT_EQ(result.status, 1) << name;
        EXPECT_NE(result.err.find("hdiutil: imageinfo failed"), std::string::npos) << name;
    }
}

TEST_F(Hdiutil, AttachesAndDetachesRealImages)
{
    if (!haveProgram("7zz"))
        GTEST_SKIP() << "7-Zip (7zz) is needed for UDIF images";
    for (const char* name :
         {"compression-zlib.dmg", "compression-adc.dmg", "compression-lzfse.dmg", "gpt.dmg"})
    {
        SCOPED_TRACE(name);
        fs::create_directory("mnt");
        SResult result = run("hdiutil", {"attach", dataDirectory() + "/" + name, "-nobrowse",
                                         "-noautoopen", "-mountpoint", "mnt"});
        ASSERT_EQ(result.status, 0) << result.err;
        if (std::string(name) == "gpt.dmg")
            EXPECT_EQ(fs::file_size("mnt/.DS_Store"), 6148u);
        else
        {
            // Two FAT partitions: each file system gets its own folder.
            EXPECT_EQ(readFile("mnt/2.Windows_FAT_16/README.txt").substr(0, 24),
                      "This is a test partition");
            EXPECT_TRUE(fs::exists("mnt/3.Windows_FAT_16/README.txt"));
        }
        EXPECT_EQ(records(), 1u);
        EXPECT_NE(
            run("hdiutil", {"attach", dataDirectory() + "/" + name, "-mountpoint", "mnt"}).status,
            0);
        result = run("hdiutil", {"detach", "mnt"});
        ASSERT_EQ(result.status, 0) << result.err;
        EXPECT_TRUE(fs::is_directory("mnt"));
        EXPECT_TRUE(fs::is_empty("mnt"));
        EXPECT_EQ(records(), 0u);
        EXPECT_EQ(run("hdiutil", {"detach", "mnt"}).status, 1);
        fs::remove("mnt");
    }
}

TEST_F(Hdiutil, AttachesIsoImages)
{
    if (!haveProgram("xorriso"))
        GTEST_SKIP() << "xorriso is needed to make an ISO 9660 image";
    writeFile("src/Sample.pkg", "xar!flat package stand-in");
    writeFile("src/Extras/readme.txt", "read me");
    fs::create_symlink("Extras/readme.txt", "src/readme");
    SResult result =
        run("xorriso", {"-as", "mkisofs", "-R", "-quiet", "-o", "image.dmg", "src"}, ".", "", true);
    ASSERT_EQ(result.status, 0) << result.err;
    result = run("hdiutil", {"imageinfo", "image.dmg", "-plist"});
    EXPECT_EQ(plistValue(result.out, "Software License Agreement"), "<false/>");

    // A mount point that does not exist is made, and removed again on detach.
    result = run("hdiutil",
                 {"attach", "image.dmg", "-nobrowse", "-noautoopen", "-mountpoint", "new-mnt"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(snapshot("new-mnt"), snapshot("src"));
    fs::create_symlink("new-mnt", "alias");
    result = run("hdiutil", {"detach", "alias"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_FALSE(fs::exists("new-mnt"));
    EXPECT_EQ(records(), 0u);
}

TEST_F(Hdiutil, HostileIsoImagesLeaveNothing)
{
    if (!haveProgram("xorriso"))
        GTEST_SKIP() << "xorriso is needed to make an ISO 9660 image";
    writeFile("src/ok.txt", "ok");
    fs::create_symlink("../../outside", "src/escape");
    fs::create_directory("mnt");
    ASSERT_EQ(
        run("xorriso", {"-as", "mkisofs", "-R", "-quiet", "-o", "evil.dmg", "src"}, ".", "", true)
            .status,
        0);
    const SResult result = run("hdiutil", {"attach", "evil.dmg", "-mountpoint", "mnt"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("escape"), std::string::npos) << result.err;
    EXPECT_TRUE(fs::is_empty("mnt"));
    EXPECT_EQ(records(), 0u);
}

TEST_F(Hdiutil, DetachTouchesOnlyWhatItAttached)
{
    fs::create_directory("foreign");
    writeFile("foreign/precious", "keep me");
    SResult result = run("hdiutil", {"detach", "foreign"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("hdiutil: detach failed"), std::string::npos);
    EXPECT_EQ(readFile("foreign/precious"), "keep me");
    EXPECT_EQ(run("hdiutil", {"detach", "missing"}).status, 1);

    // Attaching over files is refused and keeps them.
    if (!haveProgram("xorriso"))
        GTEST_SKIP() << "xorriso is needed to make an ISO 9660 image";
    writeFile("src/a.txt", "a");
    ASSERT_EQ(
        run("xorriso", {"-as", "mkisofs", "-R", "-quiet", "-o", "image.iso", "src"}, ".", "", true)
            .status,
        0);
    EXPECT_EQ(run("hdiutil", {"attach", "image.iso", "-mountpoint", "foreign"}).status, 1);
    EXPECT_EQ(snapshot("foreign"),
              (std::map<std::string, std::string>{{"precious", "F 644 keep me"}}));

    // A directory put in place of an attached mount point is not the one attached.
    fs::create_directory("mnt");
    ASSERT_EQ(run("hdiutil", {"attach", "image.iso", "-mountpoint", "mnt"}).status, 0);
    fs::rename("mnt", "moved");
    fs::create_directory("mnt");
    writeFile("mnt/precious", "keep me too");
    EXPECT_EQ(run("hdiutil", {"detach", "mnt"}).status, 1);
    EXPECT_EQ(readFile("mnt/precious"), "keep me too");

    // The record of the vanished directory does not block attaching at that path again.
    fs::remove_all("mnt");
    fs::remove_all("moved");
    fs::create_directory("mnt");
    SResult again = run("hdiutil", {"attach", "image.iso", "-mountpoint", "mnt"});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(readFile("mnt/a.txt"), "a");
    EXPECT_EQ(run("hdiutil", {"detach", "mnt"}).status, 0);
    EXPECT_EQ(records(), 0u);
}

namespace
{
// Wraps a raw file system image as UDIF with the independent Python writer.
SResult makeUdif(const std::string& sRaw, const std::string& sImage,
                 const std::vector<std::string>& lOptions)
{
    std::vector<std::string> lArgs{TestSupport::sourceDirectory() + "/tests/tools/make-udif.py",
                                   sRaw, sImage};
    lArgs.insert(lArgs.end(), lOptions.begin(), lOptions.end());
    return run("python3", lArgs, ".", "", true);
}

// Disk usage below a directory in bytes, as du counts it (allocated blocks).
std::uint64_t diskUsage(const std::string& sDirectory)
{
    const SResult du = run("du", {"-s", "-B1", sDirectory}, ".", "", true);
    return std::strtoull(du.out.c_str(), nullptr, 10);
}
} // namespace

TEST_F(Hdiutil, AttachesFileSystemsAsTheyAre)
{
    for (const char* program : {"7zz", "python3", "mkfs.vfat", "mcopy", "xorriso"})
        if (!haveProgram(program))
            GTEST_SKIP() << program << " is needed to make the images";
    // A real flat package (7-Zip can open it as an archive) and a read-me beside it.
    writeFile("pkgsrc/Distribution", "<installer-gui-script/>");
    writeFile("pkgsrc/Payload", std::string(5000, 'p'));
    writeFile("src/ReadMe.txt", "Read me before installing.\n");
    SResult result = run("xar", {"-c", "-f", "src/Sample.pkg", "-C", "pkgsrc", "."});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::map<std::string, std::string> expected = snapshot("src");

    ASSERT_EQ(run("mkfs.vfat", {"-C", "fat.raw", "1440"}, ".", "", true).status, 0);
    result =
        run("mcopy", {"-i", "fat.raw", "src/Sample.pkg", "src/ReadMe.txt", "::/"}, ".", "", true);
    ASSERT_EQ(result.status, 0) << result.err;
    result =
        run("xorriso", {"-as", "mkisofs", "-R", "-quiet", "-o", "iso.raw", "src"}, ".", "", true);
    ASSERT_EQ(result.status, 0) << result.err;

    for (const char* raw : {"fat.raw", "iso.raw"})
        for (const char* chunks : {"raw", "zlib", "mixed"})
        {
            SCOPED_TRACE(std::string(raw) + " " + chunks);
            result = makeUdif(raw, "image.dmg", {"--chunks", chunks});
            ASSERT_EQ(result.status, 0) << result.err;
            result = run("hdiutil",
                         {"attach", "image.dmg", "-nobrowse", "-noautoopen", "-mountpoint", "mnt"});
            ASSERT_EQ(result.status, 0) << result.err;
            std::map<std::string, std::string> mounted = snapshot("mnt");
            // FAT keeps no Unix modes; the bytes and names are what matter.
            for (auto& entry : mounted)
                entry.second = entry.second.substr(entry.second.find(' ', 2) + 1);
            std::map<std::string, std::string> wanted = expected;
            for (auto& entry : wanted)
                entry.second = entry.second.substr(entry.second.find(' ', 2) + 1);
            EXPECT_EQ(mounted, wanted);
            EXPECT_EQ(readFile("mnt/Sample.pkg"), readFile("src/Sample.pkg"));
            ASSERT_EQ(run("hdiutil", {"detach", "mnt"}).status, 0);
        }
}

TEST_F(Hdiutil, RefusesImagesThatDeclareHugeSizes)
{
    for (const char* program : {"7zz", "python3", "mkfs.vfat"})
        if (!haveProgram(program))
            GTEST_SKIP() << program << " is needed to make the images";
    ASSERT_EQ(run("mkfs.vfat", {"-C", "fat.raw", "64"}, ".", "", true).status, 0);
    // 4 GiB and 1 TiB of zero-fill chunks that take no room in the file.
    for (const char* sectors : {"8388608", "2147483648"})
    {
        SCOPED_TRACE(sectors);
        ASSERT_EQ(
            makeUdif("fat.raw", "bomb.dmg", {"--chunks", "zlib", "--declare-sectors", sectors})
                .status,
            0);
        ASSERT_LT(fs::file_size("bomb.dmg"), 70000u);
        fs::create_directory("mnt");
        const std::uint64_t before = diskUsage(".");
        const auto start = std::chrono::steady_clock::now();
        const SResult result = run("hdiutil", {"attach", "bomb.dmg", "-mountpoint", "mnt"});
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(result.status, 1);
        EXPECT_NE(result.err.find("bomb.dmg"), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("limit of 512 MiB"), std::string::npos) << result.err;
        EXPECT_LT(seconds, 5.0);
        EXPECT_LT(diskUsage("."), before + 1024 * 1024);
        EXPECT_TRUE(fs::is_empty("mnt"));
        EXPECT_EQ(records(), 0u);
        fs::remove("mnt");
    }
}
