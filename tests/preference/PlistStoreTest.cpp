#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"

#include <preference/PlistStore.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

using TestSupport::ChildProcess;
using TestSupport::helperProgram;

namespace fs = std::filesystem;
using Preference::PlistStore;

namespace
{

std::wstring Text(Preference::PreferenceBase& store, const std::wstring& key,
                  const std::wstring& name)
{
    std::wstring value;
    return store.Read(key, name, value, L"<absent>") ? value : L"<absent>";
}

// The file CoreFoundation keeps the domain in, found below the test's home.
fs::path DomainFile(const std::string& applicationId)
{
    for (const auto& entry : fs::recursive_directory_iterator(TestSupport::testDirectory()))
        if (entry.path().filename().string().rfind(applicationId, 0) == 0 &&
            entry.path().extension() == ".plist")
            return entry.path();
    return fs::path();
}

std::string Contents(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

int Python(const std::string& script, std::string* output = nullptr)
{
    const fs::path path = fs::path(TestSupport::testDirectory()) / "script.py";
    std::ofstream(path) << script;
    return TestSupport::runCommand("python3 " + path.string(), output);
}

class PlistStoreTest : public testing::Test
{
protected:
    PlistStore m_store{CFSTR("com.ombrel.Test"), kCFPreferencesCurrentUser, kCFPreferencesAnyHost};
};

} // namespace

TEST_F(PlistStoreTest, WritesCreateNestedDictionariesReadableAtOnce)
{
    EXPECT_TRUE(m_store.Write(L"Software\\Ombrel\\Tessary", L"LastOpenedDir", L"/Users/ä"));
    EXPECT_EQ(L"/Users/ä", Text(m_store, L"/Software//Ombrel/Tessary/", L"LastOpenedDir"));

    // A string in the way of a key is replaced by the key's dictionary.
    EXPECT_TRUE(m_store.Write(L"Software/Ombrel", L"Tessary", L"plain"));
    EXPECT_TRUE(m_store.Write(L"Software/Ombrel/Tessary/Deeper", L"n", L"v"));
    EXPECT_EQ(L"v", Text(m_store, L"Software/Ombrel/Tessary/Deeper", L"n"));

    EXPECT_TRUE(m_store.Write(L"Numbers", L"five", 5));
    std::wstring text;
    EXPECT_FALSE(m_store.Read(L"Numbers", L"five", text, L"default"));
    EXPECT_EQ(L"default", text);
    int number = 0;
    EXPECT_TRUE(m_store.Read(L"Numbers", L"five", number, -1));
    EXPECT_EQ(5, number);
    m_store.Write(L"Numbers", L"text", L"6");
    EXPECT_FALSE(m_store.Read(L"Numbers", L"text", number, -1));
    EXPECT_EQ(-1, number);

    EXPECT_FALSE(m_store.Write(L"//", L"n", L"v")) << "an empty key path names no key";
    EXPECT_FALSE(m_store.DeleteKey(L"\\"));
    try
    {
        m_store.Write(L"K", L"n", std::wstring(1, wchar_t(0xD800)));
        ADD_FAILURE() << "a lone surrogate was converted";
    }
    catch (const std::range_error& error)
    {
        EXPECT_STREQ("wstring_convert: to_bytes error", error.what());
    }
    EXPECT_EQ(0, m_store.GetLockCount());

    EXPECT_THROW(PlistStore::GetFactory(CFSTR("com.ombrel.Test"), nullptr, kCFPreferencesAnyHost)(),
                 std::invalid_argument);
}

TEST_F(PlistStoreTest, ListingsSeparateKeysValuesAndOtherTypes)
{
    m_store.Write(L"Mixed", L"text", L"t");
    m_store.Write(L"Mixed", L"number", 1);
    m_store.Write(L"Mixed/Sub", L"x", L"y");
    // Types that are neither keys nor values, written behind the store's back.
    CFDictionaryRef stored = static_cast<CFDictionaryRef>(
        CFPreferencesCopyValue(CFSTR("Mixed"), CFSTR("com.ombrel.Test"), kCFPreferencesCurrentUser,
                               kCFPreferencesAnyHost));
    ASSERT_TRUE(stored);
    CFMutableDictionaryRef mixed = CFDictionaryCreateMutableCopy(kCFAllocatorDefault, 0, stored);
    CFRelease(stored);
    CFDictionarySetValue(mixed, CFSTR("flag"), kCFBooleanTrue);
    CFPreferencesSetValue(CFSTR("Mixed"), mixed, CFSTR("com.ombrel.Test"),
                          kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    CFRelease(mixed);

    std::vector<std::wstring> values{L"kept"};
    m_store.ListValues(L"Mixed", values);
    std::sort(values.begin() + 1, values.end());
    EXPECT_EQ((std::vector<std::wstring>{L"kept", L"number", L"text"}), values);
    std::vector<std::wstring> keys;
    m_store.ListKeys(L"Mixed", keys);
    EXPECT_EQ(std::vector<std::wstring>{L"Sub"}, keys);
    keys.clear();
    m_store.ListKeys(L"Missing/Path", keys);
    EXPECT_TRUE(keys.empty());

    // Deleting the values leaves the boolean alone.
    EXPECT_TRUE(m_store.DeleteValue(L"Mixed", L"text"));
    EXPECT_TRUE(m_store.DeleteValue(L"Mixed", L"absent"));
    EXPECT_TRUE(m_store.DeleteEmptyKey(L"Mixed/Sub"));
    EXPECT_TRUE(m_store.DeleteEmptyKey(L"Mixed")) << "a boolean is no sub-key";
    keys.clear();
    values.clear();
    m_store.ListValues(L"Mixed", values);
    EXPECT_TRUE(values.empty());
}

TEST_F(PlistStoreTest, DeletingKeys)
{
    m_store.Write(L"Top/A/Leaf", L"v", L"1");
    m_store.Write(L"Top/B", L"v", L"2");
    m_store.Write(L"Other", L"v", L"3");

    EXPECT_TRUE(m_store.DeleteKey(L"Top/A/Leaf"));
    EXPECT_EQ(L"<absent>", Text(m_store, L"Top/A/Leaf", L"v"));
    std::vector<std::wstring> keys;
    m_store.ListKeys(L"Top", keys);
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ((std::vector<std::wstring>{L"A", L"B"}), keys) << "siblings and parent stay";

    EXPECT_FALSE(m_store.DeleteEmptyKey(L"Top"));
    EXPECT_TRUE(m_store.DeleteEmptyKey(L"Does/Not/Exist"));
    EXPECT_TRUE(m_store.DeleteEmptyKey(L"Other"));
    EXPECT_EQ(L"<absent>", Text(m_store, L"Other", L"v"));

    EXPECT_TRUE(m_store.DeleteKey(L"Top"));
    EXPECT_EQ(L"<absent>", Text(m_store, L"Top/B", L"v"));
    CFPropertyListRef top = CFPreferencesCopyValue(
        CFSTR("Top"), CFSTR("com.ombrel.Test"), kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    EXPECT_EQ(nullptr, top) << "the whole top-level entry is gone";
}

TEST_F(PlistStoreTest, ChangesUnderOneLockReachTheDiskTogetherAtItsEnd)
{
    {
        const auto lock = m_store.GetScopedLock();
        ASSERT_TRUE(m_store.IsLocked());
        m_store.Write(L"Batch", L"first", L"FirstValue");
        m_store.Write(L"Batch", L"second", L"SecondValue");
        const fs::path file = DomainFile("com.ombrel.Test");
        if (!file.empty())
        {
            EXPECT_EQ(std::string::npos, Contents(file).find("FirstValue"));
        }
    }
    const std::string contents = Contents(DomainFile("com.ombrel.Test"));
    EXPECT_NE(std::string::npos, contents.find("FirstValue"));
    EXPECT_NE(std::string::npos, contents.find("SecondValue"));

    EXPECT_TRUE(m_store.TestWrite(L"Batch"));
    EXPECT_EQ(std::string::npos,
              Contents(DomainFile("com.ombrel.Test")).find("__ombrel_permission_test"));
}

TEST_F(PlistStoreTest, OtherProcessesReadAndWriteTheSameDomainFile)
{
    m_store.Write(L"Software\\Ombrel\\Tessary", L"Dir", L"/tmp/ö");
    m_store.Write(L"Software\\Ombrel\\Tessary", L"Count", 3);
    const fs::path file = DomainFile("com.ombrel.Test");
    ASSERT_FALSE(file.empty());

    std::string output;
    ASSERT_EQ(0, Python("import plistlib\n"
                        "d = plistlib.load(open('" +
                            file.string() +
                            "', 'rb'))\n"
                            "t = d['Software']['Ombrel']['Tessary']\n"
                            "print(t['Dir'], t['Count'])\n"
                            "t['FromPython'] = 'xml'\n"
                            "plistlib.dump(d, open('" +
                            file.string() + "', 'wb'))\n",
                        &output));
    EXPECT_EQ("/tmp/ö 3\n", output);
    ASSERT_TRUE(m_store.Reload());
    EXPECT_EQ(L"xml", Text(m_store, L"Software/Ombrel/Tessary", L"FromPython"));

    ASSERT_EQ(0, Python("import plistlib\n"
                        "d = plistlib.load(open('" +
                        file.string() +
                        "', 'rb'))\n"
                        "d['Software']['Ombrel']['Tessary']['FromPython'] = 'binary'\n"
                        "plistlib.dump(d, open('" +
                        file.string() + "', 'wb'), fmt=plistlib.FMT_BINARY)\n"));
    ASSERT_TRUE(m_store.Reload());
    EXPECT_EQ(L"binary", Text(m_store, L"Software/Ombrel/Tessary", L"FromPython"));
    int count = 0;
    EXPECT_TRUE(m_store.Read(L"Software/Ombrel/Tessary", L"Count", count, 0));
    EXPECT_EQ(3, count);
}

TEST(PlistStoreProcesses, ConcurrentWritersLoseNothing)
{
    const int processes = 4;
    const int writes = 15;
    {
        std::vector<std::unique_ptr<ChildProcess>> children;
        for (int p = 0; p < processes; ++p)
            children.emplace_back(
                new ChildProcess({helperProgram(), "write", "com.ombrel.Shared",
                                  "p" + std::to_string(p) + "_", std::to_string(writes)}));
        for (auto& child : children)
            EXPECT_EQ(0, child->exitCode());
    }

    PlistStore store(CFSTR("com.ombrel.Shared"), kCFPreferencesCurrentUser, kCFPreferencesAnyHost);
    std::vector<std::wstring> names;
    store.ListValues(L"Shared/Values", names);
    EXPECT_EQ(static_cast<std::size_t>(processes * writes), names.size());
    for (int p = 0; p < processes; ++p)
        for (int i = 0; i < writes; ++i)
        {
            int value = -1;
            EXPECT_TRUE(store.Read(L"Shared/Values",
                                   L"p" + std::to_wstring(p) + L"_" + std::to_wstring(i), value,
                                   -1));
            EXPECT_EQ(i, value);
        }

    std::string output;
    EXPECT_EQ(0, Python("import plistlib\n"
                        "d = plistlib.load(open('" +
                            DomainFile("com.ombrel.Shared").string() +
                            "', 'rb'))\n"
                            "print(len(d['Shared']['Values']))\n",
                        &output));
    EXPECT_EQ(std::to_string(processes * writes) + "\n", output);
}
