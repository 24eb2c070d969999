#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"

#include <preference/LegacyPlistStore.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>
#include <unistd.h>

using TestSupport::ChildProcess;
using TestSupport::helperProgram;

namespace fs = std::filesystem;
using Preference::LegacyPlistStore;

namespace
{

const char* const EmptyDocument =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST "
    "1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\"><plist "
    "version=\"1.0\"><dict></dict></plist>";

std::string Contents(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

Preference::CFStringPtr CFString(const std::string& text)
{
    return Preference::CFStringPtr(
        CFStringCreateWithCString(kCFAllocatorDefault, text.c_str(), kCFStringEncodingUTF8));
}

std::wstring Text(Preference::PreferenceBase& store, const std::wstring& key,
                  const std::wstring& name)
{
    std::wstring value;
    return store.Read(key, name, value, L"<absent>") ? value : L"<absent>";
}

class LegacyStore : public testing::Test
{
protected:
    fs::path m_directory = fs::path(TestSupport::testDirectory()) / "legacy";
    fs::path m_file = m_directory / "com.ombrel.legacy.plist";
    void SetUp() override { fs::create_directories(m_directory); }
    boost::shared_ptr<Preference::PreferenceBase> Make()
    {
        return LegacyPlistStore::GetFactory(CFString(m_directory.string()).get(),
                                            CFSTR("com.ombrel.legacy"))();
    }
    int Python(const std::string& script, std::string* output = nullptr)
    {
        const fs::path path = m_directory / "script.py";
        std::ofstream(path) << "import plistlib\npath = '" << m_file.string() << "'\n" << script;
        return TestSupport::runCommand("python3 " + path.string(), output);
    }
};

} // namespace

TEST_F(LegacyStore, NewFileReceivesTheEmptyDocumentThenTheChange)
{
    const auto store = Make();
    EXPECT_EQ(1000, store->GetLockTimeout());
    ASSERT_TRUE(store->CountedTryLock(store->GetLockTimeout()));
    EXPECT_EQ(182u, std::strlen(EmptyDocument));
    EXPECT_EQ(EmptyDocument, Contents(m_file));
    store->CountedUnLock();

    EXPECT_TRUE(store->Write(L"Software\\Ombrel", L"Name", L"Grüße"));
    EXPECT_TRUE(store->Write(L"Software\\Ombrel", L"Number", 12));
    // Every change is in the file at once: a fresh instance sees it.
    EXPECT_EQ(L"Grüße", Text(*Make(), L"Software/Ombrel", L"Name"));

    std::string output;
    ASSERT_EQ(0, Python("d = plistlib.load(open(path, 'rb'))['Software']['Ombrel']\n"
                        "print(d['Name'], d['Number'])\n",
                        &output));
    EXPECT_EQ("Grüße 12\n", output);

    EXPECT_TRUE(store->DeleteKey(L"Software"));
    EXPECT_EQ(L"<absent>", Text(*Make(), L"Software/Ombrel", L"Name"));
}

TEST_F(LegacyStore, ReadsWhatPlistlibWrites)
{
    for (const std::string format : {"FMT_XML", "FMT_BINARY"})
    {
        ASSERT_EQ(0, Python("d = {'Top': {'Key': {'Text': 'from " + format +
                            "', 'Int': -7, 'Flag': True}}, 'Plain': 'x'}\n"
                            "plistlib.dump(d, open(path, 'wb'), fmt=plistlib." +
                            format + ")\n"));
        const auto store = Make();
        EXPECT_EQ(L"from " + std::wstring(format.begin(), format.end()),
                  Text(*store, L"Top/Key", L"Text"));
        int number = 0;
        EXPECT_TRUE(store->Read(L"Top/Key", L"Int", number, 0));
        EXPECT_EQ(-7, number);
        std::vector<std::wstring> values;
        store->ListValues(L"Top/Key", values);
        EXPECT_EQ(2u, values.size()) << "the boolean is no value";

        // A change keeps what the store does not understand.
        EXPECT_TRUE(store->Write(L"Top/Other", L"n", L"v"));
        std::string output;
        ASSERT_EQ(0, Python("d = plistlib.load(open(path, 'rb'))\n"
                            "print(d['Plain'], d['Top']['Key']['Flag'], d['Top']['Other']['n'])\n",
                            &output));
        EXPECT_EQ("x True v\n", output);
    }
}

TEST_F(LegacyStore, UnusableFilesAndDirectories)
{
    std::ofstream(m_file) << "not a property list";
    const auto store = Make();
    EXPECT_EQ(L"<absent>", Text(*store, L"A", L"b"));
    std::vector<std::wstring> keys;
    store->ListKeys(L"A", keys);
    EXPECT_TRUE(keys.empty());

    // A directory that does not exist fails at once, without changes.
    const auto missing = LegacyPlistStore::GetFactory(
        CFString((m_directory / "missing").string()).get(), CFSTR("com.ombrel.legacy"))();
    EXPECT_FALSE(missing->Write(L"A", L"b", L"c"));
    EXPECT_FALSE(missing->IsLocked());
    EXPECT_FALSE(fs::exists(m_directory / "missing"));
}

TEST_F(LegacyStore, FileLockedByAnotherProcessMakesTryLockFailAndFreesTheGuard)
{
    ChildProcess holder({helperProgram(), "hold", m_file.string()});
    ASSERT_EQ("locked", holder.readLine());

    const auto store = Make();
    EXPECT_FALSE(store->CountedTryLock(store->GetLockTimeout()));
    EXPECT_FALSE(store->IsLocked());
    EXPECT_FALSE(store->Write(L"A", L"b", L"c"));

    // The process-wide guard was given back: another thread locks another file.
    bool otherLocked = false;
    std::thread other(
        [&]
        {
            LegacyPlistStore elsewhere(CFString(m_directory.string()).get(), CFSTR("other"));
            otherLocked = elsewhere.CountedTryLock(elsewhere.GetLockTimeout());
            if (otherLocked)
                elsewhere.CountedUnLock();
        });
    other.join();
    EXPECT_TRUE(otherLocked);

    holder.closeInput();
    EXPECT_EQ(0, holder.exitCode());
    EXPECT_TRUE(store->Write(L"A", L"b", L"c"));
    EXPECT_EQ(L"c", Text(*store, L"A", L"b"));
}

TEST_F(LegacyStore, FileStaysLockedAcrossChangesAndProcessesLoseNothing)
{
    const auto store = Make();
    {
        const auto lock = store->GetScopedLock();
        ASSERT_TRUE(store->Write(L"A", L"first", L"1"));
        ASSERT_TRUE(store->Write(L"A", L"second", L"2"));
        ChildProcess probe({helperProgram(), "probe", m_file.string()});
        EXPECT_EQ("busy", probe.readLine()) << "the lock covers the file as it is now";
    }
    ChildProcess probe({helperProgram(), "probe", m_file.string()});
    EXPECT_EQ("free", probe.readLine());

    const int processes = 3;
    const int writes = 10;
    {
        std::vector<std::unique_ptr<ChildProcess>> children;
        for (int p = 0; p < processes; ++p)
            children.emplace_back(new ChildProcess(
                {helperProgram(), "legacy-write", m_directory.string(), "com.ombrel.legacy",
                 "p" + std::to_string(p) + "_", std::to_string(writes)}));
        for (auto& child : children)
            EXPECT_EQ(0, child->exitCode());
    }
    std::vector<std::wstring> names;
    store->ListValues(L"Shared/Values", names);
    EXPECT_EQ(static_cast<std::size_t>(processes * writes), names.size());
    EXPECT_EQ(L"2", Text(*store, L"A", L"second"));
}

TEST_F(LegacyStore, AUsersOwnLinkIsFollowedAndAPlantedOneRefused)
{
    const fs::path dotfiles = fs::path(TestSupport::testDirectory()) / "dotfiles";
    fs::create_directories(dotfiles);
    fs::create_symlink(dotfiles / "legacy.plist", m_file);
    const auto store = Make();
    ASSERT_TRUE(store->Write(L"A", L"b", L"through the link"));
    EXPECT_TRUE(fs::is_symlink(m_file)) << "the link was replaced by a file";
    EXPECT_NE(Contents(dotfiles / "legacy.plist").find("through the link"), std::string::npos);
    EXPECT_EQ(L"through the link", Text(*Make(), L"A", L"b"));

    // A link another user planted is refused, whatever it points at.
    fs::remove(m_file);
    std::ofstream(dotfiles / "victim") << "precious";
    fs::create_symlink(dotfiles / "victim", m_file);
    if (lchown(m_file.c_str(), 65534, 65534) != 0)
        GTEST_SKIP() << "needs root to give a link to another user";
    EXPECT_FALSE(Make()->Write(L"A", L"b", L"planted"));
    EXPECT_EQ("precious", Contents(dotfiles / "victim"));
    EXPECT_TRUE(fs::is_symlink(m_file));
}
