#include "ToolTestSupport.h"

#include "tests/support/TestEnvironment.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <openssl/sha.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

namespace fs = std::filesystem;

namespace ToolTest
{

SResult run(const std::string& sTool, const std::vector<std::string>& lArgs,
            const std::string& sDirectory, const std::string& sInput, bool bSystem)
{
    if (!bSystem)
    {
        const TestSupport::ProgramResult result = TestSupport::runProgram(
            TestSupport::toolsDirectory() + "/" + sTool, lArgs, sDirectory, sInput);
        return SResult{result.status, result.out, result.err};
    }
    // Peers such as bsdtar refuse non-ASCII member names in the C locale, which is
    // what a container or a CI image usually has; give them the UTF-8 one the names use.
    std::vector<std::string> lPeer{"LC_ALL=C.UTF-8", sTool};
    lPeer.insert(lPeer.end(), lArgs.begin(), lArgs.end());
    const TestSupport::ProgramResult result =
        TestSupport::runProgram("env", lPeer, sDirectory, sInput);
    return SResult{result.status, result.out, result.err};
}

bool haveProgram(const std::string& sName)
{
    return run("sh", {"-c", "command -v \"$0\" >/dev/null", sName}, ".", "", true).status == 0;
}

std::string dataDirectory()
{
    return TestSupport::sourceDirectory() + "/tests/tools/data";
}

std::map<std::string, std::string> snapshot(const std::string& sDirectory)
{
    std::map<std::string, std::string> result;
    for (auto it = fs::recursive_directory_iterator(sDirectory);
         it != fs::recursive_directory_iterator(); ++it)
    {
        const std::string sRelative = it->path().lexically_relative(sDirectory).string();
        struct stat st;
        lstat(it->path().c_str(), &st);
        char mode[8];
        std::snprintf(mode, sizeof mode, "%o", static_cast<unsigned>(st.st_mode & 0777));
        if (S_ISLNK(st.st_mode))
            result[sRelative] = "L " + fs::read_symlink(it->path()).string();
        else if (S_ISDIR(st.st_mode))
            result[sRelative] = std::string("D ") + mode;
        else
            result[sRelative] = std::string("F ") + mode + " " + readFile(it->path());
    }
    return result;
}

std::string gzip(const std::string& sData)
{
    z_stream stream = {};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, sData.size()) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(sData.data()));
    stream.avail_in = static_cast<uInt>(sData.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

std::string gunzip(const std::string& sData)
{
    z_stream stream = {};
    inflateInit2(&stream, 15 + 32);
    std::string out;
    char buffer[65536];
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(sData.data()));
    stream.avail_in = static_cast<uInt>(sData.size());
    int rc;
    do
    {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        rc = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - stream.avail_out);
    } while (rc == Z_OK);
    inflateEnd(&stream);
    return rc == Z_STREAM_END ? out : std::string();
}

std::string toHex(const std::string& sBytes)
{
    std::string hex;
    char two[3];
    for (unsigned char c : sBytes)
    {
        std::snprintf(two, sizeof two, "%02x", c);
        hex += two;
    }
    return hex;
}

std::string sha1Hex(const std::string& sData)
{
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(sData.data()), sData.size(), digest);
    return toHex(std::string(reinterpret_cast<char*>(digest), sizeof digest));
}

std::string
odc(const std::vector<std::pair<std::pair<std::string, unsigned>, std::string>>& lEntries)
{
    std::string out;
    char header[128];
    unsigned inode = 1;
    auto add = [&](const std::string& sName, unsigned mode, const std::string& sData)
    {
        std::snprintf(header, sizeof header, "070707%06o%06o%06o%06o%06o%06o%06o%011o%06o%011o", 0u,
                      inode++, mode, 0u, 0u, 1u, 0u, 0u, static_cast<unsigned>(sName.size() + 1),
                      static_cast<unsigned>(sData.size()));
        out += header;
        out += sName;
        out += '\0';
        out += sData;
    };
    for (const auto& entry : lEntries)
        add(entry.first.first, entry.first.second, entry.second);
    add("TRAILER!!!", 0, "");
    return out;
}

std::string xarFile(int id, const std::string& sName, const std::string& sData, std::size_t offset,
                    const std::string& sExtra)
{
    const std::string sSum = sha1Hex(sData);
    return "<file id=\"" + std::to_string(id) + "\"><data><length>" + std::to_string(sData.size()) +
           "</length><offset>" + std::to_string(offset + 20) + "</offset><size>" +
           std::to_string(sData.size()) +
           "</size><encoding style=\"application/octet-stream\"/>"
           "<archived-checksum style=\"sha1\">" +
           sSum + "</archived-checksum><extracted-checksum style=\"sha1\">" + sSum +
           "</extracted-checksum></data><type>file</type><name>" + sName + "</name>" + sExtra +
           "</file>";
}

std::string xar(const std::string& sFiles, const std::string& sHeap)
{
    const std::string sToc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><xar><toc>"
                             "<checksum style=\"sha1\"><offset>0</offset><size>20</size>"
                             "</checksum>" +
                             sFiles + "</toc></xar>";
    uLongf size = compressBound(static_cast<uLong>(sToc.size()));
    std::string compressed(size, '\0');
    compress(reinterpret_cast<Bytef*>(compressed.data()), &size,
             reinterpret_cast<const Bytef*>(sToc.data()), static_cast<uLong>(sToc.size()));
    compressed.resize(size);
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(compressed.data()), compressed.size(), digest);
    std::string header = "xar!";
    auto put = [&](unsigned long long value, int bytes)
    {
        for (int i = bytes - 1; i >= 0; --i)
            header += static_cast<char>((value >> (8 * i)) & 0xff);
    };
    put(28, 2);
    put(1, 2);
    put(compressed.size(), 8);
    put(sToc.size(), 8);
    put(1, 4);
    return header + compressed + std::string(reinterpret_cast<char*>(digest), sizeof digest) +
           sHeap;
}

} // namespace ToolTest
