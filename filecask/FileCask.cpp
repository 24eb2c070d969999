#include <filecask/FileCask.h>

#include <filecask/StdIStreamWrapper.h>
#include <filecask/StdOStreamWrapper.h>

#include "detail/FileCask_pimpl.h"
#include "detail/Utf8.h"

#include <boost/filesystem/operations.hpp>
#include <boost/make_shared.hpp>

#include <fstream>
#include <sys/stat.h>

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
        std::ofstream file(path.string(), std::ios::binary | std::ios::out | std::ios::app);
    }
    if (!fs::exists(path, ec))
        return false;

    mode_t directoryMode;
    mode_t fileMode;
    ModesFor(rights, directoryMode, fileMode);
    if (createdParent && chmod(parent.string().c_str(), directoryMode) != 0)
        return false;
    return chmod(path.string().c_str(), fileMode) == 0;
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
        boost::system::error_code ec;
        if (!boost::filesystem::exists(m_pImpl->m_sPath, ec) &&
            !CreateFileAndSetPermissions(m_pImpl->m_lAccessRights, m_pImpl->m_sPath))
            return false;
        m_pImpl->m_pLocker = boost::make_shared<FileLocker>(GetPreferenceFilePath());
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
    auto* file = new std::ifstream(m_pImpl->m_sPath.string(), std::ios::binary | std::ios::in);
    return boost::make_shared<StdIStreamWrapper>(file, true);
}

boost::shared_ptr<OStreamWrapper> FileCask::GetOStream()
{
    auto* file = new std::ofstream(m_pImpl->m_sPath.string(),
                                   std::ios::binary | std::ios::out | std::ios::trunc);
    return boost::make_shared<StdOStreamWrapper>(file, true);
}

} // namespace Preference
