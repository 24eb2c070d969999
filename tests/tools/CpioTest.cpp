#include "ToolTestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace ToolTest;
namespace fs = std::filesystem;

namespace
{
const std::string kSample = odc({{{".", 040755}, ""},
                                 {{"./AdminConfig.xml", 0100644}, "<AdminConfig/>"},
                                 {{"./bin", 040755}, ""},
                                 {{"./bin/run", 0100755}, "#!/bin/sh\n"},
                                 {{"./run", 0120777}, "bin/run"}});
const std::map<std::string, std::string> kSampleTree = {{"AdminConfig.xml", "F 644 <AdminConfig/>"},
                                                        {"bin", "D 755"},
                                                        {"bin/run", "F 755 #!/bin/sh\n"},
                                                        {"run", "L bin/run"}};
} // namespace

TEST(Cpio, ExtractsFromAFileOrStandardInput)
{
    writeFile("sample.cpio", kSample);
    fs::create_directory("a");
    SResult result = run("cpio", {"-i", "-F", "../sample.cpio"}, "a");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(snapshot("a"), kSampleTree);

    fs::create_directory("b");
    result = run("cpio", {"-idmu", "--quiet"}, "b", gzip(kSample));
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(snapshot("b"), kSampleTree);

    result = run("cpio", {"-t", "-F", "sample.cpio"});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, ".\n./AdminConfig.xml\n./bin\n./bin/run\n./run\n");
}

TEST(Cpio, CreatesOdcArchivesFromANameList)
{
    writeFile("src/AdminConfig.xml", "<AdminConfig/>");
    writeFile("src/bin/run", "#!/bin/sh\n", 0755);
    fs::create_symlink("bin/run", "src/run");
    const std::string names = ".\n./AdminConfig.xml\n./bin\n./bin/run\n./run\n";
    SResult result = run("cpio", {"-o", "--format", "odc"}, "src", names);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.substr(0, 6), "070707");
    writeFile("made.cpio", result.out);

    result = run("cpio", {"-o", "-H", "odc", "-z", "-F", "../made.cpio.gz"}, "src", names);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(gunzip(readFile("made.cpio.gz")), readFile("made.cpio"));

    fs::create_directory("out");
    result = run("cpio", {"-i", "-F", "../made.cpio"}, "out");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(snapshot("out"), kSampleTree);

    EXPECT_NE(run("cpio", {"-o", "-H", "tar"}, "src", names).status, 0);
    EXPECT_NE(run("cpio", {"-o"}, "src", "./missing\n").status, 0);
    if (fs::exists("/dev/full"))
    {
        EXPECT_NE(run("cpio", {"-o", "-F", "/dev/full"}, "src", names).status, 0);
    }
}

TEST(Cpio, RefusesHostileMembers)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"dotdot", odc({{{"./ok", 0100644}, "ok"}, {{"../escaped", 0100644}, "x"}})},
        {"absolute", odc({{{fs::absolute("escaped").string(), 0100644}, "x"}})},
        {"link-out", odc({{{"lnk", 0120777}, "../escaped-link"}})},
        {"link-absolute",
         odc({{{"lnk", 0120777}, fs::absolute(".").string()}, {{"lnk/escaped", 0100644}, "x"}})},
        {"write-through-link", odc({{{"lnk", 0120777}, "."},
                                    {{"up", 0120777}, "lnk/.."},
                                    {{"up/escaped", 0100644}, "x"}})},
        {"dotdot-inside", odc({{{"./a/../../escaped", 0100644}, "x"}})},
    };
    for (const auto& hostile : cases)
    {
        SCOPED_TRACE(hostile.first);
        fs::create_directories("box/" + hostile.first);
        writeFile(hostile.first + ".cpio", hostile.second);
        const SResult result =
            run("cpio", {"-i", "-F", "../../" + hostile.first + ".cpio"}, "box/" + hostile.first);
        EXPECT_NE(result.status, 0);
        EXPECT_TRUE(result.err.find("refusing") != std::string::npos ||
                    result.err.find("through symlink") != std::string::npos)
            << result.err;
        EXPECT_FALSE(fs::exists("box/escaped"));
        EXPECT_FALSE(fs::exists("escaped"));
        EXPECT_FALSE(fs::exists("box/escaped-link"));
        EXPECT_FALSE(fs::exists("box/" + hostile.first + "/up"));
    }
    // Harmless members of the first archive are still extracted, as with bsdcpio.
    EXPECT_TRUE(fs::exists("box/dotdot/ok"));
}

TEST(Cpio, DamagedArchivesFail)
{
    writeFile("truncated.cpio", kSample.substr(0, kSample.size() / 2));
    writeFile("garbage.cpio", "this is not an archive at all");
    writeFile("truncated.cpio.gz", gzip(kSample).substr(0, 40));
    for (const char* name : {"truncated.cpio", "garbage.cpio", "truncated.cpio.gz"})
    {
        SCOPED_TRACE(name);
        fs::create_directory(std::string("out-") + name);
        const SResult result =
            run("cpio", {"-i", "-F", std::string("../") + name}, std::string("out-") + name);
        EXPECT_NE(result.status, 0);
        EXPECT_FALSE(result.err.empty());
    }
    EXPECT_NE(run("cpio", {"-i", "-F", "missing.cpio"}).status, 0);
    EXPECT_NE(run("cpio", {}).status, 0);
}
