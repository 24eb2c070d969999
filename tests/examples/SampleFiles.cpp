#include "SampleFiles.h"

#include "TestEnvironment.h"

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

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

std::string readFile(const std::string& sPath)
{
    std::ifstream in(sPath, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + sPath);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFile(const std::string& sPath, const std::string& sContent)
{
    std::ofstream out(sPath, std::ios::binary | std::ios::trunc);
    out << sContent;
    if (!out.flush())
        throw std::runtime_error("cannot write " + sPath);
}

bool exists(const std::string& sPath)
{
    struct stat st;
    return ::stat(sPath.c_str(), &st) == 0;
}

std::string quote(const std::string& sArgument)
{
    std::string quoted = "'";
    for (char c : sArgument)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

} // namespace SampleFiles
