#include "SecureExtractor.h"

#include "DirectoryChange.h"
#include "SafeTarget.h"
#include "ToolError.h"

#include <archive.h>
#include <archive_entry.h>
#include <climits>
#include <cstdlib>
#include <ostream>
#include <unistd.h>
#include <vector>

namespace PlatformTools
{
namespace
{
std::string errorOf(archive* a)
{
    const char* text = archive_error_string(a);
    return text ? text : "the data is truncated or damaged";
}

struct SArchiveReader
{
    archive* p;
    SArchiveReader(int fd, CSecureExtractor::Format format) : p(archive_read_new())
    {
        archive_read_support_filter_all(p);
        if (format == CSecureExtractor::Cpio)
            archive_read_support_format_cpio(p);
        else
            archive_read_support_format_iso9660(p);
        if (archive_read_open_fd(p, fd, 65536) != ARCHIVE_OK)
        {
            const std::string sError = errorOf(p);
            archive_read_free(p);
            throw CToolError("cannot read the archive: " + sError);
        }
    }
    ~SArchiveReader() { archive_read_free(p); }
    SArchiveReader(const SArchiveReader&) = delete;
    SArchiveReader& operator=(const SArchiveReader&) = delete;
};
} // namespace

void CSecureExtractor::extract(int inputFd, const std::string& sDirectory, Format format,
                               std::ostream* pVerbose, std::uint64_t maxBytes)
{
    std::uint64_t written = 0;
    SArchiveReader reader(inputFd, format);
    char resolved[PATH_MAX];
    if (!::realpath(sDirectory.c_str(), resolved))
        throw CToolError::fromErrno("cannot use the directory " + sDirectory);
    const std::string sRoot = resolved;
    CDirectoryChange change(sRoot);
    archive* disk = archive_write_disk_new();
    archive_write_disk_set_options(
        disk, ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                  ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS);
    std::string sFirstError;
    std::vector<std::string> links;
    auto refuse = [&](const std::string& sMessage)
    {
        if (sFirstError.empty())
            sFirstError = sMessage;
        if (pVerbose)
            *pVerbose << sMessage << '\n';
    };
    try
    {
        for (;;)
        {
            archive_entry* entry = nullptr;
            const int rc = archive_read_next_header(reader.p, &entry);
            if (rc == ARCHIVE_EOF)
                break;
            if (rc < ARCHIVE_WARN)
                throw CToolError("damaged archive: " + errorOf(reader.p));
            const char* rawName = archive_entry_pathname(entry);
            const std::string sRaw = rawName ? rawName : "";
            std::string sName;
            try
            {
                sName = CSafeTarget::normalizeMemberName(sRaw);
                const char* hardlink = archive_entry_hardlink(entry);
                if (hardlink)
                    CSafeTarget::normalizeMemberName(hardlink);
                const char* symlink = archive_entry_symlink(entry);
                if (archive_entry_filetype(entry) == AE_IFLNK &&
                    !CSafeTarget::linkTargetStaysInside(sName, symlink ? symlink : ""))
                    throw CToolError("refusing the symbolic link " + sRaw + " -> " +
                                     (symlink ? symlink : "") +
                                     " that points outside the destination");
            }
            catch (const CToolError& error)
            {
                refuse(error.what());
                continue;
            }
            if (pVerbose)
                *pVerbose << sRaw << '\n';
            if (archive_write_header(disk, entry) < ARCHIVE_WARN)
            {
                refuse(sRaw + ": " + errorOf(disk));
                continue;
            }
            if (archive_entry_filetype(entry) == AE_IFLNK)
                links.push_back(sName);
            const void* block;
            size_t size;
            la_int64_t offset;
            int dataRc;
            while ((dataRc = archive_read_data_block(reader.p, &block, &size, &offset)) ==
                   ARCHIVE_OK)
            {
                // Holes count too: a sparse member must not claim the disk either.
                const std::uint64_t end = static_cast<std::uint64_t>(offset) + size;
                written += size;
                if (written > maxBytes || end > maxBytes)
                    throw CToolError("the archive's members hold more than the limit of " +
                                     std::to_string(maxBytes) + " bytes (at " + sRaw + ")");
                if (archive_write_data_block(disk, block, size, offset) < ARCHIVE_WARN)
                {
                    refuse(sRaw + ": " + errorOf(disk));
                    break;
                }
            }
            if (dataRc < ARCHIVE_WARN)
                throw CToolError("damaged archive at " + sRaw + ": " + errorOf(reader.p));
            if (archive_write_finish_entry(disk) < ARCHIVE_WARN)
                refuse(sRaw + ": " + errorOf(disk));
        }
        if (archive_write_close(disk) < ARCHIVE_WARN)
            refuse(errorOf(disk));
    }
    catch (...)
    {
        archive_write_free(disk);
        throw;
    }
    archive_write_free(disk);
    for (const std::string& sLink : links)
        if (!CSafeTarget::resolvesInside(sRoot, sLink))
        {
            ::unlink((sRoot + "/" + sLink).c_str());
            refuse("refusing the symbolic link " + sLink +
                   " that resolves outside the destination");
        }
    if (!sFirstError.empty())
        throw CToolError(sFirstError);
}

} // namespace PlatformTools
