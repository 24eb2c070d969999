#include "MemoryStore.h"

#include <preference/Preference.h>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

using Preference::PreferenceBase;
using Preference::PreferenceFactory;
using Preference::Scope;

namespace
{

typedef boost::shared_ptr<PreferenceBase> StorePtr;

// A factory of memory stores that counts what it built.
struct CountingFactory
{
    std::shared_ptr<std::atomic<int>> m_pBuilt = std::make_shared<std::atomic<int>>(0);
    std::wstring m_sTag;

    StorePtr operator()() const
    {
        ++*m_pBuilt;
        auto store = boost::make_shared<MemoryStore>();
        store->m_mapWorking[L"Tag"][L"tag"] = m_sTag;
        return store;
    }
};

std::wstring Tag(const StorePtr& store)
{
    std::wstring tag;
    store->Read(L"Tag", L"tag", tag, L"");
    return tag;
}

template <class F> auto OnOtherThread(F function) -> decltype(function())
{
    decltype(function()) result;
    std::thread thread([&] { result = function(); });
    thread.join();
    return result;
}

class Selector : public testing::Test
{
protected:
    void TearDown() override { Preference::UnInitialize(); }
};

} // namespace

TEST_F(Selector, BeforeInitializeThereIsNoStoreButADefaultFactory)
{
    EXPECT_FALSE(Preference::Get(Scope(4)));
    EXPECT_FALSE(Preference::GetDefaultFactory(Scope(5)));
    EXPECT_FALSE(Preference::GetDefaultFactory(Scope(-1)));
    EXPECT_THROW(Preference::SetGlobalOverride(Scope(4), CountingFactory()), std::logic_error);

    // The default factory of scope 4 reads the current user's "com.ombrel.Registry".
    const CFStringRef name = CFSTR("Software");
    const CFStringRef key = CFSTR("Probe");
    const CFStringRef text = CFSTR("seen");
    CFDictionaryRef entry =
        CFDictionaryCreate(kCFAllocatorDefault, (const void**)&key, (const void**)&text, 1,
                           &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    CFPreferencesSetValue(name, entry, CFSTR("com.ombrel.Registry"), kCFPreferencesCurrentUser,
                          kCFPreferencesAnyHost);
    CFRelease(entry);
    ASSERT_TRUE(CFPreferencesSynchronize(CFSTR("com.ombrel.Registry"), kCFPreferencesCurrentUser,
                                         kCFPreferencesAnyHost));

    const PreferenceFactory factory = Preference::GetFactory(Scope(4));
    ASSERT_TRUE(factory);
    std::wstring value;
    EXPECT_TRUE(factory()->Read(L"Software", L"Probe", value, L""));
    EXPECT_EQ(L"seen", value);
}

TEST_F(Selector, EachThreadHasItsOwnStorePerScope)
{
    Preference::Initialize();
    const StorePtr first = Preference::Get(Scope(4));
    ASSERT_TRUE(first);
    EXPECT_EQ(first, Preference::Get(Scope(4)));
    EXPECT_NE(first, Preference::Get(Scope(2))) << "equal defaults, separate instances";
    EXPECT_EQ(Preference::Get(Scope(0)), Preference::Get(Scope(7)));

    const StorePtr other = OnOtherThread([] { return Preference::Get(Scope(4)); });
    ASSERT_TRUE(other);
    EXPECT_NE(first, other);

    // Scope 7 has no entry: its factory is scope 0's.
    CountingFactory counting;
    counting.m_sTag = L"zero";
    Preference::SetGlobalOverride(Scope(0), counting);
    EXPECT_EQ(L"zero", Tag(Preference::GetFactory(Scope(7))()));
}

TEST_F(Selector, ReplacedFactoryReachesEveryThreadAndLeavesOtherScopes)
{
    Preference::Initialize();
    const StorePtr before = Preference::Get(Scope(4));
    const StorePtr zero = Preference::Get(Scope(0));

    CountingFactory replacement;
    replacement.m_sTag = L"new";
    std::atomic<int> step(0);
    StorePtr oldOfThread;
    StorePtr seenByThread;
    std::thread thread(
        [&]
        {
            oldOfThread = Preference::Get(Scope(4));
            step = 1;
            while (step != 2)
                std::this_thread::yield();
            seenByThread = Preference::Get(Scope(4));
        });
    while (step != 1)
        std::this_thread::yield();
    Preference::Selector()->SetFactory(4, replacement);
    step = 2;
    thread.join();

    EXPECT_NE(oldOfThread, seenByThread);
    ASSERT_TRUE(seenByThread);
    EXPECT_EQ(L"new", Tag(seenByThread));
    const StorePtr after = Preference::Get(Scope(4));
    EXPECT_NE(before, after);
    EXPECT_EQ(L"new", Tag(after));
    EXPECT_EQ(zero, Preference::Get(Scope(0)));
    EXPECT_TRUE(before->Write(L"Still", L"usable", L"yes")) << "replaced stores stay valid";
    EXPECT_EQ(2, *replacement.m_pBuilt);

    // An empty factory keeps the store a thread already has.
    Preference::Selector()->SetFactory(4, PreferenceFactory());
    EXPECT_EQ(after, Preference::Get(Scope(4)));
}

TEST_F(Selector, ReloadAllReloadsEachHeldStoreOnceAtTheNextGet)
{
    auto selector = boost::make_shared<Preference::PreferenceSelector>();
    EXPECT_FALSE(selector->Get(0)) << "no factory, no store";
    selector->SetFactory(3, CountingFactory());
    selector->SetFactory(0, CountingFactory());
    auto three = boost::static_pointer_cast<MemoryStore>(selector->Get(3));
    auto zero = boost::static_pointer_cast<MemoryStore>(selector->Get(0));
    ASSERT_TRUE(three && zero);
    EXPECT_EQ(three, selector->Get(3));
    const int threeBefore = three->m_nReloads;
    const int zeroBefore = zero->m_nReloads;

    selector->ReloadAll();
    EXPECT_EQ(threeBefore, three->m_nReloads) << "nothing happens before the next Get";
    selector->Get(5);
    EXPECT_EQ(threeBefore + 1, three->m_nReloads);
    EXPECT_EQ(zeroBefore + 1, zero->m_nReloads);
    selector->Get(3);
    EXPECT_EQ(threeBefore + 1, three->m_nReloads);

    // A thread that already holds its stores reloads them at its next Get.
    std::atomic<int> step(0);
    int reloadsSeen = -1;
    StorePtr other;
    std::thread thread(
        [&]
        {
            other = selector->Get(3);
            const auto& store = static_cast<MemoryStore&>(*other);
            const int before = store.m_nReloads;
            step = 1;
            while (step != 2)
                std::this_thread::yield();
            selector->Get(3);
            selector->Get(3);
            reloadsSeen = store.m_nReloads - before;
        });
    while (step != 1)
        std::this_thread::yield();
    selector->ReloadAll();
    step = 2;
    thread.join();
    EXPECT_NE(StorePtr(three), other);
    EXPECT_EQ(1, reloadsSeen);
}

TEST_F(Selector, StoresOutliveTheSelectorAndANewSelectorStartsAfresh)
{
    Preference::Initialize();
    const StorePtr kept = Preference::Get(Scope(4));
    CountingFactory counting;
    counting.m_sTag = L"first";
    Preference::SetGlobalOverride(Scope(3), counting);

    // A thread that outlives the selector must not be served its old stores.
    std::atomic<int> step(0);
    StorePtr threadFirst;
    StorePtr threadSecond;
    std::thread thread(
        [&]
        {
            threadFirst = Preference::Get(Scope(3));
            step = 1;
            while (step != 2)
                std::this_thread::yield();
            threadSecond = Preference::Get(Scope(3));
        });
    while (step != 1)
        std::this_thread::yield();
    Preference::UnInitialize();
    EXPECT_FALSE(Preference::Get(Scope(4)));
    EXPECT_TRUE(kept->Write(L"After", L"uninitialize", L"ok"));

    Preference::Initialize();
    CountingFactory second;
    second.m_sTag = L"second";
    Preference::SetGlobalOverride(Scope(3), second);
    step = 2;
    thread.join();
    ASSERT_TRUE(threadSecond);
    EXPECT_EQ(L"second", Tag(threadSecond));
    EXPECT_NE(threadFirst, threadSecond);
}

TEST_F(Selector, FactoryErrorsReachTheCallerAndAreRetried)
{
    Preference::PreferenceSelector selector;
    auto failures = std::make_shared<int>(1);
    selector.SetFactory(1,
                        [failures]() -> StorePtr
                        {
                            if ((*failures)-- > 0)
                                throw std::runtime_error("factory failed");
                            return boost::make_shared<MemoryStore>();
                        });
    EXPECT_THROW(selector.Get(1), std::runtime_error);
    EXPECT_TRUE(selector.Get(1)) << "the next Get builds the store";
}
