#include <preference/LockableDecorator.h>

namespace Preference
{

LockableDecorator::LockableDecorator(ILockable* target) : m_pLockTarget(target) {}

LockableDecorator::~LockableDecorator() = default;

bool LockableDecorator::TryLock(int timeout)
{
    return m_pLockTarget ? m_pLockTarget->TryLock(timeout) : false;
}

void LockableDecorator::UnLock()
{
    if (m_pLockTarget)
        m_pLockTarget->UnLock();
}

int LockableDecorator::GetLockTimeout() const
{
    return m_pLockTarget ? m_pLockTarget->GetLockTimeout() : -1;
}

bool LockableDecorator::IsLocked() const
{
    return m_pLockTarget ? m_pLockTarget->IsLocked() : false;
}

int LockableDecorator::GetLockCount() const
{
    return m_pLockTarget ? m_pLockTarget->GetLockCount() : 0;
}

bool LockableDecorator::CountedTryLock(int timeout)
{
    return m_pLockTarget ? m_pLockTarget->CountedTryLock(timeout) : false;
}

int LockableDecorator::CountedUnLock()
{
    return m_pLockTarget ? m_pLockTarget->CountedUnLock() : 0;
}

} // namespace Preference
