// The Linux script installer sample: its header as the program reads it, and that it
// installs, as built and after a customization block has been put into its header.
#include "SampleFiles.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace
{
using Properties = std::vector<std::pair<std::string, std::string>>;

bool startsWith(const std::string& s, const char* prefix)
{
    return s.rfind(prefix, 0) == 0;
}

// The stub's lines (each with its line feed) up to and including "## END OF STUB".
std::vector<std::string> stubLines(const std::string& sScript,
                                   std::size_t* pPayloadOffset = nullptr)
{
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < sScript.size())
    {
        const std::size_t end = sScript.find('\n', pos);
        lines.push_back(
            sScript.substr(pos, end == std::string::npos ? std::string::npos : end + 1 - pos));
        pos = end == std::string::npos ? sScript.size() : end + 1;
        if (startsWith(lines.back(), "## END OF STUB"))
            break;
    }
    if (pPayloadOffset)
        *pPayloadOffset = pos;
    return lines;
}

// Puts a customization block before "## END OF HEADER" and corrects skip_lines, the way
// a published script installer is written.
std::string customized(const std::string& sScript, const Properties& properties)
{
    std::size_t payload = 0;
    std::string out;
    for (const std::string& line : stubLines(sScript, &payload))
    {
        if (startsWith(line, "skip_line"))
        {
            const int n = std::stoi(line.substr(12));
            out += "skip_lines=\"" + std::to_string(n + static_cast<int>(properties.size()) + 2) +
                   "\"\n";
            continue;
        }
        if (startsWith(line, "## END OF HEADER"))
        {
            out += "## BEGIN KORVA CUSTOMIZATION\n";
            for (const auto& [name, value] : properties)
            {
                std::string escaped;
                for (char c : value)
                    escaped += c == '\'' ? std::string("'\"'\"'") : std::string(1, c);
                out += "export " + name + "='" + escaped + "'\n";
            }
            out += "## END KORVA CUSTOMIZATION\n";
        }
        out += line;
    }
    return out + sScript.substr(payload);
}

class ScriptInstaller : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_sScript = SampleFiles::readFile(SampleFiles::samplePath("TessarySample.package"));
        m_sRoot = TestSupport::testDirectory() + "/root";
    }

    int install(const std::string& sScriptPath, std::string* pOutput = nullptr) const
    {
        return TestSupport::runCommand("bash " + SampleFiles::quote(sScriptPath) + " --prefix " +
                                           SampleFiles::quote(m_sRoot) + " 2>&1",
                                       pOutput);
    }

    std::string m_sScript;
    std::string m_sRoot;
};

TEST_F(ScriptInstaller, HeaderCarriesProductVersionAndDefinition)
{
    std::string sName, sVersion, sXml;
    bool bInside = false, bEnded = false;
    int skipLines = -1;
    const auto lines = stubLines(m_sScript);
    for (const std::string& line : lines)
    {
        if (startsWith(line, "# SoftwareVersion "))
            sVersion = line.substr(18, line.size() - 19);
        else if (startsWith(line, "# DisplayName en "))
            sName = line.substr(17, line.size() - 18);
        else if (!bInside && !bEnded && startsWith(line, "## BEGIN OF XML CONFIG"))
            bInside = true;
        else if (bInside && startsWith(line, "## END OF XML CONFIG"))
            bInside = false, bEnded = true;
        else if (bInside)
            sXml += line.substr(1);
        else if (startsWith(line, "skip_line"))
            skipLines = std::stoi(line.substr(12));
    }
    EXPECT_EQ(sName, "Ombrel Sentinel");
    EXPECT_EQ(sVersion, "4.2.1");
    EXPECT_EQ(sXml, SampleFiles::readFile(SampleFiles::definitionPath()));
    EXPECT_EQ(skipLines, static_cast<int>(lines.size()));
    EXPECT_EQ(lines.back(), "## END OF STUB\n");
}

TEST_F(ScriptInstaller, InstallsItsPayload)
{
    std::string sOutput;
    ASSERT_EQ(install(SampleFiles::samplePath("TessarySample.package"), &sOutput), 0) << sOutput;
    struct stat st;
    ASSERT_EQ(::stat((m_sRoot + "/bin/sentinel-agent").c_str(), &st), 0) << sOutput;
    EXPECT_TRUE(st.st_mode & S_IXUSR);
    EXPECT_TRUE(SampleFiles::exists(m_sRoot + "/etc/sentinel.conf"));
    EXPECT_TRUE(SampleFiles::exists(m_sRoot + "/share/doc/README"));
    // Nothing was preset, so there are no managed settings.
    EXPECT_FALSE(SampleFiles::exists(m_sRoot + "/etc/sentinel-managed.conf"));
}

TEST_F(ScriptInstaller, CustomizedCopyStillInstallsWithItsSettings)
{
    const std::string sCopy = TestSupport::testDirectory() + "/custom.package";
    SampleFiles::writeFile(sCopy,
                           customized(m_sScript, {{"SENTINEL_SERVER", "console.example.org"},
                                                  {"SENTINEL_SCAN_EXCLUSIONS", "/srv/it's here"},
                                                  {"TS_MODIFICATION", "1"}}));
    std::string sOutput;
    ASSERT_EQ(install(sCopy, &sOutput), 0) << sOutput;
    EXPECT_TRUE(SampleFiles::exists(m_sRoot + "/bin/sentinel-agent"));
    EXPECT_EQ(SampleFiles::readFile(m_sRoot + "/etc/sentinel-managed.conf"),
              "# Preset by your administrator. Changes here are lost on reinstallation.\n"
              "scan_exclusions = /srv/it's here\n"
              "server = console.example.org\n");
}

TEST_F(ScriptInstaller, RefusesACopyWhoseLineCountIsWrong)
{
    // A header that grew without skip_lines following it points into the stub.
    std::string sBroken = m_sScript;
    sBroken.insert(sBroken.find("## END OF HEADER"), "export SENTINEL_SERVER='x'\n");
    const std::string sCopy = TestSupport::testDirectory() + "/broken.package";
    SampleFiles::writeFile(sCopy, sBroken);
    std::string sOutput;
    EXPECT_NE(install(sCopy, &sOutput), 0);
    EXPECT_NE(sOutput.find("damaged"), std::string::npos) << sOutput;
    EXPECT_FALSE(SampleFiles::exists(m_sRoot + "/bin/sentinel-agent"));
}

} // namespace
