#include "MemoryStore.h"

#include <boost/lexical_cast.hpp>
#include <boost/regex.hpp>
#include <gtest/gtest.h>

using Preference::PropertyContainer;

namespace
{

class CountingContainer : public PropertyContainer<std::wstring, std::wstring>
{
public:
    void OnChange() override { ++m_nChanges; }
    void OnReadComplete() override { ++m_nReadsComplete; }
    int m_nChanges = 0;
    int m_nReadsComplete = 0;
};

std::wstring Value(MemoryStore& store, const std::wstring& key, const std::wstring& name)
{
    std::wstring value;
    return store.Read(key, name, value, L"<absent>") ? value : L"<absent>";
}

} // namespace

TEST(ValueModel, IntegersTravelAsDecimalText)
{
    MemoryStore store;
    EXPECT_TRUE(store.Write(L"K", L"n", -42));
    EXPECT_EQ(L"-42", Value(store, L"K", L"n"));
    int value = 0;
    EXPECT_TRUE(store.Read(L"K", L"n", value, 1));
    EXPECT_EQ(-42, value);

    EXPECT_FALSE(store.Read(L"K", L"absent", value, 8080));
    EXPECT_EQ(8080, value);

    for (const wchar_t* text : {L" 7", L"", L"12abc", L"2147483648"})
    {
        store.Write(L"K", L"bad", text);
        try
        {
            store.Read(L"K", L"bad", value, 0);
            ADD_FAILURE() << "no error for text that is not an integer";
        }
        catch (const boost::bad_lexical_cast& error)
        {
            EXPECT_STREQ("bad lexical cast: source type value could not be interpreted as target",
                         error.what());
        }
    }
}

TEST(ValueModel, PatternListingsMatchWholeNamesAndClearTheirOutput)
{
    MemoryStore store;
    for (const wchar_t* name : {L"MyCache", L"CacheA", L"Cache", L"XCacheB"})
    {
        store.Write(L"Root/" + std::wstring(name), L"v", L"1");
        store.Write(L"Root", name, L"1");
    }
    std::vector<std::wstring> names{L"stale"};
    store.ListKeys(L"Root", names, L"Cache.*");
    EXPECT_EQ((std::vector<std::wstring>{L"Cache", L"CacheA"}), names);
    names = {L"stale"};
    store.ListValues(L"Root", names, L"Cache.+");
    EXPECT_EQ(std::vector<std::wstring>{L"CacheA"}, names);

    // The unfiltered listing appends.
    names = {L"kept"};
    store.ListValues(L"Root", names);
    EXPECT_EQ(5u, names.size());
    EXPECT_EQ(L"kept", names.front());

    EXPECT_THROW(store.ListKeys(L"Root", names, L"(unclosed"), boost::regex_error);
}

TEST(ValueModel, DeleteEmptyKeyIsStoppedOnlyBySubKeys)
{
    MemoryStore store;
    store.Write(L"A/Values", L"x", L"1");
    store.Write(L"A/Parent/Child", L"y", L"2");
    EXPECT_TRUE(store.DeleteEmptyKey(L"A/Values"));
    EXPECT_EQ(L"<absent>", Value(store, L"A/Values", L"x"));
    EXPECT_FALSE(store.DeleteEmptyKey(L"A/Parent"));
    EXPECT_EQ(L"2", Value(store, L"A/Parent/Child", L"y"));
}

TEST(ValueModel, ContainerWriteReplacesOnlyEarlierContainerEntries)
{
    MemoryStore store;
    store.Write(L"K/Other", L"note", L"kept");

    const int commitsBefore = store.m_nCommits;
    CountingContainer first;
    first.Set(L"b", L"2");
    first.Set(L"a", L"1");
    ASSERT_TRUE(store.Write(L"K", first));
    EXPECT_EQ(L"a", Value(store, L"K/0", L"key"));
    EXPECT_EQ(L"1", Value(store, L"K/0", L"value"));
    EXPECT_EQ(L"b", Value(store, L"K/1", L"key"));
    EXPECT_EQ(L"2", Value(store, L"K/1", L"value"));
    EXPECT_EQ(commitsBefore + 1, store.m_nCommits) << "a container is written as one unit";

    CountingContainer second;
    second.Set(L"c", L"3");
    ASSERT_TRUE(store.Write(L"\\K\\", second));
    std::vector<std::wstring> keys;
    store.ListKeys(L"K", keys);
    EXPECT_EQ((std::vector<std::wstring>{L"0", L"Other"}), keys);
    EXPECT_EQ(L"c", Value(store, L"K/0", L"key"));
    EXPECT_EQ(L"kept", Value(store, L"K/Other", L"note"));

    CountingContainer read;
    read.Set(L"stale", L"x");
    read.m_nChanges = 0;
    ASSERT_TRUE(store.Read(L"K", read));
    EXPECT_EQ((std::map<std::wstring, std::wstring>{{L"c", L"3"}}), read.GetMap());
    EXPECT_EQ(1, read.m_nReadsComplete);
    EXPECT_GE(read.m_nChanges, 2);

    CountingContainer empty;
    EXPECT_TRUE(store.Read(L"Nothing/Here", empty));
    EXPECT_TRUE(empty.GetMap().empty());
    EXPECT_TRUE(store.Write(L"Empty", empty));
}

TEST(ValueModel, ContainerWriteReportsRefusedLocksAndFailedWrites)
{
    MemoryStore store;
    CountingContainer container;
    container.Set(L"a", L"1");
    store.m_bRefuseLock = true;
    EXPECT_FALSE(store.Write(L"K", container));
    EXPECT_TRUE(store.m_mapWorking.empty());

    store.m_bRefuseLock = false;
    store.m_bFailWrites = true;
    EXPECT_FALSE(store.Write(L"K", container));
    EXPECT_EQ(0, store.GetLockCount());
}

TEST(ValueModel, PropertyContainerNotifiesOnlyRealChanges)
{
    CountingContainer container;
    container.Set(L"n", L"1");
    container.Set(L"n", L"1");
    EXPECT_EQ(1, container.m_nChanges);
    container.Set(L"n", L"2");
    EXPECT_EQ(2, container.m_nChanges);
    std::wstring value;
    EXPECT_TRUE(container.Get(L"n", value));
    EXPECT_EQ(L"2", value);
    container.Clear();
    container.Clear();
    EXPECT_EQ(3, container.m_nChanges);
    EXPECT_FALSE(container.Get(L"n", value));
}

TEST(ValueModel, TestWriteLeavesNothingBehind)
{
    MemoryStore store;
    // A value that an interrupted earlier test left behind is cleared first.
    store.Write(L"K", L"__ombrel_permission_test", L"__test_value_1");
    EXPECT_TRUE(store.TestWrite(L"K"));
    EXPECT_EQ(L"<absent>", Value(store, L"K", L"__ombrel_permission_test"));
    EXPECT_EQ(L"<absent>", Value(store, L"K", L"__ombrel_permission_test"));
    EXPECT_FALSE(store.IsLocked());
    EXPECT_TRUE(store.m_mapCommitted[L"K"].empty()) << "the deletion is committed";

    store.m_bFailWrites = true;
    EXPECT_FALSE(store.TestWrite(L"K"));
    store.m_bFailWrites = false;
    store.m_bRefuseLock = true;
    EXPECT_FALSE(store.TestWrite(L"K"));
}

TEST(ValueModel, CoreFoundationOverloadsConvertThroughUtf8)
{
    MemoryStore store;
    EXPECT_TRUE(store.Write(CFSTR("Grüße/Key"), CFSTR("Name"), CFSTR("Wert ✓")));
    EXPECT_EQ(L"Wert ✓", Value(store, L"Grüße/Key", L"Name"));

    Preference::CFStringPtr text;
    EXPECT_TRUE(store.Read(CFSTR("Grüße/Key"), CFSTR("Name"), text, CFSTR("none")));
    EXPECT_TRUE(CFEqual(text.get(), CFSTR("Wert ✓")));
    EXPECT_FALSE(store.Read(CFSTR("Grüße/Key"), CFSTR("Missing"), text, CFSTR("none")));
    EXPECT_TRUE(CFEqual(text.get(), CFSTR("none")));
    EXPECT_FALSE(store.Read(CFSTR("Grüße/Key"), CFSTR("Missing"), text, nullptr));
    EXPECT_EQ(0, CFStringGetLength(text.get())) << "a null default reads as empty text";

    EXPECT_TRUE(store.Write(CFSTR("K"), CFSTR("n"), 17));
    int number = 0;
    EXPECT_TRUE(store.Read(CFSTR("K"), CFSTR("n"), number, 0));
    EXPECT_EQ(17, number);

    store.Write(L"Grüße/Key/Sub", L"v", L"1");
    std::vector<Preference::CFStringPtr> names(1);
    store.ListKeys(CFSTR("Grüße/Key"), names, CFSTR("S.*"));
    ASSERT_EQ(2u, names.size()) << "the CoreFoundation listings append";
    EXPECT_TRUE(CFEqual(names[1].get(), CFSTR("Sub")));
}
