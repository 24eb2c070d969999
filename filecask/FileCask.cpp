#include <filecask/FileCask.h>

#include <filecask/StdIStreamWrapper.h>
#include <filecask/StdOStreamWrapper.h>

#include "detail/FileCask_pimpl.h"
#include "preference/detail/Utf8.h"

#include <utils/OwnLink.h>

#include <boost/filesystem/operations.hpp>
#include <boost/make_shared.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace Preference
{
namespace
{
bool ModesFor(FileCask::AccessRights rights, mode_t& directoryMode, mode_t& fileMode)
{
    switch (rights)
    {
    case FileCask::PrivateAccess:
        directoryMode = 0700;
        fileMode = 0600;
        return true;
    case FileCask::SharedAccess:
        // World-writable on purpose: these rights exist for a store that every
        // user of the computer changes. The sticky directory keeps users from
        // removing each other's files, and links planted there are not followed.
        directoryMode = 01777;
        fileMode = 0666;
        return true;
    case FileCask::PublicReadAccess:
        directoryMode = 0755;
        fileMode = 0644;
        return true;
    }
    directoryMode = 0;
    fileMode = 0;
    return false;
}

boost::filesystem::path PathFromWide(const std::wstring& path)
{
    return boost::filesystem::path(detail::ToUtf8(path));
}

// Opens (creating when missing) a regular file without following a link
// planted at its path; -1 for anything else.
int OpenRegularFile(const std::string& path, int flags, mode_t mode)
{
    int file;
    do
        file = ::open(path.c_str(), flags | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, mode);
    while (file == -1 && errno == EINTR);
    if (file == -1)
        return -1;
    struct stat status;
    if (::fstat(file, &status) != 0 || !S_ISREG(status.st_mode))
    {
        ::close(file);
        errno = EINVAL;
        return -1;
    }
    return file;
}

bool WriteAll(int file, const char* data, std::size_t size)
{
    while (size > 0)
    {
        const ssize_t written = ::write(file, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// The new content of "name" is first written to ".name.<pid>.tmp"; a writer
// killed before its rename leaves such a file behind, removed here once its
// process is gone. Called under the store's lock, so no live writer of this
// file is using one of another process.
void RemoveStaleTemporaries(const std::string& directory, const std::string& name)
{
    const std::string prefix = "." + name + ".";
    DIR* dir = ::opendir(directory.c_str());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir))
    {
        const std::string found = entry->d_name;
        if (found.size() < prefix.size() + 5 || found.compare(0, prefix.size(), prefix) != 0 ||
            found.compare(found.size() - 4, 4, ".tmp") != 0)
            continue;
        char* end = nullptr;
        const long pid = std::strtol(found.c_str() + prefix.size(), &end, 10);
        if (pid > 0 && end && std::string(end) == ".tmp" && pid != ::getpid() &&
            ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            ::unlink((directory + "/" + found).c_str());
    }
    ::closedir(dir);
}

bool RewriteInPlace(const std::string& path, const std::string& bytes)
{
    const int file = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (file == -1)
        return false;
    struct stat status;
    bool stored = ::fstat(file, &status) == 0 && S_ISREG(status.st_mode) &&
                  WriteAll(file, bytes.data(), bytes.size()) &&
                  ::ftruncate(file, static_cast<off_t>(bytes.size())) == 0 && ::fsync(file) == 0;
    stored = ::close(file) == 0 && stored;
    return stored;
}

boost::filesystem::path LockPathOf(const boost::filesystem::path& path)
{
    return path.string() + ".lock";
}
} // namespace

bool CreateFileAndSetPermissions(FileCask::AccessRights rights, const boost::filesystem::path& path)
{
    namespace fs = boost::filesystem;
    boost::system::error_code ec;
    const fs::path parent = path.parent_path();
    bool createdParent = false;
    if (!fs::exists(path, ec))
    {
        if (!parent.empty() && !fs::exists(parent, ec))
        {
            if (!fs::create_directories(parent, ec) || ec)
                return false;
            createdParent = true;
        }
    }
    mode_t directoryMode;
    mode_t fileMode;
    ModesFor(rights, directoryMode, fileMode);
    if (createdParent && chmod(parent.string().c_str(), directoryMode) != 0)
        return false;
    // A link planted at the path (in a shared directory) is neither followed
    // nor given our mode.
    const int file = OpenRegularFile(path.string(), O_RDONLY, 0600);
    if (file == -1)
        return false;
    const bool changed = ::fchmod(file, fileMode) == 0;
    ::close(file);
    return changed;
}

bool CreateFileAndSetPermissions(FileCask::AccessRights rights, const std::wstring& path)
{
    return CreateFileAndSetPermissions(rights, PathFromWide(path));
}

bool CreateFileAndSetPermissions(FileCask::AccessRights rights, std::wstring& path)
{
    const boost::filesystem::path native = PathFromWide(path);
    path = detail::FromUtf8(native.string());
    return CreateFileAndSetPermissions(rights, native);
}

bool detail::FileCask_pimpl::Target(std::string& target) const
{
    if (!m_sTarget.empty())
    {
        target = m_sTarget;
        return true;
    }
    std::string problem;
    if (orbilib::utils::followOwnLinks(m_sPath.string(), target, problem))
        return true;
    std::fprintf(stderr, "FileCask: %s\n", problem.c_str());
    return false;
}

FileCask::FileCask(AccessRights rights, const std::wstring& path)
    : m_pImpl(new detail::FileCask_pimpl)
{
    m_pImpl->m_lAccessRights = rights;
    boost::filesystem::path native = PathFromWide(path);
    if (!native.has_root_directory())
        native = boost::filesystem::absolute(native);
    m_pImpl->m_sPath = native;
}

FileCask::~FileCask() = default;

std::wstring FileCask::GetPreferenceFilePath() const
{
    return detail::FromUtf8(m_pImpl->m_sPath.string());
}

bool FileCask::TryLock(int timeoutMs)
{
    if (!m_pImpl->m_pLocker)
    {
        // A link of the user's own is followed: the file it names is the
        // store, and its lock is the lock of every name for it.
        std::string target;
        if (!m_pImpl->Target(target))
            return false;
        const boost::filesystem::path file(target);
        boost::system::error_code ec;
        if (!boost::filesystem::exists(file, ec) &&
            !CreateFileAndSetPermissions(m_pImpl->m_lAccessRights, file))
            return false;
        // The lock file is only ever looked up (its identity is the lock's
        // key), never written, so nobody needs write access to it.
        mode_t directoryMode;
        mode_t fileMode;
        ModesFor(m_pImpl->m_lAccessRights, directoryMode, fileMode);
        const boost::filesystem::path lockPath = LockPathOf(file);
        const int lockFile = OpenRegularFile(lockPath.string(), O_RDONLY, fileMode & 0644);
        if (lockFile == -1 && errno != EACCES && errno != EROFS)
            return false;
        // A reader who may not create the lock file in the owner's folder (a
        // store made before lock files existed) locks on the file itself;
        // saves replace the file whole, so it still reads old or new content.
        const boost::filesystem::path& keyPath = lockFile == -1 ? file : lockPath;
        if (lockFile != -1)
            ::close(lockFile);
        m_pImpl->m_pLocker = boost::make_shared<FileLocker>(detail::FromUtf8(keyPath.string()));
        m_pImpl->m_sTarget = target;
    }
    return m_pImpl->m_pLocker->TryLock(timeoutMs);
}

void FileCask::UnLock()
{
    if (m_pImpl->m_pLocker)
        m_pImpl->m_pLocker->Unlock();
}

bool FileCask::IsLocked() const
{
    return m_pImpl->m_pLocker && m_pImpl->m_pLocker->IsLocked();
}

boost::shared_ptr<IStreamWrapper> FileCask::GetIStream()
{
    // Read through a descriptor that refuses a link planted at the path, so
    // that another file is never taken for the store.
    auto content = boost::make_shared<std::istringstream>();
    std::string target;
    int file = -1;
    if (m_pImpl->Target(target))
    {
        do
            file = ::open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        while (file == -1 && errno == EINTR);
    }
    struct stat status;
    if (file == -1 || ::fstat(file, &status) != 0 || !S_ISREG(status.st_mode))
    {
        if (file != -1)
            ::close(file);
        content->setstate(std::ios::failbit);
        return boost::make_shared<StdIStreamWrapper>(
            boost::shared_ptr<std::istream>(content, content.get()));
    }
    std::string bytes;
    char buffer[65536];
    for (;;)
    {
        const ssize_t n = ::read(file, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            content->setstate(std::ios::badbit);
        if (n <= 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(file);
    const std::ios::iostate state = content->rdstate();
    content->str(bytes);
    content->clear(state);
    return boost::make_shared<StdIStreamWrapper>(
        boost::shared_ptr<std::istream>(content, content.get()));
}

bool FileCask::Save()
{
    std::ostringstream bytes;
    StdOStreamWrapper output(bytes);
    return WriteRecords(output) && ReplaceFile(bytes.str());
}

bool FileCask::ReplaceFile(const std::string& bytes)
{
    // The user's own link stays; the file it names is replaced.
    std::string path;
    if (!m_pImpl->Target(path))
        return false;
    const boost::filesystem::path target(path);
    const std::string directory = target.parent_path().string();
    const std::string name = target.filename().string();
    RemoveStaleTemporaries(directory, name);
    const std::string temporary =
        directory + "/." + name + "." + std::to_string(::getpid()) + ".tmp";
    ::unlink(temporary.c_str());
    const int file =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (file == -1)
        return false;
    mode_t directoryMode;
    mode_t fileMode;
    ModesFor(m_pImpl->m_lAccessRights, directoryMode, fileMode);
    // fsync before the rename: otherwise a crash of the system could leave the
    // new name on a file whose content never reached the disk.
    bool stored = WriteAll(file, bytes.data(), bytes.size()) && ::fchmod(file, fileMode) == 0 &&
                  ::fsync(file) == 0;
    stored = ::close(file) == 0 && stored;
    if (!stored)
    {
        ::unlink(temporary.c_str());
        return false;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0)
    {
        const int error = errno;
        ::unlink(temporary.c_str());
        // In a sticky shared directory only the file's owner may replace it;
        // the other users of a shared store write it in place instead, under
        // the lock. That write is not safe against a crash, but it is the only
        // one they are allowed.
        return (error == EPERM || error == EACCES) && RewriteInPlace(path, bytes);
    }
    const int folder = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder != -1)
    {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

boost::shared_ptr<OStreamWrapper> FileCask::GetOStream()
{
    std::string target;
    auto* file = new std::ofstream();
    if (m_pImpl->Target(target))
        file->open(target, std::ios::binary | std::ios::out | std::ios::trunc);
    return boost::make_shared<StdOStreamWrapper>(file, true);
}

} // namespace Preference
