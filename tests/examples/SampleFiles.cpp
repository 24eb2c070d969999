#include "SampleFiles.h"

#include "tests/support/TestEnvironment.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <vector>

namespace SampleFiles
{

std::string samplesDirectory()
{
    return TestSupport::binaryDirectory() + "/examples/samples";
}

std::string samplePath(const std::string& sName)
{
    return samplesDirectory() + "/" + sName;
}

std::string definitionPath()
{
    return TestSupport::sourceDirectory() + "/examples/AdminConfig.xml";
}

std::string toolPath(const std::string& sTool)
{
    return TestSupport::toolsDirectory() + "/" + sTool;
}

bool exists(const std::string& sPath)
{
    struct stat st;
    return ::stat(sPath.c_str(), &st) == 0;
}

namespace
{
// Lower-cased items of a comma list; white space before a comma belongs to the comma.
std::vector<std::string> commaItems(const std::string& sList)
{
    std::vector<std::string> items(1);
    for (char c : sList)
    {
        if (c == ',')
        {
            while (!items.back().empty() &&
                   std::isspace(static_cast<unsigned char>(items.back().back())))
                items.back().pop_back();
            items.emplace_back();
        }
        else
            items.back() += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return items;
}

bool contains(const std::vector<std::string>& items, const std::string& sItem)
{
    return std::find(items.begin(), items.end(), sItem) != items.end();
}
} // namespace

bool supportedOs(const std::string& sList)
{
    const auto items = commaItems(sList);
    return sList.empty() || sList == "*" || (items.size() == 1 && items[0] == "any") ||
           contains(items, "mac");
}

bool packageAccepts(const std::string& sList, const std::string& sPackageOs)
{
    if (sList.empty())
        return true;
    return sPackageOs.empty() ? supportedOs(sList) : contains(commaItems(sList), sPackageOs);
}

std::string quote(const std::string& sArgument)
{
    std::string quoted = "'";
    for (char c : sArgument)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

} // namespace SampleFiles
