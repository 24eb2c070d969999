#include "MemoryStore.h"

#include <preference/PreferenceBaseDecorator.h>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include <stdexcept>

namespace
{

// A decorator without a lock target; its data operations are irrelevant here.
class Untargeted : public Preference::LockableDecorator
{
public:
    bool Reload() override { return true; }
    bool Commit() override { return true; }
    bool Write(const std::wstring&, const std::wstring&, const std::wstring&) override
    {
        return false;
    }
    bool Read(const std::wstring&, const std::wstring&, std::wstring&, const std::wstring&) override
    {
        return false;
    }
    bool DeleteValue(const std::wstring&, const std::wstring&) override { return false; }
    bool DeleteKey(const std::wstring&) override { return false; }
    void ListKeys(const std::wstring&, std::vector<std::wstring>&) override {}
    void ListValues(const std::wstring&, std::vector<std::wstring>&) override {}
    using Preference::LockableDecorator::ListKeys;
    using Preference::LockableDecorator::ListValues;
    using Preference::LockableDecorator::Read;
    using Preference::LockableDecorator::Write;
};

} // namespace

TEST(Locking, NestedCountedLocksCommitOnceAtTheOutermostRelease)
{
    MemoryStore store;
    ASSERT_TRUE(store.CountedTryLock(100));
    ASSERT_TRUE(store.CountedTryLock(100));
    EXPECT_EQ(2, store.GetLockCount());
    store.Write(L"K", L"a", L"1");
    store.Write(L"K", L"b", L"2");

    EXPECT_EQ(1, store.CountedUnLock());
    EXPECT_TRUE(store.IsLocked());
    EXPECT_TRUE(store.m_bHoldsRealLock);
    EXPECT_EQ(0, store.m_nCommits);

    EXPECT_EQ(0, store.CountedUnLock());
    EXPECT_FALSE(store.IsLocked());
    EXPECT_FALSE(store.m_bHoldsRealLock);
    EXPECT_EQ(1, store.m_nCommits);
    EXPECT_EQ(1, store.m_nUnLocks);
    EXPECT_EQ(2u, store.m_mapCommitted[L"K"].size());

    // An unpaired release neither unlocks again nor drives the count negative.
    EXPECT_EQ(0, store.CountedUnLock());
    EXPECT_EQ(1, store.m_nUnLocks);
    ASSERT_TRUE(store.CountedTryLock(100));
    EXPECT_TRUE(store.m_bHoldsRealLock);
    store.CountedUnLock();
}

TEST(Locking, RefusedLockChangesNothing)
{
    MemoryStore store;
    store.Write(L"K", L"a", L"1");
    store.m_bRefuseLock = true;
    EXPECT_FALSE(store.CountedTryLock(100));
    EXPECT_EQ(0, store.GetLockCount());
    EXPECT_FALSE(store.IsLocked());

    EXPECT_FALSE(store.Write(L"K", L"a", L"2"));
    EXPECT_FALSE(store.DeleteValue(L"K", L"a"));
    EXPECT_FALSE(store.DeleteKey(L"K"));
    EXPECT_EQ(L"1", store.m_mapWorking[L"K"][L"a"]);
    {
        const auto lock = store.GetScopedLock();
        EXPECT_FALSE(store.IsLocked());
    }
    EXPECT_EQ(1, store.m_nUnLocks) << "a failed scoped lock releases nothing";
}

TEST(Locking, ScopedLockBatchesOperationsIntoOneCommit)
{
    MemoryStore store;
    {
        const auto lock = store.GetScopedLock();
        EXPECT_EQ(1, store.GetLockCount());
        store.Write(L"K", L"a", L"1");
        store.Write(L"K", L"b", L"2");
        store.DeleteValue(L"K", L"a");
        EXPECT_EQ(0, store.m_nCommits);
    }
    EXPECT_EQ(1, store.m_nCommits);
    EXPECT_EQ(0, store.GetLockCount());
}

TEST(Locking, DecoratorWithoutTargetNeverLocks)
{
    Untargeted decorator;
    EXPECT_EQ(-1, decorator.GetLockTimeout());
    EXPECT_FALSE(decorator.TryLock(10));
    EXPECT_FALSE(decorator.CountedTryLock(10));
    EXPECT_FALSE(decorator.IsLocked());
    EXPECT_EQ(0, decorator.GetLockCount());
    EXPECT_EQ(0, decorator.CountedUnLock());
    decorator.UnLock();
    EXPECT_FALSE(decorator.TestWrite(L"K"));
}

TEST(Locking, DecoratorLocksAndWorksOnTheWrappedStore)
{
    const auto inner = boost::make_shared<MemoryStore>();
    Preference::PreferenceBaseDecorator decorator(inner);
    EXPECT_EQ(1000, decorator.GetLockTimeout());
    {
        const auto lock = decorator.GetScopedLock();
        EXPECT_EQ(1, inner->GetLockCount());
        EXPECT_TRUE(decorator.Write(L"A/B", L"n", 5));
        EXPECT_TRUE(decorator.Write(L"A/Empty", L"n", L"x"));
        EXPECT_EQ(1, decorator.GetLockCount());
    }
    EXPECT_EQ(1, inner->m_nCommits);
    int value = 0;
    EXPECT_TRUE(decorator.Read(L"A/B", L"n", value, 0));
    EXPECT_EQ(5, value);

    // The shared operations run on the decorator and reach the store through it.
    EXPECT_FALSE(decorator.DeleteEmptyKey(L"A"));
    EXPECT_TRUE(decorator.DeleteEmptyKey(L"A/Empty"));
    std::vector<std::wstring> keys;
    decorator.ListKeys(L"A", keys, L".*");
    EXPECT_EQ(std::vector<std::wstring>{L"B"}, keys);

    inner->m_bRefuseLock = true;
    EXPECT_FALSE(decorator.CountedTryLock(10));
    EXPECT_FALSE(decorator.Write(L"A/B", L"n", 6));

    EXPECT_THROW(Preference::PreferenceBaseDecorator(boost::shared_ptr<MemoryStore>()),
                 std::invalid_argument);
}
