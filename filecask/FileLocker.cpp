#include <filecask/FileLocker.h>

#include "detail/pimpl_file_locker.h"

namespace Preference
{

FileLocker::FileLocker(const std::wstring& path) : m_pImpl(new detail::pimpl_file_locker(path)) {}

FileLocker::~FileLocker() = default;

bool FileLocker::Lock()
{
    return m_pImpl->Lock();
}

bool FileLocker::TryLock(int /*timeoutMs*/)
{
    // A held file lock is always waited for: callers rely on getting it.
    return m_pImpl->Lock();
}

void FileLocker::Unlock()
{
    m_pImpl->Unlock();
}

bool FileLocker::IsLocked() const
{
    return m_pImpl->m_bLocked;
}

bool FileLocker::IsValid() const
{
    return m_pImpl->m_lSemaphoreId != -1;
}

std::wstring FileLocker::GetLastError() const
{
    return m_pImpl->m_log.str();
}

} // namespace Preference
