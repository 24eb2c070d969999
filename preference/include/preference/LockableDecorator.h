#pragma once

#include <preference/PreferenceBase.h>
#include <preference/preference_export.h>

namespace Preference
{

// A store whose lock operations belong to another object, typically the private
// implementation that a public store class wraps. Its own lock count is unused.
class PREFERENCE_EXPORT LockableDecorator : public PreferenceBase
{
public:
    // target may be null: the decorator then never locks.
    explicit LockableDecorator(ILockable* target = nullptr);
    ~LockableDecorator() override;

    LockableDecorator(const LockableDecorator&) = delete;
    LockableDecorator& operator=(const LockableDecorator&) = delete;

    bool TryLock(int timeout) override;
    void UnLock() override;
    int GetLockTimeout() const override;
    bool IsLocked() const override;
    int GetLockCount() const override;
    bool CountedTryLock(int timeout) override;
    int CountedUnLock() override;

private:
    ILockable* m_pLockTarget;
};

} // namespace Preference
