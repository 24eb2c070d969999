// Opens arbitrary bytes as a xar archive the way the xar and pkgutil stand-ins
// do, lists the members, checks their names as extraction would, and reads
// every member's data in memory, then checks the archive's signature. Any crash, sanitizer report,
// leak or hang is a finding; a CToolError is the expected outcome for most inputs.
//
// An input that starts with "xar!" is used as the archive unchanged, so the
// header and the heap are explored as they are. Any other input is taken as a
// table of contents (up to the first NUL byte) followed by the heap; the
// harness compresses it and puts its SHA-1 checksum at heap offset 0, so the
// search reaches the table-of-contents reader and the member data instead of
// stopping at zlib and the checksum.

#include "platform/tools/src/Digest.h"
#include "platform/tools/src/SafeTarget.h"
#include "platform/tools/src/ToolError.h"
#include "platform/tools/src/XarReader.h"
#include "platform/tools/src/XarSignature.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

using namespace PlatformTools;

namespace
{
// Every archive is written into one memory-backed file, reached by a path through
// /proc; where that is missing, into one file in a directory of this process's own,
// removed when the run ends. A crash then leaves nothing behind but that directory.
int g_iMemoryFd = -1;
std::string g_sDirectory;
std::string g_sArchive;

[[noreturn]] void finding(const char* what)
{
    std::fprintf(stderr, "XarReaderFuzz: %s\n", what);
    std::abort();
}

void removeScratch()
{
    if (!g_sArchive.empty())
        ::unlink(g_sArchive.c_str());
    if (!g_sDirectory.empty())
        ::rmdir(g_sDirectory.c_str());
}

void appendBigEndian(std::string& out, std::uint64_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A well-formed header, zlib-compressed table of contents and checksum around
// the fuzzer's table of contents and heap.
std::string buildArchive(const char* data, std::size_t size)
{
    const void* nul = std::memchr(data, '\0', size);
    const std::size_t tocSize =
        nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - data) : size;
    uLongf compressedSize = compressBound(static_cast<uLong>(tocSize));
    std::string compressed(compressedSize, '\0');
    if (compress2(reinterpret_cast<Bytef*>(compressed.data()), &compressedSize,
                  reinterpret_cast<const Bytef*>(data), static_cast<uLong>(tocSize),
                  Z_BEST_SPEED) != Z_OK)
        finding("zlib could not compress the table of contents");
    compressed.resize(compressedSize);

    std::string archive("xar!");
    appendBigEndian(archive, 28, 2); // header size
    appendBigEndian(archive, 1, 2);  // version
    appendBigEndian(archive, compressed.size(), 8);
    appendBigEndian(archive, tocSize, 8);
    appendBigEndian(archive, 1, 4); // SHA-1
    archive += compressed;
    CDigest digest("sha1");
    digest.update(compressed.data(), compressed.size());
    const std::vector<unsigned char> checksum = digest.finish();
    archive.append(checksum.begin(), checksum.end());
    if (nul)
        archive.append(data + tocSize + 1, size - tocSize - 1);
    return archive;
}

void writeArchive(const std::string& archive)
{
    int fd = g_iMemoryFd;
    if (fd >= 0)
    {
        if (::ftruncate(fd, 0) != 0)
            finding("cannot empty the memory file");
    }
    else
        fd = ::open(g_sArchive.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        finding("cannot write the archive into the scratch directory");
    const char* p = archive.data();
    std::size_t left = archive.size();
    off_t offset = 0;
    while (left > 0)
    {
        const ssize_t n = ::pwrite(fd, p, left, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            finding("cannot write the archive");
        p += n;
        offset += n;
        left -= static_cast<std::size_t>(n);
    }
    if (fd != g_iMemoryFd)
        ::close(fd);
}

void readMembers(const CXarReader& reader)
{
    for (const CXarReader::Entry& entry : reader.entries())
    {
        try
        {
            const std::string sName = CSafeTarget::normalizeMemberName(entry.sPath);
            if (entry.type == CXarReader::Entry::Symlink)
                CSafeTarget::linkTargetStaysInside(sName, entry.sLinkTarget);
        }
        catch (const CToolError&)
        {
            // Names that would leave the directory are refused; that is the point.
        }
        if (!entry.bHasData)
            continue;
        std::uint64_t received = 0;
        try
        {
            reader.readData(entry, [&](const char*, std::size_t n) { received += n; });
        }
        catch (const CToolError& error)
        {
            if (!*error.what())
                finding("a refused member must say why");
            continue;
        }
        if (received != entry.size)
            finding("a member read completely holds another size than declared");
    }
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    g_iMemoryFd = ::memfd_create("xar-fuzz-input", MFD_CLOEXEC);
    if (g_iMemoryFd >= 0)
    {
        g_sArchive = "/proc/self/fd/" + std::to_string(g_iMemoryFd);
        if (::access(g_sArchive.c_str(), R_OK) == 0)
            return 0;
        ::close(g_iMemoryFd);
        g_iMemoryFd = -1;
    }
    const char* base = std::getenv("TMPDIR");
    std::string sTemplate = std::string(base && *base ? base : "/tmp") + "/tessary-xarfuzz-XXXXXX";
    if (!::mkdtemp(sTemplate.data()))
        finding("cannot make a scratch directory");
    g_sDirectory = sTemplate;
    g_sArchive = g_sDirectory + "/input.xar";
    std::atexit(removeScratch);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* bytes = reinterpret_cast<const char*>(data);
    const bool bRaw = size >= 4 && std::memcmp(bytes, "xar!", 4) == 0;
    writeArchive(bRaw ? std::string(bytes, size) : buildArchive(bytes, size));
    try
    {
        CXarReader reader(g_sArchive);
        readMembers(reader);
        // The signature check parses the signature elements and the certificates in them.
        const CXarSignature::SVerification verification =
            CXarSignature::verify(g_sArchive, 1700000000);
        if ((verification.status == CXarSignature::Invalid ||
             verification.status == CXarSignature::Damaged) &&
            verification.sProblem.empty())
            finding("a refused signature must say why");
    }
    catch (const CToolError& error)
    {
        if (!*error.what())
            finding("a refused archive must say why");
    }
    return 0;
}
