#include "CpioArchive.h"

#include <utils/SourceDate.h>

#include "DirectoryChange.h"
#include "SafeTarget.h"
#include "SecureExtractor.h"
#include "ToolError.h"

#include <algorithm>
#include <archive.h>
#include <archive_entry.h>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>

namespace PlatformTools
{
namespace
{
struct SArchiveReader
{
    archive* p;
    explicit SArchiveReader(int fd) : p(archive_read_new())
    {
        archive_read_support_filter_all(p);
        archive_read_support_format_cpio(p);
        if (archive_read_open_fd(p, fd, 65536) != ARCHIVE_OK)
        {
            const std::string sError = archive_error_string(p) ? archive_error_string(p) : "";
            archive_read_free(p);
            throw CToolError("cannot read the archive: " + sError);
        }
    }
    ~SArchiveReader() { archive_read_free(p); }
    SArchiveReader(const SArchiveReader&) = delete;
    SArchiveReader& operator=(const SArchiveReader&) = delete;
};

std::string errorOf(archive* a)
{
    const char* text = archive_error_string(a);
    return text ? text : "the data is truncated or damaged";
}

void collectTree(const std::string& sDisk, const std::string& sMember,
                 std::vector<std::string>& lMembers)
{
    DIR* dir = ::opendir(sDisk.c_str());
    if (!dir)
        throw CToolError::fromErrno("cannot list " + sDisk);
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir))
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.push_back(entry->d_name);
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& sName : names)
    {
        const std::string sPath = sDisk + "/" + sName;
        lMembers.push_back(sMember + "/" + sName);
        struct stat st;
        if (::lstat(sPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            collectTree(sPath, sMember + "/" + sName, lMembers);
    }
}
} // namespace

void CCpioArchive::extract(int inputFd, const std::string& sDirectory, std::ostream* pVerbose,
                           std::uint64_t maxBytes)
{
    CSecureExtractor::extract(inputFd, sDirectory, CSecureExtractor::Cpio, pVerbose, maxBytes);
}

std::vector<std::string> CCpioArchive::list(int inputFd)
{
    SArchiveReader reader(inputFd);
    std::vector<std::string> names;
    for (;;)
    {
        archive_entry* entry = nullptr;
        const int rc = archive_read_next_header(reader.p, &entry);
        if (rc == ARCHIVE_EOF)
            break;
        if (rc < ARCHIVE_WARN)
            throw CToolError("damaged archive: " + errorOf(reader.p));
        const char* name = archive_entry_pathname(entry);
        names.push_back(name ? name : "");
        if (archive_read_data_skip(reader.p) < ARCHIVE_WARN)
            throw CToolError("damaged archive: " + errorOf(reader.p));
    }
    return names;
}

void CCpioArchive::create(const std::string& sBaseDirectory,
                          const std::vector<std::string>& lMembers, int outputFd, bool bGzip,
                          std::ostream* pVerbose)
{
    CDirectoryChange change(sBaseDirectory);
    archive* out = archive_write_new();
    archive* disk = archive_read_disk_new();
    archive_read_disk_set_symlink_physical(disk);
    archive_read_disk_set_standard_lookup(disk);
    archive_write_set_format_cpio_odc(out);
    // With a source date the archive records no clock, device or inode number: the
    // same files give the same bytes on every run and machine.
    const bool reproducible = orbilib::utils::sourceDateEpoch().has_value();
    if (bGzip)
    {
        archive_write_add_filter_gzip(out);
        if (reproducible)
            archive_write_set_filter_option(out, "gzip", "timestamp", nullptr);
    }
    la_int64_t nextInode = 1;
    archive_write_set_bytes_in_last_block(out, 1);
    try
    {
        if (archive_write_open_fd(out, outputFd) != ARCHIVE_OK)
            throw CToolError("cannot write the archive: " + errorOf(out));
        for (const std::string& sMember : lMembers)
        {
            archive_entry* entry = archive_entry_new();
            archive_entry_copy_pathname(entry, sMember.c_str());
            if (archive_read_disk_entry_from_file(disk, entry, -1, nullptr) != ARCHIVE_OK)
            {
                const std::string sError = errorOf(disk);
                archive_entry_free(entry);
                throw CToolError("cannot add " + sMember + ": " + sError);
            }
            if (reproducible)
            {
                archive_entry_set_mtime(
                    entry, orbilib::utils::clampedToSourceDate(archive_entry_mtime(entry)), 0);
                archive_entry_set_dev(entry, 0);
                archive_entry_set_ino64(entry, nextInode++);
            }
            if (pVerbose)
                *pVerbose << sMember << '\n';
            int fd = -1;
            if (archive_entry_filetype(entry) == AE_IFREG)
            {
                fd = ::open(sMember.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
                if (fd < 0)
                {
                    archive_entry_free(entry);
                    throw CToolError::fromErrno("cannot open " + sMember);
                }
            }
            if (archive_write_header(out, entry) < ARCHIVE_WARN)
            {
                const std::string sError = errorOf(out);
                archive_entry_free(entry);
                if (fd >= 0)
                    ::close(fd);
                throw CToolError("cannot add " + sMember + ": " + sError);
            }
            archive_entry_free(entry);
            if (fd >= 0)
            {
                char buffer[65536];
                ssize_t n;
                while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
                    if (archive_write_data(out, buffer, static_cast<size_t>(n)) < 0)
                    {
                        ::close(fd);
                        throw CToolError("cannot write the archive: " + errorOf(out));
                    }
                ::close(fd);
                if (n < 0)
                    throw CToolError::fromErrno("cannot read " + sMember);
            }
        }
        if (archive_write_close(out) != ARCHIVE_OK)
            throw CToolError("cannot write the archive: " + errorOf(out));
    }
    catch (...)
    {
        archive_read_free(disk);
        archive_write_free(out);
        throw;
    }
    archive_read_free(disk);
    archive_write_free(out);
}

std::vector<std::string> CCpioArchive::treeMembers(const std::string& sDirectory)
{
    std::vector<std::string> members{"."};
    collectTree(sDirectory, ".", members);
    return members;
}

} // namespace PlatformTools
