#include "FlatPackage.h"

#include "CpioArchive.h"
#include "SafeTarget.h"
#include "ToolError.h"
#include "XarReader.h"
#include "XarWriter.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace PlatformTools
{
namespace
{
// A "Scripts" archive holds a few small files; expanding one may write at most this much, so
// that a small package cannot fill the disk.
const std::uint64_t kMaxScriptsBytes = 256ull * 1024 * 1024;

std::string leafOf(const std::string& sPath)
{
    const std::size_t slash = sPath.rfind('/');
    return slash == std::string::npos ? sPath : sPath.substr(slash + 1);
}

// gzip, or one of the cpio magics (odc, newc, crc, binary in either byte order).
bool looksLikeCpio(const unsigned char* p, std::size_t n)
{
    if (n >= 2 && p[0] == 0x1f && p[1] == 0x8b)
        return true;
    if (n >= 6 && std::memcmp(p, "0707", 4) == 0 &&
        (std::memcmp(p + 4, "07", 2) == 0 || std::memcmp(p + 4, "01", 2) == 0 ||
         std::memcmp(p + 4, "02", 2) == 0))
        return true;
    return n >= 2 && ((p[0] == 0xc7 && p[1] == 0x71) || (p[0] == 0x71 && p[1] == 0xc7));
}

// Writes everything or throws; a short write means the disk is full.
void writeAll(int fd, const char* p, std::size_t n, const std::string& sWhat)
{
    while (n > 0)
    {
        const ssize_t written = ::write(fd, p, n);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
        {
            if (written == 0)
                errno = ENOSPC;
            throw CToolError::fromErrno("cannot write " + sWhat);
        }
        p += written;
        n -= static_cast<std::size_t>(written);
    }
}

std::string temporaryDirectory()
{
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

// Temporary files removed when the flattening ends, however it ends.
class CTemporaryFiles
{
public:
    CTemporaryFiles() = default;
    ~CTemporaryFiles()
    {
        for (const std::string& sPath : m_lPaths)
            ::unlink(sPath.c_str());
    }
    CTemporaryFiles(const CTemporaryFiles&) = delete;
    CTemporaryFiles& operator=(const CTemporaryFiles&) = delete;
    int create(std::string& sPath)
    {
        sPath = temporaryDirectory() + "/tessary-pkgutil-XXXXXX";
        const int fd = ::mkstemp(sPath.data());
        if (fd < 0)
            throw CToolError::fromErrno("cannot create a temporary file in " +
                                        temporaryDirectory());
        m_lPaths.push_back(sPath);
        return fd;
    }

private:
    std::vector<std::string> m_lPaths;
};

void expandScripts(const CXarReader& reader, const CXarReader::Entry& entry, CSafeTarget& target,
                   const std::string& sName)
{
    std::FILE* pTemporary = std::tmpfile();
    if (!pTemporary)
        throw CToolError::fromErrno("cannot create a temporary file");
    try
    {
        std::uint64_t read = 0;
        reader.readData(entry,
                        [&](const char* p, std::size_t n)
                        {
                            read += n;
                            if (read > kMaxScriptsBytes)
                                throw CToolError(sName + " expands beyond the limit of " +
                                                 std::to_string(kMaxScriptsBytes) + " bytes");
                            if (std::fwrite(p, 1, n, pTemporary) != n)
                                throw CToolError::fromErrno("cannot write a temporary file");
                        });
        unsigned char magic[6] = {};
        std::rewind(pTemporary);
        const std::size_t n = std::fread(magic, 1, sizeof magic, pTemporary);
        if (std::fflush(pTemporary) != 0 || !looksLikeCpio(magic, n))
        {
            // Not an archive: it stays a file, as Apple's tool leaves it.
            std::rewind(pTemporary);
            const int fd = target.createFile(sName, entry.mode >= 0 ? entry.mode : 0644);
            char buffer[65536];
            std::size_t got;
            try
            {
                while ((got = std::fread(buffer, 1, sizeof buffer, pTemporary)) > 0)
                    writeAll(fd, buffer, got, sName);
            }
            catch (...)
            {
                ::close(fd);
                throw;
            }
            if (::close(fd) != 0)
                throw CToolError::fromErrno("cannot write " + sName);
        }
        else
        {
            target.makeDirectory(sName, 0755);
            if (::lseek(fileno(pTemporary), 0, SEEK_SET) != 0)
                throw CToolError::fromErrno("cannot read a temporary file");
            try
            {
                CCpioArchive::extract(fileno(pTemporary), target.root() + "/" + sName, nullptr,
                                      kMaxScriptsBytes);
            }
            catch (const CToolError& error)
            {
                throw CToolError(sName + ": " + error.what());
            }
        }
    }
    catch (...)
    {
        std::fclose(pTemporary);
        throw;
    }
    std::fclose(pTemporary);
}

void addExpandedTree(CXarWriter& writer, CTemporaryFiles& temporaries, const std::string& sDisk,
                     const std::string& sMember)
{
    DIR* dir = ::opendir(sDisk.c_str());
    if (!dir)
        throw CToolError::fromErrno("cannot list " + sDisk);
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.push_back(entry->d_name);
    ::closedir(dir);
    for (const std::string& sName : names)
    {
        const std::string sPath = sDisk + "/" + sName;
        const std::string sChild = sMember.empty() ? sName : sMember + "/" + sName;
        struct stat st;
        if (::lstat(sPath.c_str(), &st) != 0)
            throw CToolError::fromErrno("cannot add " + sPath);
        if (S_ISDIR(st.st_mode) && sName == "Scripts")
        {
            std::string sArchive;
            const int fd = temporaries.create(sArchive);
            try
            {
                CCpioArchive::create(sPath, CCpioArchive::treeMembers(sPath), fd, true, nullptr);
            }
            catch (...)
            {
                ::close(fd);
                throw;
            }
            ::fchmod(fd, 0644);
            if (::close(fd) != 0)
                throw CToolError::fromErrno("cannot write a temporary file");
            writer.addFile(sChild, sArchive, false);
        }
        else if (S_ISDIR(st.st_mode))
        {
            writer.addDirectory(sChild, st.st_mode, st.st_mtime);
            addExpandedTree(writer, temporaries, sPath, sChild);
        }
        else if (S_ISREG(st.st_mode))
            // Apple stores the already compressed Scripts and Payload as they are.
            writer.addFile(sChild, sPath, sName != "Payload" && sName != "Scripts");
        else
            writer.addTree(sChild, sPath);
    }
}
} // namespace

void CFlatPackage::expand(const std::string& sPackage, const std::string& sDirectory)
{
    struct stat st;
    if (::lstat(sDirectory.c_str(), &st) == 0)
        throw CToolError(sDirectory + " already exists");
    CXarReader reader(sPackage);
    if (::mkdir(sDirectory.c_str(), 0755) != 0)
        throw CToolError::fromErrno("cannot create " + sDirectory);
    try
    {
        CSafeTarget target(sDirectory);
        for (const CXarReader::Entry& entry : reader.entries())
        {
            const std::string sName = CSafeTarget::normalizeMemberName(entry.sPath);
            if (sName.empty())
                continue;
            const mode_t mode = static_cast<mode_t>(entry.mode);
            switch (entry.type)
            {
            case CXarReader::Entry::Directory:
                target.makeDirectory(sName, entry.mode >= 0 ? mode : 0755, entry.mtime);
                break;
            case CXarReader::Entry::File:
                if (leafOf(sName) == "Scripts")
                {
                    expandScripts(reader, entry, target, sName);
                    break;
                }
                {
                    const int fd = target.createFile(sName, entry.mode >= 0 ? mode : 0644);
                    try
                    {
                        reader.readData(entry, [&](const char* p, std::size_t n)
                                        { writeAll(fd, p, n, sName); });
                    }
                    catch (...)
                    {
                        ::close(fd);
                        throw;
                    }
                    if (::close(fd) != 0)
                        throw CToolError::fromErrno("cannot write " + sName);
                }
                break;
            case CXarReader::Entry::Symlink:
                target.makeSymlink(sName, entry.sLinkTarget);
                break;
            case CXarReader::Entry::Hardlink:
                target.makeHardlink(sName, entry.sLinkTarget);
                break;
            case CXarReader::Entry::Fifo:
                target.makeFifo(sName, entry.mode >= 0 ? mode : 0644);
                break;
            case CXarReader::Entry::Other:
                throw CToolError(entry.sPath + " has the unsupported type \"" + entry.sTypeName +
                                 "\"");
            }
        }
        target.finish();
    }
    catch (...)
    {
        std::error_code ignored;
        std::filesystem::remove_all(sDirectory, ignored);
        throw;
    }
}

void CFlatPackage::flatten(const std::string& sDirectory, const std::string& sPackage,
                           std::shared_ptr<const CXarTocSigner> pSigner)
{
    struct stat st;
    if (::stat(sDirectory.c_str(), &st) != 0)
        throw CToolError::fromErrno("cannot read " + sDirectory);
    if (!S_ISDIR(st.st_mode))
        throw CToolError(sDirectory + " is not a directory");
    if (::lstat(sPackage.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        throw CToolError(sPackage + " already exists and is not a file");
    CTemporaryFiles temporaries;
    CXarWriter writer;
    addExpandedTree(writer, temporaries, sDirectory, std::string());
    writer.setSigner(std::move(pSigner));
    writer.write(sPackage);
}

} // namespace PlatformTools
