#pragma once

#include <filecask/FileCask.h>
#include <filecask/FileLocker.h>

#include <boost/filesystem/path.hpp>

#include <boost/shared_ptr.hpp>

#include <memory>

namespace Preference
{
namespace detail
{

class FileCask_pimpl
{
public:
    FileCask::AccessRights m_lAccessRights;
    boost::filesystem::path m_sPath;
    // Made on the first TryLock, once the file exists, and kept.
    boost::shared_ptr<FileLocker> m_pLocker;
};

} // namespace detail
} // namespace Preference
