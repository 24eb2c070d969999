#include <preference/ILockable.h>

namespace Preference
{

ILockable::Locker::Locker(ILockable& target)
    : m_pTarget(&target), m_bLocked(target.CountedTryLock(target.GetLockTimeout()))
{
}

ILockable::Locker::~Locker()
{
    if (m_bLocked)
        m_pTarget->CountedUnLock();
}

ILockable::ILockable() : m_nLockCount(0) {}

ILockable::~ILockable() = default;

bool ILockable::IsLocked() const
{
    return m_nLockCount > 0;
}

int ILockable::GetLockCount() const
{
    return m_nLockCount;
}

bool ILockable::CountedTryLock(int timeout)
{
    if (m_nLockCount < 1)
    {
        if (!TryLock(timeout))
            return false;
        m_nLockCount = 1;
        return true;
    }
    ++m_nLockCount;
    return true;
}

int ILockable::CountedUnLock()
{
    // An unpaired release must not drive the count negative: the next
    // acquisition would then skip the real lock.
    if (m_nLockCount < 1)
        return m_nLockCount;
    if (m_nLockCount == 1)
        UnLock();
    return --m_nLockCount;
}

} // namespace Preference
