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
    // The file the path stands for (the path itself unless it is the user's
    // own link), fixed with the locker so that reads, saves and the lock all
    // meet the same file; empty before.
    std::string m_sTarget;

    // The file to read and replace; false (with a message) for a link planted
    // by another user.
    bool Target(std::string& target) const;
};

} // namespace detail
} // namespace Preference
