// The macOS sample installers, read with the package tools the way the program reads them.
#include "SampleFiles.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <tinyxml.h>
#include <vector>

namespace
{
using SampleFiles::quote;

std::string tool(const char* sName)
{
    return quote(SampleFiles::toolPath(sName));
}

std::vector<std::string> lines(const std::string& sText)
{
    std::vector<std::string> result;
    std::istringstream in(sText);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

// Runs a command in the test directory; its output, with standard error, goes to *pOutput.
int run(const std::string& sCommand, std::string* pOutput = nullptr)
{
    std::string sOutput;
    const int status = TestSupport::runCommand(sCommand + " 2>&1", &sOutput);
    if (pOutput)
        *pOutput = sOutput;
    if (status != 0)
        ADD_FAILURE() << sCommand << " -> " << status << ": " << sOutput;
    return status;
}

std::string defaultsRead(const std::string& sInfoWithoutExtension, const char* sKey)
{
    std::string sOutput;
    run(tool("defaults") + " read " + quote(sInfoWithoutExtension) + " " + sKey, &sOutput);
    while (!sOutput.empty() && (sOutput.back() == '\n' || sOutput.back() == ' '))
        sOutput.pop_back();
    return sOutput;
}

const std::string& definition()
{
    static const std::string sDefinition = SampleFiles::readFile(SampleFiles::definitionPath());
    return sDefinition;
}

TEST(SamplePackages, AreBuiltWithTheirFormats)
{
    EXPECT_EQ(SampleFiles::readFile(SampleFiles::samplePath("TessarySample.pkg")).substr(0, 4),
              "xar!");
    const std::string sImage = SampleFiles::readFile(SampleFiles::samplePath("TessarySample.dmg"));
    ASSERT_GT(sImage.size(), 0x8006u);
    EXPECT_EQ(sImage.substr(0x8001, 5), "CD001"); // ISO 9660 volume descriptor
    EXPECT_EQ(SampleFiles::readFile(SampleFiles::samplePath("TessarySample.package")).substr(0, 12),
              "#!/bin/bash\n");
}

TEST(SamplePackages, FlatPackageListsItsMembersAndReadsLikeTheProgramReadsIt)
{
    const std::string sPackage = SampleFiles::samplePath("TessarySample.pkg");
    std::string sListing;
    run(tool("xar") + " -t -f " + quote(sPackage), &sListing);
    std::vector<std::string> topLevel;
    for (const std::string& member : lines(sListing))
        if (member.find('/') == std::string::npos)
            topLevel.push_back(member);
    EXPECT_EQ(topLevel, (std::vector<std::string>{"Bom", "Distribution", "PackageInfo", "Payload",
                                                  "Resources", "Scripts"}));

    // xar for "Scripts", gzip, cpio, then defaults on the Info property list.
    const std::string sWork = TestSupport::testDirectory() + "/scripts";
    ASSERT_EQ(::mkdir(sWork.c_str(), 0700), 0);
    const std::string cd = "cd " + quote(sWork) + " && ";
    ASSERT_EQ(run(cd + tool("xar") + " -x -f " + quote(sPackage) + " '^Scripts$'"), 0);
    ASSERT_EQ(run(cd + "mv Scripts Scripts.gz && gzip -d Scripts.gz && " + tool("cpio") +
                  " -i -F Scripts"),
              0);
    EXPECT_EQ(SampleFiles::readFile(sWork + "/AdminConfig.xml"), definition());
    EXPECT_TRUE(SampleFiles::exists(sWork + "/properties"));
    EXPECT_FALSE(SampleFiles::exists(sWork + "/AdminConfigModified.xml")); // not customized yet
    EXPECT_EQ(defaultsRead(sWork + "/Info", "CFBundleName"), "Ombrel Sentinel");
    EXPECT_EQ(defaultsRead(sWork + "/Info", "CFBundleShortVersionString"), "4.2.1");
}

TEST(SamplePackages, FlatPackageExpandsAndFlattensAgain)
{
    const std::string sExpanded = TestSupport::testDirectory() + "/expanded";
    ASSERT_EQ(run(tool("pkgutil") + " --expand " +
                  quote(SampleFiles::samplePath("TessarySample.pkg")) + " " + quote(sExpanded)),
              0);
    EXPECT_EQ(SampleFiles::readFile(sExpanded + "/Scripts/AdminConfig.xml"), definition());
    struct stat st;
    ASSERT_EQ(::stat((sExpanded + "/Scripts/properties").c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR);
    for (const char* member : {"Payload", "PackageInfo", "Bom"})
        EXPECT_TRUE(SampleFiles::exists(sExpanded + "/" + member)) << member;

    // Publishing puts its values before the first "</script>" of the Distribution.
    const std::string sDistribution = SampleFiles::readFile(sExpanded + "/Distribution");
    const std::size_t end = sDistribution.find("</script>");
    ASSERT_NE(end, std::string::npos);
    EXPECT_GT(end, sDistribution.find("<script>"));
    EXPECT_EQ(sDistribution.find("var ts_properties = new Array();"), std::string::npos);

    const std::string sFlat = TestSupport::testDirectory() + "/again.pkg";
    ASSERT_EQ(run(tool("pkgutil") + " --flatten " + quote(sExpanded) + " " + quote(sFlat)), 0);
    std::string sListing;
    run(tool("xar") + " -t -f " + quote(sFlat), &sListing);
    EXPECT_NE(lines(sListing).size(), 0u);
    EXPECT_NE(sListing.find("Scripts\n"), std::string::npos);
}

// The Distribution's first script block takes the values publishing puts before its
// "</script>" and stays well-formed XML with them.
TEST(SamplePackages, DistributionScriptReadsPublishedValues)
{
    const std::string sExpanded = TestSupport::testDirectory() + "/expanded";
    ASSERT_EQ(run(tool("pkgutil") + " --expand " +
                  quote(SampleFiles::samplePath("TessarySample.pkg")) + " " + quote(sExpanded)),
              0);
    std::string sDistribution = SampleFiles::readFile(sExpanded + "/Distribution");
    const std::size_t end = sDistribution.find("</script>");
    ASSERT_NE(end, std::string::npos);
    sDistribution.insert(end, "var ts_properties = new Array();\n"
                              "ts_properties[\"SENTINEL_INSTALL_DIR\"] = \"Applications\";\n");
    TiXmlDocument doc;
    doc.Parse(sDistribution.c_str());
    ASSERT_FALSE(doc.Error()) << doc.ErrorDesc();

    const std::size_t begin = sDistribution.find("<script>") + 8;
    const std::string sScript =
        sDistribution.substr(begin, sDistribution.find("</script>") - begin) +
        "var my = {result: {}};\n"
        "console.log(sentinel_volume_check() + ' ' + my.result.type + ' ' +\n"
        "            sentinel_menu_bar_selected());\n";
    SampleFiles::writeFile(TestSupport::testDirectory() + "/distribution.js", sScript);
    if (TestSupport::runCommand("command -v node >/dev/null") != 0)
        GTEST_SKIP() << "node is not installed";
    std::string sOutput;
    run("node " + quote(TestSupport::testDirectory() + "/distribution.js"), &sOutput);
    // A relative install location is refused; the menu bar default stays on.
    EXPECT_EQ(sOutput, "false Fatal true\n");
}

TEST(SamplePackages, BundlesCarryDefinitionInfoAndTheFileTheyMayLeaveOut)
{
    for (const char* sName : {"TessarySample-bundle.pkg", "TessarySample.mpkg"})
    {
        SCOPED_TRACE(sName);
        const std::string sBundle = SampleFiles::samplePath(sName);
        EXPECT_EQ(SampleFiles::readFile(sBundle + "/Contents/Resources/AdminConfig.xml"),
                  definition());
        EXPECT_EQ(defaultsRead(sBundle + "/Contents/Info", "CFBundleName"), "Ombrel Sentinel");
        EXPECT_EQ(defaultsRead(sBundle + "/Contents/Info", "CFBundleShortVersionString"), "4.2.1");
        // The definition's "$PKG_" check box names this file.
        EXPECT_NE(definition().find("checkvalue=\"Contents/Resources/uninstall.sh\""),
                  std::string::npos);
        EXPECT_TRUE(SampleFiles::exists(sBundle + "/Contents/Resources/uninstall.sh"));
    }
}

TEST(SamplePackages, DiskImageHoldsTheFlatPackage)
{
    if (!SampleFiles::exists(SampleFiles::toolPath("hdiutil")))
        GTEST_SKIP() << "hdiutil is not built in this configuration (platform/tools)";
    const std::string sMount = TestSupport::testDirectory() + "/mount";
    ASSERT_EQ(::mkdir(sMount.c_str(), 0700), 0);
    const std::string sImage = SampleFiles::samplePath("TessarySample.dmg");
    ASSERT_EQ(run(tool("hdiutil") + " attach " + quote(sImage) +
                  " -nobrowse -noautoopen -mountpoint " + quote(sMount)),
              0);
    EXPECT_EQ(SampleFiles::readFile(sMount + "/TessarySample.pkg"),
              SampleFiles::readFile(SampleFiles::samplePath("TessarySample.pkg")));
    EXPECT_EQ(run(tool("hdiutil") + " detach " + quote(sMount)), 0);
}

} // namespace
