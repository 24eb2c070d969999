#pragma once

#include <filecask/StreamStore.h>
#include <filecask/filecask_export.h>

#include <boost/filesystem/path.hpp>

#include <memory>
#include <string>

namespace Preference
{
namespace detail
{
class FileCask_pimpl;
}

// A record store bound to one file. The file and its directory are created on
// the first TryLock with the permissions of the access rights. The lock is a
// FileLocker on a lock file beside it ("<file>.lock"), kept for the life of the
// store: Save replaces the file by renaming a new one over it, so the file's
// own identity changes with every save while the lock file's never does.
class FILECASK_EXPORT FileCask : public StreamStore
{
public:
    enum AccessRights
    {
        PrivateAccess = 0,   // directory 0700, file 0600
        SharedAccess = 1,    // directory 01777, file 0666: every user reads and writes
        PublicReadAccess = 2 // directory 0755, file 0644: the owner writes, everyone reads
    };

    // A relative path is taken against the current working directory.
    FileCask(AccessRights rights, const std::wstring& path);
    ~FileCask() override;

    std::wstring GetPreferenceFilePath() const;

    // Writes every record to a new file beside the old one and renames it over
    // it: whenever the process dies, the file holds the old or the new records.
    bool Save() override;
    bool TryLock(int timeoutMs) override;
    void UnLock() override;
    bool IsLocked() const override;
    // The file opened for binary reading; a file that cannot be opened shows as failed reads.
    boost::shared_ptr<IStreamWrapper> GetIStream() override;
    // The file opened for binary writing and truncated; failures show as failed writes.
    // Save does not use it, since a truncated file is lost if the writer dies.
    boost::shared_ptr<OStreamWrapper> GetOStream() override;

protected:
    // Replaces the file's whole content with bytes as Save does; false, with
    // the old file untouched, when they could not all be stored.
    bool ReplaceFile(const std::string& bytes);

private:
    std::unique_ptr<detail::FileCask_pimpl> m_pImpl;
};

// Creates the file (and missing directories) when absent and gives it the mode
// of the access rights. Its parent directory gets the directory mode when this
// call created it; an existing directory keeps its mode, since it may be shared
// with other files (a home or temporary directory). False on any failure.
FILECASK_EXPORT bool CreateFileAndSetPermissions(FileCask::AccessRights rights,
                                                 const boost::filesystem::path& path);
FILECASK_EXPORT bool CreateFileAndSetPermissions(FileCask::AccessRights rights,
                                                 const std::wstring& path);
// Also stores the path, as given to the filesystem, back into path.
FILECASK_EXPORT bool CreateFileAndSetPermissions(FileCask::AccessRights rights, std::wstring& path);

} // namespace Preference
