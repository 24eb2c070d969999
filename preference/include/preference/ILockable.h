#pragma once

#include <preference/preference_export.h>

#include <cstdint>

namespace Preference
{

// A counted lock: the real lock of a store is taken on the outermost acquisition
// and released, committing pending changes, on the outermost release. The count
// belongs to one store instance, which only one thread uses.
class PREFERENCE_EXPORT ILockable
{
public:
    // Ties one counted acquisition to a scope.
    class PREFERENCE_EXPORT Locker
    {
    public:
        // Calls CountedTryLock(GetLockTimeout()) on the target.
        explicit Locker(ILockable& target);
        // Releases the acquisition when it succeeded. An exception raised by the
        // release ends the process: a destructor cannot report it.
        ~Locker();

        Locker(const Locker&) = delete;
        Locker& operator=(const Locker&) = delete;

    private:
        ILockable* m_pTarget;
        bool m_bLocked;
    };

    ILockable();
    virtual ~ILockable();

    // Takes the store's real lock, waiting at most timeout milliseconds.
    virtual bool TryLock(int timeout) = 0;
    // Commits pending changes, then releases the real lock.
    virtual void UnLock() = 0;
    virtual int GetLockTimeout() const = 0;
    virtual bool IsLocked() const;
    virtual int GetLockCount() const;
    virtual bool CountedTryLock(int timeout);
    // Returns the new count.
    virtual int CountedUnLock();

protected:
    ILockable(const ILockable&) = default;
    ILockable& operator=(const ILockable&) = default;

private:
    std::int32_t m_nLockCount;
};

} // namespace Preference
