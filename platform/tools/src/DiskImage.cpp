#include "DiskImage.h"

#include "ChildProcess.h"
#include "RegularFile.h"
#include "SafeTarget.h"
#include "SecureExtractor.h"
#include "ToolError.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <plist/plist.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace PlatformTools
{
namespace
{
const std::uint64_t kMaxPlistSize = 64u * 1024 * 1024;
// Attaching may write this many times the image's size, but never less than the floor (small
// images of mostly empty volumes are common) nor more than the ceiling.
const std::uint64_t kExpansionFactor = 100;
const std::uint64_t kExpansionFloor = 512ull * 1024 * 1024;
const std::uint64_t kExpansionCeiling = 64ull * 1024 * 1024 * 1024;
// 7-Zip gets this long for each pass over an image, and a short time to list a file system.
const int kExtractSeconds = 600;
const int kListSeconds = 60;
// File systems a partition may hold; anything else on a partition is not opened.
const char* const kFileSystems[] = {"FAT", "HFS", "APFS", "Iso", "Udf", "NTFS", "Ext"};

std::uint64_t saturatingAdd(std::uint64_t a, std::uint64_t b)
{
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

std::uint64_t saturatingMultiply(std::uint64_t a, std::uint64_t b)
{
    return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b;
}

std::string mebibytes(std::uint64_t bytes)
{
    return std::to_string(bytes / (1024 * 1024)) + " MiB";
}

// The type and the sum of the member sizes in `7z l -slt` output; false when it names no type.
bool parseListing(const std::string& sListing, std::string& sType, std::uint64_t& total)
{
    sType.clear();
    total = 0;
    bool bMembers = false;
    std::size_t start = 0;
    while (start < sListing.size())
    {
        std::size_t end = sListing.find('\n', start);
        if (end == std::string::npos)
            end = sListing.size();
        const std::string sLine = sListing.substr(start, end - start);
        start = end + 1;
        if (sLine.rfind("----------", 0) == 0)
            bMembers = true;
        else if (!bMembers && sType.empty() && sLine.rfind("Type = ", 0) == 0)
            sType = sLine.substr(7);
        else if (bMembers && sLine.rfind("Size = ", 0) == 0)
            total = saturatingAdd(total, std::strtoull(sLine.c_str() + 7, nullptr, 10));
    }
    return !sType.empty();
}

// Bytes that the regular files below a directory take.
std::uint64_t bytesBelow(const fs::path& directory)
{
    std::uint64_t total = 0;
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(directory, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored))
        if (it->is_regular_file(ignored) && !it->is_symlink(ignored))
            total = saturatingAdd(total, it->file_size(ignored));
    return total;
}

std::uint64_t bigEndian(const unsigned char* p, int bytes)
{
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = (value << 8) | p[i];
    return value;
}

bool readAt(int fd, std::uint64_t offset, void* pBuffer, std::size_t size)
{
    char* p = static_cast<char*>(pBuffer);
    while (size > 0)
    {
        const ssize_t n = ::pread(fd, p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<std::uint64_t>(n);
    }
    return true;
}

class CPlist
{
public:
    explicit CPlist(plist_t p) : m_p(p) {}
    ~CPlist()
    {
        if (m_p)
            plist_free(m_p);
    }
    CPlist(const CPlist&) = delete;
    CPlist& operator=(const CPlist&) = delete;
    plist_t get() const { return m_p; }

private:
    plist_t m_p;
};

struct SFormatName
{
    const char* format;
    const char* description;
};

// Chunk types of the "mish" block tables and the format each one marks.
SFormatName formatForChunk(std::uint32_t type)
{
    switch (type)
    {
    case 0x80000004:
        return {"UDCO", "UDIF read-only compressed (ADC)"};
    case 0x80000005:
        return {"UDZO", "UDIF read-only compressed (zlib)"};
    case 0x80000006:
        return {"UDBZ", "UDIF read-only compressed (bzip2)"};
    case 0x80000007:
        return {"ULFO", "UDIF read-only compressed (lzfse)"};
    case 0x80000008:
        return {"ULMO", "UDIF read-only compressed (lzma)"};
    default:
        return {nullptr, nullptr};
    }
}

// Moves the children of one directory into another (same file system).
void moveChildren(const fs::path& from, const fs::path& to)
{
    for (const fs::directory_entry& entry : fs::directory_iterator(from))
        fs::rename(entry.path(), to / entry.path().filename());
}
} // namespace

CDiskImage::CDiskImage(const std::string& sPath) : m_sPath(sPath)
{
    const int fd = CRegularFile::open(sPath);
    try
    {
        struct stat st;
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
            throw CToolError(sPath + " is not a file");
        m_fileSize = static_cast<std::uint64_t>(st.st_size);
        char start[8] = {};
        if (readAt(fd, 0, start, sizeof start) && std::memcmp(start, "encrcdsa", 8) == 0)
            throw CToolError(sPath + " is encrypted, which is not supported");
        unsigned char trailer[512];
        char iso[5];
        if (m_fileSize >= sizeof trailer && readAt(fd, m_fileSize - 512, trailer, sizeof trailer) &&
            std::memcmp(trailer, "koly", 4) == 0)
        {
            m_kind = Udif;
            readUdif(fd);
        }
        else if (m_fileSize > 32774 && readAt(fd, 32769, iso, sizeof iso) &&
                 std::memcmp(iso, "CD001", 5) == 0)
        {
            m_kind = Iso9660;
            m_sFormat = "UDTO";
            m_sDescription = "DVD/CD-R master for export";
            m_totalBytes = m_fileSize;
        }
        else
            throw CToolError(sPath + ": image not recognized");
    }
    catch (...)
    {
        ::close(fd);
        throw;
    }
    ::close(fd);
}

void CDiskImage::readUdif(int fd)
{
    unsigned char koly[512];
    if (!readAt(fd, m_fileSize - 512, koly, sizeof koly))
        throw CToolError(m_sPath + ": cannot read the image trailer");
    const std::uint64_t dataChecksumType = bigEndian(koly + 80, 4);
    const std::uint64_t xmlOffset = bigEndian(koly + 216, 8);
    const std::uint64_t xmlLength = bigEndian(koly + 224, 8);
    m_totalBytes = saturatingMultiply(bigEndian(koly + 492, 8), 512);
    m_bChecksummed = dataChecksumType != 0;
    if (xmlLength == 0 || xmlLength > kMaxPlistSize || xmlOffset > m_fileSize - 512 ||
        xmlLength > m_fileSize - 512 - xmlOffset)
        throw CToolError(m_sPath + ": the image's property list lies outside the file (damaged "
                                   "or truncated image)");
    std::string xml(xmlLength, '\0');
    if (!readAt(fd, xmlOffset, xml.data(), xml.size()))
        throw CToolError(m_sPath + ": cannot read the image's property list");
    plist_t raw = nullptr;
    plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &raw);
    CPlist root(raw);
    if (!root.get() || plist_get_node_type(root.get()) != PLIST_DICT)
        throw CToolError(m_sPath + ": the image's property list is damaged");
    plist_t resources = plist_dict_get_item(root.get(), "resource-fork");
    if (!resources || plist_get_node_type(resources) != PLIST_DICT)
        throw CToolError(m_sPath + ": the image's property list has no resource-fork");
    m_bLicense = plist_dict_get_item(resources, "LPic") != nullptr;
    m_sFormat = "UDRO";
    m_sDescription = "UDIF read-only";
    plist_t blkx = plist_dict_get_item(resources, "blkx");
    const uint32_t count =
        blkx && plist_get_node_type(blkx) == PLIST_ARRAY ? plist_array_get_size(blkx) : 0;
    m_bPartitioned = count > 1;
    std::uint64_t declared = 0;
    for (uint32_t i = 0; i < count; ++i)
    {
        plist_t data = plist_dict_get_item(plist_array_get_item(blkx, i), "Data");
        if (!data || plist_get_node_type(data) != PLIST_DATA)
            continue;
        char* bytes = nullptr;
        uint64_t length = 0;
        plist_get_data_val(data, &bytes, &length);
        const unsigned char* mish = reinterpret_cast<const unsigned char*>(bytes);
        if (length >= 204 && std::memcmp(mish, "mish", 4) == 0)
        {
            declared = saturatingAdd(declared, saturatingMultiply(bigEndian(mish + 16, 8), 512));
            const std::uint64_t chunks = bigEndian(mish + 200, 4);
            for (std::uint64_t c = 0; c < chunks && 204 + (c + 1) * 40 <= length; ++c)
            {
                const SFormatName name =
                    formatForChunk(static_cast<std::uint32_t>(bigEndian(mish + 204 + c * 40, 4)));
                if (name.format)
                {
                    m_bCompressed = true;
                    m_sFormat = name.format;
                    m_sDescription = name.description;
                }
            }
        }
        std::free(bytes);
    }
    // The trailer and the block tables may disagree; the larger claim is what 7-Zip may write.
    m_totalBytes = std::max(m_totalBytes, declared);
}

std::uint64_t CDiskImage::expansionLimit() const
{
    return std::min(kExpansionCeiling,
                    std::max(kExpansionFloor, saturatingMultiply(m_fileSize, kExpansionFactor)));
}

std::string CDiskImage::infoPlist() const
{
    plist_t root = plist_new_dict();
    plist_dict_set_item(root, "Format", plist_new_string(m_sFormat.c_str()));
    plist_dict_set_item(root, "Format Description", plist_new_string(m_sDescription.c_str()));
    plist_dict_set_item(root, "Checksum Type", plist_new_string(m_bChecksummed ? "CRC32" : "none"));
    plist_t properties = plist_new_dict();
    plist_dict_set_item(properties, "Checksummed", plist_new_bool(m_bChecksummed));
    plist_dict_set_item(properties, "Compressed", plist_new_bool(m_bCompressed));
    plist_dict_set_item(properties, "Encrypted", plist_new_bool(false));
    plist_dict_set_item(properties, "Kernel Compatible", plist_new_bool(true));
    plist_dict_set_item(properties, "Partitioned", plist_new_bool(m_bPartitioned));
    plist_dict_set_item(properties, "Software License Agreement", plist_new_bool(m_bLicense));
    plist_dict_set_item(root, "Properties", properties);
    plist_t sizes = plist_new_dict();
    plist_dict_set_item(sizes, "Total Bytes", plist_new_uint(m_totalBytes));
    plist_dict_set_item(sizes, "Compressed Bytes", plist_new_uint(m_fileSize));
    plist_dict_set_item(root, "Size Information", sizes);
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    std::string text(xml ? xml : "", xml ? length : 0);
    plist_to_xml_free(xml);
    plist_free(root);
    return text;
}

std::string CDiskImage::infoText() const
{
    auto yesNo = [](bool b) { return b ? std::string("true") : std::string("false"); };
    return "Format Description: " + m_sDescription + "\nFormat: " + m_sFormat +
           "\nProperties:\n\tChecksummed: " + yesNo(m_bChecksummed) +
           "\n\tCompressed: " + yesNo(m_bCompressed) + "\n\tEncrypted: false" +
           "\n\tPartitioned: " + yesNo(m_bPartitioned) +
           "\n\tSoftware License Agreement: " + yesNo(m_bLicense) +
           "\nSize Information:\n\tTotal Bytes: " + std::to_string(m_totalBytes) +
           "\n\tCompressed Bytes: " + std::to_string(m_fileSize) + "\n";
}

void CDiskImage::extractTo(const std::string& sDirectory) const
{
    if (m_kind == Iso9660)
    {
        const int fd = CRegularFile::open(m_sPath);
        try
        {
            CSecureExtractor::extract(fd, sDirectory, CSecureExtractor::Iso9660, nullptr,
                                      expansionLimit());
        }
        catch (...)
        {
            ::close(fd);
            throw;
        }
        ::close(fd);
        return;
    }
    extractUdif(sDirectory);
}

void CDiskImage::extractUdif(const std::string& sDirectory) const
{
    const std::uint64_t limit = expansionLimit();
    if (m_totalBytes > limit)
        throw CToolError(m_sPath + " declares " + mebibytes(m_totalBytes) +
                         " of partitions, more than the limit of " + mebibytes(limit) +
                         " for an image of its size");
    const std::string sSevenZip = CChildProcess::findProgram("7zz");
    if (sSevenZip.empty())
        throw CToolError("reading UDIF images needs 7-Zip (7zz), which is not installed");
    std::string sStaging = sDirectory + "/.tessary-attach-XXXXXX";
    if (!::mkdtemp(sStaging.data()))
        throw CToolError::fromErrno("cannot create a directory in " + sDirectory);
    std::error_code ignored;
    CChildProcess::SLimits extractLimits;
    extractLimits.seconds = kExtractSeconds;
    extractLimits.maxFileBytes = limit;
    try
    {
        const std::string sImage = fs::absolute(m_sPath).string();
        // First pass: the image's own layer only (-tdmg), so that every partition comes out
        // as one raw file and nothing inside a file system is opened yet. -sns-: no alternate
        // streams as extra files; 7-Zip itself strips ".." from names.
        const int rc = CChildProcess::run({sSevenZip, "x", "-tdmg", "-sns-", "-y", "-bso0", "-bsp0",
                                           "-o" + sStaging + "/image", "--", sImage},
                                          CChildProcess::DiscardStdout, extractLimits);
        if (rc > 1)
            throw CToolError("7-Zip cannot read the image (exit status " + std::to_string(rc) +
                             ")");
        // Second pass: each partition that holds a file system is extracted exactly once,
        // as that file system; a flat package on it is a file like any other and stays intact.
        std::vector<std::pair<std::string, fs::path>> volumes;
        const fs::path image = fs::path(sStaging) / "image";
        std::uint64_t written = 0;
        int probe = 0;
        for (const fs::directory_entry& entry : fs::directory_iterator(image))
        {
            if (!entry.is_regular_file(ignored) || entry.is_symlink(ignored))
                continue;
            std::string sListing;
            CChildProcess::SLimits listLimits;
            listLimits.seconds = kListSeconds;
            // About 250 bytes a member: room for a quarter of a million files.
            listLimits.maxCapture = 64u * 1024 * 1024;
            std::string sType;
            std::uint64_t members = 0;
            if (CChildProcess::run({sSevenZip, "l", "-slt", "-sns-", "--", entry.path().string()},
                                   CChildProcess::Capture, listLimits, &sListing) != 0 ||
                !parseListing(sListing, sType, members) ||
                std::find(std::begin(kFileSystems), std::end(kFileSystems), sType) ==
                    std::end(kFileSystems))
                continue;
            const std::string sPartition = entry.path().filename().string();
            if (saturatingAdd(written, members) > limit)
                throw CToolError(m_sPath + ": the file system on " + sPartition + " holds " +
                                 mebibytes(members) + " of files, more than the limit of " +
                                 mebibytes(limit) + " for an image of its size");
            const fs::path target = fs::path(sStaging) / ("volume-" + std::to_string(probe++));
            fs::create_directory(target);
            const int fsRc =
                CChildProcess::run({sSevenZip, "x", "-t" + sType, "-sns-", "-y", "-bso0", "-bsp0",
                                    "-o" + target.string(), "--", entry.path().string()},
                                   CChildProcess::DiscardStdout, extractLimits);
            // The raw partition is no longer needed; freeing it keeps the peak lower.
            fs::remove(entry.path(), ignored);
            if (fsRc > 1)
                throw CToolError("7-Zip cannot read the file system on " + sPartition +
                                 " (exit status " + std::to_string(fsRc) + ")");
            written = saturatingAdd(written, bytesBelow(target));
            if (written > limit)
                throw CToolError(m_sPath + ": the image's files take more than the limit of " +
                                 mebibytes(limit) + " for an image of its size");
            // HFS and APFS show their root as a folder named after the volume.
            fs::path root = target;
            if (sType == "HFS" || sType == "APFS")
            {
                std::vector<fs::directory_entry> top;
                for (const fs::directory_entry& child : fs::directory_iterator(target))
                    top.push_back(child);
                if (top.size() == 1 && top.front().is_directory(ignored) &&
                    !top.front().is_symlink(ignored))
                    root = top.front().path();
            }
            volumes.emplace_back(sPartition, root);
        }
        if (volumes.empty())
            throw CToolError("the image holds no file system that can be read");
        if (volumes.size() == 1)
            moveChildren(volumes.front().second, sDirectory);
        else
            for (const auto& volume : volumes)
                fs::rename(volume.second, fs::path(sDirectory) / volume.first);
        fs::remove_all(sStaging);
        // Links are kept only when they lead somewhere inside the mount point.
        for (auto it = fs::recursive_directory_iterator(sDirectory);
             it != fs::recursive_directory_iterator(); ++it)
            if (it->is_symlink())
            {
                const std::string sRelative = it->path().lexically_relative(sDirectory).string();
                if (!CSafeTarget::resolvesInside(sDirectory, sRelative))
                    throw CToolError("the image holds the link " + sRelative +
                                     " that points outside the mount point");
            }
    }
    catch (const fs::filesystem_error& error)
    {
        fs::remove_all(sStaging, ignored);
        throw CToolError(std::string("cannot arrange the image's files: ") + error.what());
    }
    catch (...)
    {
        fs::remove_all(sStaging, ignored);
        throw;
    }
}

} // namespace PlatformTools
