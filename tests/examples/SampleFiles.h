#pragma once

#include "tests/support/TestEnvironment.h"

#include <string>

// Where the sample installers and their sources are, and small helpers the
// sample tests share.
namespace SampleFiles
{

std::string samplesDirectory();
std::string samplePath(const std::string& sName);
std::string definitionPath();
std::string toolPath(const std::string& sTool);

// Reading and writing files as every test does.
using TestSupport::readFile;
using TestSupport::writeFile;
bool exists(const std::string& sPath);

// One argument for /bin/sh, single-quoted.
std::string quote(const std::string& sArgument);

// The element filters of the program: an "os" list names this platform ("mac"), and
// a "package" list names the opened package's system (or this platform with none).
bool supportedOs(const std::string& sList);
bool packageAccepts(const std::string& sList, const std::string& sPackageOs);

} // namespace SampleFiles
