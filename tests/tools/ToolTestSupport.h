#pragma once

#include "tests/support/TestEnvironment.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace ToolTest
{

struct SResult
{
    int status = -1; // exit status, -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs a built tool (by name, from the tools directory) or, with bSystem, a program on PATH,
// in the given working directory with the given standard input. No shell is involved.
SResult run(const std::string& sTool, const std::vector<std::string>& lArgs,
            const std::string& sDirectory = ".", const std::string& sInput = std::string(),
            bool bSystem = false);
bool haveProgram(const std::string& sName);

// Reading and writing files as every test does.
using TestSupport::readFile;
using TestSupport::writeFile;
std::string dataDirectory();

// Every entry below a directory: "D mode", "F mode content" or "L target", keyed by path.
std::map<std::string, std::string> snapshot(const std::string& sDirectory);

std::string gzip(const std::string& sData);
std::string gunzip(const std::string& sData);
std::string sha1Hex(const std::string& sData);
std::string toHex(const std::string& sBytes);

// An odc cpio archive; a mode with S_IFLNK takes the data as the link target.
std::string
odc(const std::vector<std::pair<std::pair<std::string, unsigned>, std::string>>& lEntries);
// A xar archive from a <toc> body (the <file> elements) and the heap that follows the SHA-1
// table-of-contents checksum; data offsets in the body count from the start of that heap.
std::string xar(const std::string& sFiles, const std::string& sHeap);
// A <file> element for a plain member whose data starts at offset in the heap given to xar().
std::string xarFile(int id, const std::string& sName, const std::string& sData, std::size_t offset,
                    const std::string& sExtra = std::string());

} // namespace ToolTest
